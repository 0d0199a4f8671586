// links: common platform
//
// Reading one key from a 5,000-line INI file, again and again:
//   cached        the file is unchanged and old: a stat and a lookup
//   cached_young  the file was modified within the last second (here: its
//                 time lies ahead), so each read compares its bytes, no parse
//   fresh_parse   read and parse the file for every read
// Prints the ratio fresh_parse / cached at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "common/ini.h"

namespace fs = std::filesystem;

namespace {

fs::path g_old_file;
fs::path g_young_file;

std::string make_text() {
  std::string text;
  int lines = 0;
  for (int s = 0; lines < 5000; ++s) {
    text += "[Section " + std::to_string(s) + "]\n";
    ++lines;
    for (int k = 0; k < 49 && lines < 5000; ++k, ++lines) {
      text += "Key" + std::to_string(k) + "=value of key " + std::to_string(k) + " in section " +
              std::to_string(s) + "\n";
    }
  }
  return text;
}

void write_with_time(const fs::path& p, const std::string& text, long shift_s) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
  struct timespec t[2];
  ::clock_gettime(CLOCK_REALTIME, &t[0]);
  t[0].tv_sec += shift_s;
  t[1] = t[0];
  ::utimensat(AT_FDCWD, p.c_str(), t, 0);
}

// A key in the middle of the file.
constexpr const char* kSection = "Section 50";
constexpr const char* kKey = "Key30";

void cached(benchmark::State& state) {
  for (auto _ : state) {
    std::string v = common::get_private_profile_string(kSection, kKey, "", 260, g_old_file);
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(cached);

void cached_young(benchmark::State& state) {
  for (auto _ : state) {
    std::string v = common::get_private_profile_string(kSection, kKey, "", 260, g_young_file);
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(cached_young);

void fresh_parse(benchmark::State& state) {
  for (auto _ : state) {
    common::IniDocument doc;
    if (!common::load_ini_file(g_old_file, doc)) state.SkipWithError("cannot read");
    std::string v = doc.get(kSection, kKey).value_or("");
    if (v.size() > 259) v.resize(259);
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(fresh_parse);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_None) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs) {
      if (r.run_type == Run::RT_Iteration) {
        real_[r.benchmark_name()] = r.GetAdjustedRealTime();
        cpu_[r.benchmark_name()] = r.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> real_, cpu_;
};

// Prints fresh_parse / `name` by wall time and by CPU time (the machine may
// be shared, which inflates wall time).
void print_ratio(RatioReporter& r, const char* name, const char* label) {
  if (!r.real_.count(name) || !r.real_.count("fresh_parse") || r.real_[name] <= 0 || r.cpu_[name] <= 0) return;
  std::printf("fresh parse / %s = %.1f (wall time), %.1f (CPU time)\n", label,
              r.real_["fresh_parse"] / r.real_[name], r.cpu_["fresh_parse"] / r.cpu_[name]);
}

}  // namespace

int main(int argc, char** argv) {
  char tmpl[] = "/tmp/vlr_bench_ini_XXXXXX";
  if (!::mkdtemp(tmpl)) return 1;
  fs::path dir = tmpl;
  const std::string text = make_text();
  g_old_file = dir / "old.ini";
  g_young_file = dir / "young.ini";
  write_with_time(g_old_file, text, -3600);
  write_with_time(g_young_file, text, 3600);
  std::printf("INI file: %zu bytes, 5000 lines\n", text.size());
  std::fflush(stdout);

  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  print_ratio(reporter, "cached", "cached read");
  print_ratio(reporter, "cached_young", "cached read of a young file");
  auto stats = common::ini_cache_stats();
  std::printf("cache: %llu hits, %llu verified by bytes, %llu parses\n",
              static_cast<unsigned long long>(stats.hits), static_cast<unsigned long long>(stats.verified),
              static_cast<unsigned long long>(stats.parses));
  fs::remove_all(dir);
  return 0;
}
