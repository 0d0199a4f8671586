// Modem detection for a program with windows, over serlink's C API.
//
// A detection run finds the ports that answer as modems
// (ModemPortEnumeration), then has serlink configure the one chosen
// (ModemAutoConfigure). Serlink's callbacks carry no pointer of the caller,
// so while a DetectionScope lives, the status callback it hands out calls
// that scope's handler, and serlink's event handler pumps the thread's
// pending messages so that windows stay alive and a Cancel button works
// while serlink waits. One run at a time: it runs on the user-interface
// thread, and a scope opened inside another's pump takes the callbacks over
// until it ends.
//
// Only serlink.h is used: this is a helper of serlink's callers, linked into
// each of them.
//
// Index: DetectionScope, PortTable, AutoConfiguration, auto_configure.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "serlink.h"

namespace serlink {

class DetectionScope {
 public:
  // Serlink's progress texts (NULL or empty: only the question) and its
  // "shall I stop" questions go to `status`; nonzero asks serlink to stop.
  using StatusHandler = std::function<std::int32_t(const char* text)>;

  // Registers the message pump as serlink's event handler, with
  // `event_argument`, for the scope's life.
  DetectionScope(StatusHandler status, std::int32_t event_argument);
  ~DetectionScope();
  DetectionScope(const DetectionScope&) = delete;
  DetectionScope& operator=(const DetectionScope&) = delete;

  // False when another event handler was registered before: serlink then
  // waits without pumping messages.
  bool pumping() const { return pumping_; }

  // The callback to give serlink (ModemPortList and ModemAutoConfigRecord):
  // the handler of the scope that is open; 0 (go on) when none is.
  static StatusCallback status_callback();

 private:
  StatusHandler status_;
  std::int32_t event_argument_;
  bool pumping_ = false;
  DetectionScope* outer_;
};

// The table ModemPortEnumeration fills: N entries, each naming its own
// index as its port until serlink fills it, the list offering `capacity`
// of them (at most N).
template <std::size_t N>
struct PortTable {
  std::array<SerialPortName, N> entries{};
  std::array<SerialPortName*, N> pointers{};
  ModemPortList list{};

  PortTable(std::uint32_t capacity, StatusCallback status) {
    for (std::size_t i = 0; i < N; ++i) {
      entries[i].port = static_cast<std::int32_t>(i);
      pointers[i] = &entries[i];
    }
    list = ModemPortList{capacity < N ? capacity : static_cast<std::uint32_t>(N), pointers.data(), status};
  }
  PortTable(const PortTable&) = delete;
  PortTable& operator=(const PortTable&) = delete;

  // The entries filled, at most N.
  std::uint32_t found() const { return list.count < N ? list.count : static_cast<std::uint32_t>(N); }
  // The name of entry `i` (serlink's "COM1:" form).
  std::string name(std::size_t i) const;
};

// What ModemAutoConfigure answered: its result, the metrics (speed and flow
// control) and the reset and setup commands, cut to the buffers serlink was
// given (20 and 200 bytes).
struct AutoConfiguration {
  std::int32_t result = 0;
  SerialChannelMetrics metrics{};
  std::string reset;
  std::string setup;
};

// Configures the modem on `port` with `configure` (ModemAutoConfigure, or a
// stand-in with its signature), `status` receiving serlink's texts.
using Configure = std::function<std::int32_t(ModemAutoConfigRecord*)>;
AutoConfiguration auto_configure(std::int32_t port, StatusCallback status, const Configure& configure);

std::string port_entry_name(const SerialPortName& entry);

template <std::size_t N>
std::string PortTable<N>::name(std::size_t i) const {
  return port_entry_name(entries[i]);
}

}  // namespace serlink
