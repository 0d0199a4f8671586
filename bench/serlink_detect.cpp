// links: serlink platform linesim_core
// ModemPortEnumeration plus ModemAutoConfigure against linesim over
// pseudo-terminals, as the wizard's detection page runs them: one modem on
// COM1 and three more ports that are either absent (COM links to nothing) or
// silent (a device where nothing answers).
//
// Figures per run:
//  - wall_s: wall time of both calls;
//  - fixed_pauses_s: the pauses the library's algorithm went through and
//    that no data can shorten (purges, guard times, DTR pulses, the pause
//    after a result line, the speed search's settling): the sum of what the
//    library asked the clock to sleep. Waits for data do not sleep on the
//    clock (they block on the port), so they are not in it. (A build whose
//    response waits still slept in 100 ms steps counts those steps too: its
//    fixed pauses are those of the same path in a current build.);
//  - wall_per_fixed: wall_s / fixed_pauses_s, how close the run comes to the
//    time its written pauses need (1.0 = nothing but the pauses);
//  - timeouts: response reads that ran out (traced as an empty "Recv: "
//    line); timeouts_s their written length (1 s each here), and
//    wall_per_written = wall_s / (fixed_pauses_s + timeouts_s);
//  - cpu_s and cpu_share_pct: CPU of this process; the waits must block,
//    not spin.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "linesim/process.h"
#include "platform/loop/clock.h"
#include "platform/storage/system_root.h"
#include "serlink.h"

namespace {

double cpu_seconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Real time that adds up every sleep it is asked for.
class CountingClock final : public platform::Clock {
 public:
  std::int64_t now_ms() override { return real_.now_ms(); }
  void sleep_ms(std::int64_t ms) override {
    if (ms > 0) slept_ms += ms;
    real_.sleep_ms(ms);
  }
  bool is_virtual() const override { return false; }
  void advance_to(std::int64_t) override {}
  std::atomic<std::int64_t> slept_ms{0};

 private:
  platform::RealClock real_;
};

std::atomic<int> g_timeouts{0};
void count_timeouts(const char* format, const char* text) {
  if (text && text[0] == '\0' && std::strncmp(format, "Recv:", 5) == 0) ++g_timeouts;
}

void run(benchmark::State& state, bool silent_ports) {
  platform::ScopedSystemRoot root;
  const std::filesystem::path dosdevices = root.path() / "dosdevices";
  std::string program = std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/linesim";
  std::vector<std::string> args = {"--root", root.path().string(), "--modem", "COM1=generic"};
  if (silent_ports) {
    for (const char* p : {"COM2", "COM3", "COM4"}) args.insert(args.end(), {"--silent", p});
  }
  linesim::Process sim(program, args);
  if (!sim.ready()) return state.SkipWithError("linesim did not get ready");
  if (!silent_ports) {
    // Absent: a COM link to nothing (never the machine's own /dev/ttyS*).
    for (const char* link : {"com2", "com3", "com4"}) {
      std::filesystem::create_symlink(root.path() / "no-such-device", dosdevices / link);
    }
  }
  ConnectSetParm(1, count_timeouts);

  for (auto _ : state) {
    CountingClock clock;
    platform::use_clock(&clock);
    g_timeouts = 0;
    const double cpu0 = cpu_seconds();
    const auto t0 = std::chrono::steady_clock::now();
    SerialPortName names[4] = {};
    SerialPortName* entries[4] = {&names[0], &names[1], &names[2], &names[3]};
    ModemPortList list{4, entries, nullptr};
    int32_t found = ModemPortEnumeration(&list);
    char reset[SERLINK_RESET_SIZE], setup[SERLINK_SETUP_SIZE];
    ModemAutoConfigRecord rec{{names[0].port, 0, 0, 0, 0, 0}, reset, setup, nullptr};
    int32_t configured = found == 0 ? ModemAutoConfigure(&rec) : found;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = cpu_seconds() - cpu0;
    platform::use_clock(nullptr);
    const double fixed = static_cast<double>(clock.slept_ms.load()) / 1000.0;
    const double timeouts_s = g_timeouts.load() * 1.0;
    state.SetIterationTime(wall);
    state.counters["wall_s"] = wall;
    state.counters["fixed_pauses_s"] = fixed;
    state.counters["wall_per_fixed"] = fixed > 0 ? wall / fixed : 0;
    state.counters["timeouts"] = g_timeouts.load();
    state.counters["timeouts_s"] = timeouts_s;
    state.counters["wall_per_written"] = wall / (fixed + timeouts_s);
    state.counters["cpu_s"] = cpu;
    state.counters["cpu_share_pct"] = 100.0 * cpu / wall;
    state.counters["modems"] = list.count;
    state.counters["result"] = configured;
  }
  ConnectSetParm(1, nullptr);
}

void BM_OneModemThreeAbsentPorts(benchmark::State& state) { run(state, false); }
void BM_OneModemThreeSilentPorts(benchmark::State& state) { run(state, true); }
BENCHMARK(BM_OneModemThreeAbsentPorts)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_OneModemThreeSilentPorts)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
