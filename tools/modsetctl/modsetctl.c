/* modsetctl: the modem control panel, and a command-line client of
 * libmodset.so. It includes only modset.h and links only the library, as
 * the library's outside callers do.
 *
 *   modsetctl setup [phone|nsv|zrs]   "Set Up Modem", or a number dialog
 *   modsetctl detect [--first] [--line]
 *   modsetctl access [nsv|zrs]   the access-number dialogs
 *   modsetctl number             the Nsv number to dial
 *   modsetctl get RECORD         the record as KEY=VALUE lines
 *   modsetctl put RECORD KEY=VALUE...
 *
 * Values with a name (DialType=tone, BaudRate=28800) are shown by name and
 * taken by name or number; values outside a field's range are refused.
 *
 * Exit codes: 0 done, 1 the dialog was cancelled or there is no number to
 * print, 2 bad command line, 3 the answers script (VLR_ANSWERS) failed,
 * 4 the library reported a failure (its code is printed). */
#define _GNU_SOURCE
#include <errno.h>
#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include "modset.h"

enum { EXIT_CANCELLED = 1, EXIT_USAGE = 2, EXIT_SCRIPT = 3, EXIT_LIBRARY = 4 };
enum { MAX_POPS = 512 };

static const char *program = "modsetctl";

static const char usage[] =
    "Usage: modsetctl COMMAND [ARGUMENTS]\n"
    "The modem, dialing and access-number settings kept in TARK_NET.INI.\n"
    "\n"
    "Commands:\n"
    "  setup [phone|nsv|zrs]  the \"Set Up Modem\" dialog; phone adds its \"Phone\n"
    "                         Numbers...\" button; nsv and zrs open a number dialog\n"
    "  detect [--first] [--line]\n"
    "                         search for the modem and store it; --first takes the\n"
    "                         first one found, --line asks for the phone line next\n"
    "  access [nsv|zrs]       choose the access number of the network service\n"
    "                         (default) or of the Tarkel network\n"
    "  number                 print the number the network service dials\n"
    "  get RECORD             print a record as KEY=VALUE lines\n"
    "  put RECORD KEY=VALUE.. change the named fields of a record and store it\n"
    "  --help, --version      this text; the version\n"
    "\n"
    "RECORD is dialing, modem, zrs or nsv. Values by name or number:\n"
    "  DialType      tone, pulse (1, 0)\n"
    "  CommPort      COM1 to COM4 (0 to 3)\n"
    "  BaudRate      2400 4800 9600 14400 19200 28800 38400 57600 115200,\n"
    "                or a speed code 0 to 13\n"
    "  FlowControl   none, rts-cts (0, 4), or flag bits 0 to 255\n"
    "  DialBlind, SpeakerOff, UseCustomAccess, UseSelectedPop   no, yes (0, 1)\n"
    "For nsv, each Pop=ID=NUMBER is one entry of the POP list; a put with Pop\n"
    "entries replaces the whole list.\n"
    "\n"
    "The dialogs draw on the terminal, or follow a script with VLR_UI=headless\n"
    "VLR_ANSWERS=SCRIPT [VLR_TRANSCRIPT=FILE]. VLR_ROOT names the system root;\n"
    "VLR_LOG=FILE keeps the library's log.\n"
    "Exit codes: 0 done, 1 cancelled or no number, 2 bad command line, 3 the\n"
    "answers script failed, 4 the library failed.\n";

/* A value of an integer field that has a name. */
typedef struct ValueName {
  int32_t value;
  const char *name;
} ValueName;

static const ValueName dial_types[] = {{1, "tone"}, {0, "pulse"}, {0, NULL}};
static const ValueName yes_no[] = {{0, "no"}, {1, "yes"}, {0, NULL}};
static const ValueName ports[] = {{0, "COM1"}, {1, "COM2"}, {2, "COM3"}, {3, "COM4"}, {0, NULL}};
/* The speeds of the "Set Up Modem" list; 28800 is code 13. */
static const ValueName speeds[] = {{2, "2400"},  {3, "4800"},  {5, "9600"},  {6, "14400"},  {7, "19200"},
                                   {13, "28800"}, {8, "38400"}, {9, "57600"}, {10, "115200"}, {0, NULL}};
static const ValueName flows[] = {{0, "none"}, {4, "rts-cts"}, {0, NULL}};

typedef enum { FIELD_INT, FIELD_TEXT } FieldKind;

