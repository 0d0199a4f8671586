// Command line of joinwiz:
//   joinwiz [-c] [--root DIR] [--ui terminal|headless] [--answers SCRIPT]
//           [--transcript FILE] [--help] [--help-script] [--version]
//   joinwiz [--root DIR] --install-dialup|--remove-dialup [--ppp-dir DIR]
//           [--unit-dir DIR]
//   joinwiz --ports [--root DIR]
//   joinwiz [--root DIR] [--ui ...] [--answers SCRIPT] --connect [ENTRY] [--ppp-dir DIR]
// Our own options are taken off first; what remains is the command-line text
// of the original program, in which "-c" anywhere (a case-sensitive substring
// search) asks for cash payment. So a root path holding "-c" does not.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace wizard {

enum class UiKind { Default, Terminal, Headless, Gtk };

struct CommandLine {
  bool cash = false;          // "-c" found in the remaining text
  std::string remaining;      // what is left after our options, blank-separated
  std::optional<std::string> root;
  UiKind ui = UiKind::Default;
  std::optional<std::string> answers;
  std::optional<std::string> transcript;
  bool help = false;
  bool help_script = false;  // print the script steps and the pages' controls
  bool version = false;
  // Copy the account's dial-up entry to pppd's folder, or take it out.
  bool install_dialup = false;
  bool remove_dialup = false;
  std::optional<std::string> ppp_dir;  // default /etc/ppp
  // Default /etc/systemd/system, where systemd runs; a folder given here is
  // taken as systemd's and systemctl is not called (tests).
  std::optional<std::string> unit_dir;
  std::optional<std::string> udev_dir;  // default /etc/udev/rules.d (with --install-dialup)
  // Dial an installed entry with the Connect window (the launcher's Exec);
  // an empty entry: the only one, else the account's.
  bool connect = false;
  std::string connect_entry;
  bool ports = false;  // print the COM ports and what is behind them, then exit
};

struct ParseResult {
  bool ok = true;
  std::string error;  // set when !ok, names the option at fault
  CommandLine line;
};

// Parses argv[1..]. Never exits; the caller prints usage on error.
ParseResult parse_command_line(const std::vector<std::string>& args);

std::string usage_text(const std::string& program);
// The steps of an answers script and, for every dialog template registered
// now, its controls (id, class, text): what a step can name.
std::string script_help_text();

}  // namespace wizard
