// links: platform
// The wizard waiting on its welcome page in the desktop window: the CPU it
// uses in 5 s of doing nothing. It runs joinwiz (beside this program) with
// --ui gtk on an Xvfb server of its own and reads the process's CPU time
// from /proc before and after. An idle wizard should sleep in its loop:
// target under 1% of a core.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/shell/launcher.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& extra_env) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> env_text;
  for (char** e = environ; *e; ++e) env_text.emplace_back(*e);
  for (const auto& e : extra_env) env_text.push_back(e);
  std::vector<char*> envp;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// utime + stime of `pid` in clock ticks.
long cpu_ticks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string all((std::istreambuf_iterator<char>(in)), {});
  const auto close = all.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream rest(all.substr(close + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::atol(field.c_str());
    if (i == 15) stime = std::atol(field.c_str());
  }
  return utime + stime;
}

bool wait_for_line(const fs::path& file, const std::string& prefix, int seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < until) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
      if (line.rfind(prefix, 0) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

void BM_DesktopIdleWelcomePage(benchmark::State& state) {
  const fs::path joinwiz = platform::program_folder() / "joinwiz";
  const fs::path work = fs::temp_directory_path() / ("bench_desktop_idle_" + std::to_string(getpid()));
  fs::create_directories(work / "root" / "drive_c" / "veloran");
  const int display_no = 90 + getpid() % 100;
  const pid_t xvfb = spawn({"Xvfb", ":" + std::to_string(display_no), "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, {});
  if (xvfb < 0) {
    state.SkipWithError("Xvfb is not installed");
    return;
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));
  double percent = -1;
  for (auto _ : state) {
    const fs::path transcript = work / "transcript";
    std::ofstream(transcript).close();
    const pid_t wiz = spawn({joinwiz.string(), "--root", (work / "root").string(), "--ui", "gtk", "--transcript",
                             transcript.string()},
                            {"DISPLAY=:" + std::to_string(display_no), "GSK_RENDERER=cairo", "GDK_BACKEND=x11",
                             "NO_AT_BRIDGE=1"});
    if (wiz < 0 || !wait_for_line(transcript, "painted 104", 60)) {
      state.SkipWithError("the wizard did not show its welcome page");
      if (wiz > 0) kill(wiz, SIGTERM), waitpid(wiz, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));  // let start-up work settle
    const long before = cpu_ticks(wiz);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const long after = cpu_ticks(wiz);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    percent = 100.0 * double(after - before) / double(sysconf(_SC_CLK_TCK)) / wall;
    kill(wiz, SIGTERM);
    waitpid(wiz, nullptr, 0);
  }
  kill(xvfb, SIGTERM);
  waitpid(xvfb, nullptr, 0);
  fs::remove_all(work);
  state.counters["idle_cpu_percent"] = percent;
}

BENCHMARK(BM_DesktopIdleWelcomePage)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
