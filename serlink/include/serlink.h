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
 *    anywhere in the library gives SERLINK_E_NO_MEMORY, any other failure
 *    inside it SERLINK_E_SYSTEM; a connection that fails so reports that
 *    code as its final state.
 *  - The library initialises itself when it is loaded and terminates when it
 *    is unloaded; SerlinkInitialization need not be called.
 *
 * Records: fields are fixed-width 32-bit integers and pointers, in the order
 * below. The port index is 0..3 for "COM1:".."COM4:".
 *
 * Result codes (int32_t): every code has a name below (SERLINK_OK, the
 * SERLINK_E_* failures, the SERLINK_CONNECT_* connection states, the
 * MODEM_RESULT_* line classes); the values are fixed, callers outside may
 * hold them. Code says the names, never the numbers. 0 is success; small
 * positive values are information (1 transfer incomplete, 2 no response line
 * before the time-out, 30..36 connection progress); negative values are
 * failures: -1..-11 serial, -20..-26 modem, -30..-48 connection, -60/-61
 * frame. Names are `enum` constants (int), usable from C and C++; the
 * functions return int32_t so that the record layouts and exports stay fixed.
 * When a call fails, the caller's records keep what they held unless the
 * function says otherwise.
 *
 * Index: result codes and connection states; callbacks; frame (Serlink*); serial channel (SerialChannel*, Sio*,
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

/* ---- Result codes ------------------------------------------------------- */

enum SerlinkResult {
  SERLINK_OK = 0,
  SERLINK_INCOMPLETE = 1,     /* fewer bytes moved than asked */
  SERLINK_NO_LINE = 2,        /* ModemRecvResponse: no complete line in time */
  SERLINK_E_SYSTEM = -1,      /* any other system failure */
  SERLINK_E_NO_PORT = -2,     /* no such port */
  SERLINK_E_PORT_IN_USE = -4, /* port in use by another program */
  SERLINK_E_ALREADY_OPEN = -5, /* a channel is already open */
  SERLINK_E_NOT_OPEN = -6,    /* the channel is not open */
  SERLINK_E_NO_MEMORY = -7,   /* no buffers (out of memory) */
  SERLINK_E_PARAM = -9,       /* invalid parameter */
  SERLINK_E_PRIVILEGED = -10, /* privileged mode, channel id without the tag */
  SERLINK_E_NO_TIMER = -11,   /* no timer for data-ready polling */
  SERLINK_E_EMPTY_COMMAND = -20, /* null or blank modem command */
  SERLINK_E_NOT_OK = -21,     /* the modem did not answer "OK" */
  SERLINK_E_NO_MODEM = -22,   /* no modem answered */
  SERLINK_E_STOPPED = -26,    /* the status callback asked to stop */
  SERLINK_E_HANDLER_SET = -60,   /* an event handler is already registered */
  SERLINK_E_HANDLER_ARG = -61,   /* removal with another argument */

  /* Connection states, as ConnectStatusCallback and ConnectProcess report
   * them: progress (positive), complete (0), or a final failure (negative).
   * One enum with the codes above: a connection reports serial and modem
   * failures as they are. */
  SERLINK_CONNECT_COMPLETE = 0,         /* accepted, or connected without sign-on */
  SERLINK_CONNECT_OPENING = 30,         /* opening the port */
  SERLINK_CONNECT_INITIALIZING = 31,    /* before each of two modem set-ups */
  SERLINK_CONNECT_DIALING_PRIMARY = 32,
  SERLINK_CONNECT_DIALING_SECONDARY = 33,
  SERLINK_CONNECT_WAITING = 34,         /* dialed; waiting for the carrier */
  SERLINK_CONNECT_CONNECTED = 35,       /* carrier; sign-on starting */
  SERLINK_CONNECT_SIGNING_ON = 36,      /* also polled before each look at data */
  SERLINK_CONNECT_E_NOT_REGISTERED = -30, /* ConnectProcess before ConnectRegistration */
  SERLINK_CONNECT_E_MODEM_ERROR = -31,  /* "ERROR" to the dial */
  SERLINK_CONNECT_E_REGISTERED = -32,   /* ConnectRegistration twice */
  SERLINK_CONNECT_E_NO_MODEM = -33,     /* no modem answered on the port */
  SERLINK_CONNECT_E_NO_DIALTONE = -34,
  SERLINK_CONNECT_E_BUSY = -35,
  SERLINK_CONNECT_E_NO_ANSWER = -36,
  SERLINK_CONNECT_E_NO_CARRIER = -37,   /* while dialing */
  SERLINK_CONNECT_E_NO_NUMBER = -38,    /* no number left to dial */
  SERLINK_CONNECT_E_CARRIER_LOST = -39, /* during sign-on, or no prompt in time */
  SERLINK_CONNECT_E_REJECTED = -40,     /* the host answered "REJECT:" */
  SERLINK_CONNECT_E_CANCELLED = -41,    /* status callback nonzero, or shut down */
  SERLINK_CONNECT_E_TIMEOUT = -42,      /* no connection or no acceptance in time */
  SERLINK_CONNECT_E_SHUT_DOWN = -43,
  SERLINK_CONNECT_E_SELECTOR = -44,     /* ConnectSetParm: unknown selector */
  SERLINK_CONNECT_E_PORT = -45,         /* port open/set-up failed, or type refused */
  SERLINK_CONNECT_E_TYPE = -47,         /* unknown connection type */
  SERLINK_CONNECT_E_SIGNON_TEXT = -48   /* sign-on text missing or too long */
};

/* ---- Callbacks ---------------------------------------------------------- */

/* Called with its registered argument during every library wait. */
typedef void (*EventHandler)(int32_t argument);
/* Progress text, or NULL to ask only whether to stop; nonzero stops
 * (SERLINK_E_STOPPED). */
typedef int32_t (*StatusCallback)(const char *text);
/* printf-style: a format and at most one text for its "%s" (NULL when the
 * format has none). Called for every line sent ("Send: %s") and received
 * ("Recv: %s"). */
typedef void (*TraceCallback)(const char *format, const char *text);
/* Connection state (SERLINK_CONNECT_*) and a detail text (the reject line
 * with SERLINK_CONNECT_E_REJECTED, else NULL); nonzero cancels
 * (SERLINK_CONNECT_E_CANCELLED). */
typedef int32_t (*ConnectStatusCallback)(int32_t state, const char *detail);
/* Received bytes and how many are held; returns how many it consumed. */
typedef int32_t (*DataReadyCallback)(const char *data, int32_t count);

/* ---- Frame -------------------------------------------------------------- */

SERLINK_API int32_t SerlinkInitialization(int32_t module);
SERLINK_API int32_t SerlinkTermination(int32_t module);
/* "SERLINK.DLL - Version: R007.000.000.002"; constant, never free it. */
SERLINK_API const char *SerlinkVersion(void);
/* Registers `handler` (SERLINK_OK, or SERLINK_E_HANDLER_SET when one is
 * registered). A NULL handler with the registered argument removes it; with
 * another argument SERLINK_E_HANDLER_ARG. */
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
  int32_t flow;      /* bit SERLINK_FLOW_RTS_CTS: RTS/CTS handshaking */
} SerialChannelMetrics;

