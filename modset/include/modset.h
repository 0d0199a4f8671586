/*
 * modset.h: the dialing, modem and access-number settings library
 * (libmodset.so).
 *
 * Principles
 *  - The settings live in one INI file shared with other programs of the
 *    same maker: TARK_NET.INI in the Windows directory of the system root.
 *    The library touches only its own sections and keeps no copy of the
 *    file: every Get reads it, every Put rewrites one section.
 *  - Every record belongs to the caller and is passed by pointer. A Get fills
 *    the whole record (stored values where present, defaults elsewhere);
 *    text fields always come back zero-terminated within their size, the rest
 *    of the field filled with zeros, longer stored values cut to size - 1.
 *    A Put stores texts up to their first zero, at most size - 1 characters.
 *  - A Put replaces its section in one atomic step under the file's lock:
 *    other readers, in this process or another, see the old section or the
 *    new one, never a half-written one. A Put that fails leaves the file as
 *    it was (a file the caller may not write too); the one exception is a
 *    POP list with bad entries, below. Values equal to their defaults are
 *    stored as empty values.
 *  - A Get that fails leaves the caller's record as it was.
 *  - Values are read as the Windows private-profile service reads them:
 *    leading and trailing blanks and one pair of enclosing quotes are not
 *    part of a value; an empty value reads as the default.
 *  - No call throws, none keeps a pointer it was given.
 *  - Threads: the Get and Put functions and CfgGetNsvAccessInfo may run on
 *    any threads at the same time, also with the calls below (each is
 *    complete in itself). CfgUiSetHelpFile and CfgUiGetHelpFile may run on
 *    any thread, but the help path is one text for the process: a caller
 *    reading the text that CfgUiGetHelpFile pointed it to while another
 *    thread sets a new path may read a mix of the two. The dialogs
 *    (CfgUiSetupDialog, CfgUiAutoDetectDialog) run on one user-interface
 *    thread at a time, the thread whose display they draw on; do not set
 *    the help path while one is open on another thread.
 *  - The library never ends or blocks its caller for good, and writes
 *    nothing to the caller's standard error: its log lines go to the file
 *    VLR_LOG names, else nowhere.
 *  - The dialogs (CfgUiSetupDialog, CfgUiAutoDetectDialog) are modal: they
 *    run a nested message loop on the calling thread and return when the
 *    user closes them. They read and store the settings only through the
 *    Get and Put functions below. They draw on the display the calling
 *    program installed (platform/ui/display.h); a program that installed none
 *    gets one from its environment on the first dialog:
 *      VLR_UI=headless, VLR_ANSWERS=SCRIPT   the scripted user (the steps of
 *                                          `joinwiz --answers`), with
 *      VLR_TRANSCRIPT=FILE                 optionally its transcript;
 *      VLR_UI=terminal                     the terminal (ncurses);
 *      no VLR_UI                           the terminal when standard input
 *                                          is one; VLR_ANSWERS alone means
 *                                          headless.
 *    Without a display a dialog returns CFG_E_UI at once. A script that
 *    cannot be read, has a step that cannot be done, or runs out of steps
 *    while a dialog is open (after the step time-out) ends the open dialog,
 *    and every later one, with CFG_E_UI; VLR_LOG's file says why.
 *  - The modem search (CfgUiAutoDetectDialog, "Find Modem..." in "Set Up
 *    Modem") runs through libserlink and registers its own message pump as
 *    Serlink's event handler while it runs, so the caller's windows keep
 *    being served; one search runs at a time in a process.
 *  - On first use in a process the library carries the settings of the
 *    older "ZRS Modem" section into the new sections once, when none of the
 *    dialing, modem and access sections has been stored yet.
 *
 * Records: fixed-width fields in the order below, no gaps between them
 * (CfgNsvPopList holds a pointer and is aligned as the platform aligns
 * pointers). Integers are 32-bit signed.
 *
 * Result codes (int32_t): 0 or more is success.
 *      0 CFG_OK          done
 *    257 CFG_DEFAULTS    Get: the section was never stored (no "Last Update");
 *                        the record holds what the file has, defaults elsewhere
 *   -250 CFG_E_WRITE     Put: the section could not be stored (a value that
 *                        cannot be written, a file that cannot be locked,
 *                        read or replaced, or one the caller may not write);
 *                        file unchanged. Also a POP list with bad entries,
 *                        stored without them (CfgPutNsvConfigInfo)
 *   -251 CFG_E_READ      Get: the file exists but cannot be read (not a
 *                        regular file, unreadable, larger than 4 MiB); the
 *                        record is untouched
 *   -254 CFG_E_POPLIST   POP list request invalid; reported by
 *                        CfgPutNsvConfigInfo as CFG_E_WRITE
 *   -255 CFG_E_MEMORY    out of memory; Get: record untouched, Put: file
 *                        unchanged
 *   -381 CFG_E_PARAM     a null pointer; a help path longer than 1030 characters
 *   -382 CFG_E_UI_MEMORY out of memory while running a dialog
 *   -383 CFG_E_UI        any other failure while running a dialog (no
 *                        display, a failing answers script)
 *    385 CFG_CANCELLED   a dialog ended other than by OK
 *
 * Index: result codes; records (CfgDialingInfo, CfgModemInfo,
 * CfgZrsAccessInfo, CfgNsvPopEntry, CfgNsvPopList, CfgNsvConfigInfo);
 * Get and Put functions; the number to dial; dialogs; help path.
 */
