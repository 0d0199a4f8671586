#include "linesim/scenario.h"

#include <fstream>
#include <sstream>

#include "linesim/text.h"
#include "platform/loop/clock.h"

namespace linesim {

bool LinePattern::matches(std::string_view line) const {
  switch (kind) {
    case Kind::Any: return true;
    case Kind::Exact: return line == text;
    case Kind::Prefix: return line.substr(0, text.size()) == text;
  }
  return false;
}

std::string LinePattern::describe() const {
  switch (kind) {
    case Kind::Any: return "*";
    case Kind::Exact: return escape_bytes(text);
    case Kind::Prefix: return escape_bytes(text) + "*";
  }
  return {};
}

namespace {

bool parse_pattern(std::string_view raw, LinePattern& out, std::string* error) {
  if (raw == "*") {
    out.kind = LinePattern::Kind::Any;
    out.text.clear();
    return true;
  }
  // A star at the end makes a prefix unless it is escaped ("\*"); count the
  // backslashes before it to tell.
  bool prefix = false;
  if (!raw.empty() && raw.back() == '*') {
    std::size_t slashes = 0;
    for (std::size_t i = raw.size() - 1; i > 0 && raw[i - 1] == '\\'; --i) ++slashes;
    if (slashes % 2 == 0) {
      prefix = true;
      raw.remove_suffix(1);
    }
  }
  auto text = unescape(raw, error);
  if (!text) return false;
  out.kind = prefix ? LinePattern::Kind::Prefix : LinePattern::Kind::Exact;
  out.text = std::move(*text);
  return true;
}

bool parse_number(std::string_view text, std::int64_t max, std::int64_t& out) {
  text = trim(text);
  if (text.empty() || text.size() > 12) return false;
  std::int64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  if (n > max) return false;
  out = n;
  return true;
}

}  // namespace

std::shared_ptr<const Scenario> Scenario::parse(std::string_view text, std::string* error) {
  auto scenario = std::shared_ptr<Scenario>(new Scenario());
  std::vector<ScenarioStep>& steps = scenario->steps_;
  std::map<std::string, std::size_t> labels;
  std::vector<std::pair<std::size_t, std::string>> jumps;  // step, label
  bool has_login = false;
  int line_no = 0;
  auto fail = [&](const std::string& why) {
    if (error) *error = "line " + std::to_string(line_no) + ": " + why;
    return nullptr;
  };

  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string_view head = trim(line);
    if (head.empty() || head.front() == '#') {
      if (end == text.size()) break;
      continue;
    }
    // Keyword up to the first blank; the argument is everything after that blank.
    std::size_t lead = line.find_first_not_of(" \t");
    line.remove_prefix(lead);
    std::size_t blank = line.find(' ');
    std::string_view keyword = line.substr(0, blank);
    std::string_view arg = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
    std::string why;

    ScenarioStep step;
    step.source_line = line_no;
    if (keyword == "prompt" || keyword == "send" || keyword == "sendraw") {
      auto bytes = unescape(arg, &why);
      if (!bytes) return fail(why);
      step.op = keyword == "prompt" ? ScenarioStep::Op::Prompt
                : keyword == "send" ? ScenarioStep::Op::Send
                                    : ScenarioStep::Op::SendRaw;
      step.text = std::move(*bytes);
    } else if (keyword == "login" || keyword == "expect") {
      if (arg.empty()) return fail(std::string(keyword) + " needs a pattern (\"*\" for any line)");
      if (!parse_pattern(arg, step.pattern, &why)) return fail(why);
      step.op = keyword == "login" ? ScenarioStep::Op::Login : ScenarioStep::Op::Expect;
      if (step.op == ScenarioStep::Op::Login) has_login = true;
    } else if (keyword == "if") {
      std::size_t go = arg.rfind(" goto ");
      if (go == std::string_view::npos) return fail("if needs \"if PATTERN goto LABEL\"");
      std::string_view label = trim(arg.substr(go + 6));
      if (label.empty()) return fail("if names no label");
      if (!parse_pattern(arg.substr(0, go), step.pattern, &why)) return fail(why);
      step.op = ScenarioStep::Op::If;
      step.text = std::string(label);
      jumps.emplace_back(steps.size(), step.text);
    } else if (keyword == "goto" || keyword == "label") {
      std::string_view label = trim(arg);
      if (label.empty()) return fail(std::string(keyword) + " needs a label");
      step.text = std::string(label);
      if (keyword == "goto") {
        step.op = ScenarioStep::Op::Goto;
        jumps.emplace_back(steps.size(), step.text);
      } else {
        step.op = ScenarioStep::Op::Label;
        if (!labels.emplace(step.text, steps.size()).second) return fail("label " + step.text + " is defined twice");
      }
    } else if (keyword == "pause") {
      if (!parse_number(arg, 86'400'000, step.value)) return fail("pause needs milliseconds");
      step.op = ScenarioStep::Op::Pause;
    } else if (keyword == "timeout") {
      if (!parse_number(arg, 86'400, step.value) || step.value == 0) return fail("timeout needs seconds (1 or more)");
      step.op = ScenarioStep::Op::Timeout;
    } else if (keyword == "hangup" || keyword == "end") {
      if (!trim(arg).empty()) return fail(std::string(keyword) + " takes no argument");
      step.op = keyword == "hangup" ? ScenarioStep::Op::Hangup : ScenarioStep::Op::End;
    } else {
      return fail("unknown keyword \"" + std::string(keyword) + "\"");
    }
    steps.push_back(std::move(step));
    if (end == text.size()) break;
  }

  for (const auto& [index, label] : jumps) {
    auto it = labels.find(label);
    if (it == labels.end()) {
      line_no = steps[index].source_line;
      return fail("no label " + label);
    }
    steps[index].target = it->second;
  }
  if (!has_login) {
    ScenarioStep login;
    login.op = ScenarioStep::Op::Login;
    for (ScenarioStep& s : steps)
      if (s.op == ScenarioStep::Op::If || s.op == ScenarioStep::Op::Goto) ++s.target;
    steps.insert(steps.begin(), login);
  }
  steps.push_back(ScenarioStep{});  // the implicit end
  return scenario;
}

std::shared_ptr<const Scenario> Scenario::load(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = path + ": cannot be read";
    return nullptr;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::string why;
  auto scenario = parse(text.str(), &why);
  if (!scenario && error) *error = path + ": " + why;
  return scenario;
}

ScenarioServer::ScenarioServer(std::shared_ptr<const Scenario> scenario, TraceSink trace, std::string port_name)
    : scenario_(std::move(scenario)), trace_(std::move(trace)), name_(std::move(port_name)) {}

void ScenarioServer::trace(std::string_view tag, std::string_view text) const {
  if (!trace_) return;
  std::string line = name_;
  line += ' ';
  line += tag;
  line += ' ';
  line += text;
  trace_(line);
}

void ScenarioServer::send(std::string_view bytes) {
  if (closed_) return;
  out_ += bytes;
  trace("srv>", escape_bytes(bytes));
}

void ScenarioServer::fail(const std::string& why) {
  if (failure_.empty()) failure_ = why;
  trace("srv!", why);
  if (!closed_) {
    trace("srv", "hangs up");
    closed_ = true;
  }
}

void ScenarioServer::add_line(std::string line) {
  trace("srv<", escape_bytes(line));
  received_.push_back(line);
  if (lines_.size() >= kMaxQueued) {
    trace("srv!", "too many unread lines; the oldest is dropped");
    lines_.pop_front();
  }
  lines_.push_back(std::move(line));
}

void ScenarioServer::write(std::string_view bytes) {
  if (closed_) return;
  for (char c : bytes) {
    if (c == '\r' || c == '\n') {
      if (!partial_.empty()) add_line(std::move(partial_));
      partial_.clear();
      partial_cut_ = false;
      continue;
    }
    if (partial_.size() >= kMaxLine) {
      // The rest of an over-long line is dropped, once noted.
      if (!partial_cut_) trace("srv!", "line longer than " + std::to_string(kMaxLine) + " bytes; the rest is dropped");
      partial_cut_ = true;
      continue;
    }
    partial_ += c;
  }
}

std::size_t ScenarioServer::read(char* out, std::size_t max) {
  std::size_t n = std::min(max, out_.size());
  out_.copy(out, n);
  out_.erase(0, n);
  return n;
}

void ScenarioServer::hang_up() {
  if (closed_) return;
  closed_ = true;
  if (!partial_.empty()) {
    // Bytes without a line end are still part of what the server received.
    trace("srv<", escape_bytes(partial_) + " (no line end)");
    received_.push_back(std::move(partial_));
    partial_.clear();
  }
  trace("srv", finished_ ? "caller hung up" : "caller hung up at step " + std::to_string(pc_ + 1));
}

std::optional<std::int64_t> ScenarioServer::next_due_ms() const {
  if (closed_) return std::nullopt;
  if (pause_until_) return pause_until_;
  return wait_deadline_;
}

void ScenarioServer::poll() {
  const auto& steps = scenario_->steps();
  std::int64_t now = platform::clock().now_ms();
  // A bounded number of steps per poll, so a script that jumps in a circle
  // without waiting cannot stall the caller.
  for (int budget = 10'000; budget > 0 && !closed_ && !finished_; --budget) {
    if (pc_ >= steps.size()) {
      finished_ = true;
      break;
    }
    const ScenarioStep& step = steps[pc_];
    std::string where = "line " + std::to_string(step.source_line);
    switch (step.op) {
      case ScenarioStep::Op::Prompt:
        prompt_ = step.text;
        ++pc_;
        break;
      case ScenarioStep::Op::Send:
        send(step.text + "\r");
        ++pc_;
        break;
      case ScenarioStep::Op::SendRaw:
        send(step.text);
        ++pc_;
        break;
      case ScenarioStep::Op::Login:
      case ScenarioStep::Op::Expect: {
        bool login = step.op == ScenarioStep::Op::Login;
        if (login && !prompt_sent_) {
          send(prompt_);
          prompt_sent_ = true;
        }
        if (lines_.empty()) {
          if (!wait_deadline_) wait_deadline_ = now + timeout_ms_;
          if (now >= *wait_deadline_) {
            wait_deadline_.reset();
            fail(where + ": timed out waiting for " + (login ? "the log-in name" : step.pattern.describe()));
          }
          return;
        }
        wait_deadline_.reset();
        last_line_ = std::move(lines_.front());
        lines_.pop_front();
        if (!step.pattern.matches(last_line_)) {
          fail(where + ": expected " + step.pattern.describe() + ", got " + escape_bytes(last_line_));
          return;
        }
        if (login) {
          prompt_sent_ = false;
          send("\r\n");
        }
        ++pc_;
        break;
      }
      case ScenarioStep::Op::If:
        pc_ = step.pattern.matches(last_line_) ? step.target : pc_ + 1;
        break;
      case ScenarioStep::Op::Goto:
        pc_ = step.target;
        break;
      case ScenarioStep::Op::Label:
        ++pc_;
        break;
      case ScenarioStep::Op::Pause:
        if (!pause_until_) pause_until_ = now + step.value;
        if (now < *pause_until_) return;
        pause_until_.reset();
        ++pc_;
        break;
      case ScenarioStep::Op::Timeout:
        timeout_ms_ = step.value * 1000;
        ++pc_;
        break;
      case ScenarioStep::Op::Hangup:
        trace("srv", "hangs up (" + where + ")");
        closed_ = true;
        ++pc_;
        return;
      case ScenarioStep::Op::End:
        finished_ = true;
        trace("srv", "script ended");
        return;
    }
  }
}

}  // namespace linesim
