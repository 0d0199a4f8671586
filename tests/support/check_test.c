/* CHECK goes on after a failed condition, evaluates it once, and the exit
 * code says whether any failed. */
#include <stdio.h>

#include "support/check.h"

int main(void) {
  int evaluated = 0;
  CHECK(++evaluated == 1);
  CHECK(++evaluated == 0); /* fails: reported and counted, the program goes on */
  if (evaluated != 2 || check_failures != 1 || check_exit_code() != 1) {
    fprintf(stderr, "CHECK miscounted: %d evaluations, %d failures\n", evaluated, check_failures);
    return 1;
  }
  check_failures = 0;
  return check_exit_code();
}
