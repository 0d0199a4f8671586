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
  EXPECT_EQ(SerlinkSetEventHandler(nullptr, 5), SERLINK_OK) << "a null handler leaves the slot empty";
  EXPECT_EQ(SerlinkSetEventHandler(count_calls, 7), SERLINK_OK);
  EXPECT_EQ(SerlinkSetEventHandler(other_handler, 8), SERLINK_E_HANDLER_SET);
  EXPECT_EQ(SerlinkSetEventHandler(nullptr, 8), SERLINK_E_HANDLER_ARG);
  g_handler_calls = 0;
  serlink::library_wait(20);
  EXPECT_GE(g_handler_calls, 4) << "the first handler stays and runs every 5 ms";
  EXPECT_EQ(SerlinkSetEventHandler(nullptr, 7), SERLINK_OK);
  EXPECT_EQ(SerlinkSetEventHandler(other_handler, 8), SERLINK_OK);
  EXPECT_EQ(SerlinkTermination(1), SERLINK_OK);
  EXPECT_EQ(SerlinkSetEventHandler(count_calls, 1), SERLINK_OK) << "termination emptied the slot";
}

TEST_F(FrameTest, WaitOfZeroReturnsAtOnceAndWaitsFollowTheClock) {
  ASSERT_EQ(SerlinkSetEventHandler(count_calls, 1), SERLINK_OK);
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
  EXPECT_EQ(open_port(4), SERLINK_E_NO_PORT);
  EXPECT_EQ(open_port(-1), SERLINK_E_NO_PORT);
  ASSERT_EQ(open_port(0), SERLINK_OK);
  EXPECT_EQ(open_port(1), SERLINK_E_ALREADY_OPEN);
  SerialChannelMetrics m{};
  m.channel = 0;
  ASSERT_EQ(SerialChannelGetMetrics(&m), SERLINK_OK);
  EXPECT_EQ(m.speed, 1);
  EXPECT_EQ(m.data_bits, 8);
  m.channel = 1;
  EXPECT_EQ(SerialChannelGetMetrics(&m), SERLINK_E_NO_PORT) << "not the open port";
  std::int32_t id = 4;
  EXPECT_EQ(SerialChannelClose(&id), SERLINK_E_NO_PORT);
  id = 0;
  EXPECT_EQ(SerialChannelClose(&id), SERLINK_OK);
  EXPECT_EQ(SerialChannelClose(&id), SERLINK_OK) << "closing nothing is fine";
  EXPECT_EQ(SerialChannelGetMetrics(&m), SERLINK_E_NOT_OPEN);
}

TEST_F(ChannelTest, MissingAndBusyPortsMapToTheirCodes) {
  EXPECT_EQ(open_port(0), SERLINK_E_NO_PORT) << "dosdevices link to nothing";
  FakeModem com2(2);
  platform::SerialError e{};
  auto other = platform::open_serial_port("COM2", {}, e);  // another user holds it
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(open_port(1), SERLINK_E_PORT_IN_USE);
  other->close();
  EXPECT_EQ(open_port(1), SERLINK_OK);
  EXPECT_EQ(serlink::map_error(platform::SerialError::Busy), SERLINK_E_ALREADY_OPEN) << "in use while our channel is open";
  struct Case {
    platform::SerialError error;
    std::int32_t code;
  };
  const Case table[] = {
      {platform::SerialError::None, 0},          {platform::SerialError::OperationAborted, 0},
      {platform::SerialError::FileNotFound, SERLINK_E_NO_PORT}, {platform::SerialError::BadUnit, SERLINK_E_NO_PORT},
      {platform::SerialError::NotEnoughMemory, SERLINK_E_NO_MEMORY}, {platform::SerialError::InvalidHandle, SERLINK_E_PARAM},
      {platform::SerialError::InvalidParameter, SERLINK_E_PARAM}, {platform::SerialError::DeviceNotConnected, SERLINK_E_SYSTEM},
      {platform::SerialError::GenFailure, SERLINK_E_SYSTEM},
  };
  for (const Case& c : table) EXPECT_EQ(serlink::map_error(c.error), c.code) << static_cast<int>(c.error);
}

