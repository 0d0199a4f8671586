// linesim: Hayes modems on pseudo-terminals, behind DIR/dosdevices/comN.
//
//   linesim --root DIR --modem COMn[=PROFILE]... [--silent COMn]...
//           [--dial NUMBER=TARGET[,TARGET...]]... [--trace FILE]
//
// Prints "ready" once every link exists, runs until SIGTERM or SIGINT, then
// removes its links. A pseudo-terminal has no DTR line: the DTE closing the
// port (the last descriptor of the slave side) counts as DTR dropping, and
// opening it again as DTR rising.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "linesim/exchange.h"
#include "linesim/modem.h"
#include "linesim/profile.h"
#include "linesim/text.h"
#include "platform/loop/clock.h"
#include "platform/loop/log.h"

namespace {

using linesim::Modem;

// How often a closed port is looked at: a modem that is switched on answers
// a DTE that has just opened the port at once, so its first command must not
// sit in the pseudo-terminal for long.
constexpr std::int64_t kClosedRecheckMs = 5;

struct Port {
  int number = 0;            // n of COMn
  std::string name;          // "COM2"
  std::string profile;       // profile name
  int master = -1;
  std::string slave;         // /dev/pts/N
  std::string link;          // DIR/dosdevices/comN
  bool link_made = false;
  bool dte_open = false;
  std::unique_ptr<Modem> modem;
  std::string pending;       // output not yet taken by the pseudo-terminal
};

int g_trace_fd = -1;

void write_trace(std::string_view line) {
  platform::log_debug("linesim", line);
  if (g_trace_fd < 0) return;
  std::string text(line);
  text += '\n';
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(g_trace_fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a full disk must not stop the line
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

void usage(std::FILE* out) {
  std::fprintf(out,
               "usage: linesim --root DIR --modem COMn[=PROFILE]... [--silent COMn]...\n"
               "               [--dial NUMBER=TARGET[,TARGET...]]... [--trace FILE]\n"
               "       linesim --profiles | --help | --version\n"
               "targets: host:port, busy, no-answer, no-carrier, no-dialtone, scenario:FILE\n");
}

std::optional<int> parse_com(std::string_view text) {
  if (text.size() < 4 || text.size() > 6) return std::nullopt;
  std::string head(text.substr(0, 3));
  for (char& c : head) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (head != "COM") return std::nullopt;
  std::string_view digits = text.substr(3);
  if (linesim::digits_of(digits).size() != digits.size() || digits[0] == '0') return std::nullopt;
  int n = std::atoi(std::string(digits).c_str());
  if (n < 1 || n > 99) return std::nullopt;
  return n;
}

bool make_dir(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
  return false;
}

bool open_pty(Port& port, std::string& error) {
  port.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (port.master < 0 || ::grantpt(port.master) != 0 || ::unlockpt(port.master) != 0) {
    error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  char name[128];
  if (::ptsname_r(port.master, name, sizeof name) != 0) {
    error = std::string("ptsname: ") + std::strerror(errno);
    return false;
  }
  port.slave = name;
  // Open and close the slave once: until then the master does not report a
  // hang-up, and the port would look open before any DTE came.
  int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave >= 0) ::close(slave);
  // Raw 8-bit line on the slave side (the master's settings are the slave's).
  termios tio{};
  if (::tcgetattr(port.master, &tio) == 0) {
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::tcsetattr(port.master, TCSANOW, &tio);
  }
  return true;
}

bool make_link(Port& port, const std::string& dir, std::string& error) {
  port.link = dir + "/com" + std::to_string(port.number);
  struct stat st {};
  if (::lstat(port.link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    error = port.link + " exists and is not a symbolic link";
    return false;
  }
  // A fresh link under a temporary name, then renamed over any stale one.
  std::string temp = port.link + ".linesim." + std::to_string(::getpid());
  ::unlink(temp.c_str());
  if (::symlink(port.slave.c_str(), temp.c_str()) != 0 || ::rename(temp.c_str(), port.link.c_str()) != 0) {
    error = "cannot link " + port.link + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }
  port.link_made = true;
  return true;
}

void remove_link(Port& port) {
  if (!port.link_made) return;
  char target[256];
  ssize_t n = ::readlink(port.link.c_str(), target, sizeof target - 1);
  // Only our own link goes: another program may have replaced it.
  if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == port.slave) ::unlink(port.link.c_str());
  port.link_made = false;
}

// Feeds the modem what the DTE wrote, as far as the modem takes it.
void read_dte(Port& port) {
  char buf[4096];
  for (int rounds = 0; rounds < 16; ++rounds) {
    if (port.modem && !port.modem->wants_input()) return;
    ssize_t n = ::read(port.master, buf, sizeof buf);
    if (n > 0) {
      if (port.modem) port.modem->feed(std::string_view(buf, static_cast<std::size_t>(n)));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return;  // EAGAIN, or EIO once the slave side is closed
  }
}

void set_dte_open(Port& port, bool open) {
  if (port.dte_open == open) return;
  port.dte_open = open;
  write_trace(port.name + (open ? " port opened (DTR on)" : " port closed (DTR off)"));
  if (port.modem) port.modem->set_dtr(open);
  if (!open) {
    port.pending.clear();
    if (port.modem) port.modem->take_output();
  }
}

void flush_output(Port& port) {
  if (!port.modem) return;
  if (!port.dte_open) {
    port.modem->take_output();  // nobody listens on a closed port
    return;
  }
  if (port.pending.empty()) port.pending = port.modem->take_output(16 * 1024);
  while (!port.pending.empty()) {
    ssize_t n = ::write(port.master, port.pending.data(), port.pending.size());
    if (n > 0) {
      port.pending.erase(0, static_cast<std::size_t>(n));
      if (port.pending.empty()) port.pending = port.modem->take_output(16 * 1024);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return;  // full (EAGAIN) or closed (EIO): try again later
  }
}

bool master_hung_up(const Port& port) {
  pollfd p{port.master, 0, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLHUP);
}

}  // namespace

int main(int argc, char** argv) {
  std::string root, trace_path;
  std::vector<Port> ports;
  std::vector<std::string> routes;

  auto add_port = [&](std::string_view port_option, bool silent) -> bool {
    std::size_t eq = port_option.find('=');
    auto number = parse_com(port_option.substr(0, eq));
    if (!number) {
      std::fprintf(stderr, "linesim: \"%.*s\" is not a port (COM1 to COM99)\n", static_cast<int>(port_option.size()), port_option.data());
      return false;
    }
    for (const Port& p : ports)
      if (p.number == *number) {
        std::fprintf(stderr, "linesim: COM%d is given twice\n", *number);
        return false;
      }
    Port port;
    port.number = *number;
    port.name = "COM" + std::to_string(*number);
    port.profile = silent ? "silent" : eq == std::string_view::npos ? "generic" : std::string(port_option.substr(eq + 1));
    if (!linesim::find_profile(port.profile)) {
      std::fprintf(stderr, "linesim: no modem profile \"%s\" (see --profiles)\n", port.profile.c_str());
      return false;
    }
    ports.push_back(std::move(port));
    return true;
  };

  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "linesim: %s needs a value\n", arg.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--root") {
      root = value();
    } else if (arg == "--modem") {
      if (!add_port(value(), false)) return 2;
    } else if (arg == "--silent") {
      if (!add_port(value(), true)) return 2;
    } else if (arg == "--dial") {
      routes.push_back(value());
    } else if (arg == "--trace") {
      trace_path = value();
    } else if (arg == "--profiles") {
      for (const auto& p : linesim::builtin_profiles()) std::printf("%-14s %s\n", p.name.c_str(), p.description.c_str());
      return 0;
    } else if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("linesim %s\n", VLR_VERSION);
      return 0;
    } else {
      std::fprintf(stderr, "linesim: unknown option %s\n", arg.c_str());
      usage(stderr);
      return 2;
    }
  }
  if (root.empty() || ports.empty()) {
    usage(stderr);
    return 2;
  }

  if (!trace_path.empty()) {
    g_trace_fd = ::open(trace_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (g_trace_fd < 0) {
      std::fprintf(stderr, "linesim: cannot write %s: %s\n", trace_path.c_str(), std::strerror(errno));
      return 1;
    }
  }
  linesim::Exchange exchange([](std::string_view line) { write_trace(line); });
  for (const std::string& r : routes) {
    std::string error = exchange.add_route(r);
    if (!error.empty()) {
      std::fprintf(stderr, "linesim: %s\n", error.c_str());
      return 2;
    }
  }

  // Signals arrive through a descriptor, so the poll loop sees them.
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGTERM);
  sigaddset(&mask, SIGINT);
  ::sigprocmask(SIG_BLOCK, &mask, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  int sigfd = ::signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
  if (sigfd < 0) {
    std::fprintf(stderr, "linesim: signalfd: %s\n", std::strerror(errno));
    return 1;
  }

  std::string dosdevices = root + "/dosdevices";
  if (!make_dir(root) || !make_dir(dosdevices)) {
    std::fprintf(stderr, "linesim: cannot make %s\n", dosdevices.c_str());
    return 1;
  }
  int status = 0;
  for (Port& port : ports) {
    std::string error;
    if (!open_pty(port, error) || !make_link(port, dosdevices, error)) {
      std::fprintf(stderr, "linesim: %s: %s\n", port.name.c_str(), error.c_str());
      status = 1;
      break;
    }
    port.modem = std::make_unique<Modem>(port.name, *linesim::find_profile(port.profile), &exchange);
    write_trace(port.name + " " + port.profile + " on " + port.slave);
  }

  if (status == 0) {
    std::printf("ready\n");
    std::fflush(stdout);
  }

  bool stop = status != 0;
  std::vector<pollfd> fds;
  std::vector<std::pair<Port*, int>> who;  // which port a descriptor belongs to; 0 master, 1 far end
  while (!stop) {
    fds.clear();
    who.clear();
    fds.push_back({sigfd, POLLIN, 0});
    who.emplace_back(nullptr, 0);
    std::int64_t now = platform::clock().now_ms();
    std::int64_t timeout = -1;
    auto sooner = [&timeout](std::int64_t ms) {
      if (ms < 0) ms = 0;
      if (timeout < 0 || ms < timeout) timeout = ms;
    };
    for (Port& port : ports) {
      if (!port.dte_open) {
        sooner(kClosedRecheckMs);  // POLLHUP would wake us at once: look now and then
      } else {
        short events = 0;
        if (port.modem->wants_input()) events |= POLLIN;
        if (!port.pending.empty() || port.modem->has_output()) events |= POLLOUT;
        fds.push_back({port.master, events, 0});
        who.emplace_back(&port, 0);
      }
      if (int fd = port.modem->far_fd(); fd >= 0) {
        if (short events = port.modem->far_events()) {
          fds.push_back({fd, events, 0});
          who.emplace_back(&port, 1);
        }
      }
      if (auto due = port.modem->next_due_ms()) sooner(*due - now);
    }
    int rc = ::poll(fds.data(), fds.size(), static_cast<int>(timeout));
    if (rc < 0 && errno != EINTR) {
      std::fprintf(stderr, "linesim: poll: %s\n", std::strerror(errno));
      status = 1;
      break;
    }
    if (rc > 0 && (fds[0].revents & POLLIN)) {
      signalfd_siginfo info{};
      if (::read(sigfd, &info, sizeof info) > 0) {
        write_trace("linesim stopping on signal " + std::to_string(info.ssi_signo));
        stop = true;
      }
    }
    for (std::size_t i = 1; rc > 0 && i < fds.size(); ++i) {
      Port& port = *who[i].first;
      if (who[i].second != 0 || fds[i].revents == 0) continue;
      if (fds[i].revents & POLLIN) read_dte(port);
      if ((fds[i].revents & POLLHUP) && !(fds[i].revents & POLLIN)) set_dte_open(port, false);
    }
    for (Port& port : ports) {
      if (!port.dte_open && !master_hung_up(port)) set_dte_open(port, true);
      port.modem->tick();
      flush_output(port);
    }
  }

  for (Port& port : ports) {
    port.modem.reset();  // hangs up a call in progress
    remove_link(port);
    if (port.master >= 0) ::close(port.master);
  }
  if (g_trace_fd >= 0) ::close(g_trace_fd);
  return status;
}
