// The desktop entries that stand for shortcuts and program-manager items.
// The input is cut at NUL bytes: name, comment, icon, categories, then the
// Exec arguments. Checked: an entry that is written reads back (read_group)
// with the same name, comment, icon and arguments (for UTF-8 input; other
// bytes are converted from Latin-1, so they read back as UTF-8); an escaped
// string never spans lines; whatever text read_group is given, it does not
// fail on its own.
#include <cstdint>
#include <string>
#include <vector>

#include "fields.h"
#include "fuzz_support.h"
#include "platform/shell/desktop_entry.h"

namespace dt = platform::desktop;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view raw(reinterpret_cast<const char*>(data), size);
  dt::read_group(raw);  // a hand-edited file

  fuzz::Fields f(data, size);
  dt::Entry entry;
  entry.name = f.next();
  entry.comment = f.next();
  entry.icon = f.next();
  entry.categories = f.next();
  for (std::string arg = f.next(); !arg.empty() && entry.exec.size() < 8; arg = f.next()) entry.exec.push_back(arg);
  entry.terminal = entry.exec.size() % 2 == 1;

  if (auto escaped = dt::escape_string(entry.name)) {
    fuzz::check(escaped->find('\n') == std::string::npos, "an escaped string spans lines");
    if (fuzz::valid_utf8(entry.name)) fuzz::check(dt::unescape_string(*escaped) == entry.name, "a string reads back otherwise");
  }
  if (!entry.exec.empty()) {
    if (auto exec = dt::exec_line(entry.exec)) {
      bool utf8 = true;
      for (const auto& a : entry.exec) utf8 = utf8 && fuzz::valid_utf8(a);
      auto args = dt::split_exec(*exec);
      fuzz::check(args.has_value(), "an Exec line does not split");
      if (utf8) fuzz::check(*args == entry.exec, "an Exec line splits into other arguments");
    }
  }
  std::string why;
  auto text = dt::entry_text(entry, &why);
  if (!text) {
    fuzz::check(!why.empty(), "a refused entry without a reason");
    return 0;
  }
  auto group = dt::read_group(*text);
  fuzz::check(group.has_value(), "a written entry does not read back");
  auto value = [&](const char* key) {
    auto it = group->find(key);
    return it == group->end() ? std::string() : dt::unescape_string(it->second);
  };
  if (fuzz::valid_utf8(entry.name)) fuzz::check(value("Name") == entry.name, "Name reads back otherwise");
  if (fuzz::valid_utf8(entry.comment)) fuzz::check(value("Comment") == entry.comment, "Comment reads back otherwise");
  if (fuzz::valid_utf8(entry.icon)) fuzz::check(value("Icon") == entry.icon, "Icon reads back otherwise");
  if (!entry.exec.empty()) {
    bool utf8 = true;
    for (const auto& a : entry.exec) utf8 = utf8 && fuzz::valid_utf8(a);
    auto args = dt::split_exec(value("Exec"));
    fuzz::check(args.has_value(), "the written Exec does not split");
    if (utf8) fuzz::check(*args == entry.exec, "the written Exec gives other arguments");
  }
  return 0;
}
