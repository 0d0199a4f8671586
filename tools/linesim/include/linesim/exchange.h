// The phone exchange: which dialed number reaches what.
//
// A route is "NUMBER=TARGET[,TARGET...]". A dialed number matches NUMBER when
// the digits it contains end with the digits of NUMBER, so an outside-line
// prefix or a call-waiting code may come first ("9,*70,5551234" matches
// "5551234"); the longest matching NUMBER wins. Successive calls to one
// number take its targets in turn; the last one stays for every later call.
//
// Targets: "host:port" (a TCP peer), "busy", "no-answer", "no-carrier",
// "no-dialtone", "scenario:FILE" (the reference registration server playing
// FILE). Scenario files are read and checked when the route is added.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "linesim/far_end.h"

namespace linesim {

class Scenario;

struct DialTarget {
  enum class Kind { Tcp, Busy, NoAnswer, NoCarrier, NoDialtone, Scenario };
  Kind kind = Kind::NoAnswer;
  std::string host;                       // Tcp
  std::uint16_t port = 0;                 // Tcp
  std::string file;                       // Scenario: the file as given
  std::shared_ptr<const Scenario> scenario;  // Scenario: parsed
  std::string text() const;               // as written in a route
};

// True when the digits of `dialed` end with the (non-empty) digits of `number`.
bool number_matches(std::string_view dialed, std::string_view number);

// Parses one target ("busy", "127.0.0.1:7000", "scenario:x.txt"); scenario
// files are not read here. Returns nullopt and a reason in `error`.
std::optional<DialTarget> parse_target(std::string_view text, std::string* error);

class Exchange {
 public:
  explicit Exchange(TraceSink trace = {});
  ~Exchange();

  // Adds "NUMBER=TARGET[,TARGET...]"; reads scenario files relative to the
  // working directory. Returns an empty text, or why the route was refused.
  std::string add_route(std::string_view route);
  // Adds a route whose scenario targets come from `scenario_texts` by file
  // name instead of the disk (tests).
  std::string add_route(std::string_view route, const std::map<std::string, std::string>& scenario_texts);

  // The target of the next call to `dialed`, or nullopt when no route matches.
  std::optional<DialTarget> route(std::string_view dialed);

  // The far end for a target that has one (Tcp, Scenario); nullptr for the
  // plain answers. `port_name` prefixes its trace lines.
  std::unique_ptr<FarEnd> open(const DialTarget& target, const std::string& port_name);

  void trace(std::string_view line) const;
  const TraceSink& trace_sink() const { return trace_; }

 private:
  struct Route {
    std::string digits;
    std::vector<DialTarget> targets;
    std::size_t calls = 0;
  };
  std::string add(std::string_view route, const std::map<std::string, std::string>* texts);

  TraceSink trace_;
  std::vector<Route> routes_;
};

}  // namespace linesim
