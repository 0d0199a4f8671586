// The help file's topics: a table of help-file texts, each read with the two
// kinds of limits callers name (at most ten digits; numbers up to 1000009 of
// any length), and the file adapter over the same bytes.
#include "platform/shell/help.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/temp_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr HelpFileLimits kTenDigits{.max_digits = 10, .max_number = 9'999'999'999};
constexpr HelpFileLimits kUpToMillion{.max_digits = platform::kAnyNumberOfDigits, .max_number = 1'000'009};

struct Case {
  const char* name;
  HelpFileLimits limits;
  std::string file;
  int context;
  HelpLookup result;
  std::string title;
  std::string text;
};

const Case kCases[] = {
    {"lines joined, paragraphs split by an empty line", kTenDigits,
     "[5] Five\nfirst line\nsecond line\n\nnext paragraph\n", 5, HelpLookup::Found, "Five",
     "first line second line\r\n\r\nnext paragraph"},
    {"comments before the first topic ignored", kUpToMillion, "; comment\n[1] One\ntext\n", 1,
     HelpLookup::Found, "One", "text"},
    {"CR LF line ends", kTenDigits, "[3] Three\r\nline a\r\nline b\r\n\r\nc\r\n", 3, HelpLookup::Found,
     "Three", "line a line b\r\n\r\nc"},
    {"text stops at the next topic", kUpToMillion, "[3] Three\na\n[4] Four\nb\n", 3, HelpLookup::Found,
     "Three", "a"},
    {"the last topic runs to the end without a line end", kTenDigits, "[3] Three\na\n[4] Four\nb", 4,
     HelpLookup::Found, "Four", "b"},
    {"blank lines of blanks and tabs end a paragraph once", kUpToMillion, "[2] T\na\n \t\n\t\n\nb\n", 2,
     HelpLookup::Found, "T", "a\r\n\r\nb"},
    {"bracketed words and empty brackets are text", kTenDigits, "[3] Three\n[x] not a topic\n[] nor this\n",
     3, HelpLookup::Found, "Three", "[x] not a topic [] nor this"},
    {"a number with a blank is text", kTenDigits, "[3] Three\n[4 ] text\n", 3, HelpLookup::Found, "Three",
     "[4 ] text"},
    {"leading blanks of the title dropped, no title", kTenDigits, "[7]    \nseven\n", 7, HelpLookup::Found,
     "", "seven"},
    {"title right after the bracket", kUpToMillion, "[7]Seven\nseven\n", 7, HelpLookup::Found, "Seven",
     "seven"},
    {"the same number twice: the first topic", kTenDigits, "[3] A\na\n[3] B\nb\n", 3, HelpLookup::Found, "A",
     "a"},
    {"a topic without text", kUpToMillion, "[3] Empty\n[4] Four\nb\n", 3, HelpLookup::Found, "Empty", ""},
    {"leading zeros", kTenDigits, "[0012] Twelve\nt\n", 12, HelpLookup::Found, "Twelve", "t"},
    {"missing topic", kTenDigits, "[3] Three\na\n", 5, HelpLookup::NoTopic, "", ""},
    {"empty file", kUpToMillion, "", 1, HelpLookup::NoTopic, "", ""},
    {"negative context never matches", kTenDigits, "[1] One\na\n", -1, HelpLookup::NoTopic, "", ""},
    {"context 0", kUpToMillion, "[0] Zero\nz\n", 0, HelpLookup::Found, "Zero", "z"},
    // Ten digits: eleven are text, even with leading zeros; any ten-digit number ends a topic.
    {"ten digits: eleven are text", kTenDigits, "[3] Three\na\n[00000000004] x\n", 3, HelpLookup::Found,
     "Three", "a [00000000004] x"},
    {"ten digits: eleven digits are no topic", kTenDigits, "[00000000012] Twelve\nt\n", 12,
     HelpLookup::NoTopic, "", ""},
    {"ten digits: the largest ends a topic", kTenDigits, "[3] Three\na\n[9999999999] x\nb\n", 3,
     HelpLookup::Found, "Three", "a"},
    {"ten digits: beyond an int is no match", kTenDigits, "[4294967299] x\nb\n", 3, HelpLookup::NoTopic, "", ""},
    // Up to 1000009: larger numbers are text, however few digits; leading zeros do not count.
    {"up to 1000009: the largest is a topic", kUpToMillion, "[1000009] Big\nb\n", 1000009,
     HelpLookup::Found, "Big", "b"},
    {"up to 1000009: one more is text", kUpToMillion, "[3] Three\na\n[1000010] x\n", 3, HelpLookup::Found,
     "Three", "a [1000010] x"},
    {"up to 1000009: many leading zeros", kUpToMillion, "[000000000000000012] Twelve\nt\n", 12,
     HelpLookup::Found, "Twelve", "t"},
    {"up to 1000009: a long number is text", kUpToMillion,
     "[3] Three\na\n[99999999999999999999999999] x\n", 3, HelpLookup::Found, "Three",
     "a [99999999999999999999999999] x"},
    {"bytes kept as they are", kTenDigits, std::string("[1] \xe9t\xe9\na\0b\n", 12), 1, HelpLookup::Found,
     "\xe9t\xe9", std::string("a\0b", 3)},
};

