// CRegSessionDialog: the registration call.
//
// The "Dialing the Network" page creates it, hands it the profile and
// starts it. It opens an iModem on COMPORT at COMSPEED, initialises the modem
// with MODEMINIT, dials, waits for "CONNECT" and for the server's "user:",
// sends the log-in name, then hands every received line to the server line
// protocol (HandleLine and ServerCommandTable). One window timer drives it,
// with a period per phase: 250 ms waiting for the dial result, 5 ms waiting
// for the prompt, 1 ms in the session. The outcome reaches the page as one
// posted message: WM_WIZ_RESULT_OK, WM_WIZ_RESULT_FAILED or
// WM_WIZ_SESSION_CLOSED (session_host.h).
//
// Rules:
//  - Everything runs on the thread that created the object (its message
//    loop); the port's reader thread is the only other one.
//  - At most one line is handled per tick. A handler that opens a modal
//    prompt returns when it closes; ticks keep running meanwhile, so lines
//    that arrive are handled (nested) first.
//  - The page may delete the object at any time, even from a loop nested in
//    one of its handlers: the handlers notice and return.
//  - One outcome per call: after the first outcome message of a call, later
//    ones are not posted.
//  - The session's own commands are REQUEST:, INFO:, WAIT:, STATUS:,
//    DOWNLOADFILE:, TRANSFER:, FAILURE: and PRICEPLAN:. The commands that
//    change the computer (INIMOD:, REGMOD:, ADDITEM:, APPENDFILE:, CONFIG:)
//    are in the table too; their handlers call a hook set with
//    SetCommandHook. Without a hook such a command is logged and answered
//    with nothing.
//  - Server prompts (WAIT:, TRANSFER:'s access number) open through the
//    SessionPrompts the page installs; without them a prompt counts as
//    cancelled.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/loop/message_loop.h"
#include "session/imodem.h"
#include "session/session_host.h"

namespace session {

class CRegSessionDialog;

// A server command handler: the session and the argument text (everything
// after the keyword's TAB).
using CommandHandler = void (*)(CRegSessionDialog& session, std::string_view arguments);
using CommandHook = std::function<void(CRegSessionDialog& session, std::string_view arguments)>;
// Makes the new account's desktop and Start-menu shortcuts (after TRANSFER:
// has written the dial-up entry).
using ShortcutsHook = std::function<void(CRegSessionDialog& session)>;
// Where the call stands, for writers that gather their writes: a tick with
// bytes still coming or lines waiting (Busy), a tick with nothing received
// and nothing waiting (Quiet), and the end of the call (before its outcome
// is posted, and when the session is destroyed).
enum class LinePace { Busy, Quiet, CallEnds };
using PaceHook = std::function<void(LinePace pace)>;

struct ServerCommand {
  const char* keyword;
  CommandHandler handler;
};

// The command table, searched in order; the first exact match wins. Ends
// with an entry whose keyword is empty.
extern const ServerCommand ServerCommandTable[14];

// Texts the session shows.
inline constexpr std::string_view kFailureMessage =
    "Remote Server has experienced some difficulties, please try back some other time";
inline constexpr std::string_view kTransferText = "Hanging Up Modem, connection not needed..";
inline constexpr std::string_view kUsedIdPrompt =
    "The user ID you selected is already in use.  Please select a different one:";
inline constexpr std::string_view kWrongUserIdPrompt =
    "The user ID you enter is not in the system.  Please enter the right user id:";
inline constexpr std::string_view kWrongPasswordPrompt =
    "The user password you enter is not in the system.  Please enter the right password:";

// INFO: PLAN keeps at most this many plans a call; further ones are answered
// "REPLY: ERROR" (a server must not grow the session without bound).
inline constexpr std::size_t kMaxPlans = 100;
// Server prompts open at once at most; a WAIT: with a prompt beyond them is
// answered "REPLY: ERROR" (each open prompt is a nested loop: unbounded, a
// server that does not wait for the answers would exhaust the stack).
inline constexpr int kMaxOpenPrompts = 4;
// TRANSFER: with exactly one access number waits this long before hanging
// up, handling no line meanwhile.
inline constexpr std::int64_t kSingleNumberWaitMs = 5000;

class CRegSessionDialog final : public platform::MessageTarget {
 public:
  enum Phase { PhaseDialResult = 0, PhaseLoginPrompt = 1, PhaseSession = 2 };

  // `parent` receives the outcome messages; `ui` shows progress (not owned,
  // must outlive the session); `port_options` open the COM port.
  CRegSessionDialog(platform::HWND parent, SessionUi& ui, ModemOptions port_options);
  ~CRegSessionDialog() override;
  CRegSessionDialog(const CRegSessionDialog&) = delete;
  CRegSessionDialog& operator=(const CRegSessionDialog&) = delete;

