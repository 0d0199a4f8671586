#include "display/headless.h"
#include "display/transcript.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/storage/ascii.h"
#include "platform/ui/utf8.h"
#include "platform/loop/clock.h"
#include "platform/loop/log.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/labels.h"
#include "platform/storage/files.h"
#include "platform/ui/message_box.h"
#include "platform/ui/user_input.h"
#include "platform/ui/window.h"

namespace display {

using namespace platform;

namespace {

constexpr unsigned kRunStep = WM_USER + 1;

bool parse_int(std::string_view s, int& out) {
  if (s.empty()) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size();
}

int answer_id(std::string_view name) {
  if (platform::equal_no_case(name, "OK")) return IDOK;
  if (platform::equal_no_case(name, "Cancel")) return IDCANCEL;
  if (platform::equal_no_case(name, "Yes")) return IDYES;
  if (platform::equal_no_case(name, "No")) return IDNO;
  return 0;
}

// Verbs and what they take: a target token, text after it.
struct VerbRule {
  const char* verb;
  bool target;
  bool text;
};
constexpr VerbRule kVerbs[] = {
    {"wait", true, false},          {"set", true, true},           {"check", true, false},
    {"uncheck", true, false},       {"select", true, true},        {"click", true, false},
    {"key", true, false},           {"expect-message", false, true}, {"answer", true, false},
    {"expect-text", true, true},    {"timeout", true, false},
};

// "Alt+N" names the mnemonic N (one character after "Alt+"); 0 otherwise.
char32_t alt_letter(std::string_view name) {
  if (name.size() < 5 || (name.substr(0, 4) != "Alt+" && name.substr(0, 4) != "alt+")) return 0;
  const std::string_view rest = name.substr(4);
  if (rest.size() == 1) return static_cast<char32_t>(static_cast<unsigned char>(rest[0]));
  return 0;
}

std::string line_error(int line, std::string_view source, std::string_view why) {
  return "script line " + std::to_string(line) + ": " + std::string(source) + ": " + std::string(why);
}

}  // namespace

bool parse_script(std::string_view text, std::vector<ScriptStep>& steps, std::string& error) {
  steps.clear();
  int line_no = 0;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t nl = text.find('\n', pos);
    std::string_view line = text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? text.size() + 1 : nl + 1;
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos || line[start] == '#') continue;
    line.remove_prefix(start);
    ScriptStep step;
    step.line = line_no;
    step.source = std::string(line);
    std::size_t sp = line.find_first_of(" \t");
    step.verb = std::string(line.substr(0, sp));
    std::string_view rest = sp == std::string_view::npos ? std::string_view() : line.substr(sp + 1);
    const VerbRule* rule = nullptr;
    for (const auto& r : kVerbs)
      if (step.verb == r.verb) rule = &r;
    if (!rule) {
      error = line_error(line_no, line, "unknown step");
      return false;
    }
    if (rule->target) {
      std::size_t t0 = rest.find_first_not_of(" \t");
      if (t0 == std::string_view::npos) {
        error = line_error(line_no, line, "missing argument");
        return false;
      }
      rest.remove_prefix(t0);
      std::size_t t1 = rest.find_first_of(" \t");
      if (rest[0] == '"') {
        // A label or caption in double quotes: "First Name:".
        const std::size_t close = rest.find('"', 1);
        if (close == std::string_view::npos || close == 1) {
          error = line_error(line_no, line, "a quoted label needs its closing quote");
          return false;
        }
        t1 = close + 1 < rest.size() ? close + 1 : std::string_view::npos;
        if (t1 != std::string_view::npos && rest[t1] != ' ' && rest[t1] != '\t') {
          error = line_error(line_no, line, "a blank must follow the quoted label");
          return false;
        }
      }
      step.target = std::string(rest.substr(0, t1));
      // The text is the rest of the line after one separating blank, as typed.
      rest = t1 == std::string_view::npos ? std::string_view() : rest.substr(t1 + 1);
    }
    if (rule->text) {
      step.text = std::string(rest);
    } else if (rest.find_first_not_of(" \t") != std::string_view::npos) {
      error = line_error(line_no, line, "unexpected text after the step");
      return false;
    }
    int n = 0;
    if (step.verb == "key") {
      if (!key_from_name(step.target) && !alt_letter(step.target)) {
        error = line_error(line_no, line, "unknown key (Enter, Esc, Tab, Shift-Tab, Space, F1, Alt+N, ...)");
        return false;
      }
    } else if (step.verb == "answer") {
      if (!answer_id(step.target)) {
        error = line_error(line_no, line, "answer must be OK, Cancel, Yes or No");
        return false;
      }
    } else if (step.verb == "timeout") {
      if (!parse_int(step.target, n) || n <= 0) {
        error = line_error(line_no, line, "timeout needs a positive number of seconds");
        return false;
      }
    } else if (step.verb == "expect-message") {
      if (step.text.empty()) {
        error = line_error(line_no, line, "missing text");
        return false;
      }
    } else if (!parse_int(step.target, n) && step.target[0] != '"') {
      error = line_error(line_no, line, "not a number or a quoted label: " + step.target);
      return false;
    }
    steps.push_back(std::move(step));
  }
  return true;
}

