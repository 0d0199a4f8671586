// The dial-result phase: one 250 ms tick takes every complete line the modem
// has sent, in order, so the reports a modem sends before CONNECT (W1:
// CARRIER, PROTOCOL, COMPRESSION) do not delay it by a tick each; a refusal
// before a CONNECT still ends the call. The session phase keeps one line a
// tick.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes.h"
#include "platform/loop/clock.h"
#include "session/reg_session.h"

namespace session {
namespace {

using testing::FakePage;
using testing::FakePorts;
using testing::Line;
using testing::MapProfile;
using testing::RecordingUi;
using Strings = std::vector<std::string>;

constexpr const char kReports[] =
    "\r\nCARRIER 28800\r\n\r\nPROTOCOL: LAP-M\r\n\r\nCOMPRESSION: V.42BIS\r\n";

// A modem that answers "OK" to commands and `dial_answer` to the dial, all
// in one piece, as a modem's buffer hands it over.
class DialResultTest : public ::testing::Test {
 protected:
  platform::ScopedVirtualClock vclock;
  FakePorts ports;
  std::shared_ptr<Line> wire = std::make_shared<Line>();
  MapProfile profile;
  RecordingUi ui;
  FakePage page;
  std::unique_ptr<CRegSessionDialog> session;
  std::string dial_answer;
  bool carrier_on_dial = false;

  void SetUp() override {
    ports.wires[2] = wire;
    profile.values = {{"COMPORT", "2"}, {"COMSPEED", "57600"}, {"MODEMINIT", "ATE0Q0V1W1"}, {"DIALMETHOD", "TONE"}};
    online_ = false;
    wire->peer = [this](const std::string& bytes) {
      pending_ += bytes;
      for (std::size_t cr; (cr = pending_.find('\r')) != std::string::npos;) {
        std::string line = pending_.substr(0, cr);
        pending_.erase(0, cr + 1);
        if (line.empty() || online_) continue;  // after the dial: the server's side, silent here
        if (line.rfind("ATD", 0) == 0) {
          online_ = true;
          dialled_at = platform::clock().now_ms();
          wire->Send(dial_answer);
          if (carrier_on_dial) wire->SetCarrier(true);
        } else {
          wire->Send("\r\nOK\r\n");
        }
      }
    };
  }

  void TearDown() override { wire->peer = nullptr; }

  void Start() {
    session = std::make_unique<CRegSessionDialog>(page.hwnd, ui, ports.Options());
    session->SetProfile(&profile);
    session->SetPhoneNumber("5551234");
    session->SetLoginName("vlrreg");
    ASSERT_TRUE(session->Start());
  }

  // Received lines shown, without the empty ones between CR and LF.
  Strings Shown() const {
    Strings out;
    for (const auto& l : ui.received) {
      if (l.find_first_not_of("\r\n") != std::string::npos) out.push_back(l.substr(l.find_first_not_of("\r\n")));
    }
    return out;
  }

  std::int64_t dialled_at = 0;

 private:
  std::string pending_;
  bool online_ = false;
};

TEST_F(DialResultTest, ConnectAfterTheModemsReportsIsTakenAtTheFirstTick) {
  dial_answer = std::string(kReports) + "\r\nCONNECT 28800\r\n";
  carrier_on_dial = true;
  Start();
  ASSERT_NE(dialled_at, 0);
  EXPECT_EQ(session->CurrentPhase(), CRegSessionDialog::PhaseDialResult);
  page.RunFor(260);  // one 250 ms tick
  EXPECT_EQ(session->CurrentPhase(), CRegSessionDialog::PhaseLoginPrompt)
      << "every line before CONNECT and CONNECT itself in one tick";
  EXPECT_EQ(Shown(), (Strings{"CARRIER 28800", "PROTOCOL: LAP-M", "COMPRESSION: V.42BIS", "CONNECT 28800"}))
      << "in the order received";
  EXPECT_EQ(ui.LastModem(), "Logging in...");
  EXPECT_TRUE(page.outcomes.empty());
}

TEST_F(DialResultTest, ARefusalBeforeAConnectInTheSameTickWins) {
  struct Case {
    const char* name;
    std::string answer;
    std::string shown;
  };
  const Case table[] = {
      {"busy", "\r\nBUSY\r\n\r\nCONNECT 28800\r\n", "BUSY"},
      {"no dial tone after reports", std::string(kReports) + "\r\nNO DIALTONE\r\n\r\nCONNECT 2400\r\n", "NO DIALTONE"},
      {"no carrier", "\r\nNO CARRIER\r\n\r\nCONNECT\r\n", "NO CARRIER"},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.name);
    wire = std::make_shared<Line>();
    ports.wires[2] = wire;
    SetUp();
    ui.modem.clear();
    ui.received.clear();
    page.outcomes.clear();
    dial_answer = c.answer;
    Start();
    const std::int64_t started = platform::clock().now_ms();
    EXPECT_EQ(page.RunUntilOutcome(10000), WM_WIZ_RESULT_FAILED);
    EXPECT_LE(platform::clock().now_ms() - started, 250) << "ended at the first tick";
    EXPECT_EQ(ui.LastModem(), c.shown) << "the modem's refusal is shown, not the CONNECT after it";
    EXPECT_EQ(Shown().back(), c.shown) << "the line after the refusal is never taken";
    EXPECT_EQ(session->Port(), nullptr);
    TearDown();
  }
}

TEST_F(DialResultTest, LinesThatAreNoResultKeepTheCallWaitingForOne) {
  dial_answer = kReports;
  Start();
  page.RunFor(260);
  EXPECT_EQ(session->CurrentPhase(), CRegSessionDialog::PhaseDialResult);
  EXPECT_EQ(Shown().size(), 3u) << "all three reports taken in the first tick";
  // The CONNECT that comes later is taken at the next tick after it.
  wire->Send("\r\nCONNECT 28800\r\n");
  page.RunFor(250);
  EXPECT_EQ(session->CurrentPhase(), CRegSessionDialog::PhaseLoginPrompt);
}

TEST_F(DialResultTest, TheSessionPhaseStillTakesOneLineATick) {
  dial_answer = "\r\nCONNECT 28800\r\n";
  carrier_on_dial = true;
  Start();
  page.RunFor(260);
  ASSERT_EQ(session->CurrentPhase(), CRegSessionDialog::PhaseLoginPrompt);
  wire->Send("user:");
  page.RunFor(10);
  ASSERT_EQ(session->CurrentPhase(), CRegSessionDialog::PhaseSession);
  // Three requests at once: one reply per 1 ms tick.
  wire->Send("\r\nREQUEST:\tCOMPORT\rREQUEST:\tCOMPORT\rREQUEST:\tCOMPORT\r");
  page.RunFor(50);
  ASSERT_EQ(ui.sent.size(), 3u);
  EXPECT_GT(ui.sent_at[1], ui.sent_at[0]);
  EXPECT_GT(ui.sent_at[2], ui.sent_at[1]);
}

}  // namespace
}  // namespace session
