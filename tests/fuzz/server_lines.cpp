// The server line dispatcher with the system-configuration commands
// installed (REGMOD:, INIMOD:, APPENDFILE:), as the registration call runs
// it, and a user who answers the server's prompts. The input is what the server sends; it is cut into lines as the
// session's framing does (at CR or LF, at most one receive buffer a line)
// and each line is handled in turn, with a fresh system root per input.
// Checked: nothing is written outside the system root (the root lies two
// folders deep in a folder that must hold nothing else afterwards), every
// command answered at most once per line.
#include <cstdint>
#include <string>

#include <map>
#include <optional>
#include <vector>

#include "fuzz_support.h"
#include "platform/storage/system_root.h"
#include "platform/loop/clock.h"
#include "platform/loop/message_loop.h"
#include "session/line_protocol.h"
#include "session/imodem.h"
#include "session/session_host.h"
#include "session/reg_session.h"
#include "sysconfig/sysconfig.h"

namespace {

namespace fs = std::filesystem;

// The session's surroundings, reduced to what a line handler reaches: a
// profile, a status display that counts replies, a page that takes the
// outcome messages, and no COM port at all.
struct Profile final : session::ProfileStore {
  std::map<std::string, std::string> values = {
      {"USERID", "jsmith"}, {"FIRSTNAME", "John"}, {"PRICEPLAN", ""}, {"PASSWORD", "secret"}};
  bool Get(std::string_view key, std::string& value) const override {
    auto it = values.find(std::string(key));
    if (it == values.end()) return false;
    value = it->second;
    return true;
  }
  void Set(std::string_view key, std::string_view value) override { values[std::string(key)] = std::string(value); }
};

struct Ui final : session::SessionUi {
  std::size_t sent = 0;
  void ShowModemText(std::string_view, bool) override {}
  void ShowSessionText(std::string_view, bool) override {}
  void ShowSentLine(std::string_view) override { ++sent; }
  void MessageBox(std::string_view, session::MessageIcon) override {}
};

// The user's answers to the server's prompts: the first choice, or a
// cancel every third prompt, so both roads are taken.
struct Prompts final : session::SessionPrompts {
  int asked = 0;
  bool answer() { return ++asked % 3 != 0; }
  bool RunBilling() override { return answer(); }
  std::optional<int> RunPricePlan(const std::vector<std::string>& names, const std::vector<std::string>&) override {
    if (!answer()) return std::nullopt;
    return names.empty() ? 0 : 1;
  }
  std::optional<std::string> RunUserInput(std::string_view, bool) override {
    if (!answer()) return std::nullopt;
    return std::string("jsmith2");
  }
  bool RunAccessNumber(const std::vector<std::string>&) override { return answer(); }
};

struct Page final : platform::MessageTarget {
  platform::HWND hwnd = platform::MessageLoop::current().register_window(this);
  ~Page() override { platform::MessageLoop::current().unregister_window(hwnd); }
  platform::LRESULT handle_message(const platform::Message&) override { return 0; }
};

const fs::path& outer() {
  static const fs::path p = fuzz::work_folder() / "server" / "outer";
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path root = outer() / "root";
  fuzz::fresh_folder(root);
  fuzz::check(platform::set_system_root(root), "cannot set the system root");
  platform::ScopedVirtualClock clock;
  {
    Ui ui;
    Page page;
    Profile profile;
    session::ModemOptions no_ports;
    no_ports.opener = [](int, platform::SerialError& error) -> std::shared_ptr<platform::SerialPort> {
      error = platform::SerialError::FileNotFound;
      return nullptr;
    };
    session::CRegSessionDialog session{page.hwnd, ui, no_ports};
    Prompts prompts;
    session.SetProfile(&profile);
    session.SetPrompts(&prompts);
    sysconfig::InstallCommandHandlers(session);

    std::string_view input(reinterpret_cast<const char*>(data), size);
    while (!input.empty()) {
      std::size_t end = input.find_first_of("\r\n");
      std::size_t take = std::min(end, session::kReceiveBufferSize);
      std::string_view line = input.substr(0, take);
      input.remove_prefix(std::min(input.size(), take + (take == end ? 1 : 0)));
      std::size_t before = ui.sent;
      session.HandleLine(line);
      fuzz::check(ui.sent - before <= 2, "one line got more than two replies");
    }
  }
  fuzz::check(fuzz::entries(outer()) == "root", "written outside the system root: " + fuzz::entries(outer()));
  fuzz::check(fuzz::entries(outer().parent_path()) == "outer",
              "written outside the system root: " + fuzz::entries(outer().parent_path()));
  return 0;
}
