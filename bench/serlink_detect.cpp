// links: serlink platform linesim_core
// Time and CPU seconds of ModemPortEnumeration plus ModemAutoConfigure
// against linesim over pseudo-terminals: one modem (COM1) and three ports
// where nothing answers (COM2 to COM4 silent). The CPU share shows that the
// library's waits sleep rather than spin.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "linesim/process.h"
#include "platform/system_root.h"
#include "serlink.h"


namespace {

double cpu_seconds(int who) {
  rusage u{};
  ::getrusage(who, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void BM_EnumerateAndConfigure(benchmark::State& state) {
  platform::ScopedSystemRoot root;
  std::string program = std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/linesim";
  std::vector<std::string> args = {program, "--root", root.path().string(), "--modem", "COM1=generic",
                                   "--silent", "COM2", "--silent", "COM3", "--silent", "COM4"};
  linesim::Process sim(program, std::vector<std::string>(args.begin() + 1, args.end()));
  if (!sim.ready()) return state.SkipWithError("linesim did not get ready");

  for (auto _ : state) {
    const double cpu0 = cpu_seconds(RUSAGE_SELF);
    const auto t0 = std::chrono::steady_clock::now();
    SerialPortName names[4] = {};
    SerialPortName* entries[4] = {&names[0], &names[1], &names[2], &names[3]};
    ModemPortList list{4, entries, nullptr};
    int32_t found = ModemPortEnumeration(&list);
    char reset[SERLINK_RESET_SIZE], setup[SERLINK_SETUP_SIZE];
    ModemAutoConfigRecord rec{{names[0].port, 0, 0, 0, 0, 0}, reset, setup, nullptr};
    int32_t configured = found == 0 ? ModemAutoConfigure(&rec) : found;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = cpu_seconds(RUSAGE_SELF) - cpu0;
    state.SetIterationTime(wall);
    state.counters["wall_s"] = wall;
    state.counters["cpu_s"] = cpu;
    state.counters["cpu_share_pct"] = 100.0 * cpu / wall;
    state.counters["modems"] = list.count;
    state.counters["result"] = configured;
  }
}
BENCHMARK(BM_EnumerateAndConfigure)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
