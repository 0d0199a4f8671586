// links: session
// phones.txt: finding a plan's section and building the access-number list.
// The file has 20 sections of N entries each; the wanted one is the last, so
// the whole file is read. Reports the time of LoadSectionLines (read and
// parse) and of AccessListItems (entries to sorted display texts), per file
// size; the largest file is near kPhonesFileLimit.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "session/access_numbers.h"

namespace {

namespace fs = std::filesystem;

fs::path MakePhones(int per_section) {
  const fs::path path = fs::temp_directory_path() / ("bench_phones_" + std::to_string(::getpid()) + "_" +
                                                     std::to_string(per_section) + ".txt");
  std::ofstream out(path, std::ios::binary);
  for (int s = 0; s < 20; ++s) {
    out << "[PLAN" << s << "]\r\n";
    for (int i = 0; i < per_section; ++i) {
      // Numbers in a scrambled order, so the list really has to be sorted.
      const int n = (i * 7919) % per_section;
      out << i << "=" << (200 + n % 800) << " 555" << (1000 + n % 9000) << " " << char('A' + n % 26)
          << char('A' + (n / 26) % 26) << " Place number " << n << "\r\n";
    }
  }
  return path;
}

void BM_LoadSectionLines(benchmark::State& state) {
  const fs::path path = MakePhones(static_cast<int>(state.range(0)));
  std::vector<std::string> lines;
  for (auto _ : state) {
    benchmark::DoNotOptimize(session::LoadSectionLines(path, "PLAN19", lines));
  }
  state.counters["entries"] = static_cast<double>(lines.size());
  state.counters["file_bytes"] = static_cast<double>(fs::file_size(path));
  fs::remove(path);
}
BENCHMARK(BM_LoadSectionLines)->Arg(10)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);

void BM_AccessListItems(benchmark::State& state) {
  const fs::path path = MakePhones(static_cast<int>(state.range(0)));
  std::vector<std::string> lines;
  session::LoadSectionLines(path, "PLAN19", lines);
  fs::remove(path);
  for (auto _ : state) {
    benchmark::DoNotOptimize(session::AccessListItems(lines));
  }
  state.counters["entries"] = static_cast<double>(lines.size());
}
BENCHMARK(BM_AccessListItems)->Arg(10)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
