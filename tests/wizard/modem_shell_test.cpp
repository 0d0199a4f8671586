// The shell services behind the Modem Setup page: the telephony probe counts
// COM ports that resolve to a device; the launcher starts a program without
// a shell and reports WinExec's error values.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/shell/launcher.h"
#include "platform/loop/message_loop.h"
#include "platform/ui/window.h"
#include "platform/shell/telephony.h"
#include "support/temp_dir.h"
#include "wizard/modem_level.h"

namespace {

namespace fs = std::filesystem;
using namespace platform;
using wizard::launch_modem_control_panel;

TEST(TelephonyProbe, CountsPortsThatResolveToADevice) {
  test_support::TempDir dir("wizard_shell");
  const fs::path dos = dir.path() / "dosdevices";
  fs::create_directories(dos);
  for (int n = 1; n <= 9; ++n) fs::create_symlink(dir.path() / "nothing", dos / ("com" + std::to_string(n)));
  EXPECT_EQ(telephony_line_devices(dos), 0);
  EXPECT_EQ(telephony_probe(dos), 0);
  fs::remove(dos / "com2");
  fs::create_symlink("/dev/null", dos / "com2");  // a character device
  std::ofstream(dir.path() / "plain") << "x";
  fs::remove(dos / "com3");
  fs::create_symlink(dir.path() / "plain", dos / "com3");  // not a device
  EXPECT_EQ(telephony_line_devices(dos), 1);
  EXPECT_EQ(telephony_probe(dos), 1);
  EXPECT_EQ(telephony_line_devices(dos, 1), 0) << "COM2 is beyond the ports asked about";
}

TEST(Launcher, ReportsWinExecErrorsAndStartsPrograms) {
  test_support::TempDir dir("wizard_shell");
  EXPECT_EQ(launch_program({}), 2);
  EXPECT_EQ(launch_program({(dir.path() / "missing").string()}), 2);
  EXPECT_EQ(launch_modem_control_panel(dir.path()), 2) << "no modsetctl in the folder";
  std::ofstream(dir.path() / "plain") << "x";
  EXPECT_EQ(launch_program({(dir.path() / "plain").string()}), 5) << "not executable";

  // A modsetctl that writes its arguments into a FIFO: started without a
  // shell. The test blocks on the FIFO, so it wakes as soon as the child
  // has written, and gives up only after a generous bound.
  const fs::path tool = dir.path() / "modsetctl";
  const fs::path fifo = dir.path() / "ran";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  std::ofstream(tool) << "#!/bin/sh\necho \"$@\" > \"$(dirname \"$0\")/ran\"\n";
  fs::permissions(tool, fs::perms::owner_all);
  EXPECT_EQ(launch_modem_control_panel(dir.path()), kLaunchStarted);
  std::string words;
  for (;;) {
    pollfd p{reader, POLLIN, 0};
    if (::poll(&p, 1, 30'000) != 1) break;  // nothing within the bound
    char buf[64];
    ssize_t n = ::read(reader, buf, sizeof buf);
    if (n <= 0) break;  // the child closed its end
    words.append(buf, static_cast<std::size_t>(n));
  }
  ::close(reader);
  EXPECT_EQ(words, "setup\n");
}

// A window that records the message the launcher posts when the program ends.
class EndListener final : public Window {
 public:
  std::vector<WPARAM> codes;

 protected:
  LRESULT window_proc(const Message& msg) override {
    if (msg.message == WM_USER + 77) {
      codes.push_back(msg.wparam);
      return 0;
    }
    return Window::window_proc(msg);
  }
};

TEST(Launcher, PostsTheExitStatusWhenTheProgramEnds) {
  test_support::TempDir dir("wizard_shell");
  const fs::path tool = dir.path() / "modsetctl";
  std::ofstream(tool) << "#!/bin/sh\n[ \"$1\" = setup ] && exit 7\nexit 1\n";
  fs::permissions(tool, fs::perms::owner_all);
  EndListener listener;
  ASSERT_NE(listener.create("listener", WS_POPUP, {0, 0, 10, 10}), 0u);
  EXPECT_EQ(launch_modem_control_panel(listener.hwnd(), WM_USER + 77, dir.path()), kLaunchStarted);
  // The program runs in real time; give it up to ten seconds.
  for (int i = 0; i < 1000 && listener.codes.empty(); ++i) {
    MessageLoop::current().pump_pending();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(listener.codes, (std::vector<WPARAM>{7}));
  EXPECT_EQ(launch_modem_control_panel(listener.hwnd(), WM_USER + 77, dir.path() / "none"), 2);
  MessageLoop::current().pump_pending();
  EXPECT_EQ(listener.codes.size(), 1u) << "nothing is posted for a program that did not start";
}

}  // namespace
