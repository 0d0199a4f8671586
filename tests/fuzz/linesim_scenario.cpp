// linesim's scenario reader (the reference server's scripts). Checked: a
// scenario is read or refused with "line N: reason"; every jump lands on a
// step of the script.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "linesim/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  auto scenario = linesim::Scenario::parse(text, &error);
  if (!scenario) {
    fuzz::check(error.find("line ") == 0, "a refusal without its line: " + error);
    return 0;
  }
  for (const auto& step : scenario->steps()) {
    if (step.op == linesim::ScenarioStep::Op::Goto || step.op == linesim::ScenarioStep::Op::If) {
      fuzz::check(step.target < scenario->steps().size(), "a jump past the end of the script");
    }
  }
  return 0;
}
