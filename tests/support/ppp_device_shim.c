/* LD_PRELOAD shim for running the real pppd in tests: its opens of /dev/ppp
 * go to /dev/null, so pppd gets past its kernel check, dials through its
 * connect script and then fails to start PPP on the pseudo-terminal as a
 * machine without PPP in its kernel would. Every other path is opened as
 * asked. Built without sanitizers: it is loaded into programs that have
 * none. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <string.h>
#include <sys/types.h>

static const char *redirect(const char *path) {
  return path != NULL && strcmp(path, "/dev/ppp") == 0 ? "/dev/null" : path;
}

/* The mode argument is there only with O_CREAT or O_TMPFILE. */
static mode_t mode_of(int flags, va_list args) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? (mode_t)va_arg(args, int) : 0;
}

#define SHIM_OPEN(name)                                                  \
  int name(const char *path, int flags, ...) {                           \
    static int (*real)(const char *, int, ...);                          \
    va_list args;                                                        \
    mode_t mode;                                                         \
    if (real == NULL) real = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, #name); \
    va_start(args, flags);                                               \
    mode = mode_of(flags, args);                                         \
    va_end(args);                                                        \
    return real(redirect(path), flags, mode);                            \
  }

SHIM_OPEN(open)
SHIM_OPEN(open64)