#define SERLINK_FLOW_RTS_CTS 4
/* Flow value ModemAutoConfigure gives when hardware flow control was taken. */
#define SERLINK_FLOW_HARDWARE 12

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
/* SERLINK_OK when all bytes asked were moved, SERLINK_INCOMPLETE when fewer
 * were, or a failure. */
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
  const char *text; /* zero-terminated; longer than 251 characters:
                       SERLINK_E_PARAM */
} ModemCommand;

#define SERLINK_RESPONSE_SIZE 128
typedef struct ModemResponse {
  int32_t channel;
  int32_t timeout_s;
  char *line;     /* at least 128 bytes; receives at most 127 characters */
  int32_t result; /* out: MODEM_RESULT_* of the line, MODEM_RESULT_OTHER
                     when none matched */
} ModemResponse;

/* Dial methods. */
#define SERLINK_DIAL_PULSE 0
#define SERLINK_DIAL_TONE 1

typedef struct ModemDialRequest {
  int32_t channel;
  int32_t method; /* SERLINK_DIAL_TONE, else pulse */
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
                                   flow SERLINK_FLOW_HARDWARE when hardware
                                   flow control was accepted, else 0 */
  char *reset;  /* out: "AT &F" or "AT Z" (at least 8 bytes) */
  char *setup;  /* out: "AT" and the accepted options (at least 60 bytes) */
  StatusCallback status; /* or NULL */
} ModemAutoConfigRecord;

