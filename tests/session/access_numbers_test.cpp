// phones.txt sections, entries and the access-number list texts.
#include "session/access_numbers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace session {
namespace {

using namespace std::string_literals;
using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

TEST(ParseSectionLines, Table) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string section;
    bool found;
    Strings lines;
  } cases[] = {
      {"plain", "[PLAN1]\n1=408 5551234 CA San Jose\n2=212 5550000 NY New York\n[PLAN2]\nx\n", "PLAN1", true,
       {"1=408 5551234 CA San Jose", "2=212 5550000 NY New York"}},
      {"second section to the end", "[PLAN1]\na\n[PLAN2]\nb\nc", "PLAN2", true, {"b", "c"}},
      {"a longer name starts the section by prefix", "[PLAN10]\nten\n[PLAN1]\none\n", "PLAN1", true, {"ten"}},
      {"the closing bracket is not looked at", "[PLAN1 whatever\na\n", "PLAN1", true, {"a"}},
      {"case-sensitive", "[plan1]\na\n", "PLAN1", false, {}},
      {"missing section", "[PLAN2]\na\n", "PLAN1", false, {}},
      {"empty file", "", "PLAN1", false, {}},
      {"bracket not first", " [PLAN1]\na\n", "PLAN1", false, {}},
      {"empty section", "[PLAN1]\n[PLAN2]\na\n", "PLAN1", true, {}},
      {"header at the end of the file", "[PLAN1]", "PLAN1", true, {}},
      {"empty lines skipped", "[PLAN1]\n\na\n\r\n\nb\n", "PLAN1", true, {"a", "b"}},
      {"CR LF", "[PLAN1]\r\na\r\nb\r\n[PLAN2]\r\n", "PLAN1", true, {"a", "b"}},
      {"no final newline", "[PLAN1]\na\nb", "PLAN1", true, {"a", "b"}},
      {"NUL cuts the line", "[PLAN1]\nab\0cd\n\0xyz\ne\n"s, "PLAN1", true, {"ab", "e"}},
      {"NUL in the header", "[PL\0AN1]\n[PLAN1\0]\na\n"s, "PLAN1", true, {"a"}},
      {"empty name matches the first section", "junk\n[X]\na\n", "", true, {"a"}},
      {"a line of 126 bytes stays whole", "[P]\n" + std::string(126, 'a') + "\nb\n", "P", true,
       {std::string(126, 'a'), "b"}},
      {"a longer line goes on as the next line", "[P]\n" + std::string(130, 'a') + "\n", "P", true,
       {std::string(126, 'a'), "aaaa"}},
      {"the rest of a long line can start a section",
       "[P]\n" + std::string(126, 'a') + "[Q]\nb\n", "P", true, {std::string(126, 'a')}},
      {"a long header line: its rest is an entry", "[P" + std::string(124, 'p') + "]tail\nb\n", "P", true,
       {"]tail", "b"}},
  };
  for (const Case& c : cases) {
    Strings lines{"stale"};
    EXPECT_EQ(ParseSectionLines(c.bytes, c.section, lines), c.found) << c.name;
    EXPECT_EQ(lines, c.lines) << c.name;
  }
}

class PhonesFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/session_phones_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_ / "phones.txt", fs::perms::owner_all, ec);
    fs::remove_all(dir_);
  }
  fs::path Write(const std::string& bytes) {
    std::ofstream(dir_ / "phones.txt", std::ios::binary) << bytes;
    return dir_ / "phones.txt";
  }
  fs::path dir_;
};

TEST_F(PhonesFile, LoadsTheSection) {
  Strings lines;
  std::string why;
  EXPECT_TRUE(LoadSectionLines(Write("[P10]\r\n1=408 5551234 CA San Jose\r\n"), "P10", lines, &why)) << why;
  EXPECT_EQ(lines, (Strings{"1=408 5551234 CA San Jose"}));
  EXPECT_FALSE(LoadSectionLines(dir_ / "phones.txt", "P30", lines, &why));
  EXPECT_NE(why.find("no section [P30]"), std::string::npos) << why;
}

