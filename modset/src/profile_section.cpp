#include "profile_section.h"

#include <atomic>
#include <cstdio>

#include "common/ini.h"
#include "platform/loop/log.h"
#include "platform/storage/system_root.h"

namespace modset {

namespace {

std::tm local_now() {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return local;
}

std::atomic<StampClock> g_stamp_clock{nullptr};

}  // namespace

CfgProfileSection::CfgProfileSection(std::string section, const std::filesystem::path& file)
    : section_(std::move(section)) {
  std::string error;
  bool missing = false;
  document_ = common::load_ini_cached(file, &error, &missing);
  if (!document_) {
    load_ = missing ? LoadResult::Missing : LoadResult::Unreadable;
    if (!missing) platform::log_warn("modset", error);
    document_ = std::make_shared<const common::IniDocument>();
  }
}

CfgProfileSection::CfgProfileSection(std::string section,
                                     std::shared_ptr<const common::IniDocument> document)
    : section_(std::move(section)), document_(std::move(document)) {
  if (!document_) document_ = std::make_shared<const common::IniDocument>();
}

std::string CfgProfileSection::read_text(std::string_view key, std::string_view default_value) const {
  std::optional<std::string> value = document_->get(section_, key);
  std::string text = (value && !value->empty()) ? std::move(*value) : std::string(default_value);
  if (text.size() > kMaxRead) text.resize(kMaxRead);
  return text;
}

int32_t CfgProfileSection::read_int(std::string_view key, int32_t default_value) const {
  return atoi_rule(read_text(key, std::to_string(default_value)));
}

std::vector<std::string> CfgProfileSection::list_keys(std::size_t limit) const {
  std::vector<std::string> names = document_->keys(section_);
  // The final NUL takes one byte; each name its length and its NUL. A name
  // that would be cut by the limit is not listed at all, so no caller ever
  // sees half a name.
  std::size_t used = 1;
  std::size_t fit = 0;
  for (const std::string& name : names) {
    if (used + name.size() + 1 > limit) break;
    used += name.size() + 1;
    ++fit;
  }
  names.resize(fit);
  return names;
}

bool CfgProfileSection::write_text(common::IniDocument& doc, std::string_view key,
                                   std::string_view default_value, std::string_view value) const {
  std::string error;
  // A value with blanks at an end (" M0") is quoted by IniDocument::set, so
  // it reads back whole.
  bool ok = doc.set(section_, key, value == default_value ? std::string_view() : value, &error);
  if (!ok) platform::log_warn("modset", "cannot store \"" + std::string(key) + "\": " + error);
  return ok;
}

bool CfgProfileSection::write_int(common::IniDocument& doc, std::string_view key, int32_t default_value,
                                  int32_t value) const {
  return write_text(doc, key, std::string_view(), value == default_value ? std::string() : std::to_string(value));
}

void CfgProfileSection::delete_section(common::IniDocument& doc) const { doc.remove_section(section_); }

bool CfgProfileSection::stamp(common::IniDocument& doc) const {
  StampClock clock = g_stamp_clock.load();
  return write_text(doc, kStampKey, "", format_stamp(clock ? clock() : local_now()));
}

int32_t atoi_rule(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{INT32_MAX} + 1) value = int64_t{INT32_MAX} + 1;  // saturate, keep going
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return static_cast<int32_t>(value);
}

std::string format_stamp(const std::tm& local) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const char* day = local.tm_wday >= 0 && local.tm_wday < 7 ? kDays[local.tm_wday] : "???";
  const char* month = local.tm_mon >= 0 && local.tm_mon < 12 ? kMonths[local.tm_mon] : "???";
  char text[64];
  std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04d\n", day, month, local.tm_mday,
                local.tm_hour, local.tm_min, local.tm_sec, local.tm_year + 1900);
  return text;
}

void set_stamp_clock(StampClock clock) { g_stamp_clock.store(clock); }

std::filesystem::path settings_file() {
  // translate_path matches an existing file whose name differs in case.
  platform::RootPath path = platform::translate_path("TARK_NET.INI", platform::RelativeTo::Windows);
  if (path) return path.full();
  return platform::known_folder(platform::KnownFolder::Windows) / "TARK_NET.INI";
}

}  // namespace modset
