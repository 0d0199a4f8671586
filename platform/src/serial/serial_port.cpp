// Serial port pieces common to every implementation: error texts, COM name
// resolution, UUCP lock names, the virtual-port and handle tables, open.
#include "platform/serial/serial_port.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>

#include "platform/loop/clock.h"
#include "platform/loop/log.h"

namespace platform {

std::shared_ptr<SerialPort> open_tty_port(const std::string& name, const std::filesystem::path& path,
                                          const SerialOpenOptions& options, SerialError& error);
std::shared_ptr<SerialPort> open_rfc2217_port(const std::string& name, const std::string& url,
                                              const SerialOpenOptions& options, SerialError& error);
std::shared_ptr<SerialPort> claim_virtual_end(const std::shared_ptr<SerialPort>& end, SerialError& error);

namespace {

struct ErrorText {
  SerialError error;
  const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {SerialError::None, "no error"},
    {SerialError::FileNotFound, "no such serial device"},
    {SerialError::AccessDenied, "access to the serial device denied"},
    {SerialError::InvalidHandle, "the serial port is not open"},
    {SerialError::NotEnoughMemory, "not enough memory"},
    {SerialError::BadUnit, "not a serial device"},
    {SerialError::GenFailure, "the serial device failed"},
    {SerialError::NotSupported, "not supported by this device"},
    {SerialError::InvalidParameter, "the device refused the settings"},
    {SerialError::Busy, "the serial port is in use by another program"},
    {SerialError::OperationAborted, "the wait was interrupted"},
    {SerialError::IoDevice, "input/output error on the serial device"},
    {SerialError::DeviceNotConnected, "the serial device went away"},
    {SerialError::Timeout, "the write timed out"},
};

std::mutex g_table_mutex;
std::map<int, std::shared_ptr<SerialPort>>& virtual_ports() {
  static std::map<int, std::shared_ptr<SerialPort>> ports;
  return ports;
}
std::map<std::int32_t, std::shared_ptr<SerialPort>>& handles() {
  static std::map<std::int32_t, std::shared_ptr<SerialPort>> table;
  return table;
}
std::int32_t g_next_handle = 1;

// COM number of "COMn" / "COMn:" (any letter case), 0 when `name` is not one.
int com_number(const std::string& name) {
  if (name.size() < 4) return 0;
  auto lower = [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); };
  if (lower(name[0]) != 'c' || lower(name[1]) != 'o' || lower(name[2]) != 'm') return 0;
  std::size_t end = name.size();
  if (name[end - 1] == ':') --end;
  if (end <= 3 || end - 3 > 3) return 0;
  int n = 0;
  for (std::size_t i = 3; i < end; ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    n = n * 10 + (name[i] - '0');
  }
  return n >= 1 && n <= 256 ? n : 0;
}

}  // namespace

SerialError SerialPort::wait_readable(int timeout_ms) {
  std::size_t count = 0;
  SerialError e = bytes_available(count);
  if (count > 0) return SerialError::None;
  if (e != SerialError::None) return e;
  if (timeout_ms <= 0) return SerialError::Timeout;
  clock().sleep_ms(timeout_ms);
  e = bytes_available(count);
  if (count > 0) return SerialError::None;
  return e != SerialError::None ? e : SerialError::Timeout;
}

void SerialPort::set_wait_hook(std::function<void(std::uint64_t)>) {}

const char* serial_error_text(SerialError e) {
  for (const ErrorText& t : kErrorTexts) {
    if (t.error == e) return t.text;
  }
  return "unknown serial error";
}

SerialError serial_error_from_errno(int err) {
  switch (err) {
    case 0: return SerialError::None;
    case ENOENT:
    case ENXIO:
    case ENODEV: return SerialError::FileNotFound;
    case ENOTTY: return SerialError::BadUnit;
    case EACCES:
    case EPERM: return SerialError::AccessDenied;
    case EBUSY: return SerialError::Busy;
    case EBADF: return SerialError::InvalidHandle;
    case ENOMEM: return SerialError::NotEnoughMemory;
    case EINVAL: return SerialError::InvalidParameter;
    case EIO: return SerialError::DeviceNotConnected;
    case EINTR: return SerialError::OperationAborted;
    default: return SerialError::GenFailure;
  }
}

