// Whole calls over the platform's virtual null-modem pair, opened by COM name
// as the wizard opens a port, with the scripted modem and server on the far
// end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes.h"
#include "platform/loop/clock.h"
#include "session/reg_session.h"

namespace session {
namespace {

using testing::FakeModem;
using testing::FakePage;
using testing::MapProfile;
using testing::RecordingUi;
using Strings = std::vector<std::string>;

class VirtualPairTest : public ::testing::Test {
 protected:
  platform::ScopedVirtualClock vclock;
  platform::VirtualNullModem cable;
  std::shared_ptr<platform::SerialPort> far = cable.end(1);
  FakeModem modem{[this](std::string_view b) {
                    std::size_t done = 0;
                    far->write(b.data(), b.size(), done, 0);
                  },
                  [this](bool on) { far->set_dtr(on); }};
  MapProfile profile;
  RecordingUi ui;
  FakePage page;
  std::unique_ptr<CRegSessionDialog> session;

  void SetUp() override {
    far->set_dtr(false);  // no carrier until CONNECT
    platform::attach_virtual_port(2, cable.end(0));
    cable.set_listener(1, [this] {
      char buf[512];
      std::size_t got = 0;
      while (far->read(buf, sizeof buf, got) == platform::SerialError::None && got > 0)
        modem.OnHostBytes(std::string(buf, got));
    });
    profile.values = {{"COMPORT", "2"}, {"COMSPEED", "38400"}, {"MODEMINIT", "ATE0Q0V1&C1&D2"},
                      {"DIALMETHOD", "TONE"}, {"USERID", "jdoe"}, {"FIRSTNAME", "John"}};
    modem.prompt = "user:\r\n";
  }
  void TearDown() override {
    session.reset();
    cable.set_listener(1, nullptr);
    platform::attach_virtual_port(2, nullptr);
  }

  unsigned Call() {
    session = std::make_unique<CRegSessionDialog>(page.hwnd, ui, PlatformModemOptions({}));
    session->SetProfile(&profile);
    session->SetPhoneNumber("5551234");
    session->SetLoginName("vlrreg");
    session->Start();
    return page.RunUntilOutcome(10 * 60 * 1000);
  }
};

TEST_F(VirtualPairTest, RegistrationCallToStatusComplete) {
  modem.script = {{"REQUEST:\tFIRSTNAME\r", 1},
                  {"INFO:\tPLAN\tP1\tBasic\tcheap\r", 1},
                  {"STATUS:\tCreating account\r", 1},
                  {"STATUS:\tCOMPLETE\r", 0}};
  EXPECT_EQ(Call(), WM_WIZ_RESULT_OK);
  EXPECT_EQ(modem.commands, (Strings{"AT&F", "AT&F", "ATE0Q0V1&C1&D2", "ATDt5551234"}));
  EXPECT_EQ(modem.server_received, (Strings{"vlrreg", "REPLY: John", "REPLY: OK", "REPLY: OK"}));
  EXPECT_EQ(profile.values["COMINFO"], "COM2 38400");
  EXPECT_EQ(ui.LastModem(), "Disconnected");
}

TEST_F(VirtualPairTest, FarEndDropsTheCarrier) {
  modem.script = {{"REQUEST:\tFIRSTNAME\r", 1}, {"", 0, [this] { modem.HangUpFarEnd(); }}};
  EXPECT_EQ(Call(), WM_WIZ_RESULT_FAILED);
  EXPECT_EQ(ui.LastModem(), "Disconnected");
}

TEST_F(VirtualPairTest, BusyAndUnpluggedCable) {
  modem.dial_result = "BUSY";
  EXPECT_EQ(Call(), WM_WIZ_RESULT_FAILED);
  EXPECT_EQ(ui.LastModem(), "BUSY");

  modem.dial_result = "CONNECT 38400";
  modem.script = {{"", 0, [this] { cable.unplug(); }}};
  page.outcomes.clear();
  EXPECT_EQ(Call(), WM_WIZ_RESULT_FAILED);
  EXPECT_EQ(ui.LastModem(), "Disconnected");
}

}  // namespace
}  // namespace session

