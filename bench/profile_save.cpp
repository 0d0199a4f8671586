// links: wizard_core
//
// Saving the registration profile (the 43 keys of the default table, every
// value changed, with the installation's [Dialing Information] in the file)
// at the end of a run:
//   one_replacement  RegistrationProfile::Save: all keys in one atomic
//                    replacement of Joinwiz.ini
//   key_by_key       the same keys written one private-profile write each
//                    (one replacement and two fsyncs per key), as a Save
//                    built on the Windows call alone would do
// Prints the ratio key_by_key / one_replacement at the end.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "common/ini.h"
#include "wizard/registration_profile.h"

namespace fs = std::filesystem;

namespace {

fs::path g_dir;
std::map<std::string, double> g_ns;

wizard::RegistrationProfile filled_profile() {
  wizard::RegistrationProfile p;
  p.SetDefaults(wizard::default_profile_keys());
  p.Set("USERID", "jsmith");
  p.Set("PASSWORD", "secret1");
  p.Set("FIRSTNAME", "John");
  return p;
}

fs::path fresh_file(const char* name) {
  const fs::path f = g_dir / name;
  std::ofstream(f, std::ios::trunc) << "[Dialing Information]\nREGNUMBER=5550100\nREGSERVER=vlrreg\n";
  return f;
}

void one_replacement(benchmark::State& state) {
  const auto profile = filled_profile();
  const fs::path file = fresh_file("one.ini");
  int n = 0;
  for (auto _ : state) {
    // Every value changes every time, as at the end of a first run.
    ++n;
    auto p = profile;
    for (const auto& entry : wizard::default_profile_keys())
      p.Set(entry.key, profile.value_or_empty(entry.key) + std::to_string(n));
    benchmark::DoNotOptimize(p.Save(file));
  }
}

void key_by_key(benchmark::State& state) {
  const auto profile = filled_profile();
  const fs::path file = fresh_file("each.ini");
  int n = 0;
  for (auto _ : state) {
    ++n;
    for (const auto& entry : wizard::default_profile_keys()) {
      const std::string value = profile.value_or_empty(entry.key) + std::to_string(n);
      benchmark::DoNotOptimize(common::write_private_profile_string(
          wizard::kUserInfoSection, entry.key, value.c_str(), file, platform::FileMode::OwnerOnly));
    }
  }
}

class Recorder : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) g_ns[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

BENCHMARK(one_replacement)->Unit(benchmark::kMillisecond);
BENCHMARK(key_by_key)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  char tmpl[] = "/tmp/bench_profile_save_XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  g_dir = tmpl;
  benchmark::Initialize(&argc, argv);
  Recorder reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (g_ns["one_replacement"] > 0)
    std::printf("key_by_key / one_replacement: %.1f\n", g_ns["key_by_key"] / g_ns["one_replacement"]);
  fs::remove_all(g_dir);
  benchmark::Shutdown();
  return 0;
}
