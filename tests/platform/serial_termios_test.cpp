// Line settings -> termios2 image and back, as pure functions.
#include <gtest/gtest.h>

#include "../../platform/src/serial/serial_termios.h"

namespace platform::serial_detail {
namespace {

struct SpeedCase {
  std::uint32_t baud;
  unsigned cbaud;  // expected CBAUD bits
};

TEST(SerialTermios, SpeedsUseStandardConstantsOrBother) {
  const SpeedCase cases[] = {
      {1200, B1200}, {2400, B2400}, {9600, B9600},      {38400, B38400},
      {56000, BOTHER}, {57600, B57600}, {115200, B115200}, {128000, BOTHER},
      {256000, BOTHER}, {14400, BOTHER},
  };
  termios2 base{};
  for (const SpeedCase& c : cases) {
    LineSettings s;
    s.baud = c.baud;
    termios2 t = termios_for(s, base);
    EXPECT_EQ(t.c_cflag & CBAUD, c.cbaud) << c.baud;
    EXPECT_EQ(t.c_ospeed, c.baud);
    EXPECT_EQ(t.c_ispeed, c.baud);
    EXPECT_EQ(t.c_cflag & CIBAUD, 0u) << "input speed follows output";
    EXPECT_EQ(settings_from_termios(t).baud, c.baud);
  }
}

TEST(SerialTermios, FramingAndHandshakingRoundTrip) {
  const LineSettings cases[] = {
      {1200, 8, Parity::None, StopBits::One, false},  {9600, 7, Parity::Even, StopBits::One, false},
      {19200, 7, Parity::Odd, StopBits::Two, false},  {2400, 8, Parity::Mark, StopBits::One, true},
      {4800, 5, Parity::Space, StopBits::Two, true},  {56000, 6, Parity::None, StopBits::One, true},
  };
  termios2 base{};
  for (const LineSettings& s : cases) {
    EXPECT_EQ(settings_from_termios(termios_for(s, base)), s) << s.baud << " " << s.data_bits;
  }
}

TEST(SerialTermios, RawModeWithHangupVisibleAsEndOfFile) {
  termios2 base{};
  base.c_lflag = ECHO | ICANON | ISIG;
  base.c_iflag = ICRNL | IXON;
  base.c_oflag = OPOST;
  base.c_cflag = HUPCL;  // not ours to change
  termios2 t = termios_for(LineSettings{}, base);
  EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG), 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | IXON), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_TRUE(t.c_cflag & HUPCL);
  EXPECT_TRUE(t.c_cflag & CREAD);
  EXPECT_TRUE(t.c_cflag & CLOCAL);
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(t.c_cc[VTIME], 0);
}

}  // namespace
}  // namespace platform::serial_detail
