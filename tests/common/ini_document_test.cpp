#include "common/ini_document.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using common::IniDocument;
using namespace std::string_literals;

struct ReadCase {
  const char* name;
  std::string text;
  const char* section;
  const char* key;
  std::optional<std::string> expected;
};

TEST(IniDocumentRead, Table) {
  const std::vector<ReadCase> cases = {
      {"plain", "[S]\nk=v\n", "S", "k", "v"},
      {"names ignore case", "[Sec]\nKey=v\n", "sEC", "KEY", "v"},
      {"blanks trimmed", "[S]\n \t k \t=  v v \t\r\n", "S", "k", "v v"},
      {"double quotes dropped", "[S]\nk=\"  a  \"\n", "S", "k", "  a  "},
      {"single quotes dropped", "[S]\nk='x'\n", "S", "k", "x"},
      {"quotes that do not match stay", "[S]\nk=\"x'\n", "S", "k", "\"x'"},
      {"lone quote stays", "[S]\nk=\"\n", "S", "k", "\""},
      {"empty quotes give empty", "[S]\nk=\"\"\n", "S", "k", ""},
      {"empty value", "[S]\nk=\n", "S", "k", ""},
      {"equals inside value", "[S]\nk=a=b\n", "S", "k", "a=b"},
      {"missing key", "[S]\nk=v\n", "S", "other", std::nullopt},
      {"missing section", "[S]\nk=v\n", "T", "k", std::nullopt},
      {"first duplicate key wins", "[S]\nk=1\nK=2\n", "S", "k", "1"},
      {"first duplicate section wins", "[S]\na=1\n[T]\n[s]\na=2\nb=3\n", "S", "a", "1"},
      {"later duplicate section unseen", "[S]\na=1\n[T]\n[s]\na=2\nb=3\n", "S", "b", std::nullopt},
      {"key above any section unseen", "k=v\n[S]\n", "", "k", std::nullopt},
      {"empty section name", "[]\nk=v\n", "", "k", "v"},
      {"text after header ignored", "[S] junk\nk=v\n", "S", "k", "v"},
      {"indented header", "  [S]  \nk=v\n", "S", "k", "v"},
      {"comment is not a key", "[S]\n;k=v\n", "S", ";k", std::nullopt},
      {"line without equals is not a key", "[S]\nk\n", "S", "k", std::nullopt},
      {"equals without name ignored", "[S]\n=v\nk=w\n", "S", "", std::nullopt},
      {"NUL ends a value", "[S]\nk=ab\0cd\n"s, "S", "k", "ab"},
      {"CR LF lines", "[S]\r\nk=v\r\n", "S", "k", "v"},
      {"CR alone does not end a line", "[S]\rk=v\n", "S", "k", std::nullopt},
      {"byte order mark skipped", "\xEF\xBB\xBF[S]\nk=v\n", "S", "k", "v"},
      {"no final newline", "[S]\nk=v", "S", "k", "v"},
      {"header without closing bracket", "[S\nk=v\n", "S", "k", std::nullopt},
      {"tabs and blanks around equals", "[S]\nk\t =\tv\n", "S", "k", "v"},
      {"key asked for with blanks around it", "[S]\nk=v\n", "S", " k\t", "v"},
  };
  for (const auto& c : cases) {
    IniDocument doc = IniDocument::parse(c.text);
    EXPECT_EQ(doc.get(c.section, c.key), c.expected) << c.name;
  }
}

