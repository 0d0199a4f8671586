#include "wizard/app.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>

#include "platform/serial/com_ports.h"
#include "platform/ui/display.h"
#include "platform/loop/log.h"
#include "platform/ui/message_box.h"
#include "platform/loop/message_loop.h"
#include "platform/shell/program_manager.h"
#include "platform/shell/single_instance.h"
#include "platform/storage/system_root.h"
#include "platform/shell/telephony.h"
#include "platform/shell/xdg_places.h"
#include "platform/ui/window.h"
#include "wizard/base_dialog.h"
#include "wizard/command_line.h"
#include "wizard/connect.h"
#include "wizard/dialing_dialogs.h"
#include "wizard/modem_level.h"
#include "wizard/pages.h"
#include "wizard/side_files.h"
#include "sysconfig/dialup.h"
#include "sysconfig/modem_rules.h"
#include "sysconfig/setup_report.h"
#include "sysconfig/system_install.h"

#ifndef VLR_VERSION
#define VLR_VERSION "0"
#endif

namespace wizard {

namespace fs = std::filesystem;
using namespace platform;

namespace {

constexpr const char* kComponent = "joinwiz";

int fail_start(const std::string& text) {
  std::cerr << "joinwiz: " << text << "\n";
  log_info(kComponent, text);  // standard error has it already
  return kExitStartup;
}

// The window the user sees: the welcome page, or the page up in front of it
// (a nested master's own page when that level is up).
HWND visible_wizard_window(HWND welcome) {
  HWND h = welcome;
  while (auto* master = window_cast<CMasterDialog>(h)) {
    if (master->current_page() == 0) break;
    h = master->current_page();
  }
  return h;
}

// `joinwiz --ports`: each COM port's link and what is behind it, with the
// way out for a device this user may not open. The first look writes the
// default mapping, as the first use of a port does.
int print_ports(const CommandLine& cl) {
  RootChoice root = choose_root(cl.root ? cl.root->c_str() : nullptr);
  if (!root) return fail_start(root.error);
  std::string error;
  if (!set_system_root(root.path, &error)) return fail_start(error);
  const fs::path dosdevices = known_folder(KnownFolder::DosDevices);
  if (ensure_com_links(dosdevices, default_device_folders(), &error) < 0) std::cerr << "joinwiz: " << error << "\n";
  const std::vector<ComPortInfo> ports = com_ports(dosdevices, kTelephonyMaxCom);
  if (ports.empty()) {
    std::cout << "No COM ports: " << dosdevices.string() << " has no comN link and no serial device was found.\n";
  }
  for (const ComPortInfo& info : ports) std::cout << describe_com_port(info) << "\n";
  for (const ComPortInfo& info : ports) {
    if (std::string advice = permission_advice(info); !advice.empty()) std::cout << advice << "\n";
  }
  return 0;
}

}  // namespace

fs::path current_executable(const char* argv0) {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec && !self.empty()) return self;
  return fs::absolute(argv0 ? argv0 : "joinwiz", ec);
}

