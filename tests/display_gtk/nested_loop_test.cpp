// A modal loop of the platform that starts inside a callback of GLib's main
// context (an idle handler, a GLib timer; GDK's input events come through
// sources of the same kind) must keep the context dispatching, or the new
// window never paints and never takes input. And it must sleep while it
// waits: the process's CPU time over the wait stays a small part of it.
// Runs under an X server (with_xvfb.sh): the desktop display owns the pump.
#include <gtest/gtest.h>
#include <glib.h>

#include <ctime>
#include <cstdlib>

#include "platform/loop/message_loop.h"
#include "platform/ui/display.h"
#include "desktop_test.h"

namespace {

using namespace platform;

double cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double wall_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

enum class Start { GlibIdle, GlibTimer, PlatformTimer };

struct NestedRun {
  ModalState outer;      // the caller's loop, until the nested run returned
  ModalState modal;      // the nested run
  int result = 0;
  int glib_ticks = 0;    // a GLib timer's ticks while the nested run waits
  double cpu = 0, wall = 0;
};

// A GLib timer that ends the nested run on its fifth tick (40 ms apart), so
// the run lasts 200 ms of real time if GLib keeps dispatching inside it.
guint start_ticker(NestedRun& run) {
  return g_timeout_add(40, [](gpointer data) -> gboolean {
    auto& r = *static_cast<NestedRun*>(data);
    if (++r.glib_ticks == 5) MessageLoop::current().end_modal(r.modal, 7);
    return r.glib_ticks < 5 ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
  }, &run);
}

// The nested run, with the ticker made inside the callback that starts it
// (as a GTK callback makes a window) unless `ticker` is given.
void run_nested(NestedRun& run, guint ticker = 0) {
  if (ticker == 0) ticker = start_ticker(run);
  // A safety net, so a broken pump fails here instead of hanging: the
  // platform's own timer ends the run after 5 s with another result.
  const TimerId net = MessageLoop::current().set_thread_timer(5000, [&run](TimerId) {
    MessageLoop::current().end_modal(run.modal, -2);
  });
  const double cpu0 = cpu_seconds(), wall0 = wall_seconds();
  run.result = MessageLoop::current().run_modal(run.modal);
  run.cpu = cpu_seconds() - cpu0;
  run.wall = wall_seconds() - wall0;
  MessageLoop::current().kill_thread_timer(net);
  if (run.glib_ticks < 5) g_source_remove(ticker);  // it must not outlive `run`
  MessageLoop::current().end_modal(run.outer, 0);
}

class NestedLoop : public DesktopTest<::testing::TestWithParam<Start>> {};

TEST_P(NestedLoop, KeepsGlibDispatchingAndSleeps) {
  NestedRun run;
  switch (GetParam()) {
    case Start::GlibIdle:
      g_idle_add_once([](gpointer data) { run_nested(*static_cast<NestedRun*>(data)); }, &run);
      break;
    case Start::GlibTimer:
      g_timeout_add_once(10, [](gpointer data) { run_nested(*static_cast<NestedRun*>(data)); }, &run);
      break;
    case Start::PlatformTimer: {
      // Outside GLib's dispatch only the display touches GTK, and it hands
      // the context back to the pump when it has: here the ticker is there
      // before the platform's timer starts the run.
      const guint ticker = start_ticker(run);
      MessageLoop::current().set_thread_timer(10, [&run, ticker](TimerId id) {
        MessageLoop::current().kill_thread_timer(id);
        run_nested(run, ticker);
      });
      break;
    }
  }
  MessageLoop::current().run_modal(run.outer);
  EXPECT_EQ(run.glib_ticks, 5) << "GLib stopped dispatching inside the nested run";
  EXPECT_EQ(run.result, 7);
  ASSERT_GT(run.wall, 0.15);
  // A loop that spins burns the whole wait; one that sleeps a sliver of it
  // (sanitizers included).
  EXPECT_LT(run.cpu, run.wall * 0.25) << "cpu " << run.cpu << " s over " << run.wall << " s";
}

INSTANTIATE_TEST_SUITE_P(FromEachKindOfCallback, NestedLoop,
                         ::testing::Values(Start::GlibIdle, Start::GlibTimer, Start::PlatformTimer),
                         [](const auto& info) {
                           switch (info.param) {
                             case Start::GlibIdle: return std::string("GlibIdle");
                             case Start::GlibTimer: return std::string("GlibTimer");
                             default: return std::string("PlatformTimer");
                           }
                         });

}  // namespace