#ifndef MODSET_H
#define MODSET_H

#include <stdint.h>

#if defined(MODSET_BUILDING)
#define MODSET_API __attribute__((visibility("default")))
#else
#define MODSET_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ------------------------------------------------------- */

#define CFG_OK 0
#define CFG_DEFAULTS 257
#define CFG_E_WRITE (-250)
#define CFG_E_READ (-251)
#define CFG_E_POPLIST (-254)
#define CFG_E_MEMORY (-255)
#define CFG_E_PARAM (-381)
#define CFG_E_UI_MEMORY (-382)
#define CFG_E_UI (-383)
#define CFG_CANCELLED 385

/* ---- Records ------------------------------------------------------------ */

/* Section "Dialing Information". */
typedef struct CfgDialingInfo {
  int32_t DialType;              /* "Dial Type", 1: tone (default); other: pulse (0) */
  char DisableCallWaiting[8];    /* "Disable Call Waiting", "" */
  char DialPrefix[16];           /* "Dial Prefix", "" : gets an outside line */
  char DialLongDistance[8];      /* "Dial Long Distance", "1" */
  int32_t DialBlind;             /* "Dial Blind", 0; nonzero: no wait for dial tone */
} CfgDialingInfo;

/* Section "Modem Information". */
typedef struct CfgModemInfo {
  char PortName[32];             /* "Port Name", "COM1" */
  int32_t CommPort;              /* "Comm Port", 0: COM1 ... 3: COM4 */
  int32_t BaudRate;              /* "Baud Rate", 2: Serlink speed code (2400) */
  int32_t FlowControl;           /* "Flow Control", 0: Serlink flags (4 RTS/CTS) */
  int32_t SpeakerOff;            /* "Speaker Off", 0 */
  char ResetString[16];          /* "Reset String", "AT Z" */
  char SetupString[64];          /* "Setup String", "": returned patched, below */
} CfgModemInfo;

/* Section "ZRS Async Access Info". */
typedef struct CfgZrsAccessInfo {
  int32_t UseCustomAccess;           /* "Use Custom Access", 0 */
  char CustomAccessNumber[64];       /* "Custom Access Number", "" */
  char PrimaryAccessNumber[64];      /* "Primary Access Number", "950-0132" */
  int32_t PrimaryAccessTimeout;      /* "Primary Access Timeout", 40 */
  int32_t PrimaryAccessRedial;       /* "Primary Access Redial", 1 */
  char AlternateAccessNumber[64];    /* "Alternate Access Number", "1-800-555-0199" */
  int32_t AlternateAccessTimeout;    /* "Alternate Access Timeout", 60 */
  int32_t AlternateAccessRedial;     /* "Alternate Access Redial", 1 */
  char Service[32];                  /* "Service", "tarkel96" */
} CfgZrsAccessInfo;

/* One key of section "NSV POP List": Pop = AccessNumber. */
typedef struct CfgNsvPopEntry {
  char Pop[6];                   /* 1 to 5 characters */
  char AccessNumber[40];         /* 1 to 39 characters */
} CfgNsvPopEntry;

/* The POP list request of CfgNsvConfigInfo.
 * Get: count is the capacity of `entries` on entry (0: do not read the list)
 *      and the number of entries filled on return.
 * Put: count entries of `entries` are stored (0: leave the list alone). */
typedef struct CfgNsvPopList {
  int32_t count;
  CfgNsvPopEntry *entries;
} CfgNsvPopList;

/* Section "NSV Config Information" (PopList is not stored there). */
typedef struct CfgNsvConfigInfo {
  char AreaCode[4];              /* "Area Code", "" */
  char UserId[32];               /* "User Id", "" */
  int32_t UseSelectedPop;        /* "Use Selected Pop", 0: dial CustomAccess */
  char SelectedPop[6];           /* "Selected Pop", "" */
  char SelectedAccess[40];       /* "Selected Access", "" */
  char CustomPop[6];             /* "Custom Pop", "" */
  char CustomAccess[40];         /* "Custom Access", "" */
  CfgNsvPopList PopList;
} CfgNsvConfigInfo;

/* ---- Get and Put -------------------------------------------------------- */

/* Each Get returns CFG_OK, CFG_DEFAULTS, CFG_E_READ, CFG_E_MEMORY or
 * CFG_E_PARAM; each Put CFG_OK, CFG_E_WRITE, CFG_E_MEMORY or CFG_E_PARAM.
 * Every Put also writes "Last Update" with the local time. */

MODSET_API int32_t CfgGetDialingInfo(CfgDialingInfo *info);
MODSET_API int32_t CfgPutDialingInfo(const CfgDialingInfo *info);