int run_app(const std::vector<std::string>& args, const fs::path& executable) {
  const std::string exe_name = executable.filename().string();
  ParseResult parsed = parse_command_line(args);
  if (!parsed.ok) {
    std::cerr << exe_name << ": " << parsed.error << "\n" << usage_text(exe_name);
    return kExitUsage;
  }
  const CommandLine& cl = parsed.line;
  if (cl.help) {
    std::cout << usage_text(exe_name);
    return 0;
  }
  if (cl.help_script) {
    // Every template the run can show, so the table is the program's own.
    register_page_templates();
    register_modem_level();
    register_dialing_templates();
    std::cout << script_help_text();
    return 0;
  }
  if (cl.version) {
    std::cout << "joinwiz " << VLR_VERSION << "\n";
    return 0;
  }
  if (cl.install_dialup || cl.remove_dialup) {
    // No display: the account's entry moves between the root and pppd.
    RootChoice root = choose_root(cl.root ? cl.root->c_str() : nullptr);
    if (!root) return fail_start(root.error);
    std::string error;
    if (!set_system_root(root.path, &error)) return fail_start(error);
    std::string report;
    sysconfig::SystemPlaces places;
    if (cl.ppp_dir) places.ppp_dir = *cl.ppp_dir;
    if (cl.unit_dir) {
      places.unit_dir = *cl.unit_dir;
      places.systemd_run_dir.clear();
    }
    int rc = sysconfig::InstallDialUpCommand(cl.remove_dialup, places, report);
    if (rc == 0 && cl.install_dialup) {
      const fs::path udev_dir = cl.udev_dir ? fs::path(*cl.udev_dir) : fs::path(std::string(sysconfig::kSystemUdevRulesDir));
      rc = sysconfig::InstallModemRules(udev_dir, report);
    }
    (rc == 0 ? std::cout : std::cerr) << (rc == 0 ? "" : exe_name + ": ") << report;
    return rc;
  }
  if (cl.ports) return print_ports(cl);

  // The display: the scripted user for --answers; the desktop window when
  // asked for, or by default in a graphical session; else the terminal.
  DisplayOptions display_options;
  if (cl.answers) {
    display_options.name = "headless";
    display_options.answers = *cl.answers;
    if (cl.transcript) display_options.transcript = *cl.transcript;
  } else if (cl.ui == UiKind::Headless) {
    std::cerr << exe_name << ": --ui headless needs --answers SCRIPT (nobody would answer the pages)\n";
    return kExitUsage;
  } else if (cl.ui == UiKind::Gtk) {
    display_options.name = "gtk";
    if (cl.transcript) display_options.transcript = *cl.transcript;
  } else {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* x11 = std::getenv("DISPLAY");
    const bool graphical = (wayland && *wayland) || (x11 && *x11);
    if (cl.ui == UiKind::Default && graphical) {
      display_options.name = "gtk";
      // A desktop that cannot be opened (no GTK, a dead X server) falls back
      // to the terminal when there is one.
      if (isatty(STDIN_FILENO)) display_options.fallback = "terminal";
    } else {
      if (cl.ui == UiKind::Default && !isatty(STDIN_FILENO)) {
        std::cerr << exe_name << ": standard input is not a terminal; use --answers SCRIPT to run unattended\n";
        return kExitUsage;
      }
      display_options.name = "terminal";
    }
  }

  // The system root and its program directory.
  RootChoice root = choose_root(cl.root ? cl.root->c_str() : nullptr);
  if (!root) return fail_start(root.error);
  std::string error;
  if (!set_system_root(root.path, &error)) return fail_start(error);
  if (!ensure_known_folder(KnownFolder::Program, &error)) return fail_start(error);
  const fs::path program_dir = known_folder(KnownFolder::Program);

  // Where the account's entry is and how to use it, and in one line what
  // the run set up, printed once the display is gone (declared first, so
  // destroyed after it).
  struct SummaryAtEnd {
    std::string program;
    bool armed = false;
    ~SummaryAtEnd() {
      if (armed) {
        std::cout << sysconfig::AccountSetupSummary(program) << sysconfig::SetupLine(sysconfig::ThisRun())
                  << std::flush;
      }
    }
  } summary{executable.string()};
  // File times are taken from a coarse clock: a file written right after
  // this may carry a time a few milliseconds earlier.
  const auto run_start = fs::file_time_type::clock::now() - std::chrono::milliseconds(50);
  std::string display_error;
  std::unique_ptr<LoadedDisplay> display = open_display(display_options, display_error);
  if (!display) return fail_start("cannot open the " + display_options.name + " display: " + display_error);
  set_application_name(executable.stem().string().empty() ? "joinwiz" : executable.stem().string());
  if (cl.connect) return run_connect(cl, executable);

  // One running copy per user and root.
  SingleInstance instance(kComponent, system_root());
  if (instance.state() == SingleInstance::State::AlreadyRunning) {
    message_box(0, kOneInstanceText, application_name(), MB_OK | MB_ICONSTOP);
    if (!instance.ask_running_copy_to_raise(&error)) log_warn(kComponent, error);
    return 0;
  }
  if (instance.state() == SingleInstance::State::Failed) {
    log_warn(kComponent, "running without the single-instance guard: " + instance.error());
  }
  // What a crash of an earlier run left half done, before anything is written.
  sysconfig::FinishInterruptedChanges();

  // Side files, then the paths every page uses.
  const fs::path data_dir = find_data_dir(executable);
  if (data_dir.empty()) {
    log_warn(kComponent, "no folder of side files found beside " + executable.string());
  } else if (!install_side_files(data_dir, program_dir, nullptr, &error)) {
    return fail_start(error);
  }
  set_wizard_paths({program_dir, profile_path(program_dir, exe_name)});
  add_bitmap_folder(program_dir);
  register_page_templates();
  register_modem_level();
  // The closing dialog's "Install for the System".
  set_system_install_options({sysconfig::SystemInstallCommand(executable.string()), display->name() == "terminal"});
  // The shell's program manager: ADDITEM: items become menu entries, in the
  // root and, for those that can run here, in the user's menu.
  ProgramManagerService program_manager({}, xdg::user_menu_places());

  auto* welcome = new_window<CWelcomeDialog>(cl.cash);
  const HWND hwnd = welcome->CreateModeless();
  if (hwnd == 0) {
    delete welcome;
    return fail_start("the wizard window could not be made");
  }
  centre_window(hwnd);
  show_window(hwnd, SW_SHOW);

  MessageLoop& loop = MessageLoop::current();
  if (instance.request_fd() >= 0) {
    loop.watch_fd(instance.request_fd(), [&instance, hwnd] {
      if (instance.take_requests() > 0 && is_window(hwnd)) {
        const HWND front = visible_wizard_window(hwnd);
        set_active_window(top_level_of(front));
        log_info(kComponent, "another copy was started: the wizard window was brought to the front");
      }
    });
  }
  const int code = loop.run();
  if (instance.request_fd() >= 0) loop.unwatch_fd(instance.request_fd());
  sysconfig::SetupRecord& record = sysconfig::ThisRun();
  record.menu_items =
      sysconfig::CountFilesSince(program_manager.menu().folder() / "applications", run_start, record.launchers);
  summary.armed = true;
  return code;
}

}  // namespace wizard
