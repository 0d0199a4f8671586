// iModem: the wizard's serial port object for the registration call.
//
// It opens a COM port (a platform::SerialPort) through a PortOpener, sets
// the line up, resets the modem, and collects received bytes in one flat
// buffer of at most kReceiveBufferSize bytes, which the session polls from
// its window timer.
// A reader thread only waits for serial events and ORs their bits into
// pendingEvents under a lock; all reading, writing and parsing happen on the
// caller's thread.
//
// Rules:
//  - One object per call. Close() interrupts the reader thread's wait (never
//    forced termination), joins it, restores the line and drops DTR.
//  - Reads never block. WaitFor and Drain wait in steps of a few
//    milliseconds on platform::clock(), so tests run them in virtual time.
//  - A full buffer stops reading and discards nothing. In line mode a full
//    buffer without a line end is an overlong line: ReadLine drops it, hands
//    out an empty line (logged), and the rest of it, up to its line end, is
//    dropped as it arrives: part of a line is never run as a command, one
//    server line never becomes two, and the session never stalls.
//  - A port that goes away (read error EIO, ENXIO, ...) counts as carrier
//    loss. On a device without modem-status lines a received line
//    "NO CARRIER" counts as the carrier change while carrier is believed
//    present.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "platform/serial/serial_port.h"
#include "session/line_protocol.h"

namespace session {

// Poll results.
enum ModemEvent {
  EvIdleConnected = 1,  // nothing new, carrier believed present
  EvCarrierLost = 4,    // carrier dropped, or nothing new without carrier
  EvRawData = 5,        // raw mode: bytes are buffered
  EvLine = 6,           // line mode: a complete line is buffered
};

inline constexpr std::uint32_t kErrorAllocation = 4112;
inline constexpr std::uint32_t kEventMaskAll = 0xFFFF;

// Opens COM port `port` (1..9); on failure returns null and sets `error`.
using PortOpener =
    std::function<std::shared_ptr<platform::SerialPort>(int port, platform::SerialError& error)>;

// How an iModem reaches the world: the port opener and a way to tell the
// user about a failure that has no caller to report to.
struct ModemOptions {
  PortOpener opener;
  std::function<void(std::string_view text)> alert;  // modal notice, no owner
};

// Options whose opener opens "COMn" through platform::open_serial_port with
// `open_options` (dosdevices links, lock files, exclusive use; a virtual
// null-modem end attached to the COM number in tests); `alert` shows the
// reader-thread notice (may be empty).
ModemOptions PlatformModemOptions(platform::SerialOpenOptions open_options,
                                  std::function<void(std::string_view)> alert = {});

class iModem {
 public:
  // Opens COM`port` at `speed` (a speed not in the table runs at 9600),
  // resets the modem and sets the event mask to 0xFFFF. A failed open leaves
  // a closed object (reads and writes return 0) with ErrorCode() set.
  iModem(int port, long speed, ModemOptions options);
  // A closed object, for Probe.
  explicit iModem(ModemOptions options);
  ~iModem();
  iModem(const iModem&) = delete;
  iModem& operator=(const iModem&) = delete;

  using Progress = std::function<void(std::string_view text)>;
  // Scans COM1..COM9 at every table speed for a modem answering "OK" to the
  // probe initialisation; stops at the first. True if one answered (the port
  // stays open, Port() and Speed() tell which).
  bool Probe(const Progress& port_progress = {}, const Progress& speed_progress = {});

  // Restores the line, drops DTR, stops the reader thread and closes the
  // device. Returns 0 or the error of closing the device.
  std::uint32_t Close();

  void SetLineMode(bool line_mode);
  void SetEventMask(std::uint32_t mask);
  ModemEvent Poll();

  std::size_t Read();
  std::size_t Write(const char* data, std::size_t length);
  std::size_t WriteText(std::string_view text);
  std::size_t WriteLine(std::string_view text);  // text + CR
  std::size_t Reset();
  void Drain();
  void Clear();
  std::size_t Count() const { return count_; }
  long LineEnd() const;
  void ReadLine(std::string& line);
  // Copies min(Count(), length) bytes from the start of the buffer.
  std::string Peek(std::size_t length) const;
  void Consume(std::size_t n);
  std::size_t Find(std::string_view text) const;
  std::size_t WaitFor(std::string_view text, std::int64_t ms);

  std::string_view Buffered() const { return std::string_view(buffer_.get(), count_); }
  bool IsOpen() const { return isOpen_; }
  bool Carrier() const { return carrier_; }
  void SetCarrier(bool on) { carrier_ = on; }
  int Port() const { return port_; }
  std::uint32_t Speed() const { return speed_; }
  std::uint32_t ErrorCode() const { return errorCode_; }
  const std::string& ErrorText() const { return errorText_; }
  std::uint32_t EventMask() const { return eventMask_; }
  bool HasModemLines() const;
  // True once the device reported that it is gone.
  bool PortLost() const;
  // Event bits recorded by the reader thread and not yet taken (tests).
  std::uint32_t PendingEvents() const;

  static constexpr std::string_view kResetString = "\r\rAT&F\r";
  static constexpr std::string_view kProbeInit = "ATE0Q0V1&C1&D2S2=43S7=60S12=50\r";

 private:
  bool OpenPort(int port);
  bool ApplyLineSettings(std::uint32_t speed, bool& skipped);
  void ReaderThread();
  void DropOverlongTail();
  bool TakeNoCarrierLine();

  ModemOptions options_;
  std::size_t count_ = 0;
  std::unique_ptr<char[]> buffer_;
  std::string errorText_;
  std::uint32_t errorCode_ = 0;
  bool isOpen_ = false;
  bool carrier_ = false;
  std::shared_ptr<platform::SerialPort> handle_;
  int port_ = 0;
  std::uint32_t speed_ = 0;
  platform::LineSettings savedDcb_;
  bool savedDcbValid_ = false;
  std::uint32_t eventMask_ = 0;
  char eventChar_ = '\0';  // raises kEventRxFlag
  std::atomic<bool> stopReader_{false};  // only Close() ends the reader
  std::uint32_t pendingEvents_ = 0;
  bool portLost_ = false;  // guarded by lock_
  mutable std::mutex lock_;
  std::thread thread_;
  bool skippingOverlong_ = false;
};

}  // namespace session
