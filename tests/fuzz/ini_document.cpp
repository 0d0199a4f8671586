// The INI reader and writer. The input is a file's text; after a NUL byte
// it may carry one edit, "section TAB key TAB value". Checked: what the
// document answers is what a fresh parse of its text answers, before and
// after each edit; a stored value reads back; a refused edit changes no
// byte; a removed key or section is gone.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/ini_document.h"
#include "fuzz_support.h"

namespace {

using common::IniDocument;

// Everything lookups can see, in order.
std::string view_of(const IniDocument& doc) {
  std::string out;
  for (const std::string& section : doc.sections()) {
    fuzz::check(doc.has_section(section), "a listed section is not found");
    out += "[" + section + "]\n";
    for (const std::string& key : doc.keys(section)) {
      auto value = doc.get(section, key);
      fuzz::check(value.has_value(), "a listed key has no value");
      out += key + "=" + *value + "\n";
    }
  }
  return out;
}

void check_consistent(const IniDocument& doc) {
  fuzz::check(view_of(doc) == view_of(IniDocument::parse(doc.text())),
              "the edited document and a fresh parse of its text disagree");
}

// Values hold no NUL or line break once set() took them.
bool reads_back_as_written(std::string_view v) {
  return v.find('\0') == std::string_view::npos && v.find('\n') == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t nul = input.find('\0');
  std::string text(input.substr(0, nul));
  IniDocument doc = IniDocument::parse(text);
  fuzz::check(doc.text() == text, "parsing changed the text");
  check_consistent(doc);

  std::vector<std::string> sections = doc.sections();
  if (nul != std::string_view::npos) {
    std::string_view edit = input.substr(nul + 1);
    std::size_t t1 = edit.find('\t');
    std::size_t t2 = t1 == std::string_view::npos ? t1 : edit.find('\t', t1 + 1);
    if (t2 != std::string_view::npos) {
      std::string section(edit.substr(0, t1));
      std::string key(edit.substr(t1 + 1, t2 - t1 - 1));
      std::string value(edit.substr(t2 + 1));
      std::string before = doc.text();
      std::string error;
      if (doc.set(section, key, value, &error)) {
        check_consistent(doc);
        auto got = doc.get(section, key);
        fuzz::check(got.has_value(), "a key just set is missing");
        std::string_view want = value;
        while (!want.empty() && (want.back() == '\r' || want.back() == '\n')) want.remove_suffix(1);
        if (reads_back_as_written(want)) fuzz::check(*got == want, "a value just set reads back otherwise");
      } else {
        fuzz::check(!error.empty(), "a refused edit without a reason");
        fuzz::check(doc.text() == before, "a refused edit changed the text");
      }
    }
  }
  // Removing what is there.
  if (!sections.empty()) {
    const std::string& first = sections.front();
    std::vector<std::string> keys = doc.keys(first);
    if (!keys.empty()) {
      fuzz::check(doc.remove_key(first, keys.front()), "an existing key was not removed");
      fuzz::check(!doc.get(first, keys.front()).has_value(), "a removed key is still seen");
      check_consistent(doc);
    }
    fuzz::check(doc.remove_section(sections.back()), "an existing section was not removed");
    fuzz::check(!doc.has_section(sections.back()), "a removed section is still seen");
    check_consistent(doc);
  }
  return 0;
}
