/*
 * serlink.h: the serial, modem and connection library (libserlink.so).
 *
 * Principles
 *  - One process-wide state: one serial channel, the modem's command-mode
 *    flag, one connection. No handles beyond the records each call passes.
 *  - Every record belongs to the caller and is passed by pointer; the library
 *    writes its results into it and keeps nothing. Texts the caller gives are
 *    read within the sizes stated here; texts the library writes are always
 *    zero-terminated within the stated buffer sizes.
 *  - All work runs on the calling thread; the library takes no locks and must
 *    not be called from two threads. Data-ready polling and the connection's
 *    timers are thread timers of the calling thread's message loop: they run
 *    while that thread pumps messages, which the library's own waits let it
 *    do through the event handler (called about every 5 ms while it waits).
 *  - No call and no callback that the caller's loop runs (data-ready polling,
 *    the connection's timers) lets an exception out: running out of memory
 *    anywhere in the library gives -7, any other failure inside it -1; a
 *    connection that fails so reports that code as its final state.
 *  - The library initialises itself when it is loaded and terminates when it
 *    is unloaded; SerlinkInitialization need not be called.
 *
 * Records: fields are fixed-width 32-bit integers and pointers, in the order
 * below. The port index is 0..3 for "COM1:".."COM4:".
 *
 * Result codes (int32_t): 0 success; small positive values are information
 * (1 transfer incomplete, 2 no response line before the time-out, 30..36
 * connection progress); negative values are failures:
 *    -1 system failure         -2 no such port          -4 port in use elsewhere
 *    -5 channel already open   -6 channel not open      -7 no buffers (out of memory)
 *    -9 invalid parameter     -10 privileged mode      -11 no timer
 *   -20 empty command         -21 modem did not say OK -22 no modem answered
 *   -26 stopped by the status callback
 *   -30..-48 connection failures (see ConnectStatusCallback)
 *   -60 event handler already registered   -61 wrong argument for removal
 * When a call fails, the caller's records keep what they held unless the
 * function says otherwise.
 *
 * Index: callbacks; frame (Serlink*); serial channel (SerialChannel*, Sio*,
 * SetupCallback); modem (Mdm*, Modem*); connection (Con*, Connect*).
 */
#ifndef SERLINK_H
#define SERLINK_H

#include <stdint.h>

#if defined(SERLINK_BUILDING)
#define SERLINK_API __attribute__((visibility("default")))
#else
#define SERLINK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Callbacks ---------------------------------------------------------- */

/* Called with its registered argument during every library wait. */
typedef void (*EventHandler)(int32_t argument);
/* Progress text, or NULL to ask only whether to stop; nonzero stops (-26). */
typedef int32_t (*StatusCallback)(const char *text);
/* printf-style: a format and at most one text for its "%s" (NULL when the
 * format has none). Called for every line sent ("Send: %s") and received
 * ("Recv: %s"). */
typedef void (*TraceCallback)(const char *format, const char *text);
/* Connection state (30..36 progress, 0 done, negative failure) and a detail
 * text (the reject line with -40, else NULL); nonzero cancels (-41). */
typedef int32_t (*ConnectStatusCallback)(int32_t state, const char *detail);
/* Received bytes and how many are held; returns how many it consumed. */
typedef int32_t (*DataReadyCallback)(const char *data, int32_t count);

/* ---- Frame -------------------------------------------------------------- */

SERLINK_API int32_t SerlinkInitialization(int32_t module);
SERLINK_API int32_t SerlinkTermination(int32_t module);
/* "SERLINK.DLL - Version: R007.000.000.002"; constant, never free it. */
SERLINK_API const char *SerlinkVersion(void);
/* Registers `handler` (0, or -60 when one is registered). A NULL handler with
 * the registered argument removes it (0); with another argument -61. */
SERLINK_API int32_t SerlinkSetEventHandler(EventHandler handler, int32_t argument);

/* ---- Serial channel ----------------------------------------------------- */

/* Channel ids: the port index; in privileged mode 0x8082 in the high 16 bits
 * and the port index in the low 16 bits. */
#define SERLINK_PRIVILEGED_TAG 0x8082

typedef struct SerialOpenRequest {
  int32_t port;        /* 0..3 */
  int32_t input_size;  /* bytes; raised to 2048 */
  int32_t output_size; /* bytes */
} SerialOpenRequest;

