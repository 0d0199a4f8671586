#include "wizard/command_line.h"

namespace wizard {

namespace {

// Matches "--name VALUE" and "--name=VALUE"; advances `i` past what it used.
bool take_value(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
                std::optional<std::string>& value, std::string& error) {
  const std::string& a = args[i];
  if (a == name) {
    if (i + 1 >= args.size()) {
      error = "option " + name + " needs a value";
      return true;
    }
    value = args[++i];
    return true;
  }
  if (a.size() > name.size() && a.compare(0, name.size(), name) == 0 && a[name.size()] == '=') {
    value = a.substr(name.size() + 1);
    return true;
  }
  return false;
}

}  // namespace

ParseResult parse_command_line(const std::vector<std::string>& args) {
  ParseResult r;
  CommandLine& c = r.line;
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::optional<std::string> ui;
    std::string error;
    if (a == "--help" || a == "-h") {
      c.help = true;
    } else if (a == "--help-script") {
      c.help_script = true;
    } else if (a == "--version") {
      c.version = true;
    } else if (a == "--install-dialup") {
      c.install_dialup = true;
    } else if (a == "--remove-dialup") {
      c.remove_dialup = true;
    } else if (take_value(args, i, "--ppp-dir", c.ppp_dir, error) ||
               take_value(args, i, "--udev-dir", c.udev_dir, error) ||
               take_value(args, i, "--unit-dir", c.unit_dir, error)) {
    } else if (a == "--connect" || a.rfind("--connect=", 0) == 0) {
      c.connect = true;
      if (a.size() > 10) {
        c.connect_entry = a.substr(10);
      } else if (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-') {
        c.connect_entry = args[++i];
      }
    } else if (a == "--ports") {
      c.ports = true;
    } else if (take_value(args, i, "--root", c.root, error) ||
               take_value(args, i, "--answers", c.answers, error) ||
               take_value(args, i, "--transcript", c.transcript, error)) {
    } else if (take_value(args, i, "--ui", ui, error)) {
      if (error.empty()) {
        if (*ui == "terminal") {
          c.ui = UiKind::Terminal;
        } else if (*ui == "headless") {
          c.ui = UiKind::Headless;
        } else if (*ui == "gtk") {
          c.ui = UiKind::Gtk;
        } else {
          error = "option --ui takes gtk, terminal or headless, not '" + *ui + "'";
        }
      }
    } else {
      rest.push_back(a);
    }
    if (!error.empty()) {
      r.ok = false;
      r.error = error;
      return r;
    }
  }
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (i) c.remaining += ' ';
    c.remaining += rest[i];
  }
  c.cash = c.remaining.find("-c") != std::string::npos;
  if (c.root && c.root->empty()) {
    r.ok = false;
    r.error = "option --root needs a folder";
  } else if (c.install_dialup && c.remove_dialup) {
    r.ok = false;
    r.error = "--install-dialup and --remove-dialup cannot be used together";
  } else if (c.connect && (c.install_dialup || c.remove_dialup || c.ports)) {
    r.ok = false;
    r.error = "--connect cannot be used with --install-dialup, --remove-dialup or --ports";
  } else if (c.ppp_dir && (c.ppp_dir->empty() || (!c.install_dialup && !c.remove_dialup && !c.connect))) {
    r.ok = false;
    r.error = "--ppp-dir needs a folder and goes with --install-dialup, --remove-dialup or --connect";
  } else if (c.udev_dir && (c.udev_dir->empty() || !c.install_dialup)) {
    r.ok = false;
    r.error = "--udev-dir needs a folder and goes with --install-dialup";
  } else if (c.unit_dir && (c.unit_dir->empty() || (!c.install_dialup && !c.remove_dialup))) {
    r.ok = false;
    r.error = "--unit-dir needs a folder and goes with --install-dialup or --remove-dialup";
  } else if (c.answers && (c.ui == UiKind::Terminal || c.ui == UiKind::Gtk)) {
    r.ok = false;
    r.error = std::string("--answers runs the headless display; it cannot be used with --ui ") +
              (c.ui == UiKind::Gtk ? "gtk" : "terminal");
  } else if (c.transcript && !c.answers && c.ui != UiKind::Gtk) {
    r.ok = false;
    r.error = "--transcript FILE needs --answers SCRIPT (an unattended run) or --ui gtk (the desktop "
              "display); a run in the terminal writes no transcript (VLR_LOG=FILE keeps its log)";
  }
  return r;
}

std::string usage_text(const std::string& program) {
  return "Usage: " + program +
         " [-c] [--root DIR] [--ui gtk|terminal|headless] [--answers SCRIPT] [--transcript FILE]\n"
         "       " + program + " [--root DIR] --install-dialup|--remove-dialup [--ppp-dir DIR] [--unit-dir DIR]\n"
         "       " + program + " --ports [--root DIR]\n"
         "       " + program + " [--root DIR] [--ui KIND] [--answers SCRIPT] --connect [ENTRY] [--ppp-dir DIR]\n"
         "\n"
         "Signs this computer up for a Veloran Network dial-up account.\n"
         "\n"
         "  -c                 start with the payment method set to cash\n"
         "  --root DIR         system root holding every Windows location (default: VLR_ROOT,\n"
         "                     else a folder under $XDG_DATA_HOME)\n"
         "  --ui KIND          gtk (a desktop window; the default in a graphical session),\n"
         "                     terminal (the default otherwise) or headless\n"
         "  --answers SCRIPT   run unattended: a scripted user answers the pages (headless)\n"
         "  --transcript FILE  write every dialog, message box and step to FILE\n"
         "  --install-dialup   copy the account's dial-up entry into /etc/ppp and, when it\n"
         "                     dials automatically, enable its systemd service (run as root)\n"
         "  --remove-dialup    take the account's dial-up entry and its service out again\n"
         "  --ppp-dir DIR      use DIR in place of /etc/ppp\n"
         "  --unit-dir DIR     use DIR in place of /etc/systemd/system (systemctl is not run)\n"
         "  --udev-dir DIR     with --install-dialup: put saved modem rules in DIR, not /etc/udev/rules.d\n"
         "  --connect [ENTRY]  dial the installed dial-up entry in a Connect window (pppd follows)\n"
         "  --ports            print COM1 to COM9: the dosdevices link and what is behind it\n"
         "  --help             print this text and exit\n"
         "  --help-script      print the steps of an answers script and the controls of every page\n"
         "  --version          print the version and exit\n";
}

}  // namespace wizard
