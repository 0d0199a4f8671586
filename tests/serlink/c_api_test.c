/* A C caller of libserlink.so: the header compiles as C, the library loads
 * and initialises itself, and a real pseudo-terminal carries a command and
 * its answer. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "serlink.h"

static int failures = 0;
#define CHECK(cond)                                                   \
  do {                                                                \
    if (!(cond)) {                                                    \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                     \
    }                                                                 \
  } while (0)

static char traced[4096];
static void trace(const char *format, const char *text) {
  char line[512];
  snprintf(line, sizeof line, format, text ? text : "");
  strncat(traced, line, sizeof traced - strlen(traced) - 1);
  strncat(traced, "|", sizeof traced - strlen(traced) - 1);
}

/* The modem on the far side of the pseudo-terminal: "ERROR" to "&F", "OK"
 * to every other line; it keeps what it received. */
static int master = -1;
static volatile int stop_modem = 0;
static char received[4096];
static void *modem(void *unused) {
  char buf[256];
  size_t used = 0;
  (void)unused;
  while (!stop_modem) {
    struct pollfd p = {master, POLLIN, 0};
    ssize_t n, i;
    if (poll(&p, 1, 20) <= 0) continue;
    n = read(master, buf, sizeof buf);
    if (n <= 0) break;
    for (i = 0; i < n; ++i) {
      if (used + 1 < sizeof received) received[used++] = buf[i];
      if (buf[i] == '\r') {
        const char *answer = strstr(received, "&F") ? "\r\nERROR\r\n" : "\r\nOK\r\n";
        if (write(master, answer, strlen(answer)) < 0) break;
      }
    }
  }
  return NULL;
}

static int handler_calls = 0;
static void handler(int32_t argument) { handler_calls += argument; }

int main(void) {
  char root[] = "/tmp/vlr_serlink_c_XXXXXX";
  char path[512];
  pthread_t thread;
  int32_t port = 0;
  SerialOpenRequest open_request = {0, 128, 128};
  SerialPortName name;
  ModemCommand command;
  ModemResponse response;
  char line[SERLINK_RESPONSE_SIZE];

  CHECK(strcmp(SerlinkVersion(), "SERLINK.DLL - Version: R007.000.000.002") == 0);
  CHECK(SerlinkSetEventHandler(handler, 1) == SERLINK_OK);
  CHECK(SerlinkSetEventHandler(handler, 2) == SERLINK_E_HANDLER_SET);
  CHECK(ConnectProcess(NULL) == SERLINK_CONNECT_E_NOT_REGISTERED);
  CHECK(ConnectRegistration() == SERLINK_OK);
  CHECK(ConnectRegistration() == SERLINK_CONNECT_E_REGISTERED);
  CHECK(ConnectShutdown(NULL) == SERLINK_OK);
  CHECK(ConnectSetParm(7, NULL) == SERLINK_CONNECT_E_SELECTOR);
  open_request.port = 4;
  CHECK(SerialChannelOpen(&open_request) == SERLINK_E_NO_PORT);
  memset(&name, 0, sizeof name);
  name.port = 3;
  CHECK(SerialChannelGetPort(&name) == SERLINK_OK && strcmp(name.name, "COM4:") == 0);

  /* COM1 is a pseudo-terminal behind the root's dosdevices link. */
  CHECK(mkdtemp(root) != NULL);
  snprintf(path, sizeof path, "%s/dosdevices", root);
  mkdir(path, 0755);
  master = posix_openpt(O_RDWR | O_NOCTTY);
  CHECK(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
  snprintf(path, sizeof path, "%s/dosdevices/com1", root);
  CHECK(symlink(ptsname(master), path) == 0);
  setenv("VLR_ROOT", root, 1);

  open_request.port = 0;
  CHECK(SerialChannelOpen(&open_request) == SERLINK_OK);
  CHECK(ConnectSetParm(1, trace) == SERLINK_OK);
  CHECK(pthread_create(&thread, NULL, modem, NULL) == 0);
  command.channel = 0;
  command.text = "&F";
  CHECK(ModemOpen(&port) == SERLINK_OK);
  CHECK(ModemSendCommand(&command) == SERLINK_OK);
  response.channel = 0;
  response.timeout_s = 5;
  response.line = line;
  response.result = 0;
  CHECK(ModemRecvResponse(&response) == SERLINK_OK);
  CHECK(response.result == MODEM_RESULT_ERROR);
  CHECK(strcmp(line, "ERROR") == 0);
  CHECK(handler_calls > 0);
  stop_modem = 1;
  pthread_join(thread, NULL);
  CHECK(strcmp(received, "AT Q E V1\rAT &F\r") == 0);
  CHECK(strstr(traced, "Send: AT Q E V1\r|Recv: OK|Send: AT &F\r|Recv: ERROR|") != NULL);

  close(master); /* the device disappears */
  CHECK(ModemRecvResponse(&response) < 0);
  CHECK(SerialChannelClose(&port) == SERLINK_OK);

  unlink(path);
  snprintf(path, sizeof path, "%s/dosdevices", root);
  rmdir(path);
  rmdir(root);
  CHECK(SerlinkSetEventHandler(NULL, 1) == SERLINK_OK);
  if (failures) {
    fprintf(stderr, "%d checks failed\n", failures);
    return 1;
  }
  printf("serlink C API: all checks passed\n");
  return 0;
}