  // --- set-up by the page, before Start ---
  void SetProfile(ProfileStore* profile) { profile_ = profile; }
  // REGNUMBER and REGSERVER of "Dialing Information" (cut to 31 characters,
  // as read into 32-character buffers).
  void SetPhoneNumber(std::string_view number);
  void SetLoginName(std::string_view name);
  // Reads REGNUMBER and REGSERVER from section "Dialing Information" of the
  // program's INI file (Joinwiz.ini); missing values read as empty.
  void LoadDialingInformation(const std::filesystem::path& ini_file);
  // The dialogs WAIT: and TRANSFER: open (not owned; must outlive the
  // session). Without them every prompt counts as cancelled.
  void SetPrompts(SessionPrompts* prompts) { prompts_ = prompts; }
  // The folder of the program's side files (phones.txt); TRANSFER: reads
  // the access numbers there. Unset: the system root's program folder.
  void SetProgramDir(std::filesystem::path dir) { programDir_ = std::move(dir); }
  std::filesystem::path PhonesFile() const;
  // Installs the handler body of a command of the table (keyword as in the
  // table, colon included). False for a keyword that is not in the table or
  // has its own handler here (REQUEST:, INFO:, WAIT:, STATUS:,
  // DOWNLOADFILE:, TRANSFER:, FAILURE:, PRICEPLAN:).
  bool SetCommandHook(std::string_view keyword, CommandHook hook);
  // Installs what TRANSFER: calls for the account's shortcuts; without one
  // no shortcut is made (logged).
  void SetShortcutsHook(ShortcutsHook hook) { shortcutsHook_ = std::move(hook); }
  // Called on every tick of the session phase and at the end of the call
  // (LinePace); the registry commands flush their gathered writes from it.
  void SetPaceHook(PaceHook hook) { paceHook_ = std::move(hook); }

  // --- the call ---
  // The registration dial. False when it failed at once (the failure message
  // is posted too); true when the dial is under way.
  bool Start();
  // The diagnostic Connect: probes COM1..COM9 for a modem and dials
  // "atdt NUMBER" there.
  void Connect();
  // Ends the call: closes and deletes the port (DTR drops), status
  // "Disconnected". The object stays; the timer is not touched (its next
  // tick finds no port and stops).
  void HangUp();
  bool SetPhase(Phase phase);
  void SetStatus(int code);
  void StopTimer();

  // --- the line protocol ---
  void HandleLine(std::string_view line);
  // "REPLY: " + text + CR to the port if there is one; shown either way.
  // A Masked reply (the password, the card number) is traced without its
  // text.
  enum class ReplyTrace { Plain, Masked };
  void SendReply(std::string_view text, ReplyTrace trace = ReplyTrace::Plain);
  void SendAck(bool ok) { SendReply(ok ? "OK" : "ERROR"); }

  bool OnDialResultTick();
  bool OnLoginTick();
  bool OnSessionTick();

  // --- outcomes and outputs, for the command handlers ---
  void EndSuccess();          // posts WM_WIZ_RESULT_OK
  void EndFailure();          // deletes the port, posts WM_WIZ_RESULT_FAILED
  void PostSessionClosed();   // posts WM_WIZ_SESSION_CLOSED
  void ShowModemText(std::string_view text);
  void ShowSessionText(std::string_view text);
  // Runs a hook's handler body; the table's hooked handlers call it.
  void RunHook(std::string_view keyword, std::string_view arguments);
  // Runs the shortcuts hook, if one is installed.
  void RunShortcutsHook();

  // --- state for the handlers ---
  SessionUi& Ui() { return ui_; }
  SessionPrompts* Prompts() { return prompts_; }
  ProfileStore* Profile() { return profile_; }
  iModem* Port() { return port_.get(); }
  platform::HWND Window() const { return hwnd_; }
  platform::HWND Parent() const { return parent_; }
  Phase CurrentPhase() const { return phase_; }
  bool TimerActive() const { return timerActive_; }
  int LastStatus() const { return lastStatus_; }
  const std::string& PhoneNumber() const { return phoneNumber_; }
  const std::string& LoginName() const { return loginName_; }
  // False while a server prompt is open: texts then leave the focus alone.
  bool focusOnStatus = true;
  std::vector<std::string> planNames;
  std::vector<std::string> planDescriptions;
  std::vector<std::string> planCodes;
  std::size_t plansRefused = 0;  // INFO: PLAN lines beyond kMaxPlans
  int openPrompts = 0;           // server prompts open now (nested)
  std::size_t waitsRefused = 0;  // WAIT: prompts refused beyond kMaxOpenPrompts
  std::string planTag;     // "PLAN" + the chosen plan number; empty until chosen
  std::string installDir;  // set by TRANSFER: (Windows form, ending in "\\")
  // A weak reference that expires when the object is destroyed.
  std::weak_ptr<void> AliveToken() const { return alive_; }

  platform::LRESULT handle_message(const platform::Message& msg) override;

  static constexpr platform::TimerId kTimerId = 1;
  static constexpr std::int64_t kPhaseTimeoutMs = 60000;

 private:
  void Fail();
  void PostOutcome(unsigned message);
  std::string ProfileValue(std::string_view key) const;
  void TakeAndShowLine(std::string& line);
  void ReportPace(LinePace pace);

  platform::HWND parent_;
  platform::HWND hwnd_ = 0;
  SessionUi& ui_;
  SessionPrompts* prompts_ = nullptr;
  ModemOptions portOptions_;
  std::unique_ptr<iModem> port_;
  std::int64_t timerStart_ = 0;
  bool timerActive_ = false;
  Phase phase_ = PhaseDialResult;
  int lastStatus_ = -1;
  ProfileStore* profile_ = nullptr;
  std::string phoneNumber_;
  std::string loginName_;
  std::filesystem::path programDir_;
  bool outcomePosted_ = false;
  std::vector<std::pair<std::string, CommandHook>> hooks_;
  ShortcutsHook shortcutsHook_;
  PaceHook paceHook_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace session