TEST_F(ChannelTest, SpeedCodesProgramTheLine) {
  FakeModem com1(1);
  ASSERT_EQ(open_port(0), SERLINK_OK);
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
    ASSERT_EQ(SerialChannelSetMetrics(&m), SERLINK_OK);
    platform::LineSettings s;
    com1.cable().end(0)->get_settings(s);
    EXPECT_EQ(s.baud, c.baud) << "speed code " << c.code;
    EXPECT_FALSE(s.rts_cts);
  }
  SerialChannelMetrics m{0, 5, 8, 0, 0, SERLINK_FLOW_HARDWARE};
  ASSERT_EQ(SerialChannelSetMetrics(&m), SERLINK_OK);
  platform::LineSettings s;
  com1.cable().end(0)->get_settings(s);
  EXPECT_TRUE(s.rts_cts) << "SERLINK_FLOW_HARDWARE carries SERLINK_FLOW_RTS_CTS";
  m.data_bits = 9;
  EXPECT_EQ(SerialChannelSetMetrics(&m), SERLINK_E_PARAM);
}

TEST_F(ChannelTest, ReadMoreThanHeldReturnsIncomplete) {
  FakeModem com1(1, true);
  ASSERT_EQ(open_port(0), SERLINK_OK);
  com1.send("hello");
  char buf[16];
  SerialTransfer t{0, buf, 10, 99};
  EXPECT_EQ(SerialChannelRead(&t), 1);
  EXPECT_EQ(t.done, 5);
  EXPECT_EQ(std::string(buf, 5), "hello");
  EXPECT_EQ(SerialChannelRead(&t), 1);
  EXPECT_EQ(t.done, 0);
  SerialTransfer none{0, nullptr, 0, 0};
  EXPECT_EQ(SerialChannelRead(&none), SERLINK_OK);
}

TEST_F(ChannelTest, WriteKeepsWhatTheDeviceRefusedForTheNextWrite) {
  FakeModem com1(1, true);
  com1.cable().set_listener(1, nullptr);  // the far side does not read
  ASSERT_EQ(open_port(0, 128, 4096), SERLINK_OK);
  std::string block(64 * 1024, 'x');
  std::size_t done = 0;
  // Fill the far side's queue so the next write cannot go.
  com1.cable().end(0)->write(block.data(), block.size(), done, 0);
  SerialTransfer t{0, const_cast<char*>("ATZ\r"), 4, 0};
  EXPECT_EQ(SerialChannelWrite(&t), SERLINK_OK) << "the bytes were accepted into the output buffer";
  char sink[70000];
  std::size_t got = 0;
  com1.cable().end(1)->read(sink, sizeof sink, got);
  EXPECT_EQ(got, block.size());
  SerialTransfer more{0, const_cast<char*>("AT\r"), 3, 0};
  EXPECT_EQ(SerialChannelWrite(&more), SERLINK_OK);
  com1.cable().end(1)->read(sink, sizeof sink, got);
  EXPECT_EQ(std::string(sink, got), "ATZ\rAT\r") << "pending bytes go first, nothing lost";
}

TEST_F(ChannelTest, OutputBufferSmallerThanTheWriteIsIncomplete) {
  FakeModem com1(1, true);
  ASSERT_EQ(open_port(0, 128, 4), SERLINK_OK);
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
  ASSERT_EQ(open_port(0), SERLINK_OK);
  SerialDataReadySpec request{0, 0, 100, collect};
  EXPECT_EQ(SerialChannelDataReadySpec(&request), SERLINK_E_PARAM);
  g_delivered.clear();
  g_consume = 2;
  request.threshold = 10;
  request.interval_ms = 1000;
  ASSERT_EQ(SerialChannelDataReadySpec(&request), SERLINK_OK);
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
  EXPECT_EQ(SerialChannelDataReadySpec(&request), SERLINK_OK);
}