// ---------------------------------------------------------------- scripted user

struct HeadlessDisplay::Impl : public MessageTarget {
  HeadlessDisplay* owner = nullptr;
  HeadlessOptions options;
  std::vector<ScriptStep> steps;
  std::ofstream transcript;
  HWND self = 0;
  TimerId timer = 0;
  std::int64_t step_started = 0;
  std::int64_t timeout_ms = 120'000;
  bool action_pending = false;
  bool end_reported = false;
  std::string waiting_for;  // why the current step is not ready, for the time-out message
  std::string controls;     // the active dialog's controls when a step failed

  LRESULT handle_message(const Message& msg) override {
    if (msg.message == kRunStep) owner->act(static_cast<std::size_t>(msg.wparam));
    return 0;
  }
};

namespace {

// Ends every modal dialog and message box, topmost first: their modal runs
// return -1 to whoever opened them.
void end_modal_dialogs() {
  auto tops = top_level_windows();
  for (auto it = tops.rbegin(); it != tops.rend(); ++it) {
    auto* dialog = window_cast<Dialog>(*it);
    if (dialog && dialog->is_modal() && !dialog->is_ending()) dialog->end_dialog(-1);
  }
}

MessageBoxWindow* visible_message_box() {
  auto tops = top_level_windows();
  for (auto it = tops.rbegin(); it != tops.rend(); ++it) {
    auto* box = window_cast<MessageBoxWindow>(*it);
    if (box && box->is_visible() && !box->is_ending()) return box;
  }
  return nullptr;
}

// The windows a step looks in: the active window first, then the other
// visible top-level windows from the top. Empty while every window is hidden.
std::vector<HWND> search_order() {
  std::vector<HWND> order;
  const HWND active = active_window();
  if (active) order.push_back(active);
  auto tops = top_level_windows();
  for (auto it = tops.rbegin(); it != tops.rend(); ++it)
    if (*it != active && is_window_visible(*it)) order.push_back(*it);
  return order;
}

// A control by id, in search_order().
Control* find_control(int id) {
  for (HWND top : search_order()) {
    if (auto* c = window_cast<Control>(get_dlg_item(top, id))) return c;
  }
  return nullptr;
}

bool same_label(std::string_view text, std::string_view label) {
  const std::string shown = strip_mnemonics(text);
  if (shown == label) return true;
  // "First Name" names the label "First Name:" too.
  return !shown.empty() && shown.back() == ':' && std::string_view(shown).substr(0, shown.size() - 1) == label;
}

// A control by its label, in search_order(): a button,
// check box or radio button by its own text; another control by the static
// text (or group box) before it, as the mnemonic of that label reaches it.
Control* find_labelled(std::string_view label) {
  for (HWND top : search_order()) {
    Window* w = window_from_handle(top);
    if (!w) continue;
    const auto& kids = w->children();
    for (std::size_t i = 0; i < kids.size(); ++i) {
      auto* c = window_cast<Control>(kids[i]);
      if (!c || !c->is_visible() || !same_label(c->text(), label)) continue;
      if (c->type() == ControlType::Static || c->type() == ControlType::GroupBox) {
        if (HWND field = field_named_by(kids[i], false)) return window_cast<Control>(field);
        continue;
      }
      if (c->type() != ControlType::Picture && c->type() != ControlType::Edit) return c;
    }
  }
  return nullptr;
}

// The control a step names: a number is an id, a quoted text a label.
Control* find_target(const std::string& target) {
  if (!target.empty() && target[0] == '"') return find_labelled(std::string_view(target).substr(1, target.size() - 2));
  int id = 0;
  if (!parse_int(target, id)) return nullptr;
  return find_control(id);
}

const char* class_name(const Control& c) {
  switch (c.type()) {
    case ControlType::Static: return "static";
    case ControlType::Picture: return "picture";
    case ControlType::GroupBox: return "group-box";
    case ControlType::PushButton: return "button";
    case ControlType::CheckBox: return "check-box";
    case ControlType::RadioButton: return "radio";
    case ControlType::OwnerDraw: return "owner-drawn";
    case ControlType::Edit: return "edit";
    case ControlType::ComboBox: return "combo-box";
    case ControlType::ListBox: return "list-box";
  }
  return "?";
}

// The controls of the active dialog, one a line, for the message of a step
// that failed: what a script may name there.
std::string describe_active_dialog() {
  const HWND a = active_window();
  auto* d = window_cast<Dialog>(a);
  if (!d) return "no dialog is active\n";
  std::string out = "controls of the active dialog " + std::to_string(d->template_id()) + " " + quote_text(d->text()) +
                    " (id, class, text):\n";
  for (HWND h : d->children()) {
    auto* c = window_cast<Control>(h);
    if (!c) continue;
    std::string flags;
    if (!c->has_visible_style()) flags += " hidden";
    if (!c->is_enabled()) flags += " disabled";
    out += "  " + std::to_string(c->id()) + " " + class_name(*c) + " " + quote_text(c->text()) + flags + "\n";
  }
  return out;
}

bool usable(const Window* w) { return w && w->is_visible() && w->is_enabled() && is_window_enabled(top_level_of(w->hwnd())); }

}  // namespace

