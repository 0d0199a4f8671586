// Serial ports: a tty, or one end of an in-process virtual null-modem cable.
//
// Principles:
//  - A port is a small table of operations (SerialPort) with three
//    implementations: a tty (termios, TIOCEXCL, UUCP lock file), RFC 2217
//    over TCP, and a virtual null-modem pair for tests. Callers never see
//    which one they hold; the receive queue and the wait are written once.
//  - Line settings are a plain value (LineSettings); the termios image is
//    computed from it by pure functions and applied in one step. The settings
//    found at open are put back at close.
//  - Errors are SerialError values, which keep the numbers of the Windows
//    errors they stand for, so the libraries that speak Windows result codes
//    can fold them through their own tables.
//  - Reads never block. Writes give up after their time-out and say how many
//    bytes went out. wait_event() blocks a reader thread until received bytes,
//    the event character or a modem-line change, and interrupt_wait() from any
//    other thread ends that wait at once (an eventfd, never a spin).
//  - COMn names resolve through DIR/dosdevices/comN (a symlink, as Wine does);
//    a port without a link, or with a link to nothing, is absent. A folder
//    without any comN link gets the default mapping on first use
//    (com_ports.h). Only without a dosdevices folder is COMn /dev/ttyS(n-1).
//    A link to "rfc2217://HOST:PORT" opens a network serial port (RFC 2217
//    over TCP, rfc2217.h) behind the same interface. Virtual ends attached
//    to a COM number take precedence, so tests can put a fake modem behind
//    "COM2".
//
// Index: SerialError, LineSettings, modem-line and event bits, SerialPort,
// open_serial_port(), VirtualNullModem, attach_virtual_port(), serial
// handles (small integers that name an open port across a C interface).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial/com_ports.h"

namespace platform {

// Error numbers of the Windows calls the ported code was written against.
enum class SerialError : int {
  None = 0,
  FileNotFound = 2,         // no such device
  AccessDenied = 5,         // opened elsewhere (lock file or TIOCEXCL)
  InvalidHandle = 6,        // the port is not open
  NotEnoughMemory = 8,
  BadUnit = 20,             // the path is not a serial device
  GenFailure = 31,          // any other failure of the device
  NotSupported = 50,        // e.g. modem lines on a pseudo-terminal
  InvalidParameter = 87,    // settings the device refuses
  Busy = 170,               // held by a live process's lock file
  OperationAborted = 995,   // a wait was interrupted
  IoDevice = 1117,
  DeviceNotConnected = 1167,  // the device went away (pseudo-terminal closed)
  Timeout = 1460,             // a write's time-out passed before all bytes went
};

// Short English text for `e`, from a table indexed by the error.
const char* serial_error_text(SerialError e);
// Folds an errno value into the SerialError it stands for.
SerialError serial_error_from_errno(int err);

enum class Parity : std::uint8_t { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
enum class StopBits : std::uint8_t { One = 0, OneHalf = 1, Two = 2 };

struct LineSettings {
  std::uint32_t baud = 9600;  // any rate; non-standard ones use BOTHER
  int data_bits = 8;          // 5..8
  Parity parity = Parity::None;
  StopBits stop_bits = StopBits::One;
  bool rts_cts = false;  // hardware handshaking
  bool operator==(const LineSettings&) const = default;
};

// True when `s` describes something a serial line can carry.
bool line_settings_valid(const LineSettings& s);

// Modem lines (TIOCM_* meaning, our own bit values).
enum ModemLine : unsigned {
  kLineDtr = 0x01,  // out
  kLineRts = 0x02,  // out
  kLineCts = 0x10,  // in
  kLineDsr = 0x20,  // in
  kLineDcd = 0x40,  // in: carrier
  kLineRing = 0x80, // in
};

// Events a wait reports; the values of the Windows EV_* bits.
enum SerialEvent : unsigned {
  kEventRxChar = 0x0001,  // bytes were received
  kEventRxFlag = 0x0002,  // the event character was received
  kEventCts = 0x0008,
  kEventDsr = 0x0010,
  kEventRlsd = 0x0020,  // carrier changed
  kEventRing = 0x0100,
  kEventModemLines = kEventCts | kEventDsr | kEventRlsd | kEventRing,
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Name it was opened by ("COM1", "/dev/pts/3", "virtual:0").
  virtual std::string name() const = 0;
  virtual bool is_open() const = 0;

  virtual SerialError get_settings(LineSettings& out) = 0;
  // Applies `s` in one step; the port keeps its old settings on failure.
  virtual SerialError set_settings(const LineSettings& s) = 0;

  // False for devices without modem lines (pseudo-terminals).
  virtual bool has_modem_lines() const = 0;
  // Current lines (ModemLine bits); NotSupported where there are none.
  virtual SerialError get_modem_lines(unsigned& lines) = 0;
  // Raises or lowers DTR / RTS. Without modem lines: accepted, no effect.
  virtual SerialError set_dtr(bool on) = 0;
  virtual SerialError set_rts(bool on) = 0;

  // Number of received bytes waiting to be read.
  virtual SerialError bytes_available(std::size_t& count) = 0;
  // Non-blocking: copies up to `size` received bytes, `got` says how many.
  virtual SerialError read(void* buffer, std::size_t size, std::size_t& got) = 0;
  // Writes up to `size` bytes, waiting at most `timeout_ms` for room; `done`
  // says how many went. Timeout when not all of them did.
  virtual SerialError write(const void* buffer, std::size_t size, std::size_t& done,
                            int timeout_ms) = 0;
  // Waits until the bytes written have left.
  virtual SerialError drain() = 0;
  // Discards received bytes (input) and/or bytes not yet sent (output).
  virtual SerialError purge(bool input, bool output) = 0;