TEST(IniDocumentRead, ListsKeysAndSectionsOnceInFileOrder) {
  IniDocument doc = IniDocument::parse("k0=x\n[S]\nb=1\na=2\nB=3\n;c=4\n=5\nx\n[T]\n[s]\nz=1\n[U]\n");
  EXPECT_EQ(doc.keys("s"), (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(doc.keys("T"), std::vector<std::string>{});
  EXPECT_EQ(doc.keys("missing"), std::vector<std::string>{});
  EXPECT_EQ(doc.sections(), (std::vector<std::string>{"S", "T", "U"}));
  EXPECT_TRUE(doc.has_section("u"));
  EXPECT_FALSE(doc.has_section("V"));
}

// Found by fuzzing the INI files (regression-nul-ends-the-line): a line
// whose name ended in a blank before a NUL was listed under that name, which
// no read could find, and writing the listed name added a second entry.
// A NUL ends the line's text, so such a line is no key at all.
TEST(IniDocumentRead, ANulEndsTheLine) {
  IniDocument doc = IniDocument::parse("[S]\nname \x03 \0\x1fx=1\nk=v\0=w\n[T\0]\n"s);
  EXPECT_EQ(doc.keys("S"), std::vector<std::string>{"k"});
  EXPECT_EQ(doc.get("S", "name \x03"), std::nullopt);
  EXPECT_EQ(doc.get("S", "k"), "v");
  EXPECT_EQ(doc.sections(), std::vector<std::string>{"S"});
  ASSERT_TRUE(doc.set("S", "name \x03 ", "new"));
  EXPECT_EQ(doc.keys("S"), (std::vector<std::string>{"k", "name \x03"}));
  EXPECT_EQ(doc.get("S", "name \x03 "), "new");
}

struct EditCase {
  const char* name;
  std::string before;
  std::function<bool(IniDocument&)> edit;
  std::string after;
};

TEST(IniDocumentEdit, Table) {
  auto set = [](const char* s, const char* k, const char* v) {
    return [=](IniDocument& d) { return d.set(s, k, v); };
  };
  auto remove_key = [](const char* s, const char* k) {
    return [=](IniDocument& d) { return d.remove_key(s, k); };
  };
  auto remove_section = [](const char* s) { return [=](IniDocument& d) { return d.remove_section(s); }; };
  const std::vector<EditCase> cases = {
      {"replace value", "[S]\nk=old\nx=1\n", set("S", "k", "new"), "[S]\nk=new\nx=1\n"},
      {"replace keeps indentation and spelling", "[S]\n  Key = old  \n", set("s", "KEY", "new"),
       "[S]\n  Key=new\n"},
      {"replace first of duplicates only", "[S]\nk=1\nk=2\n", set("S", "k", "9"), "[S]\nk=9\nk=2\n"},
      {"new key after last line, blank line kept", "[A]\na=1\n\n[B]\nb=1\n", set("A", "c", "3"),
       "[A]\na=1\nc=3\n\n[B]\nb=1\n"},
      {"new key after trailing comment", "[A]\na=1\n;note\n\n[B]\n", set("a", "c", "3"),
       "[A]\na=1\n;note\nc=3\n\n[B]\n"},
      {"new key in empty section", "[A]\n[B]\n", set("A", "k", "v"), "[A]\nk=v\n[B]\n"},
      {"new section at end", "[A]\na=1\n", set("B", "b", "2"), "[A]\na=1\n\n[B]\nb=2\n"},
      {"new section after blank line", "[A]\na=1\n\n", set("B", "b", "2"), "[A]\na=1\n\n[B]\nb=2\n"},
      {"new section, no final newline", "[A]\na=1", set("B", "b", "2"), "[A]\na=1\n\n[B]\nb=2\n"},
      {"new key, no final newline", "[A]\na=1", set("A", "b", "2"), "[A]\na=1\nb=2"},
      {"replace last line, no final newline", "[A]\na=1", set("A", "a", "2"), "[A]\na=2"},
      {"empty text", "", set("S", "k", "v"), "[S]\nk=v\n"},
      {"CR LF kept on new key", "[A]\r\na=1\r\n", set("A", "b", "2"), "[A]\r\na=1\r\nb=2\r\n"},
      {"CR LF kept on replace", "[A]\r\na=1\r\n", set("A", "a", "9"), "[A]\r\na=9\r\n"},
      {"CR LF kept on new section", "[A]\r\na=1\r\n", set("B", "b", "2"), "[A]\r\na=1\r\n\r\n[B]\r\nb=2\r\n"},
      {"trailing line feed of value dropped", "", set("S", "Last Update", "Thu Dec 10 02:46:35 2026\n"),
       "[S]\nLast Update=Thu Dec 10 02:46:35 2026\n"},
      {"empty value written", "[S]\nk=v\n", set("S", "k", ""), "[S]\nk=\n"},
      {"remove every line of the key", "[A]\na=1\nb=2\n A = 3\n[B]\na=4\n", remove_key("A", "a"),
       "[A]\nb=2\n[B]\na=4\n"},
      {"remove key, last line without newline", "[A]\nb=2\na=1", remove_key("A", "a"), "[A]\nb=2\n"},
      {"remove every section of the name", "; head\n[A]\na=1\n; c\n[B]\nb=2\n[a]\nx=1\n", remove_section("A"),
       "; head\n[B]\nb=2\n"},
  };
  for (const auto& c : cases) {
    IniDocument doc = IniDocument::parse(c.before);
    EXPECT_TRUE(c.edit(doc)) << c.name;
    EXPECT_EQ(doc.text(), c.after) << c.name;
  }
}

// Found by fuzzing: set() trimmed the key name but lookups did not, so a
// key set as " k" was written and then not found under that name.
TEST(IniDocumentEdit, KeySetWithBlanksReadsBackUnderTheSameName) {
  IniDocument doc = IniDocument::parse("[S]\n");
  ASSERT_TRUE(doc.set("S", " `", "+"));
  EXPECT_EQ(doc.text(), "[S]\n`=+\n");
  EXPECT_EQ(doc.get("S", " `"), "+");
  EXPECT_EQ(doc.keys("S"), std::vector<std::string>{"`"});
  EXPECT_TRUE(doc.remove_key("S", "` "));
  EXPECT_EQ(doc.get("S", "`"), std::nullopt);
}

// Found by fuzzing the settings store: a value cut to its field ended in a
// blank, was written bare and read back without it.
TEST(IniDocumentEdit, ValuesReadBackExactlyAsSet) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain", "plain"},
      {"ends in a blank ", "\"ends in a blank \""},
      {"\tstarts with a tab", "\"\tstarts with a tab\""},
      {"\"looks quoted\"", "\"\"looks quoted\"\""},
      {"'single'", "\"'single'\""},
      {"\"", "\""},
      {"a \"b\" c", "a \"b\" c"},
      {"", ""},
  };
  for (const auto& [value, written] : cases) {
    IniDocument doc = IniDocument::parse("[S]\nk=old\n");
    ASSERT_TRUE(doc.set("S", "k", value)) << value;
    EXPECT_EQ(doc.text(), "[S]\nk=" + written + "\n") << value;
    EXPECT_EQ(IniDocument::parse(doc.text()).get("S", "k"), value) << value;
    ASSERT_TRUE(doc.set("S", "new", value));
    EXPECT_EQ(IniDocument::parse(doc.text()).get("S", "new"), value) << value;
  }
}

