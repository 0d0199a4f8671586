// links: session platform linesim_core
// One registration call of 200 REQUEST: lines, in-process, against the
// linesim program over a pseudo-terminal (modem "generic" set up with W1, so
// CARRIER, PROTOCOL and COMPRESSION come before CONNECT 28800; the line paced
// at 10 bits a byte). Reports the wall time from Start to the outcome (and
// from the log-in on: the exchange of lines), the time the exchange's bytes
// need on the line at that speed, and the CPU seconds of this process (the
// session on the loop plus the port's reader thread) during the call.
// connect_to_handled_ms is the time from CONNECT's arrival at the port (the
// moment linesim traces it, watched with inotify) to the session taking it
// ("Logging in..."): the dial-result tick is 250 ms, so it stays below that.
// The session takes one line per 1 ms tick, so wall time near the line time
// and a small CPU share mean it keeps up without spinning. line_s counts the
// bytes of both directions; linesim paces what the server sends
// (server_line_s), while the wizard's replies reach it at the speed of the
// pseudo-terminal.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/loop/message_loop.h"
#include "linesim/process.h"
#include "platform/storage/system_root.h"
#include "session/imodem.h"
#include "session/reg_session.h"


namespace {

constexpr int kRequests = 200;
constexpr double kLineBitsPerSecond = 28800.0;
constexpr double kBitsPerByte = 10.0;

double cpu_seconds(int who) {
  rusage u{};
  ::getrusage(who, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

class Profile final : public session::ProfileStore {
 public:
  std::map<std::string, std::string, std::less<>> values;
  bool Get(std::string_view key, std::string& value) const override {
    auto it = values.find(key);
    if (it == values.end()) return false;
    value = it->second;
    return true;
  }
  void Set(std::string_view key, std::string_view value) override { values[std::string(key)] = value; }
};

// Notes when the session takes CONNECT ("Logging in...") and when it has
// logged in ("Connected").
class QuietUi final : public session::SessionUi {
 public:
  std::chrono::steady_clock::time_point connect_handled{}, logged_in{};
  void ShowModemText(std::string_view text, bool) override {
    if (text == "Logging in..." && connect_handled == std::chrono::steady_clock::time_point{}) {
      connect_handled = std::chrono::steady_clock::now();
    }
    if (text == "Connected" && logged_in == std::chrono::steady_clock::time_point{}) {
      logged_in = std::chrono::steady_clock::now();
    }
  }
  void ShowSessionText(std::string_view, bool) override {}
  void MessageBox(std::string_view, session::MessageIcon) override {}
};

// Watches linesim's trace file and notes when the modem sends CONNECT. The
// trace line is written just before the bytes go to the pseudo-terminal.
class ConnectWatch {
 public:
  explicit ConnectWatch(const std::filesystem::path& trace) : path_(trace) {
    stop_ = ::eventfd(0, EFD_CLOEXEC);
    notify_ = ::inotify_init1(IN_CLOEXEC);
    if (notify_ >= 0) ::inotify_add_watch(notify_, trace.c_str(), IN_MODIFY);
    thread_ = std::thread([this] { watch(); });
  }
  ~ConnectWatch() {
    std::uint64_t one = 1;
    [[maybe_unused]] auto r = ::write(stop_, &one, sizeof one);
    thread_.join();
    ::close(stop_);
    if (notify_ >= 0) ::close(notify_);
  }
  // When CONNECT was seen; the epoch if it was not.
  std::chrono::steady_clock::time_point seen() const { return seen_.load(); }

 private:
  void watch() {
    std::ifstream in(path_);
    std::string line;
    for (;;) {
      while (std::getline(in, line)) {
        if (line.find(" at> CONNECT") != std::string::npos) {
          seen_ = std::chrono::steady_clock::now();
          return;
        }
      }
      in.clear();  // at the end of the file for now: wait for more
      pollfd fds[2] = {{notify_, POLLIN, 0}, {stop_, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN)) return;
      char events[4096];
      [[maybe_unused]] auto r = ::read(notify_, events, sizeof events);
    }
  }

  std::filesystem::path path_;
  int stop_ = -1;
  int notify_ = -1;
  std::thread thread_;
  std::atomic<std::chrono::steady_clock::time_point> seen_{};
};

// Receives the outcome and ends the loop.
class Outcome final : public platform::MessageTarget {
 public:
  unsigned message = 0;
  platform::LRESULT handle_message(const platform::Message& msg) override {
    message = msg.message;
    platform::MessageLoop::current().quit(0);
    return 0;
  }
};

void BM_RegistrationCall(benchmark::State& state) {
  platform::ScopedSystemRoot root;
  const std::filesystem::path scenario = root.path() / "bench-200.txt";
  const std::string name = "Johnathan";
  std::size_t line_bytes = 0;    // both directions
  std::size_t server_bytes = 0;  // what the server sends (linesim paces these)
  {
    std::ofstream f(scenario);
    f << "timeout 60\nlogin *\n";
    for (int i = 0; i < kRequests; ++i) {
      f << "send REQUEST:\\tFIRSTNAME\nexpect REPLY: " << name << "\n";
      server_bytes += std::string("REQUEST:\tFIRSTNAME\r").size();
      line_bytes += std::string("REQUEST:\tFIRSTNAME\r").size() + std::string("REPLY: " + name + "\r").size();
    }
    f << "send STATUS:\\tCOMPLETE\nend\n";
    line_bytes += std::string("STATUS:\tCOMPLETE\r").size();
    server_bytes += std::string("STATUS:\tCOMPLETE\r").size();
  }
  const std::string program = std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/linesim";
  const std::filesystem::path trace = root.path() / "linesim-trace.txt";
  { std::ofstream touch(trace); }
  std::vector<std::string> args = {program, "--root", root.path().string(), "--modem", "COM2=generic",
                                   "--dial", "5550100=scenario:" + scenario.string(), "--trace", trace.string()};
  linesim::Process sim(program, std::vector<std::string>(args.begin() + 1, args.end()));
  if (!sim.ready()) return state.SkipWithError("linesim did not get ready");

  platform::SerialOpenOptions options;
  options.dosdevices = platform::known_folder(platform::KnownFolder::DosDevices);
  options.fallback_lock_dir = root.path();

  for (auto _ : state) {
    Profile profile;
    profile.values = {{"COMPORT", "2"}, {"COMSPEED", "57600"}, {"MODEMINIT", "ATE0Q0V1&C1&D2W1"},
                      {"DIALMETHOD", "TONE"}, {"FIRSTNAME", name}};
    QuietUi ui;
    Outcome outcome;
    platform::MessageLoop& loop = platform::MessageLoop::current();
    const platform::HWND parent = loop.register_window(&outcome);
    double wall = 0, cpu = 0, exchange_wall = 0, connect_to_handled_ms = -1;
    {
      ConnectWatch connect(trace);
      session::CRegSessionDialog call(parent, ui, session::PlatformModemOptions(options));
      call.SetProfile(&profile);
      call.SetPhoneNumber("5550100");
      call.SetLoginName("vlrreg");
      const double cpu0 = cpu_seconds(RUSAGE_SELF);
      const auto t0 = std::chrono::steady_clock::now();
      call.Start();
      loop.run();
      const auto t1 = std::chrono::steady_clock::now();
      wall = std::chrono::duration<double>(t1 - t0).count();
      // When the log-in is sent the exchange of lines begins.
      exchange_wall = std::chrono::duration<double>(t1 - ui.logged_in).count();
      cpu = cpu_seconds(RUSAGE_SELF) - cpu0;
      const auto seen = connect.seen();
      if (seen != std::chrono::steady_clock::time_point{} && ui.connect_handled != std::chrono::steady_clock::time_point{}) {
        connect_to_handled_ms = std::chrono::duration<double, std::milli>(ui.connect_handled - seen).count();
      }
    }
    loop.unregister_window(parent);
    if (outcome.message != session::WM_WIZ_RESULT_OK) {
      state.SkipWithError("the call did not succeed");
      break;
    }
    const double line_s = static_cast<double>(line_bytes) * kBitsPerByte / kLineBitsPerSecond;
    state.SetIterationTime(wall);
    state.counters["wall_s"] = wall;
    const double server_line_s = static_cast<double>(server_bytes) * kBitsPerByte / kLineBitsPerSecond;
    state.counters["line_s"] = line_s;
    state.counters["server_line_s"] = server_line_s;
    state.counters["exchange_per_server_line_time"] = exchange_wall / server_line_s;
    state.counters["exchange_wall_s"] = exchange_wall;
    state.counters["exchange_per_line_time"] = exchange_wall / line_s;
    state.counters["connect_to_handled_ms"] = connect_to_handled_ms;
    state.counters["cpu_s"] = cpu;
    state.counters["cpu_share_pct"] = 100.0 * cpu / wall;
    state.counters["requests"] = kRequests;
  }
}
BENCHMARK(BM_RegistrationCall)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