  // Which events wait_event() reports, and the event character.
  virtual void set_event_mask(unsigned mask, char event_char = '\0') = 0;
  // Blocks until an event of the mask happens (events = its bits), the wait is
  // interrupted (OperationAborted), `timeout_ms` passes (Timeout; -1 waits for
  // ever) or the device goes away (DeviceNotConnected). Events are counted
  // from the end of the previous wait: bytes already waiting do not count
  // again.
  virtual SerialError wait_event(unsigned& events, int timeout_ms = -1) = 0;
  // Ends a wait_event() running in another thread; safe from any thread.
  virtual void interrupt_wait() = 0;
  // For a test on another thread that must know a wait has begun: `hook`
  // runs on the waiting thread each time wait_event() (or a tty's
  // wait_readable()) has looked, found nothing to report, and is about to
  // block. `arrivals` counts the chunks of bytes and line changes received
  // before that look, so the test can tell the wait has seen what it sent.
  // It runs with the port's lock held, so it must not call the port. Null
  // removes it.
  virtual void set_wait_hook(std::function<void(std::uint64_t arrivals)> hook);
  // Blocks until received bytes wait to be read (None), `timeout_ms` passes
  // (Timeout) or the device goes away (DeviceNotConnected): for a caller that
  // waits for an answer on its own thread. Leaves the event mask and the
  // events of wait_event() alone. Time is the process's clock: under a
  // virtual clock the wait looks once and advances the clock. The default,
  // for devices without a descriptor, looks and sleeps.
  virtual SerialError wait_readable(int timeout_ms);

  // Restores the settings found at open and releases the device.
  virtual SerialError close() = 0;
};

struct SerialOpenOptions {
  // Folder that holds the comN links; empty: only /dev/ttyS(n-1).
  std::filesystem::path dosdevices;
  // Folders tried in order for the UUCP lock file; the first writable one is
  // used. Empty: /var/lock, then `fallback_lock_dir` when that is set.
  std::vector<std::filesystem::path> lock_dirs;
  std::filesystem::path fallback_lock_dir;
  // Where the default COM mapping looks for devices.
  DeviceFolders devices = default_device_folders();
  // Network ports: how long connecting, and each answer the far end owes
  // (negotiation, settings), may take before the port counts as gone.
  int network_timeout_ms = 5000;
};

// Path behind "COMn" / "COMn:" (n 1..256): DIR/comN, or /dev/ttyS(n-1) when
// `dosdevices` is empty; empty when the name is not a COM name. (A name that
// is not a COM name is taken as a path, or a URL, by open_serial_port.)
std::filesystem::path serial_device_path(const std::string& name,
                                         const std::filesystem::path& dosdevices);

// Opens `name` ("COMn", "COMn:", a device path or "rfc2217://HOST:PORT") for
// exclusive use. A network port that cannot be reached, or that stops
// answering, fails as a vanished tty does (FileNotFound when opening,
// DeviceNotConnected afterwards).
std::shared_ptr<SerialPort> open_serial_port(const std::string& name, const SerialOpenOptions& options,
                                             SerialError& error);

// File name of the UUCP lock for the device at `real_path`:
// "/dev/ttyS0" -> "LCK..ttyS0", "/dev/pts/3" -> "LCK..pts_3".
std::string uucp_lock_name(const std::filesystem::path& real_path);

// An in-process null-modem cable: what one end writes the other reads; DTR
// of one end shows as DSR and carrier (DCD) on the other, RTS as CTS.
class VirtualNullModem {
 public:
  // Without `modem_lines` the ends have none, as pseudo-terminals: DTR and
  // RTS are accepted and change nothing, get_modem_lines() is NotSupported.
  explicit VirtualNullModem(bool modem_lines = true);
  ~VirtualNullModem();
  VirtualNullModem(const VirtualNullModem&) = delete;
  VirtualNullModem& operator=(const VirtualNullModem&) = delete;

  // End 0 or 1. Ends are usable at once; open_serial_port() on an attached
  // COM number claims one for exclusive use until its close().
  std::shared_ptr<SerialPort> end(int which);

  // Gives the far side of a simulation a turn, synchronously: `listener` runs
  // on the calling thread whenever bytes or line changes arrive at end
  // `which`, and whenever the other end reads or asks what is waiting. With a
  // virtual clock this lets a scripted peer answer, or act on its own timers,
  // without threads. Runs without any lock held; may read and write its end.
  void set_listener(int which, std::function<void()> listener);

  // End `which` refuses every set_settings() with InvalidParameter, as a
  // device that cannot do what is asked.
  void refuse_settings(int which, bool refuse);

  // Both ends fail from now on with DeviceNotConnected (cable pulled).
  void unplug();

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
  std::shared_ptr<SerialPort> ends_[2];
};

// Puts `port` behind "COMn" for open_serial_port() in this process; a null
// port removes it.
void attach_virtual_port(int com_number, std::shared_ptr<SerialPort> port);

// Serial handles: small positive numbers that name an open port where a C
// interface carries a 32-bit handle. The table holds a reference until the
// handle is released.
std::int32_t register_serial_handle(std::shared_ptr<SerialPort> port);
std::shared_ptr<SerialPort> serial_port_from_handle(std::int32_t handle);
void release_serial_handle(std::int32_t handle);

}  // namespace platform
