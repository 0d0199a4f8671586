// LD_PRELOAD shim for tests: pppd's open of /dev/ppp opens /dev/null.
//
// Without kernel PPP, pppd stops before it checks its options (exit 4), so
// "pppd file PEERS dryrun" would say nothing about the file. With /dev/ppp
// opening, pppd takes the kernel driver for present, reads every option,
// checks them and prints those in effect. Nothing else is redirected.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <string.h>
#include <sys/types.h>

static const char* redirect(const char* path) {
  return path != NULL && strcmp(path, "/dev/ppp") == 0 ? "/dev/null" : path;
}

// The mode argument exists only with O_CREAT or O_TMPFILE.
#define TAKE_MODE(flags, mode)                       \
  do {                                               \
    if ((flags) & (O_CREAT | O_TMPFILE)) {           \
      va_list ap;                                    \
      va_start(ap, flags);                           \
      mode = va_arg(ap, mode_t);                     \
      va_end(ap);                                    \
    }                                                \
  } while (0)

int open(const char* path, int flags, ...) {
  static int (*real_open)(const char*, int, ...);
  mode_t mode = 0;
  TAKE_MODE(flags, mode);
  if (real_open == NULL) real_open = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, "open");
  return real_open(redirect(path), flags, mode);
}

int open64(const char* path, int flags, ...) {
  static int (*real_open64)(const char*, int, ...);
  mode_t mode = 0;
  TAKE_MODE(flags, mode);
  if (real_open64 == NULL) real_open64 = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, "open64");
  return real_open64(redirect(path), flags, mode);
}
