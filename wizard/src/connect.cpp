// joinwiz --connect: the Connect window, pppd in the foreground and the
// status window that follows its log.
#include "wizard/connect.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <iostream>

#include "platform/loop/log.h"
#include "platform/loop/message_loop.h"
#include "platform/shell/phonebook.h"
#include "platform/storage/system_root.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/message_box.h"
#include "platform/ui/window.h"
#include "sysconfig/dialup.h"
#include "sysconfig/system_install.h"
#include "wizard/app.h"
#include "wizard/port_check.h"
#include "wizard/pppd_report.h"

namespace wizard {

namespace fs = std::filesystem;
namespace pb = platform::phonebook;
using namespace platform;

namespace {

constexpr const char* kComponent = "connect";
// Lines kept in the log list; pppd says a few dozen in a whole call.
constexpr int kLogLines = 200;
// After Cancel pppd hangs up and removes its lock; a pppd that has not ended
// by then is killed with its connect script.
constexpr std::int64_t kHangUpGraceMs = 15000;
constexpr unsigned kKillTimer = 1;
constexpr unsigned kDialMessage = WM_USER + 700;

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return s;
}

std::string shell_quote(const std::string& word) {
  if (!word.empty() && word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/._-+=") ==
                           std::string::npos) {
    return word;
  }
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string login_name() {
  if (const passwd* pw = ::getpwuid(::getuid())) return pw->pw_name;
  return {};
}

// pppd with its output on a pipe, its end seen through a pidfd.
class PppdProcess {
 public:
  ~PppdProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    close_fds();
  }

  // Starts `argv`; false with `error_number` set when it could not run.
  bool Start(const std::vector<std::string>& argv, int& error_number) {
    int out[2], report[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return error_number = errno, false;
    if (::pipe2(report, O_CLOEXEC) != 0) {
      error_number = errno;
      ::close(out[0]);
      ::close(out[1]);
      return false;
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      // Only async-signal-safe calls from here to exec.
      const int null = ::open("/dev/null", O_RDONLY);
      if (null >= 0) ::dup2(null, STDIN_FILENO);
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(out[1], STDERR_FILENO);
      ::setpgid(0, 0);
      ::execv(args[0], args.data());
      const int e = errno;
      (void)!::write(report[1], &e, sizeof e);
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(report[1]);
    if (pid < 0) {
      error_number = errno;
      ::close(out[0]);
      ::close(report[0]);
      return false;
    }
    int exec_errno = 0;
    const ssize_t n = ::read(report[0], &exec_errno, sizeof exec_errno);
    ::close(report[0]);
    if (n == static_cast<ssize_t>(sizeof exec_errno)) {
      ::waitpid(pid, nullptr, 0);
      ::close(out[0]);
      error_number = exec_errno;
      return false;
    }
    pid_ = group_ = pid;
    out_ = out[0];
    ::fcntl(out_, F_SETFL, ::fcntl(out_, F_GETFL) | O_NONBLOCK);
    pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    return true;
  }

  pid_t pid() const { return pid_; }
  int output_fd() const { return out_; }
  int exit_fd() const { return pidfd_; }

  // Whatever can be read now; false at end of file.
  bool Read(std::string& into) {
    char buf[4096];
    for (;;) {
      const ssize_t n = ::read(out_, buf, sizeof buf);
      if (n > 0) {
        into.append(buf, static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      return n < 0;  // EAGAIN: more may come; 0: the end
    }
  }

  // The exit status once pppd has ended (128 + signal for a signal); with
  // `block`, waits for it.
  std::optional<int> Reap(bool block = false) {
    if (pid_ <= 0) return std::nullopt;
    int status = 0;
    if (::waitpid(pid_, &status, block ? 0 : WNOHANG) != pid_) return std::nullopt;
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // SIGTERM to pppd alone, as poff sends it: pppd hangs up, stops its
  // connect script and removes its lock file itself.
  void Terminate() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
  }
  // The whole process group (pppd and chat): when pppd did not end, or
  // when it ended and left its connect script still holding the port.
  void Kill() {
    if (group_ > 0) ::kill(-group_, SIGKILL);
  }

  void close_fds() {
    if (out_ >= 0) ::close(out_);
    if (pidfd_ >= 0) ::close(pidfd_);
    out_ = pidfd_ = -1;
  }

 private:
  pid_t pid_ = 0;
  pid_t group_ = 0;  // pppd's process group, kept after it is reaped
  int out_ = -1;
  int pidfd_ = -1;
};

// ---- "Connect" ---------------------------------------------------------------

class CConnectDialog final : public Dialog {
 public:
  // `dial` runs the call with this window as the owner and returns the exit
  // code of the run; the window stays behind it, as Windows' did.
  CConnectDialog(const ConnectTarget& target, std::function<int(HWND)> dial)
      : Dialog(IDD_CONNECT), target_(target), dial_(std::move(dial)) {}
  int exit_code() const { return exit_code_; }

 protected:
  bool on_init_dialog() override {
    set_item_text(IDC_CONNECT_ENTRY, target_.entry);
    set_item_text(IDC_CONNECT_USER, target_.user);
    set_item_text(IDC_CONNECT_NUMBER, target_.number);
    Dialog::on_init_dialog();
    centre_window(hwnd());
    goto_control(IDC_CONNECT_DIAL);
    return false;
  }
  bool on_command(int id, int code, HWND control) override {
    if (id == IDC_CONNECT_DIAL && code == BN_CLICKED) {
      // The call runs from the loop, not inside the toolkit's click or key
      // handler, so that its window paints while it runs.
      enable_window(hwnd(), false);
      post_message(hwnd(), kDialMessage);
      return true;
    }
    return Dialog::on_command(id, code, control);
  }
  LRESULT window_proc(const Message& msg) override {
    if (msg.message == kDialMessage) {
      exit_code_ = dial_(hwnd());
      end_dialog(IDOK);
      return 0;
    }
    return Dialog::window_proc(msg);
  }

 private:
  const ConnectTarget& target_;
  std::function<int(HWND)> dial_;
  int exit_code_ = 0;
};

// ---- "Connecting" ------------------------------------------------------------

class CConnectingDialog final : public Dialog {
 public:
  CConnectingDialog(const ConnectTarget& target, FailureContext context, std::vector<std::string> argv)
      : Dialog(IDD_CONNECTING), target_(target), context_(std::move(context)), argv_(std::move(argv)) {}
  ~CConnectingDialog() override { Unwatch(); }

 protected:
  bool on_init_dialog() override {
    Dialog::on_init_dialog();
    set_item_text(IDC_CONNECTING_STEP, StepText(log_, target_.number));
    int error_number = 0;
    if (!pppd_.Start(argv_, error_number)) {
      log_error(kComponent, "cannot run " + argv_.front() + ": " + std::strerror(error_number));
      Finish(error_number == ENOENT ? kPppdMissing : kPppdNotPermitted);
      return true;
    }
    log_info(kComponent, "pppd started, process " + std::to_string(pppd_.pid()) + ": " + Joined(argv_));
    MessageLoop& loop = MessageLoop::current();
    const HWND self = hwnd();
    // The handle, not `this`: the callbacks may outlive the window.
    loop.watch_fd(pppd_.output_fd(), [self] {
      if (auto* d = window_cast<CConnectingDialog>(self)) d->OnOutput();
    });
    if (pppd_.exit_fd() >= 0) {
      loop.watch_fd(pppd_.exit_fd(), [self] {
        if (auto* d = window_cast<CConnectingDialog>(self)) d->OnExit();
      });
    }
    return true;
  }

  bool on_command(int id, int code, HWND control) override {
    if (id == IDC_CONNECTING_BUTTON && code == BN_CLICKED) {
      on_cancel();
      return true;
    }
    return Dialog::on_command(id, code, control);
  }

  // Cancel, Disconnect and Close: the button and Esc.
  void on_cancel() override {
    if (ended_) {
      end_dialog(result_);
      return;
    }
    if (hanging_up_) return;
    hanging_up_ = true;
    log_info(kComponent, "the user ended the call: SIGTERM to pppd " + std::to_string(pppd_.pid()));
    set_item_text(IDC_CONNECTING_STEP, "Hanging up...");
    enable_item(IDC_CONNECTING_BUTTON, false);
    pppd_.Terminate();
    set_timer(kKillTimer, kHangUpGraceMs);
  }

  LRESULT window_proc(const Message& msg) override {
    if (msg.message == WM_TIMER && msg.wparam == kKillTimer) {
      kill_timer(kKillTimer);
      if (!ended_) {
        log_warn(kComponent, "pppd did not end after SIGTERM; killing it and its connect script");
        pppd_.Kill();
      }
      return 0;
    }
    return Dialog::window_proc(msg);
  }

 private:
  static std::string Joined(const std::vector<std::string>& words) {
    std::string s;
    for (const std::string& w : words) s += (s.empty() ? "" : " ") + w;
    return s;
  }

  void OnOutput() {
    const bool more = pppd_.Read(pending_);
    TakeLines(false);
    if (!more) {
      MessageLoop::current().unwatch_fd(pppd_.output_fd());
      output_done_ = true;
      if (pppd_.exit_fd() < 0) OnExit(true);  // no pidfd: the end of output stands for the end
    }
  }

  void TakeLines(bool flush) {
    std::size_t start = 0;
    for (std::size_t nl; (nl = pending_.find('\n', start)) != std::string::npos; start = nl + 1) {
      AddLine(std::string_view(pending_).substr(start, nl - start));
    }
    pending_.erase(0, start);
    if (flush && !pending_.empty()) {
      AddLine(pending_);
      pending_.clear();
    }
  }

  void AddLine(std::string_view line) {
    if (line.empty()) return;
    log_info(kComponent, "pppd: " + std::string(line));
    // chat's set-up lines name every result word before anything happens:
    // they stay in the log file, out of the user's list.
    const bool setup = line.rfind("abort on (", 0) == 0 || line.rfind("timeout set to", 0) == 0;
    ListBox* list = this->list(IDC_CONNECTING_LOG);
    if (list && !setup) {
      if (list->count() >= kLogLines) list->delete_string(0);
      const int at = list->add_string(line);
      list->set_cur_sel(at);
      list->set_top_index(std::max(0, list->count() - list->visible_rows()));
    }
    if (log_.Feed(line) && !hanging_up_) {
      const std::string step = StepText(log_, target_.number);
      log_info(kComponent, "status: " + step);
      set_item_text(IDC_CONNECTING_STEP, step);
      if (log_.step() == ConnectStep::Connected) {
        connected_ = true;
        set_item_text(IDC_CONNECTING_BUTTON, "&Disconnect");
      }
    }
  }

  void OnExit(bool block = false) {
    const std::optional<int> status = pppd_.Reap(block);
    if (!status) return;  // woken early; the pidfd stays readable until reaped
    // What pppd wrote last is in the pipe still, unless its connect script
    // keeps the pipe open: take what is there now.
    if (!output_done_) pppd_.Read(pending_);
    TakeLines(true);
    Unwatch();
    pppd_.close_fds();
    log_info(kComponent, "pppd ended with status " + std::to_string(*status));
    Finish(*status);
  }

  void Unwatch() {
    MessageLoop& loop = MessageLoop::current();
    if (pppd_.output_fd() >= 0) loop.unwatch_fd(pppd_.output_fd());
    if (pppd_.exit_fd() >= 0) loop.unwatch_fd(pppd_.exit_fd());
  }

  void Finish(int status) {
    ended_ = true;
    kill_timer(kKillTimer);
    std::string text;
    if (hanging_up_ || (connected_ && (status == kPppdOk || status == kPppdUserRequest))) {
      text = connected_ ? "Disconnected." : "The call was cancelled.";
      result_ = 0;
      if (hanging_up_) {
        // Cancel closes the window once pppd is gone, and frees the port
        // of a chat that pppd left dialing.
        pppd_.Kill();
        log_info(kComponent, text);
        end_dialog(result_);
        return;
      }
    } else {
      text = FailureText(status, log_, context_);
      result_ = kExitConnectFailed;
      log_warn(kComponent, "the call failed: " + text);
    }
    set_item_text(IDC_CONNECTING_STEP, text);
    set_item_text(IDC_CONNECTING_BUTTON, "&Close");
    enable_item(IDC_CONNECTING_BUTTON, true);
    goto_control(IDC_CONNECTING_BUTTON);
  }

  const ConnectTarget& target_;
  FailureContext context_;
  std::vector<std::string> argv_;
  PppdProcess pppd_;
  PppdLog log_;
  std::string pending_;
  bool output_done_ = false, hanging_up_ = false, connected_ = false, ended_ = false;
  int result_ = kExitConnectFailed;
};

DialogTemplate connect_template() {
  namespace d = platform::dlg;
  DialogTemplate t;
  t.id = IDD_CONNECT;
  t.caption = "Connect";
  t.rect = {0, 0, 232, 96};
  t.style |= DS_CENTER;
  t.controls.push_back(d::ltext("", IDC_CONNECT_ENTRY, 8, 8, 216, 8));
  t.controls.push_back(d::ltext("&User name:", IDC_STATIC, 8, 28, 64, 8));
  t.controls.push_back(d::edit(IDC_CONNECT_USER, 76, 26, 148, 12, ES_AUTOHSCROLL | ES_READONLY));
  t.controls.push_back(d::ltext("&Phone number:", IDC_STATIC, 8, 48, 64, 8));
  t.controls.push_back(d::edit(IDC_CONNECT_NUMBER, 76, 46, 148, 12, ES_AUTOHSCROLL | ES_READONLY));
  t.controls.push_back(d::defpushbutton("&Dial", IDC_CONNECT_DIAL, 60, 74, 50, 14));
  t.controls.push_back(d::pushbutton("Cancel", IDCANCEL, 122, 74, 50, 14));
  return t;
}

DialogTemplate connecting_template() {
  namespace d = platform::dlg;
  DialogTemplate t;
  t.id = IDD_CONNECTING;
  t.caption = "Connecting";
  t.rect = {0, 0, 260, 144};
  t.style |= DS_CENTER;
  t.controls.push_back(d::ltext("", IDC_CONNECTING_STEP, 8, 8, 244, 32));
  t.controls.push_back(d::ltext("pppd:", IDC_STATIC, 8, 42, 60, 8));
  t.controls.push_back(d::listbox(IDC_CONNECTING_LOG, 8, 52, 244, 64).with(WS_VSCROLL));
  t.controls.push_back(d::pushbutton("&Cancel", IDC_CONNECTING_BUTTON, 105, 124, 50, 14));
  return t;
}

// Where pppd is: $VLR_PPPD when set (tests put pppd behind a wrapper there),
// else the one found on this machine.
std::string pppd_program() {
  if (const char* p = std::getenv("VLR_PPPD"); p && *p) return p;
  const fs::path& found = pb::ppp_programs().pppd;
  return found.empty() ? std::string("/usr/sbin/pppd") : found.string();
}

}  // namespace

std::optional<ConnectTarget> read_connect_target(const std::string& entry, const fs::path& ppp_dir,
                                                 std::string& error) {
  const pb::PhoneBook book;
  const std::vector<std::string> names = book.entry_names();
  std::string chosen;
  if (entry.empty()) {
    chosen = names.size() == 1 ? names.front() : std::string(sysconfig::kAccountEntryName);
  } else {
    for (const std::string& n : names) {
      if (lower(n) == lower(entry) || pb::safe_entry_name(n) == lower(entry)) chosen = n;
    }
  }
  if (chosen.empty()) {
    error = "there is no dial-up entry \"" + entry + "\" in " + book.folder().string();
    return std::nullopt;
  }
  std::string peers_text, chat_text;
  if (!read_file(book.peers_path(chosen), peers_text, &error)) {
    error = "there is no dial-up entry \"" + chosen + "\" in " + book.folder().string() + " (" + error + ")";
    return std::nullopt;
  }
  const std::optional<pb::PeersFile> peers = pb::read_peers_file(peers_text);
  if (!peers) {
    error = book.peers_path(chosen).string() + " is not a dial-up entry this program wrote";
    return std::nullopt;
  }
  ConnectTarget t;
  t.entry = peers->entry_name.empty() ? chosen : peers->entry_name;
  t.safe_name = peers->ipparam;
  t.user = peers->user;
  t.device = peers->device;
  t.speed = peers->speed;
  if (read_file(book.chat_path(chosen), chat_text)) {
    if (std::optional<pb::ChatSteps> steps = pb::read_chat_script(chat_text); steps && steps->dial.size() > 4) {
      t.number = steps->dial.substr(4);  // after "ATDT" or "ATDP"
    }
  }
  t.peers_file = ppp_dir / "peers" / t.safe_name;
  std::error_code ec;
  t.installed = fs::exists(t.peers_file, ec);
  return t;
}

std::string install_command_for(const fs::path& program) {
  return "sudo " + shell_quote(program.string()) + " --root " + shell_quote(system_root().string()) +
         " --install-dialup";
}

void register_connect_templates() {
  register_dialog_template(connect_template());
  register_dialog_template(connecting_template());
}

int run_connect(const CommandLine& cl, const fs::path& executable) {
  register_connect_templates();
  const bool own_ppp_dir = cl.ppp_dir.has_value();
  const fs::path ppp_dir = own_ppp_dir ? fs::path(*cl.ppp_dir) : sysconfig::SystemPlaces{}.ppp_dir;
  std::string error;
  const std::optional<ConnectTarget> target = read_connect_target(cl.connect_entry, ppp_dir, error);
  if (!target) {
    log_error(kComponent, error);
    message_box(0, "Cannot connect: " + error + ".", "Connect", MB_OK | MB_ICONSTOP);
    std::cerr << "joinwiz: " << error << "\n";
    return kExitStartup;
  }

  const FailureContext context{target->device, target->safe_name, login_name(), install_command_for(executable)};
  auto dial = [&](HWND owner) -> int {
    if (!target->installed) {
      // What pppd itself would say; the sentence names the install command.
      PppdLog log;
      log.Feed("Can't open options file " + target->peers_file.string() + ": No such file or directory");
      const std::string text = FailureText(kPppdOptionError, log, context);
      log_warn(kComponent, text);
      message_box(owner, text, "Connect", MB_OK | MB_ICONEXCLAMATION);
      return kExitConnectFailed;
    }
    if (!CheckPortFree(owner, target->device)) return 0;
    // pppd in the foreground, its log on standard output. A folder of our
    // own (tests) is read with "file"; the system's with "call", as pon does.
    std::vector<std::string> argv{pppd_program()};
    if (own_ppp_dir) {
      argv.insert(argv.end(), {"file", target->peers_file.string()});
    } else {
      argv.insert(argv.end(), {"call", target->safe_name});
    }
    argv.push_back("nodetach");
    CConnectingDialog connecting(*target, context, argv);
    const int result = connecting.do_modal(owner);
    return result < 0 ? kExitConnectFailed : result;
  };
  CConnectDialog connect(*target, dial);
  return connect.do_modal(0) == IDOK ? connect.exit_code() : 0;
}

}  // namespace wizard
