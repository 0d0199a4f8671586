// links: sysconfig
//
// Bytes written to disk per REGMOD: line in a burst: N lines of 5 KB each,
// one new value apiece, arriving 73 ms apart (2,000 such lines took 146 s
// through linesim), handled as the session handles them:
//   each_line_written  every REGMOD: writes its hive before it is answered
//                      (the hive is rewritten whole each time)
//   gathered           the session's write-back: the hive is written when the
//                      line goes quiet, at the latest a second after the first
//                      unwritten change, and at the end of the call
// Counters: bytes_per_regmod (what write(2) was handed, from /proc/self/io),
// hive_writes. Time is virtual; the bytes are real.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/loop/clock.h"
#include "platform/storage/files.h"
#include "platform/storage/registry.h"
#include "platform/storage/system_root.h"
#include "session/reg_session.h"
#include "sysconfig/sysconfig.h"

namespace {

namespace reg = platform::reg;

constexpr std::int64_t kLineGapMs = 73;

// Bytes this process has handed to write(2) so far.
std::uint64_t written_bytes() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "wchar:") return value;
  }
  return 0;
}

std::string regmod_line(int i) {
  return "HKEY_CURRENT_USER\tSoftware\\Veloran\\Burst\tREG_SZ\tValue" + std::to_string(i) + "\t" +
         std::string(5000, 'd');
}

void burst(benchmark::State& state, bool gathered) {
  const int lines = static_cast<int>(state.range(0));
  std::uint64_t bytes = 0, writes = 0;
  for (auto _ : state) {
    platform::ScopedVirtualClock clock;
    platform::ScopedSystemRoot root;
    reg::Registry registry(platform::known_folder(platform::KnownFolder::Registry));
    const std::uint64_t bytes_before = written_bytes();
    const std::uint64_t writes_before = platform::replace_file_count();
    if (gathered) registry.set_deferred_writes(true);
    for (int i = 0; i < lines; ++i) {
      benchmark::DoNotOptimize(sysconfig::RegModCommand(registry, regmod_line(i)));
      clock.get().advance(kLineGapMs);
      // The ticks until the next line: bytes keep coming, the line is busy.
      if (gathered) sysconfig::WriteBackRegistry(registry, session::LinePace::Busy);
    }
    if (gathered) sysconfig::WriteBackRegistry(registry, session::LinePace::CallEnds);
    bytes += written_bytes() - bytes_before;
    writes += platform::replace_file_count() - writes_before;
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["bytes_per_regmod"] = static_cast<double>(bytes) / runs / lines;
  state.counters["hive_writes"] = static_cast<double>(writes) / runs;
}

void each_line_written(benchmark::State& state) { burst(state, false); }
void gathered(benchmark::State& state) { burst(state, true); }

}  // namespace

BENCHMARK(each_line_written)->Arg(200)->Arg(500)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(gathered)->Arg(200)->Arg(500)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