TEST_F(PhonesFile, MissingFolderAndHugeFilesAreNotLoaded) {
  Strings lines{"stale"};
  std::string why;
  EXPECT_FALSE(LoadSectionLines(dir_ / "none.txt", "P", lines, &why));
  EXPECT_TRUE(lines.empty());
  EXPECT_NE(why.find("No such file"), std::string::npos) << why;

  fs::create_directory(dir_ / "folder");
  EXPECT_FALSE(LoadSectionLines(dir_ / "folder", "P", lines, &why));
  EXPECT_NE(why.find("directory"), std::string::npos) << why;

  std::string big = "[P]\n" + std::string(kPhonesFileLimit, 'x');
  EXPECT_FALSE(LoadSectionLines(Write(big), "P", lines, &why));
  EXPECT_NE(why.find("larger than"), std::string::npos) << why;
}

TEST_F(PhonesFile, UnreadableFileIsNotLoaded) {
  Strings lines{"stale"};
  std::string why;
  const fs::path f = Write("[P]\na\n");
  fs::permissions(f, fs::perms::none);
  if (::access(f.c_str(), R_OK) == 0) GTEST_SKIP() << "this user reads any file";
  EXPECT_FALSE(LoadSectionLines(f, "P", lines, &why));
  EXPECT_TRUE(lines.empty());
}

TEST(AccessEntries, ParseDisplayAndShortForms) {
  struct Case {
    const char* line;
    bool parsed;
    const char* display;
    const char* short_form;
  } cases[] = {
      {"1=408 5551234 CA San Jose", true, "CA, (408) 5551234, San Jose", "408-5551234"},
      {"408 5551234 CA San Jose", true, "CA, (408) 5551234, San Jose", "408-5551234"},
      {"a=b=408 5551234 CA X", true, "CA, (b=408) 5551234, X", "b=408-5551234"},
      {"408 5551234 CA ", true, "CA, (408) 5551234, ", "408-5551234"},
      {"408 5551234 CA", false, "", "408-5551234"},
      {"408 5551234", false, "", ""},
      {"408", false, "", ""},
      {"", false, "", ""},
      {"=", false, "", ""},
      {"408  5551234 CA X", true, "5551234, (408) , CA X", "408-"},
  };
  for (const Case& c : cases) {
    std::optional<AccessEntry> e = ParseAccessEntry(c.line);
    EXPECT_EQ(e.has_value(), c.parsed) << c.line;
    if (e) {
      EXPECT_EQ(DisplayForm(*e), c.display) << c.line;
    }
    EXPECT_EQ(ShortForm(c.line), c.short_form) << c.line;
  }
  std::optional<AccessEntry> e = ParseAccessEntry("1=408 5551234 CA San Jose");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->area_code, "408");
  EXPECT_EQ(e->number, "5551234");
  EXPECT_EQ(e->state, "CA");
  EXPECT_EQ(e->place, "San Jose");
}

TEST(AccessEntries, SortedInsertPosition) {
  const Strings items{"B", "D", "D", "F"};
  struct Case {
    const char* text;
    std::size_t at;
  } cases[] = {{"A", 0}, {"B", 0}, {"C", 1}, {"D", 1}, {"E", 3}, {"F", 4}, {"G", 4}, {"b", 4}, {"", 0}};
  for (const Case& c : cases) EXPECT_EQ(SortedInsertPosition(items, c.text), c.at) << c.text;
  EXPECT_EQ(SortedInsertPosition({}, "x"), 0u);
}

TEST(AccessEntries, ListIsTheSortedInsertOfTheEntriesFromLastToFirst) {
  const Strings entries{"1=408 5551234 CA San Jose", "2=212 5550000 NY New York", "bad entry",
                        "3=415 5559999 CA San Francisco", "4=212 5550000 NY New York", "5=907 5551111 AK Juneau",
                        "6=408 5551234 ca lower"};
  Strings inserted;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    if (auto e = ParseAccessEntry(*it)) {
      std::string t = DisplayForm(*e);
      inserted.insert(inserted.begin() + static_cast<long>(SortedInsertPosition(inserted, t)), t);
    }
  }
  Strings listed;
  for (const AccessListItem& item : AccessListItems(entries)) {
    listed.push_back(item.text);
    EXPECT_EQ(item.text, DisplayForm(item.entry));
  }
  EXPECT_EQ(listed, inserted);
  EXPECT_EQ(listed, (Strings{"AK, (907) 5551111, Juneau", "CA, (408) 5551234, San Jose",
                             "CA, (415) 5559999, San Francisco", "NY, (212) 5550000, New York",
                             "NY, (212) 5550000, New York", "ca, (408) 5551234, lower"}));
  EXPECT_EQ(PreselectionPrefix("CA", "408"), "CA, (408)");
}

}  // namespace
}  // namespace session
