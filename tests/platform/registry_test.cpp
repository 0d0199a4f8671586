// Registry: round trips through the hive files, names without regard to case
// keeping their case, the REGEDIT4 text, corrupt hives reported and left
// alone, Win32 result codes.
#include "platform/storage/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <pthread.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "platform/storage/files.h"
#include "platform/storage/regedit4.h"
#include "platform/storage/system_root.h"

namespace platform::reg {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void spill(const fs::path& p, std::string_view text) {
  std::ofstream(p, std::ios::binary) << text;
}

std::string sz(std::string_view text) { return std::string(text) + '\0'; }

// "\k\k...\k" with `levels` one-letter keys.
std::string deep_path(std::size_t levels) {
  std::string path;
  for (std::size_t i = 0; i < levels; ++i) path += "\\k";
  return path;
}

class RegistryTest : public ::testing::Test {
 protected:
  fs::path folder() { return root_.path() / "registry"; }
  ScopedSystemRoot root_;
};

TEST(RootNames, ExactAndCaseSensitive) {
  struct Case {
    const char* text;
    std::optional<Root> root;
  } cases[] = {
      {"HKEY_CLASSES_ROOT", Root::ClassesRoot},   {"HKEY_CURRENT_USER", Root::CurrentUser},
      {"HKEY_LOCAL_MACHINE", Root::LocalMachine}, {"HKEY_USERS", Root::Users},
      {"HKEY_CURRENT_CONFIG", Root::CurrentConfig}, {"HKEY_DYN_DATA", Root::DynData},
      {"hkey_current_user", std::nullopt},        {"HKEY_CURRENT_USER ", std::nullopt},
      {"HKCU", std::nullopt},                     {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(root_from_name(c.text), c.root);
    if (c.root) {
      EXPECT_EQ(root_name(*c.root), c.text);
    }
  }
}

TEST_F(RegistryTest, ValuesSurviveAFreshReader) {
  {
    Registry reg(folder());
    Key key;
    bool created = false;
    ASSERT_EQ(reg.create_key(root_key(Root::CurrentUser), "Software\\Veloran\\Join", &key, &created),
              ERROR_SUCCESS)
        << reg.last_error();
    EXPECT_TRUE(created);
    EXPECT_EQ(key.path, "Software\\Veloran\\Join");
    EXPECT_EQ(reg.set_string(key, "Name", "Tarkel - Veloran Account"), ERROR_SUCCESS);
    EXPECT_EQ(reg.set_binary(key, "EnableAutodial", std::string("\x2c\x01\x00\x00", 4)),
              ERROR_SUCCESS);
    EXPECT_EQ(reg.set_dword(key, "Count", 0xdeadbeef), ERROR_SUCCESS);
    EXPECT_EQ(reg.set_string(key, "", "default"), ERROR_SUCCESS);
    EXPECT_EQ(reg.set_string(key, "Odd \"name\" \\ here", "a \"quoted\" C:\\path\\"),
              ERROR_SUCCESS);
    std::string raw("\x01\x00\xff\n\r", 5);
    EXPECT_EQ(reg.set_value(key, "Raw", REG_MULTI_SZ, raw.data(), raw.size()), ERROR_SUCCESS);
    std::string nonul = "no terminator";
    EXPECT_EQ(reg.set_value(key, "NoNul", REG_SZ, nonul.data(), nonul.size()), ERROR_SUCCESS);
    EXPECT_EQ(reg.set_binary(key, "Empty", ""), ERROR_SUCCESS);
    std::string big(1000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    EXPECT_EQ(reg.set_binary(key, "Big", big), ERROR_SUCCESS);
  }
  Registry reg(folder());
  Key key;
  ASSERT_EQ(reg.open_key(root_key(Root::CurrentUser), "Software\\Veloran\\Join", &key),
            ERROR_SUCCESS);
  struct Expect {
    const char* name;
    std::uint32_t type;
    std::string data;
  } expected[] = {
      {"Name", REG_SZ, sz("Tarkel - Veloran Account")},
      {"EnableAutodial", REG_BINARY, std::string("\x2c\x01\x00\x00", 4)},
      {"Count", REG_DWORD, std::string("\xef\xbe\xad\xde", 4)},
      {"", REG_SZ, sz("default")},
      {"Odd \"name\" \\ here", REG_SZ, sz("a \"quoted\" C:\\path\\")},
      {"Raw", REG_MULTI_SZ, std::string("\x01\x00\xff\n\r", 5)},
      {"NoNul", REG_SZ, "no terminator"},
      {"Empty", REG_BINARY, ""},
  };
  for (const Expect& e : expected) {
    SCOPED_TRACE(e.name);
    Value v;
    ASSERT_EQ(reg.query_value(key, e.name, &v), ERROR_SUCCESS) << reg.last_error();
    EXPECT_EQ(v.type, e.type);
    EXPECT_EQ(v.data, e.data);
  }
  Value big;
  ASSERT_EQ(reg.query_value(key, "Big", &big), ERROR_SUCCESS);
  ASSERT_EQ(big.data.size(), 1000u);
  EXPECT_EQ(static_cast<unsigned char>(big.data[999]), (999 * 7) & 0xff);
}

TEST_F(RegistryTest, AwkwardNamesSurviveTheFile) {
  const char* names[] = {"[x]", " spaced ", "semi;colon", "quote\"d", "@", "=", "-", "ä"};
  {
    Registry reg(folder());
    for (const char* name : names) {
      Key k;
      ASSERT_EQ(reg.create_key(root_key(Root::CurrentUser), name, &k), ERROR_SUCCESS) << name;
      ASSERT_EQ(reg.set_string(k, name, name), ERROR_SUCCESS) << name;
    }
  }
  Registry reg(folder());
  for (const char* name : names) {
    SCOPED_TRACE(name);
    Key k;
    ASSERT_EQ(reg.open_key(root_key(Root::CurrentUser), name, &k), ERROR_SUCCESS)
        << reg.last_error();
    EXPECT_EQ(k.path, name);
    Value v;
    ASSERT_EQ(reg.query_value(k, name, &v), ERROR_SUCCESS);
    EXPECT_EQ(v.name, name);
    EXPECT_EQ(v.data, sz(name));
  }
}

TEST_F(RegistryTest, NamesMatchWithoutCaseAndKeepTheirCase) {
  Registry reg(folder());
  Key app;
  ASSERT_EQ(reg.create_key(root_key(Root::LocalMachine), "Software\\MyApp", &app), ERROR_SUCCESS);
  Key sub;
  bool created = true;
  ASSERT_EQ(reg.create_key(root_key(Root::LocalMachine), "SOFTWARE\\MYAPP", &sub, &created),
            ERROR_SUCCESS);
  EXPECT_FALSE(created);
  EXPECT_EQ(sub.path, "Software\\MyApp");
  ASSERT_EQ(reg.create_key(app, "sub\\DEEP", &sub, &created), ERROR_SUCCESS);
  EXPECT_TRUE(created);
  EXPECT_EQ(sub.path, "Software\\MyApp\\sub\\DEEP");
  Key opened;
  ASSERT_EQ(reg.open_key(root_key(Root::LocalMachine), "software\\myapp\\SUB\\deep", &opened),
            ERROR_SUCCESS);
  EXPECT_EQ(opened.path, "Software\\MyApp\\sub\\DEEP");

  ASSERT_EQ(reg.set_string(app, "InternetProfile", "first"), ERROR_SUCCESS);
  ASSERT_EQ(reg.set_string(app, "INTERNETPROFILE", "second"), ERROR_SUCCESS);
  Value v;
  ASSERT_EQ(reg.query_value(app, "internetprofile", &v), ERROR_SUCCESS);
  EXPECT_EQ(v.name, "InternetProfile");
  EXPECT_EQ(v.data, sz("second"));
  EXPECT_EQ(reg.enum_value(app, 1, &v), ERROR_NO_MORE_ITEMS);  // one value, not two

  for (const char* name : {"gamma", "Beta", "alpha", "ALPHA"}) {
    ASSERT_EQ(reg.create_key(app, name, nullptr), ERROR_SUCCESS);
  }
  std::vector<std::string> names;
  std::string name;
  for (std::uint32_t i = 0; reg.enum_key(app, i, &name) == ERROR_SUCCESS; ++i) {
    names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Beta", "gamma", "sub"}));

  // The case survives the file.
  Registry fresh(folder());
  ASSERT_EQ(fresh.open_key(root_key(Root::LocalMachine), "SOFTWARE\\myapp", &opened),
            ERROR_SUCCESS);
  EXPECT_EQ(opened.path, "Software\\MyApp");
  ASSERT_EQ(fresh.enum_value(opened, 0, &v), ERROR_SUCCESS);
  EXPECT_EQ(v.name, "InternetProfile");
}

// The content of data/registry_golden.reg.
void fill_golden(Registry& reg) {
  Key user = root_key(Root::CurrentUser);
  Key k;
  ASSERT_EQ(reg.create_key(user, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                           &k),
            ERROR_SUCCESS);
  reg.set_binary(k, "EnableAutodial", std::string("\x01\x00\x00\x00", 4));
  ASSERT_EQ(reg.create_key(user, "RemoteAccess", &k), ERROR_SUCCESS);
  reg.set_string(k, "InternetProfile", "Tarkel - Veloran Account");
  ASSERT_EQ(reg.create_key(user, "Software\\Veloran", &k), ERROR_SUCCESS);
  reg.set_string(k, "", "default value");
  reg.set_string(k, "Path", "C:\\VELORAN\\");
  reg.set_string(k, "Quote \"me\"", "say \"hi\"");
  reg.set_binary(k, "Plan", std::string("\x2c\x01\x00\x00", 4));
  reg.set_dword(k, "Count", 300);
  std::string tab = sz("a\tb");
  reg.set_value(k, "Tabbed", REG_SZ, tab.data(), tab.size());
  std::string expand = sz("%WINDIR%");
  reg.set_value(k, "Expand", REG_EXPAND_SZ, expand.data(), expand.size());
  std::string bytes;
  for (int i = 0; i < 40; ++i) bytes += static_cast<char>(i);
  reg.set_binary(k, "Long", bytes);
  reg.set_string(user, "AtRoot", "root value");
  ASSERT_EQ(reg.create_key(user, "Software\\Empty", nullptr), ERROR_SUCCESS);
}

TEST_F(RegistryTest, HiveTextMatchesGolden) {
  Registry reg(folder());
  fill_golden(reg);
  std::string golden = slurp(fs::path(VLR_TEST_DATA_DIR) / "registry_golden.reg");
  ASSERT_FALSE(golden.empty());
  EXPECT_EQ(slurp(reg.hive_path(Root::CurrentUser)), golden);
  // Only the root that was written has a file.
  EXPECT_FALSE(fs::exists(reg.hive_path(Root::LocalMachine)));
}

TEST_F(RegistryTest, GoldenTextReadsBackAndRewritesIdentically) {
  fs::create_directories(folder());
  std::string golden = slurp(fs::path(VLR_TEST_DATA_DIR) / "registry_golden.reg");
  spill(folder() / "hkey_current_user.reg", golden);
  Registry reg(folder());
  Key k;
  ASSERT_EQ(reg.open_key(root_key(Root::CurrentUser), "software\\veloran", &k), ERROR_SUCCESS)
      << reg.last_error();
  Value v;
  ASSERT_EQ(reg.query_value(k, "Long", &v), ERROR_SUCCESS);
  EXPECT_EQ(v.data.size(), 40u);
  EXPECT_EQ(v.data[39], 39);
  ASSERT_EQ(reg.query_value(k, "Tabbed", &v), ERROR_SUCCESS);
  EXPECT_EQ(v.data, sz("a\tb"));
  // A change rewrites the file; changing the value back gives the same text.
  ASSERT_EQ(reg.set_dword(k, "Count", 1), ERROR_SUCCESS);
  EXPECT_NE(slurp(reg.hive_path(Root::CurrentUser)), golden);
  ASSERT_EQ(reg.set_dword(k, "Count", 300), ERROR_SUCCESS);
  EXPECT_EQ(slurp(reg.hive_path(Root::CurrentUser)), golden);
}

TEST_F(RegistryTest, HandWrittenHiveIsRead) {
  fs::create_directories(folder());
  spill(folder() / "hkey_local_machine.reg",
        "\xEF\xBB\xBFREGEDIT4\r\n"
        "; a comment\r\n"
        "\r\n"
        "[hkey_local_machine\\System\\Autodial]\r\n"
        "  \"AutodialDllName32\" = \"url.dll\"\r\n"
        "\"Bytes\"=hex:01, 02,\\\r\n"
        "     03,04,\r\n"
        "[HKEY_LOCAL_MACHINE\\System\\AUTODIAL]\r\n"
        "\"Late\"=dword:1\r\n"
        "\"AutodialDllName32\"=\"later wins\"");
  Registry reg(folder());
  Key k;
  ASSERT_EQ(reg.open_key(root_key(Root::LocalMachine), "SYSTEM\\Autodial", &k), ERROR_SUCCESS)
      << reg.last_error();
  Value v;
  ASSERT_EQ(reg.query_value(k, "autodialdllname32", &v), ERROR_SUCCESS);
  EXPECT_EQ(v.data, sz("later wins"));
  ASSERT_EQ(reg.query_value(k, "Bytes", &v), ERROR_SUCCESS);
  EXPECT_EQ(v.data, "\x01\x02\x03\x04");
  ASSERT_EQ(reg.query_value(k, "Late", &v), ERROR_SUCCESS);
  EXPECT_EQ(v.type, REG_DWORD);
  EXPECT_EQ(v.data, std::string("\x01\x00\x00\x00", 4));
}

TEST_F(RegistryTest, CorruptHiveIsReportedWithLineAndNeverOverwritten) {
  struct Case {
    const char* name;
    std::string text;
    int line;
    const char* reason;
  } cases[] = {
      {"not regedit", "garbage\n[HKEY_CURRENT_USER\\X]\n", 1, "REGEDIT4"},
      {"blank first line", "\nREGEDIT4\n", 1, "REGEDIT4"},
      {"value before key", "REGEDIT4\n\n\"a\"=\"b\"\n", 3, "before any [key]"},
      {"other root", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\X]\n", 3, "not under HKEY_CURRENT_USER"},
      {"bad hex", "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=hex:01,zz\n", 3, "not a byte"},
      {"hex byte too wide", "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=hex:123\n", 3, "not a byte"},
      {"hex past the end", "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=hex:01,\\\n", 3,
       "past the end"},
      {"unterminated string", "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\n\"a\"=\"open\n", 4,
       "closing '\"'"},
      {"unknown escape", "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=\"b\\n\"\n", 3, "escape"},
      {"junk after string", "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=\"b\" x\n", 3,
       "after the closing quote"},
      {"long dword", "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=dword:123456789\n", 3, "dword"},
      {"no equals", "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\" \"b\"\n", 3, "without '='"},
      {"unknown data", "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=str(2):\"b\"\n", 3,
       "neither"},
      {"value deletion", "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=-\n", 3, "deletion"},
      {"key deletion", "REGEDIT4\n[-HKEY_CURRENT_USER\\X]\n", 2, "deletion"},
      {"open bracket", "REGEDIT4\n[HKEY_CURRENT_USER\\X\n", 2, "closing ']'"},
      {"empty component", "REGEDIT4\n[HKEY_CURRENT_USER\\A\\\\B]\n", 2, "an empty key name"},
      {"long component", "REGEDIT4\n[HKEY_CURRENT_USER\\" + std::string(256, 'k') + "]\n", 2,
       "longer than 255 characters"},
      {"513 levels", "REGEDIT4\n[HKEY_CURRENT_USER" + deep_path(513) + "]\n", 2,
       "deeper than 512 levels"},
      // Once enough to overflow the stack of a recursive tree walk.
      {"400,000 levels", "REGEDIT4\n\n[HKEY_CURRENT_USER" + deep_path(400'000) + "]\n", 3,
       "deeper than 512 levels"},
      {"stray line", "REGEDIT4\n[HKEY_CURRENT_USER\\X]\nhello\n", 3, "not a key, value"},
      {"binary junk", "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n" + std::string("\x01\x00\xff", 3), 3,
       "NUL byte"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedSystemRoot scoped;
    fs::path folder = scoped.path() / "registry";
    fs::create_directories(folder);
    fs::path hive = folder / "hkey_current_user.reg";
    spill(hive, c.text);
    Registry reg(folder);
    std::string where = hive.string() + ":" + std::to_string(c.line) + ":";

    Key k;
    EXPECT_EQ(reg.open_key(root_key(Root::CurrentUser), "X", &k), ERROR_BADDB);
    EXPECT_NE(reg.last_error().find(where), std::string::npos) << reg.last_error();
    EXPECT_NE(reg.last_error().find(c.reason), std::string::npos) << reg.last_error();

    EXPECT_EQ(reg.create_key(root_key(Root::CurrentUser), "New", &k), ERROR_BADDB);
    EXPECT_EQ(reg.set_string(root_key(Root::CurrentUser), "v", "x"), ERROR_BADDB);
    EXPECT_NE(reg.last_error().find(where), std::string::npos) << reg.last_error();
    EXPECT_EQ(slurp(hive), c.text);  // left exactly as it was

    // Other roots are not affected.
    EXPECT_EQ(reg.set_string(root_key(Root::LocalMachine), "v", "x"), ERROR_SUCCESS);
  }
}

TEST_F(RegistryTest, EmptyHiveFileHoldsNothing) {
  // Zero bytes hold nothing that a rewrite could lose.
  fs::create_directories(folder());
  spill(folder() / "hkey_current_user.reg", "");
  Registry reg(folder());
  EXPECT_EQ(reg.enum_key(root_key(Root::CurrentUser), 0, nullptr), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(reg.set_string(root_key(Root::CurrentUser), "v", "x"), ERROR_SUCCESS);
}

TEST_F(RegistryTest, FixedHiveIsUsedAgain) {
  fs::create_directories(folder());
  fs::path hive = folder() / "hkey_current_user.reg";
  spill(hive, "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=oops\n");
  Registry reg(folder());
  EXPECT_EQ(reg.set_string(root_key(Root::CurrentUser), "v", "x"), ERROR_BADDB);
  spill(hive, "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=\"fixed\"\n");
  Key k;
  ASSERT_EQ(reg.open_key(root_key(Root::CurrentUser), "X", &k), ERROR_SUCCESS) << reg.last_error();
  ASSERT_EQ(reg.set_string(k, "b", "new"), ERROR_SUCCESS);
  Value v;
  ASSERT_EQ(reg.query_value(k, "a", &v), ERROR_SUCCESS);
  EXPECT_EQ(v.data, sz("fixed"));
}

TEST_F(RegistryTest, QueryFollowsRegQueryValueEx) {
  Registry reg(folder());
  Key k;
  ASSERT_EQ(reg.create_key(root_key(Root::Users), ".Default\\RemoteAccess", &k), ERROR_SUCCESS);
  ASSERT_EQ(reg.set_string(k, "InternetProfile", "abc"), ERROR_SUCCESS);

  std::uint32_t type = 0;
  std::uint32_t size = 0;
  EXPECT_EQ(reg.query_value(k, "InternetProfile", &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 4u);  // with its NUL

  char buf[8] = {'#', '#', '#', '#', '#', '#', '#', '#'};
  size = 3;
  EXPECT_EQ(reg.query_value(k, "InternetProfile", &type, buf, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(buf[0], '#');  // untouched

  size = sizeof buf;
  EXPECT_EQ(reg.query_value(k, "InternetProfile", nullptr, buf, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::string(buf, 4), sz("abc"));
  EXPECT_EQ(buf[4], '#');

  EXPECT_EQ(reg.query_value(k, "InternetProfile", nullptr, buf, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(reg.query_value(k, "Missing", &type, buf, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_NE(reg.last_error().find("Missing"), std::string::npos);
}

TEST_F(RegistryTest, ResultCodes) {
  Registry reg(folder());
  Key user = root_key(Root::CurrentUser);
  Key k;
  EXPECT_EQ(reg.open_key(user, "RemoteAccess", &k), ERROR_FILE_NOT_FOUND);  // not created
  ASSERT_EQ(reg.create_key(user, "A\\B", &k), ERROR_SUCCESS);
  Key a;
  ASSERT_EQ(reg.open_key(user, "a\\", &a), ERROR_SUCCESS);  // a trailing backslash is fine
  EXPECT_EQ(reg.open_key(a, "", &k), ERROR_SUCCESS);
  EXPECT_EQ(k.path, "A");

  EXPECT_EQ(reg.delete_key(user, "A"), ERROR_ACCESS_DENIED);  // has a subkey
  EXPECT_EQ(reg.delete_key(user, "A\\Nope"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(reg.open_key(user, "A\\B", &k), ERROR_SUCCESS);
  EXPECT_EQ(reg.delete_key(user, "a\\b"), ERROR_SUCCESS);
  EXPECT_EQ(reg.set_string(k, "v", "x"), ERROR_KEY_DELETED);
  EXPECT_EQ(reg.open_key(user, "A\\B", &k), ERROR_FILE_NOT_FOUND);

  EXPECT_EQ(reg.delete_value(a, "none"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(reg.set_string(a, "v", "x"), ERROR_SUCCESS);
  EXPECT_EQ(reg.delete_value(a, "V"), ERROR_SUCCESS);
  EXPECT_EQ(reg.query_value(a, "v", nullptr), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg.enum_value(a, 0, nullptr), ERROR_NO_MORE_ITEMS);

  for (const char* bad : {"\\Lead", "a\\\\b", "tab\there", "\\"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(reg.create_key(user, bad, &k), ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(reg.create_key(user, std::string(256, 'k'), &k), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(reg.create_key(user, std::string(255, 'k'), &k), ERROR_SUCCESS);
  EXPECT_EQ(reg.set_string(a, "line\nbreak", "x"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(reg.set_value(a, "v", REG_BINARY, nullptr, 3), ERROR_INVALID_PARAMETER);
  std::string huge((1 << 20) + 1, 'x');
  EXPECT_EQ(reg.set_binary(a, "v", huge), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, KeysDeeperThan512LevelsAreRefusedAndNothingIsWritten) {
  Registry reg(folder());
  Key user = root_key(Root::CurrentUser);
  std::string levels_512 = deep_path(512).substr(1);
  std::string levels_513 = deep_path(513).substr(1);
  Key deepest;
  ASSERT_EQ(reg.create_key(user, levels_512, &deepest), ERROR_SUCCESS) << reg.last_error();
  ASSERT_EQ(reg.set_dword(deepest, "n", 512), ERROR_SUCCESS) << reg.last_error();
  std::string before = slurp(reg.hive_path(Root::CurrentUser));

  Key k;
  EXPECT_EQ(reg.create_key(user, levels_513, &k), ERROR_INVALID_PARAMETER);
  EXPECT_NE(reg.last_error().find("deeper than 512 levels"), std::string::npos) << reg.last_error();
  EXPECT_LT(reg.last_error().size(), 400u);  // the path is cut in the message
  // Relative to a parent: the depth counts from the root.
  EXPECT_EQ(reg.create_key(deepest, "one_more", &k), ERROR_INVALID_PARAMETER);
  Key half;
  ASSERT_EQ(reg.open_key(user, deep_path(300).substr(1), &half), ERROR_SUCCESS);
  EXPECT_EQ(reg.create_key(half, deep_path(213).substr(1), &k), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(reg.create_key(half, deep_path(212).substr(1), &k), ERROR_SUCCESS);
  EXPECT_EQ(reg.open_key(user, levels_513, &k), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(slurp(reg.hive_path(Root::CurrentUser)), before);

  // The hive that holds the deepest key reads back.
  Registry fresh(folder());
  ASSERT_EQ(fresh.open_key(user, levels_512, &k), ERROR_SUCCESS) << fresh.last_error();
  Value v;
  EXPECT_EQ(fresh.query_value(k, "n", &v), ERROR_SUCCESS);
}

// The REGEDIT4 text alone, no file: what a hive's text formats back to.
TEST(Regedit4Text, ParsedTextFormatsToTheCanonicalForm) {
  struct Case {
    const char* name;
    std::string in;
    std::string out;
  } cases[] = {
      {"empty hive", "", "REGEDIT4\n\n"},
      {"CR LF, blanks and comments", "REGEDIT4\r\n; note\r\n[HKEY_CURRENT_USER\\A]\r\n  \"n\" = \"v\"\r\n",
       "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"n\"=\"v\"\n\n"},
      {"parents written, subkeys by name in any case",
       "REGEDIT4\n[HKEY_CURRENT_USER\\b\\X]\n[HKEY_CURRENT_USER\\A]\n",
       "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\n[HKEY_CURRENT_USER\\b]\n\n[HKEY_CURRENT_USER\\b\\X]\n\n"},
      {"escapes, default value, dword",
       "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n@=\"q\\\"b\\\\\"\n\"d\"=dword:12C\n",
       "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n@=\"q\\\"b\\\\\"\n\"d\"=dword:0000012c\n\n"},
      {"text that is not one line as hex(1)", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"t\"=hex(1):41,0a,00\n",
       "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"t\"=hex(1):41,0a,00\n\n"},
      {"long hex wrapped at regedit's column",
       "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"h\"=hex:"
           "01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,19,1a,1b,1c\n",
       "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"h\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\n"
       "  18,19,1a,1b,1c\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KeyNode tree;
    std::string error;
    ASSERT_TRUE(parse_regedit4(c.in, Root::CurrentUser, &tree, &error)) << error;
    std::string text;
    ASSERT_TRUE(format_regedit4(Root::CurrentUser, tree, &text));
    EXPECT_EQ(text, c.out);
    KeyNode again;
    ASSERT_TRUE(parse_regedit4(text, Root::CurrentUser, &again, &error)) << error;
    std::string twice;
    ASSERT_TRUE(format_regedit4(Root::CurrentUser, again, &twice));
    EXPECT_EQ(twice, text);
  }
}

// The depth limit holds for every way a key gets into a tree: a hive's text,
// a hive file read from disk, and create_key from the root or from a key.
TEST_F(RegistryTest, EveryWayInHoldsTheDepthLimit) {
  auto hive_text = [](std::size_t levels) {
    return "REGEDIT4\n\n[HKEY_CURRENT_USER" + deep_path(levels) + "]\n\n";
  };
  for (std::size_t levels : {std::size_t{512}, std::size_t{513}}) {
    SCOPED_TRACE(levels);
    const bool allowed = levels <= 512;
    std::string error;
    EXPECT_EQ(parse_hive(hive_text(levels), Root::CurrentUser, nullptr, &error), allowed) << error;

    fs::create_directories(folder());
    spill(folder() / "hkey_current_user.reg", hive_text(levels));
    Registry from_file(folder());
    std::string name;
    EXPECT_EQ(from_file.enum_key(root_key(Root::CurrentUser), 0, &name), allowed ? ERROR_SUCCESS : ERROR_BADDB);
    fs::remove(folder() / "hkey_current_user.reg");

    Registry api(folder());
    Key k;
    EXPECT_EQ(api.create_key(root_key(Root::CurrentUser), deep_path(levels).substr(1), &k),
              allowed ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER);
    Key one;
    ASSERT_EQ(api.create_key(root_key(Root::CurrentUser), "k", &one), ERROR_SUCCESS);
    EXPECT_EQ(api.create_key(one, deep_path(levels - 1).substr(1), &k),
              allowed ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER);
    fs::remove(folder() / "hkey_current_user.reg");
  }
}

// Bytes this process has read so far (read() and the like).
std::uint64_t bytes_read() {
  std::ifstream in("/proc/self/io");
  std::string key;
  std::uint64_t value = 0;
  while (in >> key >> value) {
    if (key == "rchar:") return value;
  }
  return 0;
}

// A hive changed within one timestamp tick of being read could change again
// in the same tick with the same inode, size and times: its cached tree is
// confirmed by reading the bytes again, until the file is older than a tick;
// then the stamp alone is trusted.
TEST_F(RegistryTest, AYoungHiveIsReadAgainAndAnOldOneIsNot) {
  fs::create_directories(folder());
  const fs::path hive = folder() / "hkey_current_user.reg";
  const std::string big(200'000, 'x');
  spill(hive, "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"v\"=\"" + big + "\"\n\n");
  Registry reg(folder());
  Key a;
  ASSERT_EQ(reg.open_key(root_key(Root::CurrentUser), "A", &a), ERROR_SUCCESS) << reg.last_error();
  Value v;
  auto bytes_of_one_query = [&] {
    const std::uint64_t start = bytes_read();
    EXPECT_EQ(reg.query_value(a, "v", &v), ERROR_SUCCESS);
    EXPECT_EQ(v.data, sz(big));
    return bytes_read() - start;
  };
  EXPECT_GE(bytes_of_one_query(), big.size());  // young: confirmed by its bytes

  struct timespec old_times[2] = {{::time(nullptr) - 10, 0}, {::time(nullptr) - 10, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, hive.c_str(), old_times, 0), 0);
  EXPECT_GE(bytes_of_one_query(), big.size());  // its change time moved: read again
  EXPECT_LT(bytes_of_one_query(), big.size());  // old and unchanged: the cached tree
}

// Runs `body` on a thread with a stack of `stack_bytes`.
void run_on_small_stack(std::size_t stack_bytes, void (*body)(void*), void* arg) {
  struct Call {
    void (*body)(void*);
    void* arg;
  } call{body, arg};
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, stack_bytes), 0);
  pthread_t thread;
  ASSERT_EQ(pthread_create(
                &thread, &attr,
                [](void* p) -> void* {
                  auto* c = static_cast<Call*>(p);
                  c->body(c->arg);
                  return nullptr;
                },
                &call),
            0);
  pthread_attr_destroy(&attr);
  pthread_join(thread, nullptr);
}

TEST_F(RegistryTest, DeepestTreeIsReadCopiedWrittenAndFreedOnASmallStack) {
  // A hive of 512-level keys under many branches, read, changed (the tree is
  // copied, written and the old one freed) and parsed, all on a 256 KiB
  // stack: a walk that recursed once per level would not fit there.
  fs::create_directories(folder());
  std::string text = "REGEDIT4\n\n";
  for (char branch : std::string("abcd")) {
    std::string path = "HKEY_CURRENT_USER";
    for (int level = 0; level < 512; ++level) {
      path += '\\';
      path += level == 0 ? branch : 'k';
      text += "[" + path + "]\n\n";
    }
  }
  spill(folder() / "hkey_current_user.reg", text);
  struct Work {
    fs::path folder;
    std::string text;
    long set_rc = -1;
    bool parsed = false;
    std::size_t keys = 0;
  } work{folder(), text};
  run_on_small_stack(256 << 10, [](void* p) {
    auto* w = static_cast<Work*>(p);
    {
      Registry reg(w->folder);
      Key k;
      if (reg.open_key(root_key(Root::CurrentUser), "d" + deep_path(511), &k) == ERROR_SUCCESS) {
        w->set_rc = reg.set_dword(k, "deepest", 1);
      }
    }
    std::vector<ParsedKey> keys;
    std::string error;
    w->parsed = parse_hive(slurp(w->folder / "hkey_current_user.reg"), Root::CurrentUser, &keys,
                           &error);
    w->keys = keys.size();
  }, &work);
  EXPECT_EQ(work.set_rc, ERROR_SUCCESS);
  EXPECT_TRUE(work.parsed);
  EXPECT_EQ(work.keys, 1u + 4u * 512u);
  std::string written = slurp(folder() / "hkey_current_user.reg");
  EXPECT_NE(written.find("\"deepest\"=dword:00000001"), std::string::npos);
}

TEST_F(RegistryTest, HiveSizeIsCheckedBeforeTheWrite) {
  // A hive just under 64 MiB: one more large value would make a file that
  // no reader accepts, so it is refused and the file stays as it was.
  fs::create_directories(folder());
  std::string text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Big]\n";
  const std::string chunk(1'040'000, 'x');
  for (int i = 0; i < 64; ++i) text += "\"v" + std::to_string(i) + "\"=\"" + chunk + "\"\n";
  text += "\n";
  ASSERT_LT(text.size(), std::size_t{64} << 20);
  spill(folder() / "hkey_current_user.reg", text);
  {
    Registry reg(folder());
    Key big;
    ASSERT_EQ(reg.open_key(root_key(Root::CurrentUser), "Big", &big), ERROR_SUCCESS)
        << reg.last_error();
    EXPECT_EQ(reg.set_string(big, "one_more", chunk), ERROR_NOT_ENOUGH_QUOTA);
    EXPECT_NE(reg.last_error().find("larger than 64 MiB"), std::string::npos) << reg.last_error();
    EXPECT_EQ(reg.query_value(big, "one_more", nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(reg.set_string(big, "small", "fits"), ERROR_SUCCESS) << reg.last_error();
  }
  Registry fresh(folder());
  Key big;
  ASSERT_EQ(fresh.open_key(root_key(Root::CurrentUser), "Big", &big), ERROR_SUCCESS)
      << fresh.last_error();
  Value v;
  EXPECT_EQ(fresh.query_value(big, "small", &v), ERROR_SUCCESS);
  EXPECT_EQ(fresh.query_value(big, "one_more", &v), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, HivesAreOwnerOnlyOneFilePerRoot) {
  Registry reg(folder());
  for (Root r : {Root::ClassesRoot, Root::CurrentUser, Root::LocalMachine, Root::Users,
                 Root::CurrentConfig, Root::DynData}) {
    ASSERT_EQ(reg.set_string(root_key(r), "v", std::string(root_name(r))), ERROR_SUCCESS);
  }
  for (const char* file : {"hkey_classes_root.reg", "hkey_current_user.reg",
                           "hkey_local_machine.reg", "hkey_users.reg", "hkey_current_config.reg",
                           "hkey_dyn_data.reg"}) {
    SCOPED_TRACE(file);
    struct stat st;
    ASSERT_EQ(::stat((folder() / file).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
  struct stat st;
  ASSERT_EQ(::stat(folder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(slurp(folder() / "hkey_users.reg"), "REGEDIT4\n\n[HKEY_USERS]\n\"v\"=\"HKEY_USERS\"\n\n");
}

TEST_F(RegistryTest, FailedWriteChangesNothing) {
  Registry reg(folder());
  Key k;
  ASSERT_EQ(reg.create_key(root_key(Root::CurrentUser), "K", &k), ERROR_SUCCESS);
  ASSERT_EQ(reg.set_string(k, "v", "old"), ERROR_SUCCESS);
  std::string before = slurp(reg.hive_path(Root::CurrentUser));

  // Files may not grow past 8 bytes: the new hive cannot be written.
  struct sigaction ignore {}, old_action {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &old_action);
  rlimit old_limit{};
  ::getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit small = old_limit;
  small.rlim_cur = 8;
  ::setrlimit(RLIMIT_FSIZE, &small);
  long rc = reg.set_string(k, "v", "new");
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  ::sigaction(SIGXFSZ, &old_action, nullptr);

  EXPECT_EQ(rc, ERROR_CANTWRITE);
  EXPECT_NE(reg.last_error().find("hkey_current_user.reg"), std::string::npos) << reg.last_error();
  EXPECT_EQ(slurp(reg.hive_path(Root::CurrentUser)), before);
  Value v;
  ASSERT_EQ(reg.query_value(k, "v", &v), ERROR_SUCCESS);
  EXPECT_EQ(v.data, sz("old"));
  for (const auto& entry : fs::directory_iterator(folder())) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos)
        << entry.path();  // no temporary file left behind
  }
}

TEST_F(RegistryTest, UnreadableHiveIsNotReplaced) {
  fs::create_directories(folder() / "hkey_current_user.reg");  // a folder where the file should be
  Registry reg(folder());
  EXPECT_EQ(reg.set_string(root_key(Root::CurrentUser), "v", "x"), ERROR_CANTREAD);
  EXPECT_NE(reg.last_error().find("hkey_current_user.reg"), std::string::npos);
  EXPECT_TRUE(fs::is_directory(folder() / "hkey_current_user.reg"));
}

TEST_F(RegistryTest, TwoWritersLoseNothing) {
  // Two registries over one folder stand for two processes: each has its
  // own cache and its own lock descriptor.
  Registry first(folder());
  Registry second(folder());
  Key k;
  ASSERT_EQ(first.create_key(root_key(Root::CurrentUser), "Shared", &k), ERROR_SUCCESS);
  constexpr int kWrites = 100;
  auto writer = [&](Registry& reg, const char* prefix) {
    for (int i = 0; i < kWrites; ++i) {
      ASSERT_EQ(reg.set_dword(k, prefix + std::to_string(i), static_cast<std::uint32_t>(i)),
                ERROR_SUCCESS)
          << reg.last_error();
    }
  };
  std::thread a(writer, std::ref(first), "a");
  std::thread b(writer, std::ref(second), "b");
  a.join();
  b.join();
  Registry reader(folder());
  std::uint32_t count = 0;
  while (reader.enum_value(k, count, nullptr) == ERROR_SUCCESS) ++count;
  EXPECT_EQ(count, 2u * kWrites);
  // And each writer sees the other's values without being told.
  Value v;
  EXPECT_EQ(first.query_value(k, "b99", &v), ERROR_SUCCESS);
  EXPECT_EQ(second.query_value(k, "a99", &v), ERROR_SUCCESS);
}

TEST_F(RegistryTest, SystemRegistryLivesInTheRoot) {
  Registry& reg = system_registry();
  EXPECT_EQ(reg.folder(), root_.path() / "registry");
  ASSERT_EQ(reg.set_string(root_key(Root::CurrentUser), "v", "x"), ERROR_SUCCESS);
  EXPECT_TRUE(fs::exists(root_.path() / "registry" / "hkey_current_user.reg"));
  EXPECT_EQ(&system_registry(), &reg);
}

TEST(ParseHive, ListsKeysInWrittenOrder) {
  std::vector<ParsedKey> keys;
  std::string error;
  ASSERT_TRUE(parse_hive("REGEDIT4\n[HKEY_USERS\\b]\n\"x\"=\"1\"\n[HKEY_USERS\\A\\c]\n",
                         Root::Users, &keys, &error))
      << error;
  ASSERT_EQ(keys.size(), 4u);
  EXPECT_EQ(keys[0].path, "");
  EXPECT_EQ(keys[1].path, "A");
  EXPECT_EQ(keys[2].path, "A\\c");
  EXPECT_EQ(keys[3].path, "b");
  ASSERT_EQ(keys[3].values.size(), 1u);
  EXPECT_EQ(keys[3].values[0].data, sz("1"));
  EXPECT_FALSE(parse_hive("REGEDIT4\nx\n", Root::Users, &keys, &error));
  EXPECT_EQ(error, "2: not a key, value or comment line");
}

}  // namespace
}  // namespace platform::reg
