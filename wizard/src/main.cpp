#include <string>
#include <vector>

#include "wizard/app.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return wizard::run_app(args, wizard::current_executable(argv[0]));
}
