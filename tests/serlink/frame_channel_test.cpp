// Frame (event handler, waits, version) and serial channel.
#include <cstring>

#include "fixture.h"

namespace serlink_test {
namespace {

int g_handler_calls = 0;
void count_calls(int32_t) { ++g_handler_calls; }
void other_handler(int32_t) {}

using FrameTest = SerlinkTest;
using ChannelTest = SerlinkTest;

TEST_F(FrameTest, OneOwnerOfTheEventHandlerSlot) {
  EXPECT_EQ(SerlinkSetEventHandler(nullptr, 5), 0) << "a null handler leaves the slot empty";
  EXPECT_EQ(SerlinkSetEventHandler(count_calls, 7), 0);
  EXPECT_EQ(SerlinkSetEventHandler(other_handler, 8), -60);
  EXPECT_EQ(SerlinkSetEventHandler(nullptr, 8), -61);
  g_handler_calls = 0;
  serlink::library_wait(20);
  EXPECT_GE(g_handler_calls, 4) << "the first handler stays and runs every 5 ms";
  EXPECT_EQ(SerlinkSetEventHandler(nullptr, 7), 0);
  EXPECT_EQ(SerlinkSetEventHandler(other_handler, 8), 0);
  EXPECT_EQ(SerlinkTermination(1), 0);
  EXPECT_EQ(SerlinkSetEventHandler(count_calls, 1), 0) << "termination emptied the slot";
}

TEST_F(FrameTest, WaitOfZeroReturnsAtOnceAndWaitsFollowTheClock) {
  ASSERT_EQ(SerlinkSetEventHandler(count_calls, 1), 0);
  g_handler_calls = 0;
  const std::int64_t start = platform::clock().now_ms();
  serlink::library_wait(0);
  EXPECT_EQ(g_handler_calls, 0);
  EXPECT_EQ(platform::clock().now_ms(), start);
  serlink::library_wait(1000);
  EXPECT_GE(platform::clock().now_ms() - start, 1000);
  EXPECT_LE(platform::clock().now_ms() - start, 1005);
  EXPECT_EQ(g_handler_calls, 200);
}

TEST_F(FrameTest, VersionIsOneConstantText) {
  const void* first = SerlinkVersion();
  EXPECT_STREQ(SerlinkVersion(), "SERLINK.DLL - Version: R007.000.000.002");
  // One constant: the same pointer on every call, not a fresh copy of it.
  EXPECT_EQ(static_cast<const void*>(SerlinkVersion()), first);
}

TEST_F(ChannelTest, OpenChecksIndexAndKeepsTheFirstChannel) {
  FakeModem com1(1), com2(2);
  EXPECT_EQ(open_port(4), -2);
  EXPECT_EQ(open_port(-1), -2);
  ASSERT_EQ(open_port(0), 0);
  EXPECT_EQ(open_port(1), -5);
  SerialChannelMetrics m{};
  m.channel = 0;
  ASSERT_EQ(SerialChannelGetMetrics(&m), 0);
  EXPECT_EQ(m.speed, 1);
  EXPECT_EQ(m.data_bits, 8);
  m.channel = 1;
  EXPECT_EQ(SerialChannelGetMetrics(&m), -2) << "not the open port";
  std::int32_t id = 4;
  EXPECT_EQ(SerialChannelClose(&id), -2);
  id = 0;
  EXPECT_EQ(SerialChannelClose(&id), 0);
  EXPECT_EQ(SerialChannelClose(&id), 0) << "closing nothing is fine";
  EXPECT_EQ(SerialChannelGetMetrics(&m), -6);
}

TEST_F(ChannelTest, MissingAndBusyPortsMapToTheirCodes) {
  EXPECT_EQ(open_port(0), -2) << "dosdevices link to nothing";
  FakeModem com2(2);
  platform::SerialError e{};
  auto other = platform::open_serial_port("COM2", {}, e);  // another user holds it
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(open_port(1), -4);
  other->close();
  EXPECT_EQ(open_port(1), 0);
  EXPECT_EQ(serlink::map_error(platform::SerialError::Busy), -5) << "in use while our channel is open";
  struct Case {
    platform::SerialError error;
    std::int32_t code;
  };
  const Case table[] = {
      {platform::SerialError::None, 0},          {platform::SerialError::OperationAborted, 0},
      {platform::SerialError::FileNotFound, -2}, {platform::SerialError::BadUnit, -2},
      {platform::SerialError::NotEnoughMemory, -7}, {platform::SerialError::InvalidHandle, -9},
      {platform::SerialError::InvalidParameter, -9}, {platform::SerialError::DeviceNotConnected, -1},
      {platform::SerialError::GenFailure, -1},
  };
  for (const Case& c : table) EXPECT_EQ(serlink::map_error(c.error), c.code) << static_cast<int>(c.error);
}

TEST_F(ChannelTest, SpeedCodesProgramTheLine) {
  FakeModem com1(1);
  ASSERT_EQ(open_port(0), 0);
  struct Case {
    std::int32_t code;
    std::uint32_t baud;
  };
  const Case table[] = {{0, 1200},     {1, 1200},     {-3, 1200},    {2, 2400},      {3, 4800},
                        {4, 4800},     {5, 9600},     {6, 14400},    {7, 19200},     {8, 38400},
                        {9, 56000},    {10, 115200},  {11, 128000},  {12, 256000},   {13, 38400},
                        {14, 1200}};
  for (const Case& c : table) {
    SerialChannelMetrics m{0, c.code, 8, 0, 0, 0};
    ASSERT_EQ(SerialChannelSetMetrics(&m), 0);
    platform::LineSettings s;
    com1.cable().end(0)->get_settings(s);
    EXPECT_EQ(s.baud, c.baud) << "speed code " << c.code;
    EXPECT_FALSE(s.rts_cts);
  }
  SerialChannelMetrics m{0, 5, 8, 0, 0, 12};
  ASSERT_EQ(SerialChannelSetMetrics(&m), 0);
  platform::LineSettings s;
  com1.cable().end(0)->get_settings(s);
  EXPECT_TRUE(s.rts_cts) << "flow value 12 carries bit 4: RTS/CTS";
  m.data_bits = 9;
  EXPECT_EQ(SerialChannelSetMetrics(&m), -9);
}

TEST_F(ChannelTest, ReadMoreThanHeldReturnsIncomplete) {
  FakeModem com1(1, true);
  ASSERT_EQ(open_port(0), 0);
  com1.send("hello");
  char buf[16];
  SerialTransfer t{0, buf, 10, 99};
  EXPECT_EQ(SerialChannelRead(&t), 1);
  EXPECT_EQ(t.done, 5);
  EXPECT_EQ(std::string(buf, 5), "hello");
  EXPECT_EQ(SerialChannelRead(&t), 1);
  EXPECT_EQ(t.done, 0);
  SerialTransfer none{0, nullptr, 0, 0};
  EXPECT_EQ(SerialChannelRead(&none), 0);
}

TEST_F(ChannelTest, WriteKeepsWhatTheDeviceRefusedForTheNextWrite) {
  FakeModem com1(1, true);
  com1.cable().set_listener(1, nullptr);  // the far side does not read
  ASSERT_EQ(open_port(0, 128, 4096), 0);
  std::string block(64 * 1024, 'x');
  std::size_t done = 0;
  // Fill the far side's queue so the next write cannot go.
  com1.cable().end(0)->write(block.data(), block.size(), done, 0);
  SerialTransfer t{0, const_cast<char*>("ATZ\r"), 4, 0};
  EXPECT_EQ(SerialChannelWrite(&t), 0) << "the bytes were accepted into the output buffer";
  char sink[70000];
  std::size_t got = 0;
  com1.cable().end(1)->read(sink, sizeof sink, got);
  EXPECT_EQ(got, block.size());
  SerialTransfer more{0, const_cast<char*>("AT\r"), 3, 0};
  EXPECT_EQ(SerialChannelWrite(&more), 0);
  com1.cable().end(1)->read(sink, sizeof sink, got);
  EXPECT_EQ(std::string(sink, got), "ATZ\rAT\r") << "pending bytes go first, nothing lost";
}

TEST_F(ChannelTest, OutputBufferSmallerThanTheWriteIsIncomplete) {
  FakeModem com1(1, true);
  ASSERT_EQ(open_port(0, 128, 4), 0);
  SerialTransfer t{0, const_cast<char*>("ABCDEFGH"), 8, 0};
  EXPECT_EQ(SerialChannelWrite(&t), 1);
  EXPECT_EQ(t.done, 4);
  EXPECT_EQ(SioWrite("xy", 2), 2);
  EXPECT_EQ(SioWriteByte(0x141), 1);
  EXPECT_EQ(com1.raw, "ABCDxyA");
}

std::vector<std::string> g_delivered;
std::int32_t g_consume = 0;
std::int32_t collect(const char* data, std::int32_t count) {
  g_delivered.emplace_back(data, static_cast<std::size_t>(count));
  // Pumping from inside the callback must not run the poll again.
  platform::MessageLoop::current().pump_pending();
  return g_consume;
}

TEST_F(ChannelTest, DataReadyPollingDeliversAtThresholdOrAfterTheInterval) {
  FakeModem com1(1, true);
  ASSERT_EQ(open_port(0), 0);
  SerialDataReadySpec request{0, 0, 100, collect};
  EXPECT_EQ(SerialChannelDataReadySpec(&request), -9);
  g_delivered.clear();
  g_consume = 2;
  request.threshold = 10;
  request.interval_ms = 1000;
  ASSERT_EQ(SerialChannelDataReadySpec(&request), 0);
  auto& loop = platform::MessageLoop::current();
  const std::int64_t start = platform::clock().now_ms();
  com1.send("abc");
  platform::ModalState until;
  std::int64_t seen_at = 0;
  auto stopper = loop.set_thread_timer(50, [&](platform::TimerId) {
    if (!g_delivered.empty() && !seen_at) {
      seen_at = platform::clock().now_ms();
      loop.end_modal(until, 0);
    }
    if (platform::clock().now_ms() - start > 5000) loop.end_modal(until, 1);
  });
  ASSERT_EQ(loop.run_modal(until), 0);
  ASSERT_EQ(g_delivered.size(), 1u);
  EXPECT_EQ(g_delivered[0], "abc");
  EXPECT_GE(seen_at - start, 1000) << "three bytes wait for the interval after the first";
  EXPECT_LE(seen_at - start, 1000 + 300 + 500 + 50);

  // Two bytes were consumed; with the threshold met the rest comes at once.
  g_consume = 0;
  g_delivered.clear();
  seen_at = 0;
  com1.send("defghijklmn");
  until = {};
  const std::int64_t second = platform::clock().now_ms();
  ASSERT_EQ(loop.run_modal(until), 0);
  ASSERT_FALSE(g_delivered.empty());
  EXPECT_EQ(g_delivered[0], "cdefghijklmn");
  EXPECT_LE(seen_at - second, 600);
  loop.kill_thread_timer(stopper);
  request.callback = nullptr;
  EXPECT_EQ(SerialChannelDataReadySpec(&request), 0);
}

TEST_F(ChannelTest, ThresholdAboveTheLimitIsLowered) {
  FakeModem com1(1, true);
  ASSERT_EQ(open_port(0), 0);
  g_delivered.clear();
  g_consume = 4096;
  com1.send(std::string(3000, 'z'));
  ASSERT_EQ(SetupCallback(collect, 60000, 5000), 0);
  auto& loop = platform::MessageLoop::current();
  platform::ModalState until;
  const std::int64_t start = platform::clock().now_ms();
  auto stopper = loop.set_thread_timer(10, [&](platform::TimerId) {
    if (!g_delivered.empty() || platform::clock().now_ms() - start > 70000) loop.end_modal(until, 0);
  });
  loop.run_modal(until);
  loop.kill_thread_timer(stopper);
  ASSERT_FALSE(g_delivered.empty());
  EXPECT_EQ(g_delivered[0].size(), 2048u) << "the input buffer holds 2048";
  EXPECT_LE(platform::clock().now_ms() - start, 400) << "threshold 2048 met at the first poll";
}

TEST_F(ChannelTest, PrivilegedModeAcceptsOnlyTaggedIds) {
  FakeModem com3(3, true);
  ASSERT_EQ(open_port(2), 0);
  EXPECT_EQ(SioSetPrivilegedMode(1), 1);
  SerialChannelMetrics m{2, 0, 0, 0, 0, 0};
  EXPECT_EQ(SerialChannelGetMetrics(&m), -10);
  m.channel = static_cast<std::int32_t>(0x80820002u);
  EXPECT_EQ(SerialChannelGetMetrics(&m), 0);
  EXPECT_EQ(m.channel, 2);
  EXPECT_EQ(SioWrite("x", 1), -10);
  EXPECT_EQ(SetupCallback(collect, 10, 10), -10);
  SerialPortName name{};
  name.port = 2;
  EXPECT_EQ(SerialChannelGetPort(&name), 0) << "ignores privileged mode";
  EXPECT_STREQ(name.name, "COM3:");
  EXPECT_EQ(SioSetPrivilegedMode(0), 0);
  EXPECT_EQ(SioWrite("x", 1), 1);
}

TEST_F(ChannelTest, AdoptedHandleStaysOpenAfterRelease) {
  platform::VirtualNullModem cable;
  std::int32_t handle = platform::register_serial_handle(cable.end(0));
  SerialAdoptRequest bad{4, handle, {}};
  EXPECT_EQ(SioEnableAsync(&bad), -2);
  SerialAdoptRequest unknown{0, 999999, {}};
  EXPECT_EQ(SioEnableAsync(&unknown), -9);
  SerialAdoptRequest r{1, handle, {1, 5, 8, 0, 0, 0}};
  ASSERT_EQ(SioEnableAsync(&r), 0);
  EXPECT_EQ(SioEnableAsync(&r), -5);
  SerialChannelMetrics m{1, 0, 0, 0, 0, 0};
  ASSERT_EQ(SerialChannelGetMetrics(&m), 0);
  EXPECT_EQ(m.speed, 5);
  EXPECT_EQ(SioWrite("hi", 2), 2);
  EXPECT_EQ(SioDisableAsync(), 0);
  EXPECT_EQ(SerialChannelGetMetrics(&m), -6);
  std::size_t done = 0;
  EXPECT_EQ(cable.end(0)->write("x", 1, done, 0), platform::SerialError::None) << "still usable by its owner";
  char buf[4];
  std::size_t got = 0;
  cable.end(1)->read(buf, sizeof buf, got);
  EXPECT_EQ(std::string(buf, got), "hix");
  platform::release_serial_handle(handle);
}

TEST_F(ChannelTest, TerminationEmptiesThePortTable) {
  FakeModem com1(1, true);
  ASSERT_EQ(open_port(0), 0);
  EXPECT_EQ(SioTermination(0), 0);
  EXPECT_FALSE(serlink::channel_open());
  EXPECT_EQ(open_port(0), -2);
  SerialPortName name{};
  EXPECT_EQ(SerialChannelGetPort(&name), -2);
  EXPECT_EQ(SioInitialization(0), 0);
  EXPECT_EQ(open_port(0), 0);
}

TEST_F(ChannelTest, FlushEmptiesBothBuffers) {
  FakeModem com1(1, true);
  ASSERT_EQ(open_port(0), 0);
  com1.send("stale");
  char buf[8];
  SerialTransfer t{0, buf, 1, 0};
  SerialChannelRead(&t);
  SerialFlushRequest f{0, 1, 1};
  EXPECT_EQ(SerialChannelFlush(&f), 0);
  EXPECT_EQ(SerialChannelRead(&t), 1);
  EXPECT_EQ(t.done, 0);
  std::int32_t id = 0;
  SerialChannelClose(&id);
  EXPECT_EQ(SerialChannelFlush(&f), -6);
  EXPECT_EQ(SioSetDTR(0, 1), -6);
}

}  // namespace
}  // namespace serlink_test
