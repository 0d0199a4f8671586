// "Searching for modem": runs the modem search through libserlink while it
// shows Serlink's progress texts, and "Select a Modem" for several answers.
// One search runs at a time in a process.
#pragma once

#include <string>
#include <vector>

#include "cfg_dialog.h"

namespace modset {

class CCfgSearchDialog final : public CCfgDialog {
 public:
  // `first_port_only`: stop at the first port where a modem answers.
  CCfgSearchDialog(bool first_port_only, platform::HWND owner = 0);
  ~CCfgSearchDialog() override;

  bool running() const { return running_; }
  bool stop_requested() const { return stop_requested_; }
  // The status callback's side: shows `text` and says whether to stop.
  std::int32_t OnStatus(const char* text);

 protected:
  bool on_init_dialog() override;
  bool on_command(int id, int code, platform::HWND control) override;
  void on_ok() override;
  void on_cancel() override;

 private:
  // The search of command 3029; ends by posting OK or Cancel to itself.
  void RunSearch();
  // Stores the configured modem; false when the store failed.
  bool StoreModem(const std::string& device, std::int32_t port, std::int32_t speed, std::int32_t flow,
                  const char* reset, const char* setup);

  bool first_port_only_ = false;
  bool running_ = false;
  bool stop_requested_ = false;
  bool searched_ = false;
};

class CCfgSelectModemDialog final : public CCfgDialog {
 public:
  // Up to four device names.
  CCfgSelectModemDialog(std::vector<std::string> names, platform::HWND owner);
  // The chosen list position; -1 when none was selected.
  int chosen() const { return chosen_; }

 protected:
  bool on_init_dialog() override;
  void on_ok() override;

 private:
  std::vector<std::string> names_;
  int chosen_ = 0;
};

// True while a search dialog of this process is searching.
bool search_running();

}  // namespace modset
