// The Modem Not Found page names a modem the user may not open: the device,
// the group that owns it and the command that adds the user to it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/loop/clock.h"
#include "platform/serial/com_ports.h"
#include "platform/loop/message_loop.h"
#include "platform/storage/system_root.h"
#include "platform/ui/window.h"
#include "wizard/modem_level.h"
#include "wizard/pages.h"

namespace wizard {
namespace {

namespace fs = std::filesystem;
using namespace platform;

class ModemNotFound : public ::testing::Test {
 protected:
  void SetUp() override {
    set_wizard_paths({root_.path(), root_.path() / "Joinwiz.ini"});
    clear_bitmap_folders();
    add_bitmap_folder(fs::path(VLR_SOURCE_DIR) / "data");
    register_page_templates();
    register_modem_templates();
    profile_.SetDefaults(default_profile_keys());
  }
  void TearDown() override {
    if (page_ && is_window(page_)) destroy_window(page_);
    set_port_problems({});
  }
  Dialog* open_page() {
    auto* p = new_window<CModemNotFoundDialog>(&profile_, HWND{0});
    page_ = p->CreateModeless();
    EXPECT_NE(page_, 0u);
    show_window(page_, SW_SHOW);
    MessageLoop::current().pump_pending();
    return window_cast<Dialog>(page_);
  }

  ScopedVirtualClock clock_;
  ScopedSystemRoot root_;
  RegistrationProfile profile_;
  HWND page_ = 0;
};

TEST_F(ModemNotFound, NamesTheDeviceItsGroupAndTheCommand) {
  // A modem node owned by root:dialout, 0660; the look is made as a user
  // who may not open it (the tests run as root, who may open anything).
  const fs::path node = root_.path() / "ttyACM0";
  if (::mknod(node.c_str(), S_IFCHR | 0660, ::makedev(1, 3)) != 0) GTEST_SKIP() << "mknod is not allowed here";
  ::chmod(node.c_str(), 0660);
  const fs::path dos = known_folder(KnownFolder::DosDevices);
  fs::create_symlink(node, dos / "com1");
  if (::chown(node.c_str(), 0, 20) != 0) GTEST_SKIP() << "cannot give the node a group";
  DeviceFolders devices;
  devices.access_error = [&](const fs::path& p) { return p == node ? EACCES : 0; };
  const ComPortInfo info = com_port_info(1, dos, devices);
  ASSERT_EQ(info.state, ComPortState::NoPermission);

  set_port_problems([&] { return permission_advice(info); });
  Dialog* page = open_page();
  ASSERT_NE(page, nullptr);
  const std::string text = page->item_text(IDC_PORT_PROBLEM);
  EXPECT_TRUE(is_window_visible(page->item(IDC_PORT_PROBLEM)));
  EXPECT_NE(text.find("COM1 is " + node.string()), std::string::npos) << text;
  EXPECT_NE(text.find("the group \"" + info.group + "\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"sudo usermod -a -G " + info.group + " " + info.user + "\""), std::string::npos) << text;
}

TEST_F(ModemNotFound, SaysNothingMoreWhenEveryDeviceMayBeOpened) {
  fs::create_symlink("/dev/null", known_folder(KnownFolder::DosDevices) / "com1");
  Dialog* page = open_page();  // the default services: the root's own links
  ASSERT_NE(page, nullptr);
  EXPECT_FALSE(is_window_visible(page->item(IDC_PORT_PROBLEM)));
  EXPECT_EQ(page->item_text(IDC_PORT_PROBLEM), "");
}

}  // namespace
}  // namespace wizard