bool line_settings_valid(const LineSettings& s) {
  return s.baud > 0 && s.data_bits >= 5 && s.data_bits <= 8 &&
         static_cast<int>(s.parity) <= static_cast<int>(Parity::Space) &&
         static_cast<int>(s.stop_bits) <= static_cast<int>(StopBits::Two);
}

std::filesystem::path serial_device_path(const std::string& name, const std::filesystem::path& dosdevices) {
  int n = com_number(name);
  if (n == 0) return {};
  // With a dosdevices folder its link alone decides: a port without one does
  // not exist (opening it says FileNotFound).
  if (!dosdevices.empty()) return dosdevices / ("com" + std::to_string(n));
  return "/dev/ttyS" + std::to_string(n - 1);
}

std::string uucp_lock_name(const std::filesystem::path& real_path) {
  std::string p = real_path.string();
  if (p.rfind("/dev/", 0) == 0) p = p.substr(5);
  while (!p.empty() && p.front() == '/') p.erase(p.begin());
  std::replace(p.begin(), p.end(), '/', '_');
  return "LCK.." + p;
}

std::shared_ptr<SerialPort> open_serial_port(const std::string& name, const SerialOpenOptions& options,
                                             SerialError& error) {
  error = SerialError::None;
  if (name.empty()) {
    error = SerialError::FileNotFound;
    return nullptr;
  }
  if (int n = com_number(name)) {
    std::shared_ptr<SerialPort> end;
    {
      std::lock_guard lock(g_table_mutex);
      auto it = virtual_ports().find(n);
      if (it != virtual_ports().end()) end = it->second;
    }
    if (end) return claim_virtual_end(end, error);
    std::string why;
    if (ensure_com_links(options.dosdevices, options.devices, &why) < 0) log_warn("serial", why);
    const std::filesystem::path path = serial_device_path(name, options.dosdevices);
    std::error_code ec;
    const std::string text = std::filesystem::is_symlink(path, ec) ? std::filesystem::read_symlink(path, ec).string()
                                                                   : std::string();
    if (is_network_link(text)) return open_rfc2217_port(name, text, options, error);
    std::shared_ptr<SerialPort> port = open_tty_port(name, path, options, error);
    if (!port && error == SerialError::AccessDenied) {
      // The commonest modem problem on Linux: say who may use the device.
      std::string advice = permission_advice(com_port_info(n, options.dosdevices, options.devices));
      log_warn("serial", advice.empty() ? name + ": " + path.string() + ": permission denied" : advice);
    }
    return port;
  }
  if (is_network_link(name)) return open_rfc2217_port(name, name, options, error);
  return open_tty_port(name, name, options, error);
}

void attach_virtual_port(int com_number_, std::shared_ptr<SerialPort> port) {
  std::lock_guard lock(g_table_mutex);
  if (port) {
    virtual_ports()[com_number_] = std::move(port);
  } else {
    virtual_ports().erase(com_number_);
  }
}

std::int32_t register_serial_handle(std::shared_ptr<SerialPort> port) {
  if (!port) return 0;
  std::lock_guard lock(g_table_mutex);
  std::int32_t h = g_next_handle++;
  if (g_next_handle <= 0) g_next_handle = 1;
  handles()[h] = std::move(port);
  return h;
}

std::shared_ptr<SerialPort> serial_port_from_handle(std::int32_t handle) {
  std::lock_guard lock(g_table_mutex);
  auto it = handles().find(handle);
  return it == handles().end() ? nullptr : it->second;
}

void release_serial_handle(std::int32_t handle) {
  std::lock_guard lock(g_table_mutex);
  handles().erase(handle);
}

}  // namespace platform
