#include "session/imodem.h"

#include <gtest/gtest.h>

#include <string>

#include "fakes.h"
#include "platform/loop/clock.h"

namespace session {
namespace {

using namespace std::string_literals;
using testing::FakeModem;
using testing::FakePorts;
using testing::Line;

class IModemTest : public ::testing::Test {
 protected:
  platform::ScopedVirtualClock vclock;
  FakePorts ports;
  std::shared_ptr<Line> wire = std::make_shared<Line>();
  FakeModem modem{wire};

  void SetUp() override { ports.wires[2] = wire; }

  std::unique_ptr<iModem> Open(long speed = 57600) {
    auto m = std::make_unique<iModem>(2, speed, ports.Options());
    EXPECT_TRUE(m->IsOpen());
    return m;
  }
};

TEST_F(IModemTest, OpenSetsTheLineUpAndResetsTheModem) {
  platform::LineSettings found;
  found.parity = platform::Parity::Even;
  ASSERT_EQ(wire->near->set_settings(found), platform::SerialError::None);
  auto m = Open(57600);
  const platform::LineSettings s = wire->Settings();
  EXPECT_EQ(s.baud, 57600u);
  EXPECT_EQ(s.data_bits, 8);
  EXPECT_EQ(s.parity, platform::Parity::None);
  EXPECT_EQ(s.stop_bits, platform::StopBits::One);
  EXPECT_TRUE(s.rts_cts);
  EXPECT_TRUE(wire->HostRts());
  EXPECT_TRUE(wire->HostDtr());  // kept as found
  wire->Send("\r");  // the event character
  ASSERT_TRUE(wire->WaitEventsDelivered());
  EXPECT_NE(m->PendingEvents() & platform::kEventRxFlag, 0u);
  m->Read();
  m->Clear();
  EXPECT_EQ(wire->Wrote(), "\r\rAT&F\r");
  EXPECT_EQ(m->Count(), 0u);  // the OK of the reset is gone
  EXPECT_EQ(m->EventMask(), 0xFFFFu);
  EXPECT_EQ(m->Speed(), 57600u);
}

TEST_F(IModemTest, SpeedNotInTheTableRunsAt9600) {
  auto m = Open(33600);
  EXPECT_EQ(wire->Settings().baud, 9600u);
}

TEST_F(IModemTest, CloseRestoresTheLineDropsDtrAndStopsTheReader) {
  const platform::LineSettings found = wire->Settings();
  auto m = Open();
  EXPECT_EQ(m->Close(), 0u);
  EXPECT_FALSE(m->IsOpen());
  EXPECT_EQ(wire->SettingsAtHangUp(), found) << "restored before DTR drops";
  EXPECT_EQ(wire->Settings(), found);
  EXPECT_FALSE(wire->HostDtr());
  EXPECT_TRUE(wire->Released());
  EXPECT_EQ(m->WriteText("AT\r"), 0u);  // closed: nothing goes out
  EXPECT_EQ(m->Read(), 0u);
}

TEST_F(IModemTest, PortThatDoesNotOpenLeavesAClosedObject) {
  iModem m(5, 9600, ports.Options());
  EXPECT_FALSE(m.IsOpen());
  EXPECT_NE(m.ErrorCode(), 0u);
  EXPECT_TRUE(m.ErrorText().empty());
  EXPECT_EQ(m.WriteLine("AT"), 0u);
  iModem none(0, 9600, ports.Options());  // an empty COMPORT
  EXPECT_FALSE(none.IsOpen());
}

TEST_F(IModemTest, RefusedSettingsCloseThePort) {
  wire->RefuseSettings();
  iModem m(2, 9600, ports.Options());
  EXPECT_FALSE(m.IsOpen());
  EXPECT_EQ(m.ErrorCode(), static_cast<std::uint32_t>(EINVAL));
  EXPECT_TRUE(wire->Released());
}

TEST_F(IModemTest, LinesInLineMode) {
  auto m = Open();
  m->SetLineMode(true);
  wire->Send("CONNECT 28800\r\n");
  EXPECT_EQ(m->Poll(), EvLine);
  std::string line;
  m->ReadLine(line);
  EXPECT_EQ(line, "CONNECT 28800");
  m->ReadLine(line);
  EXPECT_EQ(line, "");  // the LF of the pair
  EXPECT_EQ(m->LineEnd(), -1);
  m->ReadLine(line);
  EXPECT_EQ(line, "");
}

TEST_F(IModemTest, PartialPromptInRawMode) {
  auto m = Open();
  m->SetLineMode(false);
  m->SetCarrier(true);
  wire->Send("user:");
  EXPECT_EQ(m->Poll(), EvRawData);
  EXPECT_EQ(m->LineEnd(), -1);
  EXPECT_EQ(m->Peek(100), "user:");
  EXPECT_EQ(m->Count(), 5u);
}

TEST_F(IModemTest, NothingNewFollowsTheCarrierBelief) {
  auto m = Open();
  m->SetLineMode(true);
  EXPECT_EQ(m->Poll(), EvCarrierLost);
  m->SetCarrier(true);
  EXPECT_EQ(m->Poll(), EvIdleConnected);
  wire->Send("partial");
  EXPECT_EQ(m->Poll(), EvIdleConnected);  // no line end yet
}

TEST_F(IModemTest, CarrierDropWinsOverBufferedData) {
  auto m = Open();
  m->SetLineMode(true);
  m->SetCarrier(true);
  wire->Send("REQUEST:\tUSERID\r");
  wire->SetCarrier(true);  // first a rise (already believed)...
  wire->SetCarrier(false);  // ...then the drop
  ASSERT_TRUE(wire->WaitEventsDelivered());
  ASSERT_NE(m->PendingEvents() & platform::kEventRlsd, 0u);
  EXPECT_EQ(m->Poll(), EvCarrierLost);
  EXPECT_FALSE(m->Carrier());
}

TEST_F(IModemTest, CarrierRiseWithNothingBufferedStillReportsLostForThatPoll) {
  auto m = Open();
  m->SetLineMode(true);
  wire->SetCarrier(true);
  ASSERT_TRUE(wire->WaitEventsDelivered());
  ASSERT_NE(m->PendingEvents() & platform::kEventRlsd, 0u);
  EXPECT_EQ(m->Poll(), EvCarrierLost);
  EXPECT_TRUE(m->Carrier());
  EXPECT_EQ(m->Poll(), EvIdleConnected);
}

TEST_F(IModemTest, LateRiseEventDoesNotDropABelievedCarrier) {
  // The session sets carrier on "CONNECT"; the rise event may be taken after.
  auto m = Open();
  m->SetLineMode(true);
  m->SetCarrier(true);
  wire->SetCarrier(true);
  ASSERT_TRUE(wire->WaitEventsDelivered());
  ASSERT_NE(m->PendingEvents() & platform::kEventRlsd, 0u);
  EXPECT_EQ(m->Poll(), EvIdleConnected);
}

TEST_F(IModemTest, NoCarrierLineIsTheCarrierChangeWithoutModemLines) {
  wire = std::make_shared<Line>(false);
  ports.wires[2] = wire;
  FakeModem pty_modem{wire};
  auto m = Open();
  m->SetLineMode(true);
  m->SetCarrier(true);
  wire->Send("REPLY\r\nNO CARRIER\r\n");
  EXPECT_EQ(m->Poll(), EvLine);
  std::string line;
  m->ReadLine(line);
  m->ReadLine(line);
  EXPECT_EQ(m->Poll(), EvCarrierLost);
  EXPECT_FALSE(m->Carrier());
  // Before CONNECT the same line is an ordinary modem answer.
  wire->Send("NO CARRIER\r");
  EXPECT_EQ(m->Poll(), EvLine);
}

TEST_F(IModemTest, PortThatVanishesIsCarrierLoss) {
  auto m = Open();
  m->SetLineMode(true);
  m->SetCarrier(true);
  wire->Unplug();
  EXPECT_EQ(m->Poll(), EvCarrierLost);  // the read fails, or the reader saw it go
  EXPECT_EQ(m->Poll(), EvCarrierLost);
  EXPECT_TRUE(m->PortLost());
  EXPECT_EQ(m->Close(), 0u);  // the reader has ended; close does not hang
}

TEST_F(IModemTest, FullBufferStopsReadingAndLosesNothing) {
  auto m = Open();
  m->SetLineMode(false);
  std::string flood(6000, 'x');
  wire->Send(flood);
  m->Read();
  m->Read();
  EXPECT_EQ(m->Count(), kReceiveBufferSize);
  EXPECT_EQ(m->Read(), 0u);
  m->Consume(100);
  EXPECT_EQ(m->Read(), 100u);
  m->Consume(6000);
  EXPECT_EQ(m->Count(), 0u);  // never below zero
  m->Read();
  EXPECT_EQ(m->Count(), 6000u - kReceiveBufferSize - 100);
}

TEST_F(IModemTest, OverlongLineIsDroppedWholeUpToItsEnd) {
  auto m = Open();
  m->SetLineMode(true);
  m->SetCarrier(true);
  std::string head = "REQUEST:\t" + std::string(kReceiveBufferSize, 'k');
  wire->Send(head + "\rSTATUS:\tnext\r");
  EXPECT_EQ(m->Poll(), EvLine);  // full without a line end
  std::string line = "stale";
  m->ReadLine(line);
  EXPECT_EQ(line, "");  // no part of it is handed out as a line
  EXPECT_EQ(m->Poll(), EvLine);
  m->ReadLine(line);
  EXPECT_EQ(line, "STATUS:\tnext");  // the next line is intact
}

TEST_F(IModemTest, NulBytesAreKept) {
  auto m = Open();
  m->SetLineMode(true);
  wire->Send("A\0B\r"s);
  EXPECT_EQ(m->Poll(), EvLine);
  std::string line;
  m->ReadLine(line);
  EXPECT_EQ(line, "A\0B"s);
}

TEST_F(IModemTest, WaitForFindsOkAtTheEndAndTimesOutInVirtualTime) {
  auto m = Open();
  std::int64_t t0 = platform::clock().now_ms();
  EXPECT_EQ(m->WaitFor("OK", 1000), 0u);
  EXPECT_GE(platform::clock().now_ms() - t0, 1000);
  EXPECT_LT(platform::clock().now_ms() - t0, 1010);
  modem.After(300, [] {});
  wire->Send("\r\nxxOK");
  EXPECT_EQ(m->WaitFor("OK", 1000), 5u);
}

TEST_F(IModemTest, SilentModemCostsTheResetWaitOnly) {
  modem.silent = true;
  std::int64_t t0 = platform::clock().now_ms();
  auto m = Open();
  std::int64_t spent = platform::clock().now_ms() - t0;
  EXPECT_GE(spent, 1000);
  EXPECT_LT(spent, 1100);
  EXPECT_TRUE(m->IsOpen());
}

TEST_F(IModemTest, ProbeStopsAtTheFirstPortAndSpeedThatAnswer) {
  auto silent_wire = std::make_shared<Line>();
  FakeModem silent(silent_wire);
  silent.silent = true;
  ports.wires[1] = silent_wire;
  auto late_wire = std::make_shared<Line>();
  ports.wires[3] = late_wire;
  FakeModem late(late_wire);
  bool silent_released_first = false;
  wire->peer = [&](const std::string& bytes) {
    if (wire->Wrote() == bytes) silent_released_first = silent_wire->Released();  // COM2's first bytes
    modem.OnHostBytes(bytes);
  };
  iModem m(ports.Options());
  std::vector<std::string> port_texts, speed_texts;
  ASSERT_TRUE(m.Probe([&](std::string_view t) { port_texts.emplace_back(t); },
                      [&](std::string_view t) { speed_texts.emplace_back(t); }));
  EXPECT_EQ(m.Port(), 2);
  EXPECT_EQ(m.Speed(), 256000u);
  EXPECT_EQ(ports.asked, (std::vector<int>{1, 2}));  // COM3 never opened
  EXPECT_EQ(port_texts, (std::vector<std::string>{"COM1", "COM2"}));
  EXPECT_EQ(speed_texts.size(), 14u);  // 13 on COM1, the first on COM2
  EXPECT_EQ(speed_texts.front(), "Trying 256000 bps");
  EXPECT_TRUE(silent_released_first);  // closed before the next port
  EXPECT_NE(wire->Wrote().find(std::string(iModem::kProbeInit)), std::string::npos);
  EXPECT_EQ(m.EventMask(), 0xFFFFu);
}

TEST_F(IModemTest, ProbeWithoutAnyModem) {
  ports.wires.clear();
  iModem m(ports.Options());
  EXPECT_FALSE(m.Probe());
  EXPECT_EQ(ports.asked.size(), 9u);
}

TEST_F(IModemTest, LineModeKeepsTheOtherEventBits) {
  auto m = Open();
  m->SetLineMode(true);
  EXPECT_EQ(m->EventMask(), 0xFFFFu & ~platform::kEventRxChar);
  m->SetLineMode(false);
  EXPECT_EQ(m->EventMask(), 0xFFFFu & ~platform::kEventRxFlag);
  wire->Send("x\r");  // the port reports bytes, and no longer the event character
  ASSERT_TRUE(wire->WaitEventsDelivered());
  EXPECT_EQ(m->PendingEvents() & (platform::kEventRxChar | platform::kEventRxFlag), platform::kEventRxChar);
}

}  // namespace
}  // namespace session