std::unique_ptr<HeadlessDisplay> HeadlessDisplay::start(HeadlessOptions options, std::string& error) {
  std::unique_ptr<HeadlessDisplay> d(new HeadlessDisplay());
  d->impl_ = std::make_unique<Impl>();
  Impl& im = *d->impl_;
  im.owner = d.get();
  if (!parse_script(options.script, im.steps, error)) return nullptr;
  if (!options.transcript_path.empty()) {
    im.transcript.open(options.transcript_path, std::ios::app);
    if (!im.transcript) {
      error = "cannot write the transcript " + options.transcript_path;
      return nullptr;
    }
  }
  if (!options.on_failure) {
    // The program's own runs: the message and what the script could have
    // named in the dialog that was up.
    Impl* impl = &im;
    options.on_failure = [impl](int code, const std::string& message) {
      std::fprintf(stderr, "%s\n%s", message.c_str(), impl->controls.c_str());
      std::fflush(nullptr);
      _exit(code);
    };
  }
  im.timeout_ms = options.default_timeout_ms;
  im.options = std::move(options);
  MessageLoop& loop = MessageLoop::current();
  im.self = loop.register_window(&im);
  im.step_started = platform::clock().now_ms();
  HeadlessDisplay* raw = d.get();
  im.timer = loop.set_thread_timer(std::max<std::int64_t>(im.options.poll_ms, 1), [raw](TimerId) { raw->tick(); });
  set_display(d.get());
  return d;
}

