// The pppd files of a dial-up entry: peers file, chat script, secrets lines
// and name-server hooks. The first byte picks the side. 0: the readers over
// raw text, as a doctored file in the root gives it to them (pppd_words,
// read_peers_file, read_chat_script, read_secrets). 1: the writers, from values
// cut at NUL bytes (entry name, user, password, device, speed, dial method,
// prefix, call-waiting flag and string, area code, number, four DNS bytes
// twice, a secrets file, the caller's area code, the modem's init string).
// Checked: what a writer makes parses back through
// the readers to the same values; a quoted word is one word of exactly those
// bytes; a merged secrets file holds the entry's line once, and removing it
// gives the old bytes back.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "fields.h"
#include "fuzz_support.h"
#include "platform/shell/phonebook.h"

namespace {

namespace pb = platform::phonebook;

void readers(std::string_view text) {
  for (const auto& line : pb::pppd_words(text)) {
    for (const auto& word : line) fuzz::check(word.size() <= 1024, "a word over pppd's limit");
  }
  if (auto peers = pb::read_peers_file(text)) {
    // A file read back writes again, and that reads back the same.
    if (auto again = pb::peers_file_text(*peers)) {
      auto back = pb::read_peers_file(*again);
      fuzz::check(back.has_value(), "a rewritten peers file does not read back");
      fuzz::check(back->device == peers->device && back->user == peers->user && back->speed == peers->speed &&
                      back->chat_script == peers->chat_script && back->ipparam == peers->ipparam,
                  "a rewritten peers file reads back otherwise");
    }
  }
  if (auto steps = pb::read_chat_script(text)) {
    if (auto script = pb::chat_script_text(steps->init, steps->dial)) {
      auto again = pb::read_chat_script(*script);
      fuzz::check(again && again->dial == steps->dial, "a rewritten chat script dials otherwise");
      fuzz::check(again && again->init == (steps->init.empty() ? "AT&D2" : steps->init),
                  "a rewritten chat script initialises the modem otherwise");
    }
  }
  pb::read_secrets(text);
}

// A backslash right before a line end outside a comment: pppd joins the
// next line to it. Inside a comment pppd ignores the backslash (checked
// with pppd itself: after "# note \" the next line's option is read), so
// a line whose text before it holds a '#' is not counted; that may miss a
// "a#b\" word, which makes this check weaker, never wrong.
bool LineContinued(std::string_view text) {
  for (std::size_t at = text.find("\\\n"); at != std::string_view::npos; at = text.find("\\\n", at + 1)) {
    const std::size_t start = text.rfind('\n', at);
    const std::string_view before = text.substr(start == std::string_view::npos ? 0 : start + 1,
                                                at - (start == std::string_view::npos ? 0 : start + 1));
    if (before.find('#') == std::string_view::npos) return true;
  }
  return false;
}

pb::Address address(fuzz::Fields& f) {
  pb::Address a{};
  std::string bytes = f.next();
  for (std::size_t i = 0; i < a.size() && i < bytes.size(); ++i) a[i] = static_cast<std::uint8_t>(bytes[i]);
  return a;
}

void writers(fuzz::Fields f) {
  const std::string name = f.next(), user = f.next(), password = f.next(), device = f.next(), speed = f.next();
  const std::string method = f.next(), prefix = f.next(), cw = f.next(), cw_string = f.next();
  const std::string area = f.next(), number = f.next();
  const pb::Address dns1 = address(f), dns2 = address(f);
  const std::string secrets = f.next();
  const std::string own_area = f.next(), modem_init = f.next();

  const std::string safe = pb::safe_entry_name(name);
  fuzz::check(!safe.empty() && safe.front() != '-' && safe.back() != '-', "a safe name with a '-' at an end");
  for (char c : safe) fuzz::check((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-', "an unsafe name");

  for (const std::string* word : {&name, &user, &password, &device}) {
    if (word->size() > 1000) continue;
    if (auto quoted = pb::pppd_quote(*word)) {
      auto words = pb::pppd_words(*quoted);
      fuzz::check(words.size() == 1 && words[0].size() == 1 && words[0][0] == *word,
                  "a quoted word does not read back as itself");
    }
  }

  std::string why;
  const pb::DialingRules rules{method, prefix, cw, cw_string, own_area};
  if (auto dial = pb::dial_command(rules, area, number, &why)) {
    fuzz::check(dial->rfind("ATD", 0) == 0, "a dial command without ATD");
    const std::string init = pb::modem_init_command(modem_init).value_or("AT&D2");
    auto script = pb::chat_script_text(init, *dial, &why);
    fuzz::check(script.has_value(), "a dial command or init string the chat script refuses: " + why);
    auto steps = pb::read_chat_script(*script);
    fuzz::check(steps && steps->dial == *dial && steps->init == init, "the chat script sends otherwise");
  }

  pb::PeersFile peers;
  peers.entry_name = name;
  peers.device = device;
  peers.speed = static_cast<std::uint32_t>(std::strtoul(speed.c_str(), nullptr, 10));
  peers.user = user;
  peers.chat_program = "/usr/sbin/chat";
  peers.chat_script = "/etc/ppp/chatscripts/" + safe;
  peers.ipparam = safe;
  peers.dns1 = dns1;
  peers.dns2 = dns2;
  if (auto text = pb::peers_file_text(peers, &why); text) {
    auto back = pb::read_peers_file(*text);
    fuzz::check(back.has_value(), "a peers file does not read back");
    fuzz::check(back->device == peers.device && back->speed == peers.speed && back->user == peers.user &&
                    back->chat_program == peers.chat_program && back->chat_script == peers.chat_script &&
                    back->ipparam == peers.ipparam && back->dns1 == peers.dns1 && back->dns2 == peers.dns2,
                "a peers file reads back otherwise");
  }

  if (auto line = pb::secrets_line(user, safe, password, &why); line) {
    auto read = pb::read_secrets(*line);
    fuzz::check(read.size() == 1 && read[0].client == user && read[0].server == safe && read[0].secret == password,
                "a secrets line reads back otherwise");
    std::string merged = pb::merge_secrets(secrets, safe, *line);
    int mine = 0;
    for (const auto& s : pb::read_secrets(merged)) mine += s.server == safe;
    // pppd reads a quoted word across line ends and joins a line ended by a
    // backslash to the next, so on such a file a line-by-line merge and pppd
    // disagree on which line is the entry's: the installer refuses those
    // files (secrets_span_lines). Every file where the merged line is not
    // found once must be one it refuses.
    // The probe line goes where merge_secrets puts an appended line.
    const bool ends_line = secrets.empty() || secrets.back() == '\n';
    auto tail = pb::pppd_words(secrets + (ends_line ? "" : "\n") + "next\n");
    bool spans_lines = tail.empty() || tail.back().empty() || tail.back().front() != "next" || LineContinued(secrets);
    for (const auto& words : tail) {
      for (const auto& word : words) spans_lines = spans_lines || word.find('\n') != std::string::npos;
    }
    if (!pb::secrets_span_lines(secrets)) {
      fuzz::check(!spans_lines, "a file whose words run across line ends is not refused");
      fuzz::check(mine == 1, "the merged secrets hold the entry's line " + std::to_string(mine) + " times");
    }
    // Whether the file held a line of the entry, as merge_secrets sees it (a
    // line of two words counts, though read_secrets lists no secret for it).
    bool had = pb::merge_secrets(secrets, safe, std::nullopt) != secrets;
    if (!had) fuzz::check(pb::merge_secrets(merged, safe, std::nullopt) == secrets, "removing the line changed other bytes");
  }

  std::string up = pb::ip_up_hook_text(safe, dns1, dns2);
  std::string down = pb::ip_down_hook_text(safe);
  fuzz::check(!up.empty() && !down.empty(), "a safe name without its hooks");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  if (data[0] % 2 == 0) {
    readers(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  } else {
    writers(fuzz::Fields(data + 1, size - 1));
  }
  return 0;
}