TEST(IniDocumentEdit, EditsThatChangeNothingSayFalse) {
  const std::string text = "[A]\na=1\n";
  IniDocument doc = IniDocument::parse(text);
  EXPECT_FALSE(doc.remove_key("A", "b"));
  EXPECT_FALSE(doc.remove_key("B", "a"));
  EXPECT_FALSE(doc.remove_section("B"));
  EXPECT_EQ(doc.text(), text);
}

TEST(IniDocumentEdit, RefusesNamesAndValuesThatWouldBreakLines) {
  struct Bad {
    std::string section, key, value;
  };
  const std::vector<Bad> cases = {
      {"S", "a\nb", "v"}, {"S", "", "v"},       {"S", "  ", "v"},     {"S", "a=b", "v"},
      {"S", "[k", "v"},   {"S", ";k", "v"},     {"S]", "k", "v"},     {"S\n", "k", "v"},
      {"S", "k", "a\nb"}, {"S", "k", "a\rb"},   {"S", "k", "a\0b"s},  {"S", "k\0x"s, "v"},
  };
  const std::string text = "[S]\nk=v\n";
  for (const auto& c : cases) {
    IniDocument doc = IniDocument::parse(text);
    std::string error;
    EXPECT_FALSE(doc.set(c.section, c.key, c.value, &error)) << c.section << "/" << c.key << "/" << c.value;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(doc.text(), text);
  }
}