HeadlessDisplay::~HeadlessDisplay() {
  if (current_display() == this) set_display(nullptr);
  if (impl_) {
    MessageLoop& loop = MessageLoop::current();
    if (impl_->timer) loop.kill_thread_timer(impl_->timer);
    if (impl_->self) loop.unregister_window(impl_->self);
  }
}

bool HeadlessDisplay::finished() const { return !failed_ && next_ >= impl_->steps.size() && !impl_->action_pending; }

void HeadlessDisplay::write(const std::string& line) {
  lines_.push_back(line);
  if (impl_->transcript.is_open()) {
    impl_->transcript << line << '\n';
    impl_->transcript.flush();
  }
}

void HeadlessDisplay::fail(const std::string& message) {
  if (failed_) return;
  failed_ = true;
  failure_ = message;
  write("failed: " + message);
  impl_->controls = describe_active_dialog();
  if (impl_->options.end_dialogs_after_failure) {
    // The poll goes on, ending the dialogs that come up later.
    impl_->options.on_failure(3, message);
    end_modal_dialogs();
    return;
  }
  if (impl_->timer) {
    MessageLoop::current().kill_thread_timer(impl_->timer);
    impl_->timer = 0;
  }
  impl_->options.on_failure(3, message);
}

void HeadlessDisplay::window_event(HWND hwnd, WindowEvent event) {
  if (event != WindowEvent::Shown || failed_) return;
  Window* w = window_from_handle(hwnd);
  if (!w || w->parent() != 0) return;
  if (auto* box = dynamic_cast<MessageBoxWindow*>(w)) {
    write(message_box_line(*box));
    return;
  }
  auto* dlg = dynamic_cast<Dialog*>(w);
  if (!dlg) return;
  paint_window(hwnd);
  if (!window_from_handle(hwnd)) return;
  write(dialog_line(*dlg));
}

void HeadlessDisplay::beep() { write("beep"); }

// Whether step `s` can be done now; `why` says what is missing.
bool HeadlessDisplay::ready(const ScriptStep& s, std::string& why) {
  int id = 0;
  parse_int(s.target, id);
  if (s.verb == "wait") {
    const bool by_caption = !s.target.empty() && s.target[0] == '"';
    const std::string caption = by_caption ? s.target.substr(1, s.target.size() - 2) : std::string();
    for (HWND h : top_level_windows()) {
      auto* d = window_cast<Dialog>(h);
      if (!d || d->kind() != WindowKind::Dialog || !usable(d) || d->is_ending()) continue;
      if (by_caption ? d->text() == caption : d->template_id() == id) return true;
    }
    why = "dialog " + s.target + " is not shown and enabled";
    return false;
  }
  if (s.verb == "expect-message" || s.verb == "answer") {
    MessageBoxWindow* box = visible_message_box();
    if (!box) {
      why = "no message box is up";
      return false;
    }
    if (s.verb == "expect-message" && box->message().find(s.text) == std::string::npos) {
      why = "the message box says " + quote_text(box->message());
      return false;
    }
    if (s.verb == "answer") {
      const auto ids = box->buttons();
      if (std::find(ids.begin(), ids.end(), answer_id(s.target)) == ids.end()) {
        why = "the message box has no " + s.target + " button";
        return false;
      }
    }
    return true;
  }
  if (s.verb == "key") {
    if (active_window()) return true;
    why = "no window takes keys";
    return false;
  }
  Control* c = find_target(s.target);
  if (!c) {
    why = "control " + s.target + " does not exist";
    return false;
  }
  if (s.verb == "expect-text") {
    if (!c->is_visible()) {
      why = "control " + s.target + " is not visible";
      return false;
    }
    if (c->text().find(s.text) == std::string::npos) {
      why = "control " + s.target + " says " + quote_text(c->text());
      return false;
    }
    return true;
  }
  if (!usable(c)) {
    why = "control " + s.target + " is not visible and enabled";
    return false;
  }
  if (s.verb == "select") {
    auto* items = dynamic_cast<ItemList*>(c);
    if (!items) {
      why = "control " + s.target + " is not a list or combo box";
      return false;
    }
    if (items->find_exact(-1, s.text) < 0) {
      why = "control " + s.target + " has no item " + quote_text(s.text);
      return false;
    }
  }
  return true;
}