TEST_F(ChannelTest, ThresholdAboveTheLimitIsLowered) {
  FakeModem com1(1, true);
  ASSERT_EQ(open_port(0), SERLINK_OK);
  g_delivered.clear();
  g_consume = 4096;
  com1.send(std::string(3000, 'z'));
  ASSERT_EQ(SetupCallback(collect, 60000, 5000), SERLINK_OK);
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
  ASSERT_EQ(open_port(2), SERLINK_OK);
  EXPECT_EQ(SioSetPrivilegedMode(1), 1);
  SerialChannelMetrics m{2, 0, 0, 0, 0, 0};
  EXPECT_EQ(SerialChannelGetMetrics(&m), SERLINK_E_PRIVILEGED);
  m.channel = static_cast<std::int32_t>(0x80820002u);
  EXPECT_EQ(SerialChannelGetMetrics(&m), SERLINK_OK);
  EXPECT_EQ(m.channel, 2);
  EXPECT_EQ(SioWrite("x", 1), SERLINK_E_PRIVILEGED);
  EXPECT_EQ(SetupCallback(collect, 10, 10), SERLINK_E_PRIVILEGED);
  SerialPortName name{};
  name.port = 2;
  EXPECT_EQ(SerialChannelGetPort(&name), SERLINK_OK) << "ignores privileged mode";
  EXPECT_STREQ(name.name, "COM3:");
  EXPECT_EQ(SioSetPrivilegedMode(0), 0);
  EXPECT_EQ(SioWrite("x", 1), 1);
}

TEST_F(ChannelTest, AdoptedHandleStaysOpenAfterRelease) {
  platform::VirtualNullModem cable;
  std::int32_t handle = platform::register_serial_handle(cable.end(0));
  SerialAdoptRequest bad{4, handle, {}};
  EXPECT_EQ(SioEnableAsync(&bad), SERLINK_E_NO_PORT);
  SerialAdoptRequest unknown{0, 999999, {}};
  EXPECT_EQ(SioEnableAsync(&unknown), SERLINK_E_PARAM);
  SerialAdoptRequest r{1, handle, {1, 5, 8, 0, 0, 0}};
  ASSERT_EQ(SioEnableAsync(&r), SERLINK_OK);
  EXPECT_EQ(SioEnableAsync(&r), SERLINK_E_ALREADY_OPEN);
  SerialChannelMetrics m{1, 0, 0, 0, 0, 0};
  ASSERT_EQ(SerialChannelGetMetrics(&m), SERLINK_OK);
  EXPECT_EQ(m.speed, 5);
  EXPECT_EQ(SioWrite("hi", 2), 2);
  EXPECT_EQ(SioDisableAsync(), SERLINK_OK);
  EXPECT_EQ(SerialChannelGetMetrics(&m), SERLINK_E_NOT_OPEN);
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
  ASSERT_EQ(open_port(0), SERLINK_OK);
  EXPECT_EQ(SioTermination(0), SERLINK_OK);
  EXPECT_FALSE(serlink::channel_open());
  EXPECT_EQ(open_port(0), SERLINK_E_NO_PORT);
  SerialPortName name{};
  EXPECT_EQ(SerialChannelGetPort(&name), SERLINK_E_NO_PORT);
  EXPECT_EQ(SioInitialization(0), SERLINK_OK);
  EXPECT_EQ(open_port(0), SERLINK_OK);
}

TEST_F(ChannelTest, FlushEmptiesBothBuffers) {
  FakeModem com1(1, true);
  ASSERT_EQ(open_port(0), SERLINK_OK);
  com1.send("stale");
  char buf[8];
  SerialTransfer t{0, buf, 1, 0};
  SerialChannelRead(&t);
  SerialFlushRequest f{0, 1, 1};
  EXPECT_EQ(SerialChannelFlush(&f), SERLINK_OK);
  EXPECT_EQ(SerialChannelRead(&t), 1);
  EXPECT_EQ(t.done, 0);
  std::int32_t id = 0;
  SerialChannelClose(&id);
  EXPECT_EQ(SerialChannelFlush(&f), SERLINK_E_NOT_OPEN);
  EXPECT_EQ(SioSetDTR(0, 1), SERLINK_E_NOT_OPEN);
}

}  // namespace
}  // namespace serlink_test
