#include "session/reg_session.h"

#include <algorithm>
#include <cstdio>

#include "common/ini.h"
#include "platform/loop/clock.h"
#include "platform/loop/log.h"
#include "platform/storage/system_root.h"
#include "session/line_protocol.h"

namespace session {
namespace {

constexpr std::size_t kDialingInfoChars = 31;  // 32-character buffers
constexpr std::size_t kPromptKeep = 4;         // a split "user:" needs at most 4 earlier bytes
// Lines one dial-result tick takes at most: a full receive buffer of the
// shortest lines (a line end each).
constexpr std::size_t kDialLinesPerTick = kReceiveBufferSize;

std::string CutTo(std::string_view text, std::size_t n) { return std::string(text.substr(0, n)); }

const char* StatusText(int code) {
  switch (code) {
    case 1: return "Connected";
    case 2: return "Detecting modem...";
    case 3: return "Dialing  ...";
    case 4: return "Disconnected";
    case 5:
    case 6: return "Receiving data...";
    case 8: return "Initializing modem...";
    case 9: return "Logging in...";
    default: return nullptr;
  }
}

}  // namespace

CRegSessionDialog::CRegSessionDialog(platform::HWND parent, SessionUi& ui, ModemOptions port_options)
    : parent_(parent), ui_(ui), portOptions_(std::move(port_options)) {
  hwnd_ = platform::MessageLoop::current().register_window(this);
  HangUp();  // the idle state
}

CRegSessionDialog::~CRegSessionDialog() {
  ReportPace(LinePace::CallEnds);
  StopTimer();
  port_.reset();  // closes the port; DTR drops
  platform::MessageLoop::current().unregister_window(hwnd_);
}

std::filesystem::path CRegSessionDialog::PhonesFile() const {
  const std::filesystem::path dir =
      programDir_.empty() ? platform::known_folder(platform::KnownFolder::Program) : programDir_;
  return dir / "phones.txt";
}

void CRegSessionDialog::SetPhoneNumber(std::string_view number) { phoneNumber_ = CutTo(number, kDialingInfoChars); }

void CRegSessionDialog::SetLoginName(std::string_view name) { loginName_ = CutTo(name, kDialingInfoChars); }

void CRegSessionDialog::LoadDialingInformation(const std::filesystem::path& ini_file) {
  constexpr std::size_t kBuffer = kDialingInfoChars + 1;
  SetPhoneNumber(common::get_private_profile_string("Dialing Information", "REGNUMBER", "", kBuffer, ini_file));
  SetLoginName(common::get_private_profile_string("Dialing Information", "REGSERVER", "", kBuffer, ini_file));
}

std::string CRegSessionDialog::ProfileValue(std::string_view key) const {
  std::string value;
  if (profile_) profile_->Get(key, value);
  return value;
}

void CRegSessionDialog::ShowModemText(std::string_view text) {
  // A free text replaces the code's text: the next status code must show.
  lastStatus_ = -1;
  ui_.ShowModemText(text, focusOnStatus);
}

void CRegSessionDialog::ShowSessionText(std::string_view text) { ui_.ShowSessionText(text, focusOnStatus); }

void CRegSessionDialog::SetStatus(int code) {
  if (code == lastStatus_) return;
  lastStatus_ = code;
  if (const char* text = StatusText(code)) ui_.ShowModemText(text, focusOnStatus);
}

void CRegSessionDialog::ReportPace(LinePace pace) {
  if (!paceHook_) return;
  PaceHook hook = paceHook_;  // the hook may replace itself
  hook(pace);
}

void CRegSessionDialog::PostOutcome(unsigned message) {
  // What the call's commands changed is on disk before the page hears of
  // the outcome.
  ReportPace(LinePace::CallEnds);
  if (outcomePosted_) {
    platform::log_info("session", "outcome " + std::to_string(message) + " not posted: the call already ended");
    return;
  }
  outcomePosted_ = true;
  platform::post_message(parent_, message, 0, 0);
}

void CRegSessionDialog::EndSuccess() { PostOutcome(WM_WIZ_RESULT_OK); }

void CRegSessionDialog::PostSessionClosed() { PostOutcome(WM_WIZ_SESSION_CLOSED); }

void CRegSessionDialog::EndFailure() { Fail(); }

void CRegSessionDialog::Fail() {
  StopTimer();
  port_.reset();
  PostOutcome(WM_WIZ_RESULT_FAILED);
}

void CRegSessionDialog::StopTimer() {
  if (timerActive_) platform::MessageLoop::current().kill_timer(hwnd_, kTimerId);
  timerActive_ = false;
}

void CRegSessionDialog::HangUp() {
  if (port_) {
    ShowModemText("Hanging up...");
    port_->Close();
    port_.reset();
  }
  SetStatus(4);
}

bool CRegSessionDialog::SetPhase(Phase phase) {
  StopTimer();
  phase_ = phase;
  std::int64_t period = 250;
  if (port_) {
    switch (phase) {
      case PhaseDialResult: port_->SetLineMode(true); period = 250; break;
      case PhaseLoginPrompt: port_->SetLineMode(false); period = 5; break;
      case PhaseSession: port_->SetLineMode(true); period = 1; break;
    }
  } else {
    period = phase == PhaseDialResult ? 250 : phase == PhaseLoginPrompt ? 5 : 1;
  }
  if (platform::MessageLoop::current().set_timer(hwnd_, kTimerId, period) == 0) {
    if (ui_.IsVisible()) ui_.MessageBox("No timers are available", MessageIcon::None);
    Fail();
    return false;
  }
  timerStart_ = platform::clock().now_ms();
  timerActive_ = true;
  return true;
}

bool CRegSessionDialog::Start() {
  planNames.clear();
  planDescriptions.clear();
  planCodes.clear();
  plansRefused = 0;
  waitsRefused = 0;
  HangUp();
  outcomePosted_ = false;

  int port = PortFromProfile(ProfileValue("COMPORT"));
  long speed = SpeedFromProfile(ProfileValue("COMSPEED"));
  port_ = std::make_unique<iModem>(port, speed, portOptions_);
  if (!port_->ErrorText().empty()) {
    if (ui_.IsVisible()) ui_.MessageBox("Error opening modem: " + port_->ErrorText(), MessageIcon::None);
    Fail();
    return false;
  }

  SetStatus(8);
  std::string speedText = std::to_string(speed);
  // Only an opened port is worth recording; the server may ask for it.
  if (port_->IsOpen() && profile_) profile_->Set("COMINFO", "COM" + std::to_string(port) + " " + speedText);

  std::string init = ProfileValue("MODEMINIT");
  port_->Reset();
  port_->WriteLine("");
  port_->Drain();
  port_->Clear();
  if (port_->WriteLine(init) == 0) {
    platform::log_warn("session", "initialisation string not sent (COM" + std::to_string(port) + ")");
    if (ui_.IsVisible()) ui_.MessageBox("Error sending initialization string.", MessageIcon::None);
    Fail();
    return false;
  }
  platform::log_debug("session", "Send: " + Printable(init));
  port_->WaitFor("OK", 1000);

  SetStatus(3);
  std::string dial = BuildDialCommand(ProfileValue("DIALMETHOD"), ProfileValue("OUTSIDEACCESS"),
                                      ProfileValue("CWDISABLE"), ProfileValue("CWDISABLESTR"), phoneNumber_);
  port_->WriteLine("");
  port_->WaitFor("\r", 1000);
  platform::clock().sleep_ms(50);
  port_->Drain();
  port_->Clear();
  port_->WriteLine(dial);
  platform::log_debug("session", "Send: " + Printable(dial));
  return SetPhase(PhaseDialResult);
}

void CRegSessionDialog::Connect() {
  planNames.clear();
  planDescriptions.clear();
  planCodes.clear();
  HangUp();
  outcomePosted_ = false;
  if (phoneNumber_.empty()) {
    ui_.MessageBox("Please enter a phone number.", MessageIcon::None);
    return;
  }
  auto probe = std::make_unique<iModem>(portOptions_);
  if (!probe->ErrorText().empty()) {
    ui_.MessageBox("Error opening modem: " + probe->ErrorText(), MessageIcon::None);
    return;
  }
  SetStatus(2);
  if (!probe->Probe()) {
    SetStatus(4);
    ui_.MessageBox("Could not find a modem!", MessageIcon::Exclamation);
    return;
  }
  port_ = std::move(probe);
  if (profile_) profile_->Set("COMINFO", "COM" + std::to_string(port_->Port()) + " " + std::to_string(port_->Speed()));
  SetStatus(3);
  port_->WriteText("atdt " + phoneNumber_ + "\r");
  SetPhase(PhaseDialResult);
}

void CRegSessionDialog::TakeAndShowLine(std::string& line) {
  port_->ReadLine(line);
  if (!line.empty()) {
    platform::log_debug("session", "Recv: " + Printable(line));
    ui_.ShowReceivedLine(line);
  }
}

bool CRegSessionDialog::OnDialResultTick() {
  if (!port_) return false;
  // Every complete line already received, in order, as if each had a tick of
  // its own: the modem's reports before CONNECT (CARRIER, PROTOCOL, ...) must
  // not hold it back a tick each, and a BUSY before a CONNECT still wins.
  // Bounded, so a modem that never stops talking cannot hold the loop.
  for (std::size_t n = 0; n < kDialLinesPerTick && port_->Poll() == EvLine; ++n) {
    std::string line;
    TakeAndShowLine(line);
    switch (ClassifyDialResult(line)) {
      case DialResult::Busy:
      case DialResult::NoDial:
      case DialResult::NoCarrier:
        HangUp();
        ShowModemText(line);
        Fail();
        return false;
      case DialResult::Connect:
        SetStatus(9);
        port_->SetCarrier(true);
        return SetPhase(PhaseLoginPrompt);
      case DialResult::Other:
        break;
    }
  }
  if (platform::clock().now_ms() - timerStart_ >= kPhaseTimeoutMs) {
    HangUp();
    if (ui_.IsVisible()) ui_.MessageBox("The connection has timed out!", MessageIcon::Exclamation);
    Fail();
    return false;
  }
  return true;
}

bool CRegSessionDialog::OnLoginTick() {
  if (!port_) return false;
  ModemEvent ev = port_->Poll();
  if (ev == EvCarrierLost) {
    HangUp();
    SetStatus(4);
    Fail();
    return false;
  }
  std::string line;
  if (ev == EvRawData) {
    bool found = false;
    if (port_->LineEnd() >= 0) {
      TakeAndShowLine(line);
      found = FindText(line, "user:") != 0;  // a prompt the server ended with a line end
    }
    if (!found && port_->Count() > 0) found = port_->Find("user:") != 0;
    if (found) {
      SetStatus(1);
      port_->WriteLine(loginName_);
      platform::log_debug("session", "Send: " + Printable(loginName_));
      return SetPhase(PhaseSession);
    }
    if (port_->Count() == kReceiveBufferSize) {
      // A full buffer without the prompt would stop reading: keep only what
      // may begin a split prompt.
      port_->Consume(port_->Count() - kPromptKeep);
    }
  } else if (ev == EvLine) {
    TakeAndShowLine(line);
  }
  // Checked on every tick: data without the prompt must not hold the call.
  if (platform::clock().now_ms() - timerStart_ >= kPhaseTimeoutMs) {
    HangUp();
    if (ui_.IsVisible()) ui_.MessageBox("Did not receive login prompt!", MessageIcon::Exclamation);
    Fail();
    return false;
  }
  return true;
}

bool CRegSessionDialog::OnSessionTick() {
  if (!port_) return false;
  ModemEvent ev = port_->Poll();
  SetStatus(ev);
  if (ev == EvCarrierLost) {
    HangUp();
    SetStatus(4);
    Fail();
    return false;
  }
  if (ev == EvLine) {
    std::weak_ptr<void> alive = AliveToken();
    std::string line;
    TakeAndShowLine(line);
    HandleLine(line);  // may end the call or destroy this object
    if (alive.expired() || !port_) return true;
  }
  ReportPace(ev != EvLine && port_->Count() == 0 ? LinePace::Quiet : LinePace::Busy);
  return true;
}

platform::LRESULT CRegSessionDialog::handle_message(const platform::Message& msg) {
  if (msg.message != platform::WM_TIMER || msg.wparam != kTimerId) return 0;
  std::weak_ptr<void> alive = AliveToken();
  bool keep = true;
  switch (phase_) {
    case PhaseDialResult: keep = OnDialResultTick(); break;
    case PhaseLoginPrompt: keep = OnLoginTick(); break;
    case PhaseSession: keep = OnSessionTick(); break;
  }
  if (alive.expired()) return 0;
  if (!keep) StopTimer();
  return 0;
}

void CRegSessionDialog::SendReply(std::string_view text, ReplyTrace trace) {
  std::string reply = "REPLY: ";
  reply += text;
  if (port_) port_->WriteLine(reply);
  if (trace == ReplyTrace::Masked) {
    platform::log_debug("session", "Send: REPLY: (" + std::to_string(text.size()) + " characters, not traced)");
  } else {
    platform::log_debug("session", "Send: " + Printable(reply));
  }
  ui_.ShowSentLine(reply);
}

void CRegSessionDialog::HandleLine(std::string_view line) {
  if (line.empty()) return;
  CommandLine command = SplitCommand(line);
  for (const ServerCommand* entry = ServerCommandTable; entry->keyword[0] != '\0'; ++entry) {
    if (command.keyword == entry->keyword) {
      entry->handler(*this, command.arguments);
      return;
    }
  }
  platform::log_debug("session", "ignored: " + Printable(line, 80));
}

bool CRegSessionDialog::SetCommandHook(std::string_view keyword, CommandHook hook) {
  static constexpr std::string_view kOwn[] = {"REQUEST:", "INFO:",     "WAIT:",    "STATUS:",
                                              "DOWNLOADFILE:", "TRANSFER:", "FAILURE:", "PRICEPLAN:"};
  if (std::find(std::begin(kOwn), std::end(kOwn), keyword) != std::end(kOwn)) return false;
  bool in_table = false;
  for (const ServerCommand* entry = ServerCommandTable; entry->keyword[0] != '\0'; ++entry) {
    if (keyword == entry->keyword) in_table = true;
  }
  if (!in_table) return false;
  for (auto& [k, h] : hooks_) {
    if (k == keyword) {
      h = std::move(hook);
      return true;
    }
  }
  hooks_.emplace_back(std::string(keyword), std::move(hook));
  return true;
}

void CRegSessionDialog::RunHook(std::string_view keyword, std::string_view arguments) {
  for (auto& [k, h] : hooks_) {
    if (k == keyword && h) {
      CommandHook hook = h;  // the hook may replace itself
      hook(*this, arguments);
      return;
    }
  }
  platform::log_info("session", std::string(keyword) + " has no handler yet: no reply");
}

void CRegSessionDialog::RunShortcutsHook() {
  if (!shortcutsHook_) {
    platform::log_info("session", "no shortcuts service installed: no shortcuts made");
    return;
  }
  ShortcutsHook hook = shortcutsHook_;  // the hook may replace itself
  hook(*this);
}

}  // namespace session
