#include <signal.h>

#include <string>
#include <vector>

#include "wizard/app.h"

int main(int argc, char** argv) {
  // Past a file-size limit a write fails (EFBIG) and is reported like a full
  // disk, instead of the signal ending the run in the middle of a save.
  ::signal(SIGXFSZ, SIG_IGN);
  std::vector<std::string> args(argv + 1, argv + argc);
  return wizard::run_app(args, wizard::current_executable(argv[0]));
}
