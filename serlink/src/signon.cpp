// The host's side of the sign-on exchange, read from the bytes received
// after the carrier: pure, no port, no timers.
#include <cstring>

#include "serlink_internal.h"

namespace serlink {

SignonScan scan_signon(std::string_view received) {
  SignonScan scan;
  // So few bytes may still be the start of a word.
  if (received.size() < kSignonKeepTail) return scan;
  std::string copy(received.substr(0, std::min(received.size(), kSignonScanLimit)));
  const std::size_t kept = copy.size();

  struct Word {
    const char* text;
    SignonSeen seen;
  };
  // Table order, not position in the data, decides when two are present.
  static constexpr Word kWords[] = {{"ACCEPT:", SignonSeen::Accepted},
                                    {"REJECT:", SignonSeen::Rejected},
                                    {"NO CARRIER", SignonSeen::CarrierLost},
                                    {"Sign-on:", SignonSeen::Prompt}};
  std::size_t at = std::string::npos;
  for (const Word& w : kWords) {
    at = copy.find(w.text);
    if (at == std::string::npos) continue;
    scan.seen = w.seen;
    if (w.seen == SignonSeen::CarrierLost) {
      // The only word without a colon: the byte after it becomes one, so
      // the rule below ends the taken part there (and the trace shows it).
      const std::size_t after = at + std::strlen(w.text);
      if (after < copy.size()) {
        copy[after] = ':';
      } else {
        copy.push_back(':');
      }
    }
    break;
  }

  if (at == std::string::npos) {
    // Nothing yet: keep the tail, a word split between deliveries is found
    // next time.
    scan.taken = kept - kSignonKeepTail;
    scan.shown = copy.substr(0, scan.taken);
    return scan;
  }
  // Taken: up to the word's colon, or to the end of its line when one ends
  // in what was read.
  const std::size_t colon = copy.find(':', at);
  std::size_t end = colon + 1;
  if (std::size_t lf = copy.find('\n', colon); lf != std::string::npos) end = lf + 1;
  end = std::min(end, kept);
  if (scan.seen == SignonSeen::Rejected) scan.detail = copy.substr(colon, end - colon);
  copy.resize(end);
  scan.taken = end;
  scan.shown = std::move(copy);
  return scan;
}

}  // namespace serlink