typedef struct SerialChannelMetrics {
  int32_t channel;   /* channel id; on return from Get, the open port index */
  int32_t speed;     /* speed code: 2 2400, 3/4 4800, 5 9600, 6 14400,
                        7 19200, 8 38400, 9 56000, 10 115200, 11 128000,
                        12 256000, 13 38400, any other 1200 */
  int32_t data_bits; /* normally 8 */
  int32_t stop_bits; /* 0 one, 1 one and a half, 2 two */
  int32_t parity;    /* 0 none, 1 odd, 2 even, 3 mark, 4 space */
  int32_t flow;      /* bit value 4: RTS/CTS handshaking */
} SerialChannelMetrics;

typedef struct SerialTransfer {
  int32_t channel;
  void *buffer;
  int32_t requested;
  int32_t done; /* out; set to 0 first */
} SerialTransfer;

typedef struct SerialFlushRequest {
  int32_t channel;
  int32_t purge_input;
  int32_t purge_output;
} SerialFlushRequest;

typedef struct SerialDataReadySpec {
  int32_t channel;
  int32_t threshold;   /* bytes, 1..2048 (larger is lowered to 2048) */
  int32_t interval_ms;
  DataReadyCallback callback; /* NULL switches polling off */
} SerialDataReadySpec;

#define SERLINK_PORT_NAME_SIZE 260
typedef struct SerialPortName {
  int32_t port;
  char name[SERLINK_PORT_NAME_SIZE]; /* zero-terminated */
} SerialPortName;

typedef struct SerialAdoptRequest {
  int32_t port;
  int32_t handle; /* an open serial handle (platform::register_serial_handle) */
  SerialChannelMetrics metrics;
} SerialAdoptRequest;

SERLINK_API int32_t SioInitialization(int32_t module);
SERLINK_API int32_t SioTermination(int32_t module);
SERLINK_API int32_t SerialChannelOpen(SerialOpenRequest *request);
SERLINK_API int32_t SerialChannelClose(const int32_t *channel);
SERLINK_API int32_t SerialChannelGetMetrics(SerialChannelMetrics *metrics);
SERLINK_API int32_t SerialChannelSetMetrics(SerialChannelMetrics *metrics);
/* 0 when all bytes asked were moved, 1 when fewer were, or a failure. */
SERLINK_API int32_t SerialChannelRead(SerialTransfer *transfer);
SERLINK_API int32_t SerialChannelWrite(SerialTransfer *transfer);
SERLINK_API int32_t SerialChannelFlush(SerialFlushRequest *request);
SERLINK_API int32_t SerialChannelDataReadySpec(SerialDataReadySpec *request);
/* SerialChannelDataReadySpec without a channel id; note the order. */
SERLINK_API int32_t SetupCallback(DataReadyCallback callback, int32_t interval_ms, int32_t threshold);
SERLINK_API int32_t SerialChannelGetPort(SerialPortName *name);
SERLINK_API int32_t SioEnableAsync(SerialAdoptRequest *request);
SERLINK_API int32_t SioDisableAsync(void);
SERLINK_API int32_t SioSetDTR(int32_t channel, int32_t on);
/* Returns the mode stored. */
SERLINK_API int32_t SioSetPrivilegedMode(int32_t mode);
/* Number of bytes accepted, or a failure. */
SERLINK_API int32_t SioWrite(const void *buffer, int32_t length);
SERLINK_API int32_t SioWriteByte(int32_t byte);

/* ---- Modem -------------------------------------------------------------- */

/* Result codes of response lines (ModemResponse.result). */
enum {
  MODEM_RESULT_OK = 20,
  MODEM_RESULT_CONNECT = 21,
  MODEM_RESULT_RING = 22,
  MODEM_RESULT_NO_CARRIER = 23,
  MODEM_RESULT_ERROR = 24,
  MODEM_RESULT_NO_DIALTONE = 25,
  MODEM_RESULT_BUSY = 26,
  MODEM_RESULT_NO_ANSWER = 27,
  MODEM_RESULT_CARRIER = 29, /* also COMPRESSION, PROTOCOL, AUTOSTREAM */
  MODEM_RESULT_OTHER = 30
};

typedef struct ModemCommand {
  int32_t channel;
  const char *text; /* zero-terminated; longer than 251 characters: -9 */
} ModemCommand;

