// REGMOD: and the internal registry writer of the dial-up configuration.
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/loop/log.h"
#include "platform/storage/registry.h"
#include "session/line_protocol.h"
#include "sysconfig/sysconfig.h"

namespace sysconfig {
namespace {

namespace reg = platform::reg;

constexpr std::string_view kComponent = "sysconfig";

bool Refuse(std::string* why, std::string text) {
  platform::log_warn(kComponent, text);
  if (why) *why = std::move(text);
  return false;
}

// The two types the server may name; anything else is not stored.
bool KnownType(std::string_view type) { return type == "REG_SZ" || type == "REG_BINARY"; }

long SetTyped(reg::Registry& registry, const reg::Key& key, std::string_view type,
              std::string_view name, std::string_view data) {
  if (type == "REG_SZ") return registry.set_string(key, name, data);
  std::uint32_t number = static_cast<std::uint32_t>(ParseDecimal(data));
  unsigned char bytes[4] = {static_cast<unsigned char>(number), static_cast<unsigned char>(number >> 8),
                            static_cast<unsigned char>(number >> 16),
                            static_cast<unsigned char>(number >> 24)};
  return registry.set_value(key, name, reg::REG_BINARY, bytes, sizeof bytes);
}

std::string Describe(std::string_view root, std::string_view subkey, std::string_view name) {
  return std::string(root) + "\\" + std::string(subkey) + " value \"" + std::string(name) + "\"";
}

}  // namespace

std::int32_t ParseDecimal(std::string_view text) {
  std::size_t i = 0;
  // isspace of the C locale: blank, TAB, LF, VT, FF, CR.
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<std::int64_t>(INT32_MAX) + 1) {
      value = static_cast<std::int64_t>(INT32_MAX) + 1;  // saturated: the rest cannot lower it
    }
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

bool RegModCommand(reg::Registry& registry, std::string_view arguments, std::string* why) {
  std::string_view remainder = arguments;
  std::vector<std::string> f;
  if (!session::NextFields(remainder, 5, f)) {
    return Refuse(why, "REGMOD: refused, fields missing: \"" + session::Printable(arguments) + "\"");
  }
  const std::string& root_name = f[0];
  const std::string& subkey = f[1];
  const std::string& type = f[2];
  const std::string& name = f[3];
  const std::string& data = f[4];
  auto root = reg::root_from_name(root_name);
  if (!root) return Refuse(why, "REGMOD: refused, unknown root key \"" + session::Printable(root_name) + "\"");
  // Checked before the key is created, so that a command that stores
  // nothing leaves no empty key behind and is not answered as done.
  if (!KnownType(type)) {
    return Refuse(why, "REGMOD: refused, unknown value type \"" + session::Printable(type) + "\" for " +
                           Describe(root_name, subkey, name));
  }
  reg::Key created;
  if (long rc = registry.create_key(reg::root_key(*root), subkey, &created); rc != reg::ERROR_SUCCESS) {
    return Refuse(why, "REGMOD: cannot create " + Describe(root_name, subkey, name) + ": " +
                           registry.last_error() + " (" + std::to_string(rc) + ")");
  }
  reg::Key key;
  if (long rc = registry.open_key(reg::root_key(*root), subkey, &key); rc != reg::ERROR_SUCCESS) {
    return Refuse(why, "REGMOD: cannot open " + Describe(root_name, subkey, name) + ": " +
                           registry.last_error() + " (" + std::to_string(rc) + ")");
  }
  if (long rc = SetTyped(registry, key, type, name, data); rc != reg::ERROR_SUCCESS) {
    return Refuse(why, "REGMOD: cannot set " + Describe(root_name, subkey, name) + ": " +
                           registry.last_error() + " (" + std::to_string(rc) + ")");
  }
  platform::log_info(kComponent, "REGMOD: set " + Describe(root_name, subkey, name) + " (" + type + ")");
  return true;
}

bool WriteRegistryValue(reg::Registry& registry, std::string_view root_name, std::string_view subkey,
                        std::string_view type, std::string_view value_name, std::string_view data,
                        std::string* why) {
  auto root = reg::root_from_name(root_name);
  if (!root) return Refuse(why, "registry write skipped, unknown root key \"" + std::string(root_name) + "\"");
  reg::Key key;
  if (long rc = registry.open_key(reg::root_key(*root), subkey, &key); rc != reg::ERROR_SUCCESS) {
    return Refuse(why, "registry write skipped, cannot open " + Describe(root_name, subkey, value_name) +
                           ": " + registry.last_error() + " (" + std::to_string(rc) + ")");
  }
  if (!KnownType(type)) {
    return Refuse(why, "registry write skipped, unknown value type \"" + std::string(type) + "\" for " +
                           Describe(root_name, subkey, value_name));
  }
  if (long rc = SetTyped(registry, key, type, value_name, data); rc != reg::ERROR_SUCCESS) {
    return Refuse(why, "registry write failed for " + Describe(root_name, subkey, value_name) + ": " +
                           registry.last_error() + " (" + std::to_string(rc) + ")");
  }
  return true;
}

bool WriteRegistryValue(std::string_view root_name, std::string_view subkey, std::string_view type,
                        std::string_view value_name, std::string_view data) {
  return WriteRegistryValue(reg::system_registry(), root_name, subkey, type, value_name, data);
}

}  // namespace sysconfig
