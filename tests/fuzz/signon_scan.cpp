// Serlink's sign-on scanner: the host's bytes after the carrier. The first
// byte sets how many bytes each delivery brings (1..32); the rest is what
// the host sends. The deliveries are scanned the way the connection's
// handler drives the scanner: bytes held, scanned, the taken part dropped,
// until a word is seen. The scanner is the library's own (not exported):
// this target links the library's archive, as its unit tests do.
// Checked: the taken part is within what was held and the first 255 bytes;
// the traced text is as long as the taken part; without a word all but the
// last 8 bytes are taken (nothing of fewer); with a word something is
// taken, and a rejection's detail starts at its colon and holds no more
// than one line.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "serlink_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using serlink::kSignonKeepTail;
  using serlink::kSignonScanLimit;
  using serlink::SignonSeen;
  if (size == 0) return 0;
  const std::size_t step = 1 + data[0] % 32;
  const std::string sent(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string held;
  for (std::size_t at = 0; at < sent.size(); at += step) {
    held += sent.substr(at, step);
    const serlink::SignonScan scan = serlink::scan_signon(held);
    fuzz::check(scan.taken <= held.size() && scan.taken <= kSignonScanLimit, "took more than was held");
    fuzz::check(scan.shown.size() == scan.taken, "the trace is not the taken part");
    if (scan.seen == SignonSeen::Nothing) {
      const std::size_t looked = std::min(held.size(), kSignonScanLimit);
      const std::size_t expected = held.size() < kSignonKeepTail ? 0 : looked - kSignonKeepTail;
      fuzz::check(scan.taken == expected, "without a word, the kept tail is not 8 bytes");
      fuzz::check(scan.detail.empty(), "a detail without a word");
      held.erase(0, scan.taken);
      continue;
    }
    fuzz::check(scan.taken > 0, "a word seen and nothing taken");
    if (scan.seen == SignonSeen::Rejected) {
      fuzz::check(!scan.detail.empty() && scan.detail.front() == ':', "a rejection's detail does not start at its colon");
      const std::size_t lf = scan.detail.find('\n');
      fuzz::check(lf == std::string::npos || lf + 1 == scan.detail.size(), "a rejection's detail runs past its line");
    } else {
      fuzz::check(scan.detail.empty(), "a detail with a word other than REJECT:");
    }
    break;  // the handler acts on the word and the exchange ends
  }
  return 0;
}