#define SERLINK_RESPONSE_SIZE 128
typedef struct ModemResponse {
  int32_t channel;
  int32_t timeout_s;
  char *line;     /* at least 128 bytes; receives at most 127 characters */
  int32_t result; /* out: result code of the line, 30 when none matched */
} ModemResponse;

typedef struct ModemDialRequest {
  int32_t channel;
  int32_t method; /* 1 tone, else pulse */
  int32_t wait_s; /* seconds to wait for carrier (S7) */
  const char *number;
} ModemDialRequest;

typedef struct ModemPortList {
  uint32_t count; /* in: capacity of `entries` (at least 1); out: filled */
  SerialPortName **entries;
  StatusCallback status; /* or NULL */
} ModemPortList;

#define SERLINK_RESET_SIZE 8  /* minimum size of the reset-string buffer */
#define SERLINK_SETUP_SIZE 60 /* minimum size of the setup-string buffer */
typedef struct ModemAutoConfigRecord {
  SerialChannelMetrics metrics; /* in: port index; out: speed code, 8, 0, 0,
                                   flow 12 when hardware flow control was
                                   accepted, else 0 */
  char *reset;  /* out: "AT &F" or "AT Z" (at least 8 bytes) */
  char *setup;  /* out: "AT" and the accepted options (at least 60 bytes) */
  StatusCallback status; /* or NULL */
} ModemAutoConfigRecord;

SERLINK_API int32_t MdmInitialization(int32_t module);
SERLINK_API int32_t MdmTermination(int32_t module);
/* 0 when a modem answers on the open channel, -22 when none does. */
SERLINK_API int32_t ModemOpen(int32_t *channel);
SERLINK_API int32_t ModemClose(int32_t channel);
SERLINK_API int32_t ModemHangup(int32_t channel);
SERLINK_API int32_t ModemSendCommand(ModemCommand *command);
/* Reset command, then "AT Q E V1". A NULL text sends nothing and returns 0. */
SERLINK_API int32_t ModemReset(ModemCommand *command);
/* Setup command (split when long); 0 or -21. A NULL text returns 0. */
SERLINK_API int32_t ModemSetup(ModemCommand *command);
/* 0 when a line ended, 2 on time-out, or a serial failure. */
SERLINK_API int32_t ModemRecvResponse(ModemResponse *response);
SERLINK_API int32_t ModemDial(ModemDialRequest *request);
SERLINK_API int32_t ModemPortEnumeration(ModemPortList *list);
SERLINK_API int32_t ModemAutoConfigure(ModemAutoConfigRecord *record);

/* ---- Connection --------------------------------------------------------- */

/* Connection types: 0 dial and sign on, 2 dial only, 4 adopted handle and
 * sign on, 5 adopted handle only; 1 and 3 are refused (-45). */

typedef struct ConnectNumberSet {
  int32_t method;  /* 1 tone, else pulse */
  int32_t wait_s;  /* S7 */
  int32_t retries;
  const char *number; /* NULL: no number */
} ConnectNumberSet;

typedef struct ConnectDialSetup {
  int32_t port;
  int32_t speed;
  int32_t data_bits;
  int32_t stop_bits;
  int32_t parity;
  int32_t flow;
  const char *const *commands; /* [0] reset command, [1] setup command */
  int32_t unused;
  ConnectNumberSet primary;
  ConnectNumberSet secondary;
} ConnectDialSetup;

typedef struct ConnectAdoptSetup {
  int32_t handle; /* an open serial handle */
} ConnectAdoptSetup;

typedef struct ConnectRequest {
  int32_t type;
  const void *setup;  /* ConnectDialSetup (0, 2) or ConnectAdoptSetup (4, 5) */
  const char *signon; /* shorter than 32 characters; types 0, 1 and 4 */
  ConnectStatusCallback status; /* or NULL */
} ConnectRequest;

SERLINK_API int32_t ConInitialization(int32_t module);
SERLINK_API int32_t ConTermination(int32_t module);
SERLINK_API int32_t ConnectRegistration(void);
/* 34 dialing, 35 signing on, 0 complete, or a failure. */
SERLINK_API int32_t ConnectProcess(ConnectRequest *request);
/* Selector 1 sets the trace callback; 0 does nothing; others -44. */
SERLINK_API int32_t ConnectSetParm(int32_t selector, TraceCallback value);
SERLINK_API int32_t ConnectShutdown(void *unused);

#ifdef __cplusplus
}
#endif

#endif /* SERLINK_H */
