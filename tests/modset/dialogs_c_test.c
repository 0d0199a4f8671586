/* A C caller of libmodset.so that runs the dialogs headless: the program
 * installs no display, so the library takes the scripted user from
 * VLR_UI=headless and VLR_ANSWERS, as any outside program gets it. One
 * script answers every dialog of the run, in order; the records stored in
 * TARK_NET.INI are checked after each dialog. */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "modset.h"
#include "support/check.h"

static const char script[] =
    "# 1: Set Up Modem, OK\n"
    "wait 30101\n"
    "select 107 COM2\n"
    "select 109 19200\n"
    "click 115\n"
    "set 128 9,\n"
    "click 1\n"
    "# 2: Set Up Modem with its phone-numbers button; the access number is\n"
    "# chosen there (nothing was chosen yet: the override box is ticked),\n"
    "# then Set Up Modem is cancelled\n"
    "wait 30101\n"
    "select 107 COM4\n"
    "click 119\n"
    "wait 30107\n"
    "uncheck 139\n"
    "set 138 212\n"
    "select 141 415-555-0100\n"
    "expect-text 145 1415-555-0100\n"
    "click 1\n"
    "wait 30101\n"
    "click 2\n"
    "# 3: the Tarkel network number, typed\n"
    "wait 30106\n"
    "set 137 555-0199\n"
    "click 1\n"
    "# 4: a modem search without any modem\n"
    "expect-message A modem was not found.\n"
    "answer OK\n";

static char *file_text(const char *path) {
  FILE *f = fopen(path, "rb");
  if (!f) return NULL;
  static char buf[65536];
  size_t n = fread(buf, 1, sizeof buf - 1, f);
  buf[n] = 0;
  fclose(f);
  return buf;
}

int main(void) {
  char root[] = "/tmp/vlr_modset_dialogs_XXXXXX";
  char path[512], ini[512], transcript[512], command[600];
  CfgModemInfo modem;
  CfgDialingInfo dialing;
  CfgZrsAccessInfo zrs;
  CfgNsvConfigInfo nsv;
  CfgNsvPopEntry pops[2];
  char number[64];

  CHECK(mkdtemp(root) != NULL);
  setenv("VLR_ROOT", root, 1);
  /* COM1 to COM4 lead nowhere: the search never touches this machine's ports. */
  snprintf(path, sizeof path, "%s/dosdevices", root);
  CHECK(mkdir(path, 0700) == 0);
  for (int n = 1; n <= 4; ++n) {
    snprintf(path, sizeof path, "%s/dosdevices/com%d", root, n);
    CHECK(symlink("/dev/pts/no-such-port", path) == 0);
  }
  snprintf(path, sizeof path, "%s/answers", root);
  FILE *f = fopen(path, "w");
  CHECK(f != NULL);
  if (!f) return 1;
  fputs(script, f);
  fclose(f);
  snprintf(transcript, sizeof transcript, "%s/transcript", root);
  setenv("VLR_UI", "headless", 1);
  setenv("VLR_ANSWERS", path, 1);
  setenv("VLR_TRANSCRIPT", transcript, 1);
  snprintf(ini, sizeof ini, "%s/drive_c/windows/TARK_NET.INI", root);

  /* The POP list comes from whoever stores it. */
  memset(&nsv, 0, sizeof nsv);
  memset(pops, 0, sizeof pops);
  strcpy(pops[0].Pop, "SFO1");
  strcpy(pops[0].AccessNumber, "415-555-0100");
  strcpy(pops[1].Pop, "NYC1");
  strcpy(pops[1].AccessNumber, "212-555-0100");
  nsv.PopList.count = 2;
  nsv.PopList.entries = pops;
  CHECK(CfgPutNsvConfigInfo(&nsv) == CFG_OK);

  /* 1 */
  CHECK(CfgUiSetupDialog(0, 0, NULL) == CFG_OK);
  CHECK(CfgGetModemInfo(&modem) == CFG_OK);
  CHECK(strcmp(modem.PortName, "COM2") == 0 && modem.CommPort == 1);
  CHECK(modem.BaudRate == 7 && modem.SpeakerOff == 1);
  CHECK(CfgGetDialingInfo(&dialing) == CFG_OK);
  CHECK(strcmp(dialing.DialPrefix, "9,") == 0 && dialing.DialType == 1);
  const char *text = file_text(ini);
  CHECK(text && strstr(text, "[Modem Information]\nPort Name=COM2\nComm Port=1\nBaud Rate=7\n"));

  /* 2: the button saved COM4 first; Cancel put back the records as they
   * were when the dialog opened, and the access number stays chosen. */
  CHECK(CfgUiSetupDialog(33, 0, NULL) == CFG_CANCELLED);
  CHECK(CfgGetModemInfo(&modem) == CFG_OK);
  CHECK(strcmp(modem.PortName, "COM2") == 0 && modem.CommPort == 1);
  CHECK(CfgGetNsvAccessInfo(number) == CFG_OK);
  CHECK(strcmp(number, "14155550100") == 0);
  memset(&nsv, 0, sizeof nsv);
  CHECK(CfgGetNsvConfigInfo(&nsv) == CFG_OK);
  CHECK(strcmp(nsv.AreaCode, "212") == 0 && nsv.UseSelectedPop == 1);
  text = file_text(ini);
  CHECK(text && strstr(text, "[NSV POP List]\nSFO1=415-555-0100\nNYC1=212-555-0100"));

  /* 3 */
  CHECK(CfgUiSetupDialog(128, 0, NULL) == CFG_OK);
  CHECK(CfgGetZrsAccessInfo(&zrs) == CFG_OK);
  CHECK(zrs.UseCustomAccess == 1 && strcmp(zrs.CustomAccessNumber, "555-0199") == 0);

  /* 4: nothing found, nothing stored */
  CHECK(CfgUiAutoDetectDialog(0, 0) == CFG_CANCELLED);
  CHECK(CfgGetModemInfo(&modem) == CFG_OK);
  CHECK(strcmp(modem.PortName, "COM2") == 0);

  text = file_text(transcript);
  CHECK(text && strstr(text, "dialog 30101 \"Set Up Modem\""));
  CHECK(text && strstr(text, "dialog 30107 \"Internet Services Access Phone Number\""));
  CHECK(text && strstr(text, "message-box \"Modem Auto-Detect\" icon exclamation \"A modem was not found.\""));

  snprintf(command, sizeof command, "rm -rf '%s'", root);
  if (system(command) != 0) fprintf(stderr, "could not remove %s\n", root);
  return check_exit_code();
}
