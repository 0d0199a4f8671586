#include "wizard/registration_profile.h"

#include "ini_bridge.h"
#include "platform/storage/ascii.h"

namespace wizard {

const std::vector<ProfileDefault>& default_profile_keys() {
  static const std::vector<ProfileDefault> table = {
      {"CLIENTCODE", "000000"},
      {"USERID", ""},
      {"PAYMETHOD", "CREDIT"},
      {"CCNUM", ""},
      {"FIRSTNAME", ""},
      {"LASTNAME", ""},
      {"COMPANY", ""},
      {"ADDR1", ""},
      {"ADDR2", ""},
      {"ADDR4", ""},
      {"CITY", ""},
      {"STATE", ""},
      {"ZIP", ""},
      {"EVEPHONE", ""},
      {"DAYPHONE", ""},
      {"PASSWORD", ""},
      {"CCTYPE", "American Express"},
      {"CCMONTH", ""},
      {"CCYEAR", ""},
      {"PRICEPLAN", ""},
      {"COMINFO", ""},
      {"COMPORT", "2"},
      {"DETECTMODEM", "TRUE"},
      {"USEDETECTED", "TRUE"},
      {"COMSPEED", "9600"},
      {"MODEMINIT", "ATE0Q0V1&C1&D2S2=43S7=60S12=50"},
      {"MODEMTYPE", ""},
      {"MODEMRST", "AT &F"},
      {"CWDISABLE", "FALSE"},
      {"CWDISABLESTR", ""},
      {"OUTSIDEACCESS", ""},
      {"DIALMETHOD", "TONE"},
      {"POPNUMBER", ""},
      {"POPAREACODE", ""},
      {"DAYAREACODE", ""},
      {"NEWUSER", ""},
      {"EMAILID", ""},
      {"DNS1", ""},
      {"DNS2", ""},
      {"DOMAIN", ""},
      {"SMTP", ""},
      {"POP3", ""},
      {"NNTP", ""},
  };
  return table;
}

std::string upper_key(std::string_view key) { return platform::to_ascii_upper(key); }

std::string digits_only(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c >= '0' && c <= '9') out.push_back(c);
  }
  return out;
}

void RegistrationProfile::SetDefaults(const std::vector<ProfileDefault>& table) {
  for (const auto& entry : table) {
    if (entry.key == nullptr) break;
    Set(entry.key, entry.value ? entry.value : "");
  }
}

void RegistrationProfile::Set(std::string_view key, std::string_view value) {
  const int i = Find(key);
  if (i >= 0) {
    values_[static_cast<std::size_t>(i)] = std::string(value);
    return;
  }
  keys_.push_back(upper_key(key));
  values_.emplace_back(value);
}

bool RegistrationProfile::Get(std::string_view key, std::string& out) const {
  const int i = Find(key);
  if (i < 0) return false;
  out = values_[static_cast<std::size_t>(i)];
  return true;
}

void RegistrationProfile::Remove(std::string_view key) {
  const int i = Find(key);
  if (i < 0) return;
  keys_.erase(keys_.begin() + i);
  values_.erase(values_.begin() + i);
}

int RegistrationProfile::Find(std::string_view key) const {
  for (std::size_t i = keys_.size(); i-- > 0;) {
    if (keys_[i] == key) return static_cast<int>(i);
  }
  return -1;
}

bool RegistrationProfile::Load(const std::filesystem::path& file) {
  // One read of the file for all keys, from the last to the first; each key
  // falls back to its current value.
  IniEntries entries;
  entries.reserve(keys_.size());
  for (std::size_t i = keys_.size(); i-- > 0;) entries.emplace_back(keys_[i], values_[i]);
  ini_read_all(kUserInfoSection, entries, kProfileReadBuffer, file);
  for (std::size_t i = keys_.size(), e = 0; i-- > 0; ++e) values_[i] = std::move(entries[e].second);
  return true;
}

bool RegistrationProfile::Save(const std::filesystem::path& file, std::string* why) const {
  // All keys, last inserted first, in one atomic replacement of the file: a
  // crash leaves the old profile or the new one, never half of it.
  IniEntries entries;
  entries.reserve(keys_.size());
  for (std::size_t i = keys_.size(); i-- > 0;) entries.emplace_back(keys_[i], values_[i]);
  return ini_write_all(kUserInfoSection, entries, file, why);
}

std::string RegistrationProfile::value_or_empty(std::string_view key) const {
  std::string v;
  Get(key, v);
  return v;
}

}  // namespace wizard
