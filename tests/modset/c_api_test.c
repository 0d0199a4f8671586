/* A C caller of libmodset.so: the header compiles as C, the records have
 * their fixed layout, and a record goes through TARK_NET.INI and back. */
#define _GNU_SOURCE
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <pthread.h>
#include <string.h>
#include <unistd.h>

#include "modset.h"
#include "support/check.h"

/* Sets the help path over and over while the main thread reads it. */
static void *set_help_paths(void *arg) {
  const char *const *paths = arg;
  for (int i = 0; i < 2000; ++i) CfgUiSetHelpFile(paths[i % 2]);
  return NULL;
}

/* The help path lives in one buffer for the library's life: a pointer that
 * CfgUiGetHelpFile gave stays valid across later Sets and shows the path
 * set last (ASan or valgrind report a read of freed memory otherwise). */
static void check_help_path_buffer(void) {
  static char longest[1031];
  static char long_path[200];
  const char *before = NULL, *after = NULL;
  const char *paths[2];
  pthread_t setter;

  memset(longest, 'h', 1030);
  longest[0] = '/';
  memset(long_path, 'p', sizeof long_path - 1);
  long_path[0] = '/';
  CHECK(CfgUiSetHelpFile("/opt/tarkel/modset.hlp") == CFG_OK);
  CHECK(CfgUiGetHelpFile(&before) == CFG_OK);
  CHECK(before != NULL && strcmp(before, "/opt/tarkel/modset.hlp") == 0);
  CHECK(CfgUiSetHelpFile(longest) == CFG_OK);
  CHECK(strcmp(before, longest) == 0);
  CHECK(CfgUiSetHelpFile("/x.hlp") == CFG_OK);
  CHECK(strcmp(before, "/x.hlp") == 0);
  CHECK(CfgUiGetHelpFile(&after) == CFG_OK && after == before);

  /* Sets in one thread, Gets and reads in another: never a crash, and
   * the text read is always within the buffer. */
  paths[0] = long_path;
  paths[1] = "/y.hlp";
  CHECK(pthread_create(&setter, NULL, set_help_paths, paths) == 0);
  for (int i = 0; i < 2000; ++i) {
    const char *p = NULL;
    CHECK(CfgUiGetHelpFile(&p) == CFG_OK && p == before && strnlen(p, 1031) <= 1030);
  }
  pthread_join(setter, NULL);
}

int main(void) {
  char root[] = "/tmp/vlr_modset_c_XXXXXX";
  char command[600];
  CfgDialingInfo dialing;
  CfgModemInfo modem;
  CfgNsvConfigInfo nsv;
  CfgNsvPopEntry pops[2];

  CHECK(sizeof(CfgDialingInfo) == 40);
  CHECK(offsetof(CfgModemInfo, SetupString) == 64);
  CHECK(sizeof(CfgNsvPopEntry) == 46);

  CHECK(mkdtemp(root) != NULL);
  setenv("VLR_ROOT", root, 1);

  CHECK(CfgGetDialingInfo(NULL) == CFG_E_PARAM);
  CHECK(CfgPutModemInfo(NULL) == CFG_E_PARAM);

  memset(&dialing, 'x', sizeof dialing);
  CHECK(CfgGetDialingInfo(&dialing) == CFG_DEFAULTS);
  CHECK(dialing.DialType == 1 && dialing.DialBlind == 0);
  CHECK(strcmp(dialing.DialLongDistance, "1") == 0 && dialing.DialPrefix[0] == 0);

  strcpy(dialing.DialPrefix, "9,");
  dialing.DialBlind = 1;
  CHECK(CfgPutDialingInfo(&dialing) == CFG_OK);
  memset(&dialing, 0, sizeof dialing);
  CHECK(CfgGetDialingInfo(&dialing) == CFG_OK);
  CHECK(strcmp(dialing.DialPrefix, "9,") == 0 && dialing.DialBlind == 1);

  /* The modem's setup string follows the dialing record's blind dialing. */
  CHECK(CfgGetModemInfo(&modem) == CFG_DEFAULTS);
  strcpy(modem.SetupString, "ATZ");
  CHECK(CfgPutModemInfo(&modem) == CFG_OK);
  CHECK(CfgGetModemInfo(&modem) == CFG_OK);
  CHECK(strcmp(modem.SetupString, "ATZ X3") == 0);

  memset(&nsv, 0, sizeof nsv);
  memset(pops, 0, sizeof pops);
  strcpy(pops[0].Pop, "SFO1");
  strcpy(pops[0].AccessNumber, "415-555-0100");
  nsv.PopList.count = 1;
  nsv.PopList.entries = pops;
  CHECK(CfgPutNsvConfigInfo(&nsv) == CFG_OK);
  memset(pops, 0, sizeof pops);
  nsv.PopList.count = 2;
  CHECK(CfgGetNsvConfigInfo(&nsv) == CFG_OK);
  CHECK(nsv.PopList.count == 1 && strcmp(pops[0].AccessNumber, "415-555-0100") == 0);

  check_help_path_buffer();

  snprintf(command, sizeof command, "rm -rf '%s'", root);
  if (system(command) != 0) fprintf(stderr, "could not remove %s\n", root);
  return check_exit_code();
}