TEST(HelpFile, TableOfTexts) {
  for (const Case& c : kCases) {
    HelpTopic topic{.context = -7, .title = "untouched", .text = "untouched"};
    EXPECT_EQ(find_help_topic_in_text(c.file, c.context, c.limits, topic), c.result) << c.name;
    if (c.result == HelpLookup::Found) {
      EXPECT_EQ(topic.context, c.context) << c.name;
      EXPECT_EQ(topic.title, c.title) << c.name;
      EXPECT_EQ(topic.text, c.text) << c.name;
    } else {
      EXPECT_EQ(topic.context, -7) << c.name;
      EXPECT_EQ(topic.title, "untouched") << c.name;
      EXPECT_EQ(topic.text, "untouched") << c.name;
    }
  }
}

TEST(HelpFile, FileReadsAsItsTextAndAMissingFileIsReported) {
  const test_support::TempDir dir("help_file");
  const fs::path file = dir / "help.hlp";
  for (const Case& c : kCases) {
    {
      std::ofstream out(file, std::ios::binary | std::ios::trunc);
      out << c.file;
    }
    HelpTopic from_file, from_text;
    EXPECT_EQ(find_help_topic(file, c.context, c.limits, from_file), c.result) << c.name;
    find_help_topic_in_text(c.file, c.context, c.limits, from_text);
    EXPECT_EQ(from_file.title, from_text.title) << c.name;
    EXPECT_EQ(from_file.text, from_text.text) << c.name;
  }
  fs::remove(file);
  HelpTopic topic;
  topic.context = -7;
  EXPECT_EQ(find_help_topic(file, 1, kTenDigits, topic), HelpLookup::NoFile);
  EXPECT_EQ(topic.context, -7);
}

// The shipped files' topic numbers are within both limits, so both read them alike.
TEST(HelpFile, ShippedFilesReadAlikeWithEitherLimits) {
  const struct {
    const char* name;
    int first, last, topics;
  } kFiles[] = {{"Vlrhelp.hlp", 0, 30, 15}, {"modset.hlp", 161170, 161180, 5}};
  for (const auto& f : kFiles) {
    const fs::path file = fs::path(VLR_SOURCE_DIR) / "data" / f.name;
    int found = 0;
    for (int context = f.first; context <= f.last; ++context) {
      HelpTopic ten, million;
      const HelpLookup a = find_help_topic(file, context, kTenDigits, ten);
      ASSERT_NE(a, HelpLookup::NoFile) << f.name;
      ASSERT_EQ(find_help_topic(file, context, kUpToMillion, million), a) << f.name << " " << context;
      if (a != HelpLookup::Found) continue;
      ++found;
      EXPECT_FALSE(ten.text.empty()) << f.name << " " << context;
      EXPECT_EQ(ten.title, million.title) << f.name << " " << context;
      EXPECT_EQ(ten.text, million.text) << f.name << " " << context;
    }
    EXPECT_EQ(found, f.topics) << f.name;
  }
}

}  // namespace
}  // namespace platform
