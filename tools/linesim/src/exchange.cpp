#include "linesim/exchange.h"

#include "linesim/scenario.h"
#include "linesim/tcp_far_end.h"
#include "linesim/text.h"

namespace linesim {

std::string DialTarget::text() const {
  switch (kind) {
    case Kind::Tcp: return host + ":" + std::to_string(port);
    case Kind::Busy: return "busy";
    case Kind::NoAnswer: return "no-answer";
    case Kind::NoCarrier: return "no-carrier";
    case Kind::NoDialtone: return "no-dialtone";
    case Kind::Scenario: return "scenario:" + file;
  }
  return {};
}

bool number_matches(std::string_view dialed, std::string_view number) {
  std::string want = digits_of(number);
  std::string have = digits_of(dialed);
  return !want.empty() && have.size() >= want.size() && have.compare(have.size() - want.size(), want.size(), want) == 0;
}

std::optional<DialTarget> parse_target(std::string_view text, std::string* error) {
  text = trim(text);
  DialTarget t;
  auto fail = [&](const std::string& why) -> std::optional<DialTarget> {
    if (error) *error = why;
    return std::nullopt;
  };
  if (text == "busy") {
    t.kind = DialTarget::Kind::Busy;
  } else if (text == "no-answer") {
    t.kind = DialTarget::Kind::NoAnswer;
  } else if (text == "no-carrier") {
    t.kind = DialTarget::Kind::NoCarrier;
  } else if (text == "no-dialtone") {
    t.kind = DialTarget::Kind::NoDialtone;
  } else if (text.substr(0, 9) == "scenario:") {
    t.kind = DialTarget::Kind::Scenario;
    t.file = std::string(text.substr(9));
    if (t.file.empty()) return fail("scenario: names no file");
  } else {
    std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0)
      return fail("unknown target \"" + std::string(text) + "\" (host:port, busy, no-answer, no-carrier, no-dialtone, scenario:FILE)");
    std::string_view host = text.substr(0, colon);
    std::string_view port = text.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    unsigned long n = 0;
    if (port.empty() || port.size() > 5 || digits_of(port).size() != port.size()) return fail("bad port in \"" + std::string(text) + "\"");
    for (char c : port) n = n * 10 + static_cast<unsigned long>(c - '0');
    if (n == 0 || n > 65535) return fail("port out of range in \"" + std::string(text) + "\"");
    t.kind = DialTarget::Kind::Tcp;
    t.host = std::string(host);
    t.port = static_cast<std::uint16_t>(n);
  }
  return t;
}

Exchange::Exchange(TraceSink trace) : trace_(std::move(trace)) {}
Exchange::~Exchange() = default;

void Exchange::trace(std::string_view line) const {
  if (trace_) trace_(line);
}

std::string Exchange::add_route(std::string_view route) { return add(route, nullptr); }

std::string Exchange::add_route(std::string_view route, const std::map<std::string, std::string>& scenario_texts) {
  return add(route, &scenario_texts);
}

std::string Exchange::add(std::string_view text, const std::map<std::string, std::string>* texts) {
  std::size_t eq = text.find('=');
  if (eq == std::string_view::npos) return "route \"" + std::string(text) + "\" has no \"=\" (NUMBER=TARGET)";
  Route r;
  r.digits = digits_of(text.substr(0, eq));
  if (r.digits.empty()) return "route \"" + std::string(text) + "\" names no digits before \"=\"";
  std::string_view rest = text.substr(eq + 1);
  while (true) {
    std::size_t comma = rest.find(',');
    std::string why;
    auto target = parse_target(rest.substr(0, comma), &why);
    if (!target) return "route \"" + std::string(text) + "\": " + why;
    if (target->kind == DialTarget::Kind::Scenario) {
      if (texts) {
        auto it = texts->find(target->file);
        if (it == texts->end()) return "route \"" + std::string(text) + "\": no scenario " + target->file;
        target->scenario = Scenario::parse(it->second, &why);
        if (!target->scenario) why = target->file + ": " + why;
      } else {
        target->scenario = Scenario::load(target->file, &why);
      }
      if (!target->scenario) return why;
    }
    r.targets.push_back(std::move(*target));
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  routes_.push_back(std::move(r));
  return {};
}

std::optional<DialTarget> Exchange::route(std::string_view dialed) {
  std::string have = digits_of(dialed);
  Route* best = nullptr;
  for (Route& r : routes_)
    if (number_matches(have, r.digits) && (!best || r.digits.size() > best->digits.size())) best = &r;
  if (!best) return std::nullopt;
  std::size_t i = std::min(best->calls, best->targets.size() - 1);
  ++best->calls;
  return best->targets[i];
}

std::unique_ptr<FarEnd> Exchange::open(const DialTarget& target, const std::string& port_name) {
  switch (target.kind) {
    case DialTarget::Kind::Tcp:
      return std::make_unique<TcpFarEnd>(target.host, target.port, trace_, port_name);
    case DialTarget::Kind::Scenario:
      if (target.scenario) return std::make_unique<ScenarioServer>(target.scenario, trace_, port_name);
      return nullptr;
    default:
      return nullptr;
  }
}

}  // namespace linesim