typedef struct Field {
  const char *name;
  FieldKind kind;
  size_t offset;
  size_t size;             /* text: the field's bytes, one of them for the terminator */
  const ValueName *names;  /* integer: values shown and taken by name, or NULL */
  int32_t min, max;        /* integer: the numbers taken */
  const char *range;       /* integer: what the field takes, for the refusal */
} Field;

#define INT_FIELD(type, member, names, min, max, range) \
  {#member, FIELD_INT, offsetof(type, member), sizeof(int32_t), names, min, max, range}
#define TEXT_FIELD(type, member) \
  {#member, FIELD_TEXT, offsetof(type, member), sizeof(((type *)0)->member), NULL, 0, 0, NULL}
#define YES_NO_FIELD(type, member) INT_FIELD(type, member, yes_no, 0, 1, "no or yes (0 or 1)")
#define END_OF_FIELDS {NULL, FIELD_INT, 0, 0, NULL, 0, 0, NULL}

static const Field dialing_fields[] = {
    INT_FIELD(CfgDialingInfo, DialType, dial_types, 0, 1, "tone or pulse (1 or 0)"),
    TEXT_FIELD(CfgDialingInfo, DisableCallWaiting),
    TEXT_FIELD(CfgDialingInfo, DialPrefix),
    TEXT_FIELD(CfgDialingInfo, DialLongDistance),
    YES_NO_FIELD(CfgDialingInfo, DialBlind),
    END_OF_FIELDS};

static const Field modem_fields[] = {
    TEXT_FIELD(CfgModemInfo, PortName),
    INT_FIELD(CfgModemInfo, CommPort, ports, 0, 3, "COM1 to COM4 (0 to 3)"),
    INT_FIELD(CfgModemInfo, BaudRate, speeds, 0, 13, "a speed (2400 to 115200) or a speed code 0 to 13"),
    INT_FIELD(CfgModemInfo, FlowControl, flows, 0, 255, "none, rts-cts, or flag bits 0 to 255"),
    YES_NO_FIELD(CfgModemInfo, SpeakerOff),
    TEXT_FIELD(CfgModemInfo, ResetString),
    TEXT_FIELD(CfgModemInfo, SetupString),
    END_OF_FIELDS};

static const Field zrs_fields[] = {
    YES_NO_FIELD(CfgZrsAccessInfo, UseCustomAccess),
    TEXT_FIELD(CfgZrsAccessInfo, CustomAccessNumber),
    TEXT_FIELD(CfgZrsAccessInfo, PrimaryAccessNumber),
    INT_FIELD(CfgZrsAccessInfo, PrimaryAccessTimeout, NULL, 0, 255, "seconds, 0 to 255"),
    INT_FIELD(CfgZrsAccessInfo, PrimaryAccessRedial, NULL, 0, 99, "a count, 0 to 99"),
    TEXT_FIELD(CfgZrsAccessInfo, AlternateAccessNumber),
    INT_FIELD(CfgZrsAccessInfo, AlternateAccessTimeout, NULL, 0, 255, "seconds, 0 to 255"),
    INT_FIELD(CfgZrsAccessInfo, AlternateAccessRedial, NULL, 0, 99, "a count, 0 to 99"),
    TEXT_FIELD(CfgZrsAccessInfo, Service),
    END_OF_FIELDS};

static const Field nsv_fields[] = {
    TEXT_FIELD(CfgNsvConfigInfo, AreaCode),
    TEXT_FIELD(CfgNsvConfigInfo, UserId),
    YES_NO_FIELD(CfgNsvConfigInfo, UseSelectedPop),
    TEXT_FIELD(CfgNsvConfigInfo, SelectedPop),
    TEXT_FIELD(CfgNsvConfigInfo, SelectedAccess),
    TEXT_FIELD(CfgNsvConfigInfo, CustomPop),
    TEXT_FIELD(CfgNsvConfigInfo, CustomAccess),
    END_OF_FIELDS};

typedef enum { RECORD_DIALING, RECORD_MODEM, RECORD_ZRS, RECORD_NSV } RecordKind;

typedef struct Record {
  const char *name;
  RecordKind kind;
  const Field *fields;
} Record;

static const Record records[] = {{"dialing", RECORD_DIALING, dialing_fields},
                                 {"modem", RECORD_MODEM, modem_fields},
                                 {"zrs", RECORD_ZRS, zrs_fields},
                                 {"nsv", RECORD_NSV, nsv_fields}};

typedef union AnyRecord {
  CfgDialingInfo dialing;
  CfgModemInfo modem;
  CfgZrsAccessInfo zrs;
  CfgNsvConfigInfo nsv;
} AnyRecord;

static const char *code_name(int32_t code) {
  switch (code) {
    case CFG_OK: return "CFG_OK";
    case CFG_DEFAULTS: return "CFG_DEFAULTS";
    case CFG_E_WRITE: return "CFG_E_WRITE: the settings could not be stored";
    case CFG_E_READ: return "CFG_E_READ: TARK_NET.INI cannot be read";
    case CFG_E_POPLIST: return "CFG_E_POPLIST";
    case CFG_E_MEMORY: return "CFG_E_MEMORY: out of memory";
    case CFG_E_PARAM: return "CFG_E_PARAM";
    case CFG_E_UI_MEMORY: return "CFG_E_UI_MEMORY: out of memory in a dialog";
    case CFG_E_UI:
      return "CFG_E_UI: the dialog could not run (no display: run on a terminal, or set "
             "VLR_UI=headless and VLR_ANSWERS=SCRIPT; or a modem search is running)";
    case CFG_CANCELLED: return "CFG_CANCELLED";
    default: return "unknown result";
  }
}

/* The exit code for a library result, with a message for failures. A dialog
 * that fails while a script answers it failed through the script (a step
 * that cannot be done, a script that ran out or cannot be read). */
static int finish(const char *what, int32_t rc) {
  if (rc == CFG_CANCELLED) return EXIT_CANCELLED;
  if (rc >= 0) return 0;
  const char *answers = getenv("VLR_ANSWERS");
  if (rc == CFG_E_UI && answers && *answers) {
    fprintf(stderr, "%s: %s failed: the answers script %s did not get through it (VLR_LOG=FILE says why)\n",
            program, what, answers);
    return EXIT_SCRIPT;
  }
  fprintf(stderr, "%s: %s failed: %d (%s)\n", program, what, (int)rc, code_name(rc));
  return EXIT_LIBRARY;
}

static int usage_error(const char *text) {
  fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program, text, program);
  return EXIT_USAGE;
}

/* The help file shipped with the side files, when it is there. */
static void set_help_file(void) {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return;
  self[n] = '\0';
  char *slash = strrchr(self, '/');
  if (!slash) return;
  *slash = '\0';
  const char *candidates[] = {"%s/data/modset.hlp", "%s/../share/veloran/data/modset.hlp"};
  for (size_t i = 0; i < sizeof candidates / sizeof candidates[0]; ++i) {
    char path[PATH_MAX + 64];
    snprintf(path, sizeof path, candidates[i], self);
    if (access(path, R_OK) == 0) {
      char resolved[PATH_MAX];
      CfgUiSetHelpFile(realpath(path, resolved) ? resolved : path);
      return;
    }
  }
}

static const Record *find_record(const char *name) {
  for (size_t i = 0; i < sizeof records / sizeof records[0]; ++i) {
    if (strcmp(records[i].name, name) == 0) return &records[i];
  }
  return NULL;
}

static int32_t get_record(const Record *r, AnyRecord *rec) {
  switch (r->kind) {
    case RECORD_DIALING: return CfgGetDialingInfo(&rec->dialing);
    case RECORD_MODEM: return CfgGetModemInfo(&rec->modem);
    case RECORD_ZRS: return CfgGetZrsAccessInfo(&rec->zrs);
    case RECORD_NSV: return CfgGetNsvConfigInfo(&rec->nsv);
  }
  return CFG_E_PARAM;
}

static int32_t put_record(const Record *r, const AnyRecord *rec) {
  switch (r->kind) {
    case RECORD_DIALING: return CfgPutDialingInfo(&rec->dialing);
    case RECORD_MODEM: return CfgPutModemInfo(&rec->modem);
    case RECORD_ZRS: return CfgPutZrsAccessInfo(&rec->zrs);
    case RECORD_NSV: return CfgPutNsvConfigInfo(&rec->nsv);
  }
  return CFG_E_PARAM;
}

static void print_fields(const Field *fields, const void *base) {
  for (const Field *f = fields; f->name; ++f) {
    const char *p = (const char *)base + f->offset;
    if (f->kind == FIELD_INT) {
      int32_t v;
      memcpy(&v, p, sizeof v);
      const ValueName *n = f->names;
      while (n && n->name && n->value != v) ++n;
      if (n && n->name) {
        printf("%s=%s\n", f->name, n->name);
      } else {
        printf("%s=%d\n", f->name, (int)v);
      }
    } else {
      printf("%s=%.*s\n", f->name, (int)strnlen(p, f->size), p);
    }
  }
}

static int command_get(const char *name) {
  const Record *r = find_record(name);
  if (!r) return usage_error("unknown record (dialing, modem, zrs or nsv)");
  AnyRecord rec;
  memset(&rec, 0, sizeof rec);
  CfgNsvPopEntry *pops = NULL;
  if (r->kind == RECORD_NSV) {
    pops = calloc(MAX_POPS, sizeof *pops);
    if (!pops) return finish("get", CFG_E_MEMORY);
    rec.nsv.PopList.count = MAX_POPS;
    rec.nsv.PopList.entries = pops;
  }
  const int32_t rc = get_record(r, &rec);
  if (rc >= 0) {
    if (rc == CFG_DEFAULTS) fprintf(stderr, "%s: the %s record was never stored: defaults\n", program, name);
    print_fields(r->fields, &rec);
    if (r->kind == RECORD_NSV) {
      for (int32_t i = 0; i < rec.nsv.PopList.count && i < MAX_POPS; ++i) {
        printf("Pop=%.*s=%.*s\n", (int)strnlen(pops[i].Pop, sizeof pops[i].Pop), pops[i].Pop,
               (int)strnlen(pops[i].AccessNumber, sizeof pops[i].AccessNumber), pops[i].AccessNumber);
      }
    }
  }
  free(pops);
  return finish("get", rc);
}

/* Sets field `f` of `base` from `value`; an error text or NULL. */
static const char *set_field(const Field *f, void *base, const char *value) {
  char *p = (char *)base + f->offset;
  if (f->kind == FIELD_INT) {
    for (const ValueName *n = f->names; n && n->name; ++n) {
      if (strcasecmp(n->name, value) == 0) {
        memcpy(p, &n->value, sizeof n->value);
        return NULL;
      }
    }
    char *end = NULL;
    errno = 0;
    const long v = strtol(value, &end, 10);
    if (*value == '\0' || *end != '\0' || errno != 0 || v < f->min || v > f->max) return f->range;
    const int32_t i = (int32_t)v;
    memcpy(p, &i, sizeof i);
    return NULL;
  }
  const size_t n = strlen(value);
  if (n >= f->size) return f->size == 2 ? "one character at most" : "a shorter text";
  memset(p, 0, f->size);
  memcpy(p, value, n);
  return NULL;
}

static int command_put(const char *name, int argc, char **argv) {
  const Record *r = find_record(name);
  if (!r) return usage_error("unknown record (dialing, modem, zrs or nsv)");
  if (argc == 0) return usage_error("put needs KEY=VALUE arguments");
  AnyRecord rec;
  memset(&rec, 0, sizeof rec);
  const int32_t got = get_record(r, &rec);
  if (got < 0) return finish("reading the record", got);

  CfgNsvPopEntry *pops = NULL;
  int32_t pop_count = 0;
  int status = 0;
  for (int i = 0; i < argc && status == 0; ++i) {
    const char *eq = strchr(argv[i], '=');
    if (!eq || eq == argv[i]) {
      fprintf(stderr, "%s: '%s' is not KEY=VALUE\n", program, argv[i]);
      status = EXIT_USAGE;
      break;
    }
    const size_t key_len = (size_t)(eq - argv[i]);
    const char *value = eq + 1;
    if (r->kind == RECORD_NSV && key_len == 3 && strncmp(argv[i], "Pop", 3) == 0) {
      const char *sep = strchr(value, '=');
      if (!pops) pops = calloc(MAX_POPS, sizeof *pops);
      if (!pops) {
        status = finish("put", CFG_E_MEMORY);
        break;
      }
      if (!sep || pop_count >= MAX_POPS || (size_t)(sep - value) >= sizeof pops[0].Pop ||
          strlen(sep + 1) >= sizeof pops[0].AccessNumber) {
        fprintf(stderr, "%s: '%s': a POP entry is Pop=ID=NUMBER (ID 1 to 5, NUMBER 1 to 39 characters, "
                        "at most %d entries)\n", program, argv[i], MAX_POPS);
        status = EXIT_USAGE;
        break;
      }
      memcpy(pops[pop_count].Pop, value, (size_t)(sep - value));
      strcpy(pops[pop_count].AccessNumber, sep + 1);
      ++pop_count;
      continue;
    }
    const Field *f = r->fields;
    while (f->name && !(strlen(f->name) == key_len && strncmp(f->name, argv[i], key_len) == 0)) ++f;
    if (!f->name) {
      fprintf(stderr, "%s: the %s record has no field '%.*s'\n", program, name, (int)key_len, argv[i]);
      status = EXIT_USAGE;
      break;
    }
    const char *why = set_field(f, &rec, value);
    if (why) {
      fprintf(stderr, "%s: %s: %s takes %s\n", program, argv[i], f->name, why);
      status = EXIT_USAGE;
    }
  }
  if (status == 0) {
    if (r->kind == RECORD_NSV) {
      rec.nsv.PopList.count = pop_count;
      rec.nsv.PopList.entries = pops;
    }
    status = finish("put", put_record(r, &rec));
  }
  free(pops);
  return status;
}

int main(int argc, char **argv) {
  if (argc < 2) return usage_error("a command is needed");
  const char *command = argv[1];
  if (strcmp(command, "--help") == 0 || strcmp(command, "-h") == 0) {
    fputs(usage, stdout);
    return 0;
  }
  if (strcmp(command, "--version") == 0) {
    printf("modsetctl %s\n", VLR_VERSION);
    return 0;
  }
  if (strcmp(command, "setup") == 0) {
    /* The modes of CfgUiSetupDialog: 0 "Set Up Modem", 33 with its "Phone
     * Numbers..." button, 32 and 128 the number dialogs; numbers as well. */
    static const ValueName modes[] = {{0, "modem"}, {33, "phone"}, {32, "nsv"}, {128, "zrs"}, {0, NULL}};
    long mode = 0;
    if (argc > 3) return usage_error("setup takes at most one of phone, nsv and zrs");
    if (argc == 3) {
      const ValueName *m = modes;
      while (m->name && strcmp(m->name, argv[2]) != 0) ++m;
      char *end = NULL;
      mode = m->name ? m->value : strtol(argv[2], &end, 0);
      if (!m->name && (*argv[2] == '\0' || *end != '\0' || mode < INT32_MIN || mode > INT32_MAX))
        return usage_error("setup takes phone, nsv, zrs or a mode number");
    }
    set_help_file();
    return finish("the setup dialog", CfgUiSetupDialog((int32_t)mode, 0, NULL));
  }
  if (strcmp(command, "detect") == 0) {
    int first = 0, line = 0;
    for (int i = 2; i < argc; ++i) {
      if (strcmp(argv[i], "--first") == 0) first = 1;
      else if (strcmp(argv[i], "--line") == 0) line = 1;
      else return usage_error("detect takes --first and --line");
    }
    set_help_file();
    return finish("the modem search", CfgUiAutoDetectDialog(first, line));
  }
  if (strcmp(command, "access") == 0) {
    if (argc > 3) return usage_error("access takes nsv or zrs");
    int32_t mode = 32;
    if (argc == 3) {
      if (strcmp(argv[2], "zrs") == 0) mode = 128;
      else if (strcmp(argv[2], "nsv") != 0) return usage_error("access takes nsv or zrs");
    }
    set_help_file();
    return finish("the access-number dialog", CfgUiSetupDialog(mode, 0, NULL));
  }
  if (strcmp(command, "number") == 0) {
    if (argc != 2) return usage_error("number takes no arguments");
    char number[64];
    const int32_t rc = CfgGetNsvAccessInfo(number);
    if (rc >= 0 && number[0] == '\0') {
      fprintf(stderr, "%s: no access number is chosen yet (modsetctl access)\n", program);
      return EXIT_CANCELLED;
    }
    if (rc >= 0) printf("%s\n", number);
    return finish("number", rc);
  }
  if (strcmp(command, "get") == 0) {
    if (argc != 3) return usage_error("get takes one RECORD");
    return command_get(argv[2]);
  }
  if (strcmp(command, "put") == 0) {
    if (argc < 3) return usage_error("put takes a RECORD and KEY=VALUE arguments");
    return command_put(argv[2], argc - 3, argv + 3);
  }
  return usage_error("unknown command");
}
