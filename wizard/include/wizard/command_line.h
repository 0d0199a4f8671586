// Command line of joinwiz:
//   joinwiz [-c] [--root DIR] [--ui terminal|headless] [--answers SCRIPT]
//           [--transcript FILE] [--help] [--version]
//   joinwiz [--root DIR] --install-dialup|--remove-dialup [--ppp-dir DIR]
// Our own options are taken off first; what remains is the command-line text
// of the original program, in which "-c" anywhere (a case-sensitive substring
// search) asks for cash payment. So a root path holding "-c" does not.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace wizard {

enum class UiKind { Default, Terminal, Headless };

struct CommandLine {
  bool cash = false;          // "-c" found in the remaining text
  std::string remaining;      // what is left after our options, blank-separated
  std::optional<std::string> root;
  UiKind ui = UiKind::Default;
  std::optional<std::string> answers;
  std::optional<std::string> transcript;
  bool help = false;
  bool version = false;
  // Copy the account's dial-up entry to pppd's folder, or take it out.
  bool install_dialup = false;
  bool remove_dialup = false;
  std::optional<std::string> ppp_dir;  // default /etc/ppp
};

struct ParseResult {
  bool ok = true;
  std::string error;  // set when !ok, names the option at fault
  CommandLine line;
};

// Parses argv[1..]. Never exits; the caller prints usage on error.
ParseResult parse_command_line(const std::vector<std::string>& args);

std::string usage_text(const std::string& program);

}  // namespace wizard
