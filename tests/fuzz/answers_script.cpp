// The answers-script reader of the unattended mode (`joinwiz --answers`).
// Checked: a script is read or refused with a reason naming its line; every
// step read names a verb and a line of the script, in order.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "display/headless.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<display::ScriptStep> steps;
  std::string error;
  if (!display::parse_script(text, steps, error)) {
    fuzz::check(error.find("script line ") == 0, "a refusal without its line: " + error);
    return 0;
  }
  int lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
  int previous = 0;
  for (const auto& step : steps) {
    fuzz::check(!step.verb.empty(), "a step without a verb");
    fuzz::check(step.line > previous && step.line <= lines, "a step out of order or past the end");
    previous = step.line;
  }
  return 0;
}