SERLINK_API int32_t MdmInitialization(int32_t module);
SERLINK_API int32_t MdmTermination(int32_t module);
/* SERLINK_OK when a modem answers on the open channel, SERLINK_E_NO_MODEM
 * when none does. */
SERLINK_API int32_t ModemOpen(int32_t *channel);
SERLINK_API int32_t ModemClose(int32_t channel);
SERLINK_API int32_t ModemHangup(int32_t channel);
SERLINK_API int32_t ModemSendCommand(ModemCommand *command);
/* Reset command, then "AT Q E V1". A NULL text sends nothing and returns 0. */
SERLINK_API int32_t ModemReset(ModemCommand *command);
/* Setup command (split when long); SERLINK_OK or SERLINK_E_NOT_OK. A NULL
 * text returns SERLINK_OK. */
SERLINK_API int32_t ModemSetup(ModemCommand *command);
/* SERLINK_OK when a line ended, SERLINK_NO_LINE on time-out, or a serial
 * failure. */
SERLINK_API int32_t ModemRecvResponse(ModemResponse *response);
SERLINK_API int32_t ModemDial(ModemDialRequest *request);
SERLINK_API int32_t ModemPortEnumeration(ModemPortList *list);
SERLINK_API int32_t ModemAutoConfigure(ModemAutoConfigRecord *record);

/* ---- Connection --------------------------------------------------------- */

/* Connection types (ConnectRequest.type). */
enum SerlinkConnectType {
  SERLINK_TYPE_DIAL_SIGNON = 0,  /* dial, then sign on; redials on a lost
                                    carrier or a sign-on time-out */
  SERLINK_TYPE_REFUSED_1 = 1,    /* refused: SERLINK_CONNECT_E_PORT */
  SERLINK_TYPE_DIAL = 2,         /* dial only: complete at CONNECT */
  SERLINK_TYPE_REFUSED_3 = 3,    /* refused: SERLINK_CONNECT_E_PORT */
  SERLINK_TYPE_ADOPT_SIGNON = 4, /* the caller's open handle, then sign on */
  SERLINK_TYPE_ADOPT = 5         /* the caller's open handle: complete at once */
};

/* ConnectSetParm selectors. */
#define SERLINK_PARM_NONE 0
#define SERLINK_PARM_TRACE 1

typedef struct ConnectNumberSet {
  int32_t method;  /* SERLINK_DIAL_TONE, else pulse */
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
  int32_t type;       /* SerlinkConnectType */
  const void *setup;  /* ConnectDialSetup (dialed types) or ConnectAdoptSetup
                         (adopted types) */
  const char *signon; /* shorter than 32 characters; types with sign-on */
  ConnectStatusCallback status; /* or NULL */
} ConnectRequest;

SERLINK_API int32_t ConInitialization(int32_t module);
SERLINK_API int32_t ConTermination(int32_t module);
SERLINK_API int32_t ConnectRegistration(void);
/* SERLINK_CONNECT_WAITING (dialed), SERLINK_CONNECT_CONNECTED (sign-on
 * started), SERLINK_CONNECT_COMPLETE, or a failure. */
SERLINK_API int32_t ConnectProcess(ConnectRequest *request);
/* SERLINK_PARM_TRACE sets the trace callback; SERLINK_PARM_NONE does
 * nothing; others SERLINK_CONNECT_E_SELECTOR. */
SERLINK_API int32_t ConnectSetParm(int32_t selector, TraceCallback value);
SERLINK_API int32_t ConnectShutdown(void *unused);

#ifdef __cplusplus
}
#endif

#endif /* SERLINK_H */
