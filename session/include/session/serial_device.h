// SerialDevice: the seam between the wizard's serial port object (iModem)
// and a real device.
//
// iModem never touches a tty itself: it drives one SerialDevice, opened by a
// PortOpener for a COM port number. The platform's serial port is adapted to
// this interface (platform_port.h); tests use an in-process fake.
//
// Rules:
//  - Read never blocks: it returns what is queued now, 0 when nothing is.
//  - WaitEvent blocks the reader thread until an event of the mask happens,
//    Interrupt() is called from another thread, or the device goes away.
//    Interrupt() is the only call that may run while WaitEvent blocks.
//  - Error codes are errno values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace session {

// Serial event bits, with the values the Windows comm API gave them.
enum : std::uint32_t {
  EV_RXCHAR = 0x0001,   // a byte arrived
  EV_RXFLAG = 0x0002,   // the event character (CR) arrived
  EV_TXEMPTY = 0x0004,
  EV_CTS = 0x0008,
  EV_DSR = 0x0010,
  EV_RLSD = 0x0020,     // carrier detect changed
  EV_BREAK = 0x0040,
  EV_ERR = 0x0080,
  EV_RING = 0x0100,
};

enum class Parity { None, Odd, Even, Mark, Space };

// The line settings iModem reads, changes and restores (the DCB of old).
struct LineSettings {
  std::uint32_t baud = 9600;
  int byte_size = 8;
  Parity parity = Parity::None;
  int stop_bits = 1;
  bool cts_flow = false;     // output waits for CTS
  bool rts_enable = true;    // RTS held on (never handshake)
  bool dtr_enable = true;    // DTR held on
  char event_char = '\0';    // the byte that raises EV_RXFLAG
  bool operator==(const LineSettings&) const = default;
};

enum class WaitResult { Events, Interrupted, Gone };

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;
  virtual bool GetSettings(LineSettings& out) = 0;
  virtual bool SetSettings(const LineSettings& settings) = 0;
  // Bytes read, 0 when nothing is queued, -1 on error (LastError()).
  virtual long Read(char* buffer, std::size_t length) = 0;
  // Bytes written, -1 on error (LastError()).
  virtual long Write(const char* data, std::size_t length) = 0;
  virtual void SetEventMask(std::uint32_t mask) = 0;
  // Blocks until events of the mask occur (their bits in `events`).
  virtual WaitResult WaitEvent(std::uint32_t& events) = 0;
  // Makes a blocked WaitEvent return Interrupted; later waits too.
  virtual void Interrupt() = 0;
  virtual bool SetDtr(bool on) = 0;
  // False for devices without modem-status lines (pseudo-terminals).
  virtual bool HasModemLines() const = 0;
  // The carrier-detect line; false when the device cannot tell.
  virtual bool CarrierDetect(bool& dcd) = 0;
  virtual int LastError() const = 0;
  // Closes the device; 0 or an errno value.
  virtual int Close() = 0;
};

// Opens COM port `port` (1..9); on failure returns null and sets `error`.
using PortOpener = std::function<std::unique_ptr<SerialDevice>(int port, int& error)>;

// True for read and write errors that mean the device is gone for good.
bool IsPortGoneError(int error);

}  // namespace session
