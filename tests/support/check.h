/* CHECK for the plain C test programs (callers of the C headers as outside
 * programs are): a failed condition is reported with its place and counted,
 * and the program goes on; it ends with check_exit_code(). One program, one
 * file: the counter is that file's own. */
#ifndef VLR_TEST_SUPPORT_CHECK_H
#define VLR_TEST_SUPPORT_CHECK_H

#include <stdio.h>

static int check_failures = 0;

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++check_failures;                                                        \
    }                                                                          \
  } while (0)

/* 0 when every check held, 1 otherwise (with the count on stderr). */
static inline int check_exit_code(void) {
  if (check_failures == 0) return 0;
  fprintf(stderr, "%d checks failed\n", check_failures);
  return 1;
}

#endif