void HeadlessDisplay::tick() {
  Impl& im = *impl_;
  if (failed_) {
    if (im.options.end_dialogs_after_failure) end_modal_dialogs();
    return;
  }
  if (im.action_pending) return;
  const std::int64_t now = platform::clock().now_ms();
  // Steps that need no window run at once, several in one tick.
  while (next_ < im.steps.size() && im.steps[next_].verb == "timeout") {
    const ScriptStep& s = im.steps[next_];
    int seconds = 0;
    parse_int(s.target, seconds);
    im.timeout_ms = static_cast<std::int64_t>(seconds) * 1000;
    write("step " + std::to_string(s.line) + ": " + s.source);
    ++next_;
    im.step_started = now;
  }
  MessageBoxWindow* box = visible_message_box();
  if (next_ >= im.steps.size()) {
    if (box) {
      fail("end of script: a message box that no step expects: " + quote_text(box->message()));
      return;
    }
    if (!im.end_reported) {
      im.end_reported = true;
      if (im.options.on_finished) im.options.on_finished();
      im.step_started = now;
    }
    if (im.options.expect_end && !top_level_windows().empty() && now - im.step_started > im.timeout_ms)
      fail(im.options.end_dialogs_after_failure
               ? "end of script: a dialog is still open after " + std::to_string(im.timeout_ms / 1000) + " s"
               : "end of script: the program did not end within " + std::to_string(im.timeout_ms / 1000) + " s");
    return;
  }
  const ScriptStep& s = im.steps[next_];
  if (box && s.verb != "expect-message" && s.verb != "answer") {
    fail(line_error(s.line, s.source, "a message box that no step expects: " + quote_text(box->message())));
    return;
  }
  std::string why;
  if (!ready(s, why)) {
    if (now - im.step_started > im.timeout_ms)
      fail(line_error(s.line, s.source, "not done within " + std::to_string(im.timeout_ms / 1000) + " s: " + why));
    return;
  }
  write("step " + std::to_string(s.line) + ": " + s.source);
  const std::size_t index = next_++;
  im.step_started = now;
  if (s.verb == "wait" || s.verb == "expect-message" || s.verb == "expect-text") return;
  // The action runs from the loop, not from this tick, so a modal loop it
  // opens keeps the script going.
  im.action_pending = true;
  post_message(im.self, kRunStep, index);
}