// Junk of every byte value must parse, read and take an edit without losing
// a byte of what was there.
TEST(IniDocumentEdit, BinaryJunkSurvivesAnEdit) {
  std::string junk;
  uint32_t x = 12345;
  for (int i = 0; i < 65536; ++i) {
    x = x * 1103515245u + 12345u;
    junk += static_cast<char>(x >> 16);
  }
  IniDocument doc = IniDocument::parse(junk);
  (void)doc.sections();
  ASSERT_TRUE(doc.set("Fresh Section", "k", "v"));
  ASSERT_GE(doc.text().size(), junk.size());
  EXPECT_EQ(doc.text().substr(0, junk.size()), junk);
  EXPECT_EQ(doc.get("fresh section", "K"), "v");
}

}  // namespace

namespace {

// Random documents built from the odd lines real files hold, and random
// edits: an edit changes what it names and nothing else a reader can see.
TEST(IniDocumentEdit, RandomEditsChangeOnlyWhatTheyName) {
  uint32_t state = 2024;
  auto next = [&](uint32_t n) {
    state = state * 1103515245u + 12345u;
    return (state >> 8) % n;
  };
  const std::vector<std::string> names = {"a", "A", "b", "Key", "kEY", "x y"};
  const std::vector<std::string> sections = {"S", "s", "T", "", "U V"};
  auto random_line = [&]() -> std::string {
    switch (next(9)) {
      case 0: return "[" + sections[next(sections.size())] + "]";
      case 1: return "  " + names[next(names.size())] + " = v" + std::to_string(next(100)) + " ";
      case 2: return names[next(names.size())] + "=" + std::to_string(next(100));
      case 3: return ";" + names[next(names.size())] + "=c";
      case 4: return "";
      case 5: return "=orphan";
      case 6: return "[broken";
      case 7: return std::string("\0\x01\xff", 3);
      default: return names[next(names.size())];
    }
  };
  auto snapshot = [&](const IniDocument& d) {
    std::vector<std::optional<std::string>> values;
    for (const auto& s : sections)
      for (const auto& k : names) values.push_back(d.get(s, k));
    return values;
  };
  for (int round = 0; round < 1500; ++round) {
    std::string text;
    const char* eol = next(2) ? "\r\n" : "\n";
    int lines = static_cast<int>(next(12));
    for (int i = 0; i < lines; ++i) text += random_line() + (i + 1 < lines || next(2) ? eol : "");
    IniDocument doc = IniDocument::parse(text);
    const auto before = snapshot(doc);
    const std::string& s = sections[next(sections.size())];
    const std::string& k = names[next(names.size())];
    const int op = static_cast<int>(next(3));
    const std::string value = "new" + std::to_string(round);
    if (op == 0) {
      ASSERT_TRUE(doc.set(s, k, value)) << text;
    }
    if (op == 1) doc.remove_key(s, k);
    if (op == 2) doc.remove_section(s);
    const auto after = snapshot(doc);
    size_t i = 0;
    for (const auto& sec : sections) {
      for (const auto& key : names) {
        const bool named_section = common::ini_names_equal(sec, s);
        const bool named = named_section && common::ini_names_equal(key, k);
        std::optional<std::string> expected = before[i];
        if (op == 0 && named) expected = value;
        if (op == 1 && named) expected = std::nullopt;
        if (op == 2 && named_section) expected = std::nullopt;
        EXPECT_EQ(after[i], expected) << "round " << round << " op " << op << " [" << s << "] " << k << " -> ["
                                      << sec << "] " << key << "\n" << text << "\n---\n" << doc.text();
        ++i;
      }
    }
    if (HasFailure()) break;
  }
}

}  // namespace
