// Pure conversions between LineSettings and the kernel's termios2 image.
// Uses the kernel's own structure (BOTHER speeds); never include <termios.h>
// beside this header, its struct termios clashes with the kernel's.
#pragma once

#include <asm/termbits.h>

#include <cstdint>

#include "platform/serial/serial_port.h"

namespace platform::serial_detail {

// Raw line (no echo, no line editing, no signals, no translation, reads
// return at once) with the speed, framing and handshaking of `s`, built on
// `base` so that flags we do not own are kept.
termios2 termios_for(const LineSettings& s, const termios2& base);
// The settings that `t` describes.
LineSettings settings_from_termios(const termios2& t);
// Bxxx constant for `baud`, or 0 when the rate needs BOTHER.
unsigned standard_speed_constant(std::uint32_t baud);

}  // namespace platform::serial_detail