void HeadlessDisplay::act(std::size_t index) {
  Impl& im = *impl_;
  im.action_pending = false;
  if (failed_ || index >= im.steps.size()) return;
  const ScriptStep s = im.steps[index];
  std::string why;
  if (!ready(s, why)) {
    fail(line_error(s.line, s.source, why));
    return;
  }
  int id = 0;
  parse_int(s.target, id);
  if (s.verb == "key") {
    const bool taken = key_from_name(s.target) ? press_key(*key_from_name(s.target)) : press_mnemonic(alt_letter(s.target));
    if (!taken) fail(line_error(s.line, s.source, "no window took the key"));
    return;
  }
  if (s.verb == "answer") {
    MessageBoxWindow* box = visible_message_box();
    if (!click(box->item(answer_id(s.target)))) fail(line_error(s.line, s.source, "the button cannot be pressed"));
    return;
  }
  Control* c = find_target(s.target);
  Window::Hold hold(c);
  if (s.verb == "click") {
    if (!click(c->hwnd())) fail(line_error(s.line, s.source, "the control cannot be clicked"));
    return;
  }
  if (s.verb == "check" || s.verb == "uncheck") {
    auto* b = dynamic_cast<Button*>(c);
    if (!b || (b->type() != ControlType::CheckBox && b->type() != ControlType::RadioButton)) {
      fail(line_error(s.line, s.source, "control " + s.target + " is not a check box or radio button"));
      return;
    }
    const bool want = s.verb == "check";
    if ((b->check() == BST_CHECKED) == want) return;
    if (!want && b->type() == ControlType::RadioButton) {
      fail(line_error(s.line, s.source, "a radio button is unchecked by checking another"));
      return;
    }
    click(b->hwnd());
    return;
  }
  if (s.verb == "select") {
    auto* items = dynamic_cast<ItemList*>(c);
    int i = items ? items->find_exact(-1, s.text) : -1;
    if (i < 0 || !click_item(c->hwnd(), i)) fail(line_error(s.line, s.source, "the item cannot be selected"));
    return;
  }
  if (s.verb == "set") {
    if (auto* e = dynamic_cast<Edit*>(c)) {
      if (e->is_read_only()) {
        fail(line_error(s.line, s.source, "control " + s.target + " is read-only"));
        return;
      }
      click(e->hwnd());
      if (!window_from_handle(e->hwnd())) return;
      e->select_all();
      if (e->text().empty() || !s.text.empty()) type_text(s.text);
      else press_key(Key::Delete);
      // A limit that cut the text is said in the transcript, not passed over.
      // A password is not written out, only how much of it was taken.
      if (window_from_handle(e->hwnd()) && !equal_no_case(e->text(), s.text)) {
        const std::string what = e->is_password()
                                     ? std::to_string(e->length()) + " characters of " +
                                           std::to_string(utf8_length(s.text))
                                     : quote_text(e->text()) + " of " + quote_text(s.text);
        write("note: control " + s.target + " took " + what +
              (e->limit() > 0 ? " (at most " + std::to_string(e->limit()) + " characters)" : std::string()));
      }
      return;
    }
    if (auto* cb = dynamic_cast<ComboBox*>(c)) {
      click(cb->hwnd());
      if (!window_from_handle(cb->hwnd())) return;
      if (cb->has_edit()) {
        cb->user_replace(s.text);
      } else {
        const int i = cb->find_exact(-1, s.text);
        if (i < 0) {
          fail(line_error(s.line, s.source, "drop-down list " + s.target + " has no item " + quote_text(s.text)));
          return;
        }
        click_item(cb->hwnd(), i);
      }
      return;
    }
    fail(line_error(s.line, s.source, "control " + s.target + " is not an edit or combo box"));
  }
}

}  // namespace display

// Entry point for programs that load the headless display by name
// (platform::open_display). In a program of ours a bad script or transcript
// ends the process with exit code 3 here, as a failing step would. For a
// library's dialogs inside another program (options->library_host) nothing
// ends the process: a bad script is an error, a failing step is logged and
// ends the dialogs that are open or come up later.
extern "C" __attribute__((visibility("default"))) platform::Display* vlr_display_open(
    const platform::DisplayOptions* options, std::string* error) {
  if (!options) return nullptr;
  const bool library = options->library_host;
  auto refuse = [&](const std::string& why) -> platform::Display* {
    if (library) {
      if (error) *error = why;
      return nullptr;
    }
    std::fprintf(stderr, "%s\n", why.c_str());
    std::fflush(nullptr);
    _exit(3);
  };
  std::string text;
  std::string why;
  if (!platform::read_file(options->answers, text, &why, nullptr, platform::ReadSource::FileOrStream))
    return refuse("cannot read the answers script " + options->answers + ": " + why);
  display::HeadlessOptions ho;
  ho.script = std::move(text);
  ho.transcript_path = options->transcript;
  ho.expect_end = true;
  if (library) {
    ho.end_dialogs_after_failure = true;
    ho.on_failure = [](int, const std::string& message) {
      platform::log_error("headless", message + ": the open dialogs are ended");
    };
  }
  auto d = display::HeadlessDisplay::start(std::move(ho), why);
  if (!d) return refuse(why);
  if (error) error->clear();
  return d.release();
}