/* The returned SetupString carries the current "Speaker Off" and the dialing
 * record's "Dial Blind": the first M command (not one after &, \, %, *, ~, $,
 * ), :, # or +, and never the first character) gets digit 0 (silent) or 1,
 * " M0" is appended when there is none and the speaker is off; the first X
 * command gets 3 (blind) or 4, a second digit after it becomes a blank, and
 * " X3" is appended when there is none and dialing is blind. An addition that
 * would not fit in 63 characters is left out. The stored string is not
 * changed. */
MODSET_API int32_t CfgGetModemInfo(CfgModemInfo *info);
MODSET_API int32_t CfgPutModemInfo(const CfgModemInfo *info);

MODSET_API int32_t CfgGetZrsAccessInfo(CfgZrsAccessInfo *info);
MODSET_API int32_t CfgPutZrsAccessInfo(const CfgZrsAccessInfo *info);

/* Get: with PopList.count > 0 also fills up to count entries from "NSV POP
 * List" in file order (keys longer than 5 characters are passed over; the
 * listing covers the names that fit whole in 3073 bytes, each with its
 * zero, plus a final zero) and sets count to the number filled; a null
 * entries pointer gives count 0. The list does not change the result.
 * Put: with PopList.count > 0 also replaces "NSV POP List" by the entries,
 * in array order, in the same atomic step; a negative count deletes the
 * list. An entry with an identifier of other than 1 to 5 characters or a
 * number of other than 1 to 39 characters (or one that cannot be stored in
 * the file) is left out, and a null entries pointer leaves the list as it
 * was: the record and the valid entries are still stored, and the result
 * is CFG_E_WRITE. */
MODSET_API int32_t CfgGetNsvConfigInfo(CfgNsvConfigInfo *info);
MODSET_API int32_t CfgPutNsvConfigInfo(const CfgNsvConfigInfo *info);

/* ---- The number to dial ------------------------------------------------ */

/* Writes the number to dial for the Nsv service into `number` (at least 64
 * bytes; the longest result is 46 characters) and returns the result of the
 * last record read (CFG_OK, CFG_DEFAULTS, CFG_E_READ, CFG_E_MEMORY;
 * CFG_E_PARAM for a null pointer). Never stored ("NSV Config Information"
 * without "Last Update") or unreadable: the empty number. "Use Selected Pop"
 * 0: "Custom Access" as stored. Otherwise "Selected Access": when its first
 * three bytes are those of "Area Code" they are dropped (a local call), else
 * the dialing record's "Dial Long Distance" goes in front; of the rest only
 * the characters "0123456789,*#;" are kept. */
MODSET_API int32_t CfgGetNsvAccessInfo(char *number);

/* ---- Dialogs ------------------------------------------------------------ */

/* mode 32: "Internet Services Access Phone Number" with `description` (NULL:
 * the library's own text); mode 128: "Tarkel Network Phone Number"; any
 * other mode: "Set Up Modem", whose "Phone Numbers..." button shows when the
 * mode has bit value 32 (and opens the first of those with `description`).
 * `reserved` is ignored. Returns CFG_OK when the dialog ended with OK,
 * CFG_CANCELLED for any other ending (also a quit of the caller's message
 * loop, which stays pending), CFG_E_UI_MEMORY, or CFG_E_UI when the dialog
 * could not run (no display). Cancel in "Set Up Modem" stores again the
 * records as they were when it opened, where it had stored them. */
MODSET_API int32_t CfgUiSetupDialog(int32_t mode, int32_t reserved, const char *description);

/* "Searching for modem": asks libserlink for the modems on COM1 to COM4
 * (only the first found when `first_port_only` is nonzero), lets the user
 * choose in "Select a Modem" when several answer, configures the chosen one
 * and stores it as the modem record ("Port Name" is Serlink's device name,
 * e.g. "COM2:"). CFG_OK when a modem was configured; with
 * `ask_line_settings` nonzero "Choose Phone Line Settings" follows (its
 * ending does not change the result). CFG_CANCELLED when no modem answered,
 * the configuration failed or the user stopped it (nothing stored then);
 * CFG_E_UI while another search runs in the process, or without a display;
 * CFG_E_UI_MEMORY. */
MODSET_API int32_t CfgUiAutoDetectDialog(int32_t first_port_only, int32_t ask_line_settings);

/* ---- Help path ---------------------------------------------------------- */

/* The help file of the dialogs' Help buttons and F1 (text topics "[N]
 * Title"; a dialog's topic is 0x20000 + its template number, 161173 for
 * "Set Up Modem"). One path per process, empty when the library loads.
 * Set: NULL or longer than 1030 characters gives CFG_E_PARAM and changes
 * nothing; else CFG_OK. Get: NULL gives CFG_E_PARAM; else *path points at
 * the library's one buffer of 1031 bytes (read only, valid while the
 * library is loaded; a later Set changes its text, never its place).
 * While the path is empty and a window is active, Get fills it first with
 * modset.hlp in the running program's folder. */
MODSET_API int32_t CfgUiSetHelpFile(const char *path);
MODSET_API int32_t CfgUiGetHelpFile(const char **path);

#ifdef __cplusplus
}
#endif

#endif /* MODSET_H */
