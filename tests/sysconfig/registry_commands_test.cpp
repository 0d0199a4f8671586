#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "platform/storage/registry.h"
#include "platform/storage/system_root.h"
#include "sysconfig/sysconfig.h"

namespace sysconfig {
namespace {

namespace reg = platform::reg;
using namespace std::string_literals;

class RegModTest : public ::testing::Test {
 protected:
  platform::ScopedSystemRoot root;
  reg::Registry& registry = reg::system_registry();

  // The stored value, or "<missing>" when there is none.
  std::string Stored(reg::Root r, std::string_view subkey, std::string_view name, std::uint32_t* type = nullptr) {
    reg::Key key;
    if (registry.open_key(reg::root_key(r), subkey, &key) != reg::ERROR_SUCCESS) return "<no key>";
    reg::Value v;
    if (registry.query_value(key, name, &v) != reg::ERROR_SUCCESS) return "<missing>";
    if (type) *type = v.type;
    return v.data;
  }
  bool KeyExists(reg::Root r, std::string_view subkey) {
    reg::Key key;
    return registry.open_key(reg::root_key(r), subkey, &key) == reg::ERROR_SUCCESS;
  }
};

TEST_F(RegModTest, StoresValuesByRootAndType) {
  struct Case {
    const char* name;
    std::string arguments;
    reg::Root root;
    const char* subkey;
    const char* value;
    std::uint32_t type;
    std::string data;
  };
  const Case cases[] = {
      {"string with its NUL", "HKEY_CURRENT_USER\tSoftware\\Veloran\\Mail\tREG_SZ\tServer\tmail.veloran.net",
       reg::Root::CurrentUser, "Software\\Veloran\\Mail", "Server", reg::REG_SZ, "mail.veloran.net\0"s},
      {"binary 300", "HKEY_LOCAL_MACHINE\tSoftware\\Veloran\tREG_BINARY\tCount\t300", reg::Root::LocalMachine,
       "Software\\Veloran", "Count", reg::REG_BINARY, "\x2c\x01\x00\x00"s},
      {"binary of letters is 0", "HKEY_USERS\t.Default\\V\tREG_BINARY\tX\tabc", reg::Root::Users, ".Default\\V",
       "X", reg::REG_BINARY, "\0\0\0\0"s},
      {"binary negative, blanks and trailing letters", "HKEY_CLASSES_ROOT\t.vlr\tREG_BINARY\tN\t  -2xyz",
       reg::Root::ClassesRoot, ".vlr", "N", reg::REG_BINARY, "\xfe\xff\xff\xff"s},
      {"four fields: the value name repeats as data", "HKEY_CURRENT_CONFIG\tDisplay\tREG_SZ\tMode",
       reg::Root::CurrentConfig, "Display", "Mode", reg::REG_SZ, "Mode\0"s},
      {"data with blanks and TAB-free text", "HKEY_DYN_DATA\tStats\tREG_SZ\tNote\t two  words ",
       reg::Root::DynData, "Stats", "Note", reg::REG_SZ, " two  words \0"s},
      {"empty value name is the default value", "HKEY_CURRENT_USER\tSoftware\\D\tREG_SZ\t\tdef",
       reg::Root::CurrentUser, "Software\\D", "", reg::REG_SZ, "def\0"s},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string why;
    EXPECT_TRUE(RegModCommand(registry, c.arguments, &why)) << why;
    std::uint32_t type = 0;
    EXPECT_EQ(Stored(c.root, c.subkey, c.value, &type), c.data);
    EXPECT_EQ(type, c.type);
  }
}

TEST_F(RegModTest, BadCommandsChangeNothing) {
  struct Case {
    const char* name;
    const char* arguments;
    const char* reason;  // a part of the refusal's message
  };
  const Case cases[] = {
      {"no arguments", "", "fields missing"},
      {"root in lower case", "hkey_current_user\tSoftware\\Bad\tREG_SZ\tv\tx", "unknown root key \"hkey_current_user\""},
      {"unknown root", "HKEY_PERFORMANCE_DATA\tSoftware\\Bad\tREG_SZ\tv\tx", "unknown root key \"HKEY_PERFORMANCE_DATA\""},
      {"unknown type: no key is left behind", "HKEY_CURRENT_USER\tSoftware\\Bad\tREG_DWORD\tv\t1", "unknown value type \"REG_DWORD\""},
      {"type in lower case", "HKEY_CURRENT_USER\tSoftware\\Bad\treg_sz\tv\tx", "unknown value type \"reg_sz\""},
      {"remainder runs empty", "HKEY_CURRENT_USER\tSoftware\\Bad\t", "fields missing"},
      {"line ends with a TAB after the value name", "HKEY_CURRENT_USER\tSoftware\\Bad\tREG_SZ\tv\t", "fields missing"},
      {"control character in the key name", "HKEY_CURRENT_USER\tSoftware\\Bad\x01\tREG_SZ\tv\tx", "a key name with a control character"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string why;
    EXPECT_FALSE(RegModCommand(registry, c.arguments, &why));
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
  }
  EXPECT_FALSE(KeyExists(reg::Root::CurrentUser, "Software\\Bad"));
  EXPECT_FALSE(KeyExists(reg::Root::CurrentUser, "Software"));
}

TEST_F(RegModTest, ReplacesAnExistingValue) {
  ASSERT_TRUE(RegModCommand(registry, "HKEY_CURRENT_USER\tS\tREG_SZ\tv\tfirst"));
  ASSERT_TRUE(RegModCommand(registry, "HKEY_CURRENT_USER\tS\tREG_BINARY\tv\t7"));
  std::uint32_t type = 0;
  EXPECT_EQ(Stored(reg::Root::CurrentUser, "S", "v", &type), "\x07\0\0\0"s);
  EXPECT_EQ(type, reg::REG_BINARY);
}

TEST(ParseDecimal, ReadsLikeAtoiWithoutOverflow) {
  struct Case {
    const char* text;
    std::int32_t value;
  };
  const Case cases[] = {
      {"300", 300},           {"", 0},
      {"abc", 0},             {"  42", 42},
      {"\t+7", 7},            {"-15x", -15},
      {"1 2", 1},             {"- 3", 0},
      {"2147483647", INT32_MAX}, {"2147483648", INT32_MAX},
      {"-2147483648", INT32_MIN}, {"-99999999999999999999", INT32_MIN},
      {"99999999999999999999999999", INT32_MAX},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseDecimal(c.text), c.value) << '"' << c.text << '"';
}

TEST_F(RegModTest, InternalWriterOnlyOpensExistingKeys) {
  EXPECT_FALSE(WriteRegistryValue(registry, "HKEY_CURRENT_USER", "RemoteAccess", "REG_SZ", "Default", "Veloran"));
  EXPECT_FALSE(KeyExists(reg::Root::CurrentUser, "RemoteAccess"));

  reg::Key key;
  ASSERT_EQ(registry.create_key(reg::root_key(reg::Root::CurrentUser), "RemoteAccess", &key), reg::ERROR_SUCCESS);
  EXPECT_TRUE(WriteRegistryValue(registry, "HKEY_CURRENT_USER", "RemoteAccess", "REG_SZ", "Default", "Veloran"));
  EXPECT_EQ(Stored(reg::Root::CurrentUser, "RemoteAccess", "Default"), "Veloran\0"s);
  EXPECT_TRUE(WriteRegistryValue(registry, "HKEY_CURRENT_USER", "RemoteAccess", "REG_BINARY", "Flag", "1"));
  EXPECT_EQ(Stored(reg::Root::CurrentUser, "RemoteAccess", "Flag"), "\x01\0\0\0"s);

  EXPECT_FALSE(WriteRegistryValue(registry, "HKEY_CURRENT_USER", "RemoteAccess", "REG_DWORD", "D", "1"));
  EXPECT_FALSE(WriteRegistryValue(registry, "HKCU", "RemoteAccess", "REG_SZ", "X", "1"));
  EXPECT_EQ(Stored(reg::Root::CurrentUser, "RemoteAccess", "D"), "<missing>");
  EXPECT_EQ(Stored(reg::Root::CurrentUser, "RemoteAccess", "X"), "<missing>");
}

}  // namespace
}  // namespace sysconfig
