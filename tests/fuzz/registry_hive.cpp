// The REGEDIT4 hive reader. The input is a HKEY_CURRENT_USER hive file.
// Checked: a hive that parses formats to text that parses back to the same
// keys and values; it is taken by the registry, survives one change and
// reads back with the same keys and values plus that change; a hive that
// does not parse is refused by the registry and never overwritten.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/storage/ascii.h"
#include "platform/storage/regedit4.h"
#include "platform/storage/registry.h"

namespace {

namespace reg = platform::reg;

std::string describe(const std::vector<reg::ParsedKey>& keys) {
  std::string out;
  for (const auto& k : keys) {
    out += "[" + k.path + "]\n";
    for (const auto& v : k.values) out += v.name + "=" + std::to_string(v.type) + ":" + v.data + "\n";
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<reg::ParsedKey> keys;
  std::string error;
  bool parsed = reg::parse_hive(text, reg::Root::CurrentUser, &keys, &error);
  fuzz::check(parsed || !error.empty(), "a refused hive without a reason");
  if (parsed) {
    reg::KeyNode tree;
    fuzz::check(reg::parse_regedit4(text, reg::Root::CurrentUser, &tree, &error), "parse_hive and parse_regedit4 differ");
    std::string formatted;
    std::vector<reg::ParsedKey> back;
    if (reg::format_regedit4(reg::Root::CurrentUser, tree, &formatted)) {
      fuzz::check(reg::parse_hive(formatted, reg::Root::CurrentUser, &back, &error),
                  "the formatted hive does not parse: " + error);
      fuzz::check(describe(back) == describe(keys), "the formatted hive holds other keys or values");
    }
  }

  const std::filesystem::path folder = fuzz::work_folder() / "registry";
  fuzz::fresh_folder(folder);
  const std::filesystem::path hive = folder / "hkey_current_user.reg";
  fuzz::write_file(hive, text);
  reg::Registry registry(folder);
  long rc = registry.set_dword(reg::root_key(reg::Root::CurrentUser), "fuzz", 1);
  if (!parsed) {
    fuzz::check(rc == reg::ERROR_BADDB, "a hive that does not parse was used");
    fuzz::check(fuzz::read_file(hive) == text, "a hive that does not parse was overwritten");
    return 0;
  }
  fuzz::check(rc == reg::ERROR_SUCCESS, "a parsed hive took no change: " + registry.last_error());

  // What the file must now hold: the same, with "fuzz" set on the root key.
  reg::Value fuzz_value{"fuzz", reg::REG_DWORD, std::string("\x01\x00\x00\x00", 4)};
  bool replaced = false;
  for (auto& v : keys.front().values) {
    if (platform::equal_no_case(v.name, "fuzz")) {
      v.type = fuzz_value.type;
      v.data = fuzz_value.data;
      replaced = true;
    }
  }
  if (!replaced) keys.front().values.push_back(fuzz_value);

  std::vector<reg::ParsedKey> again;
  fuzz::check(reg::parse_hive(fuzz::read_file(hive), reg::Root::CurrentUser, &again, &error),
              "the written hive does not parse: " + error);
  fuzz::check(describe(again) == describe(keys), "the written hive holds other keys or values");
  return 0;
}
