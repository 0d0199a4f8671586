// What pppd (with chat -v -s) writes on its standard output, as the Connect
// window reads it line by line. Checked: the speed is digits only; the local
// address, interface and locking pid hold no blank; every exit status
// gives a sentence, and the status line for the step is never empty.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "wizard/pppd_report.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  wizard::PppdLog log;
  for (std::size_t start = 0; start <= input.size();) {
    std::size_t nl = input.find('\n', start);
    if (nl == std::string_view::npos) nl = input.size();
    log.Feed(input.substr(start, nl - start));
    start = nl + 1;
  }
  fuzz::check(log.speed().find_first_not_of("0123456789") == std::string::npos, "a speed that is not digits");
  for (const std::string* word : {&log.local_address(), &log.interface(), &log.locked_by()}) {
    fuzz::check(word->find(' ') == std::string::npos, "a one-word value holds a blank");
  }
  fuzz::check(!wizard::StepText(log, "5550100").empty(), "an empty status line");
  const wizard::FailureContext context{"/dev/ttyS0", "entry", "user", "sudo joinwiz --install-dialup"};
  for (int status = wizard::kPppdNotPermitted; status <= wizard::kPppdLastKnown + 1; ++status) {
    fuzz::check(!wizard::FailureText(status, log, context).empty(), "a status without a sentence");
  }
  return 0;
}
