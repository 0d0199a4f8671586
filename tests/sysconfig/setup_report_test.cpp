// The line that ends every run: what was set up, what was not, and why.
#include "sysconfig/setup_report.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "sysconfig/dialup.h"
#include "support/temp_dir.h"

namespace sysconfig {
namespace {

namespace fs = std::filesystem;

SetupRecord Record(bool registered, std::optional<int> entry, int launchers, int menu_items) {
  SetupRecord r;
  r.registered = registered;
  r.entry_result = entry;
  if (entry == 0) r.access_number = "(217) 555-0100";
  for (int i = 0; i < launchers; ++i) r.launchers.push_back("/r/desktop/l" + std::to_string(i) + ".desktop");
  r.menu_items = menu_items;
  return r;
}

TEST(SetupLine, SaysWhatWasAndWasNotSetUpWithTheReason) {
  struct Case {
    const char* name;
    SetupRecord record;
    const char* line;
  } cases[] = {
      {"everything", Record(true, 0, 2, 3),
       "Set up: the dial-up entry \"Tarkel - Veloran Account\" with access number (217) 555-0100, 2 launchers, "
       "3 menu items; not set up: nothing.\n"},
      {"no ADDITEM: from the server", Record(true, 0, 1, 0),
       "Set up: the dial-up entry \"Tarkel - Veloran Account\" with access number (217) 555-0100, 1 launcher; "
       "not set up: menu items (the server sent none).\n"},
      {"registration without TRANSFER:", Record(true, std::nullopt, 0, 0),
       "Set up: nothing; not set up: the dial-up entry, the access number, the launcher (the server ended the "
       "registration without TRANSFER:, which sets up the computer); menu items (the server sent none).\n"},
      {"without TRANSFER:, with menu items", Record(true, std::nullopt, 0, 1),
       "Set up: 1 menu item; not set up: the dial-up entry, the access number, the launcher (the server ended the "
       "registration without TRANSFER:, which sets up the computer).\n"},
      {"cancelled before the call", Record(false, std::nullopt, 0, 0),
       "Set up: nothing; not set up: the dial-up entry, the access number, the launcher, menu items (the "
       "registration did not finish).\n"},
      {"a refused profile value", Record(true, kEntryRefused, 0, 0),
       "Set up: nothing; not set up: the dial-up entry, the access number, the launcher (a value of the profile "
       "cannot go into pppd's files; see the log); menu items (the server sent none).\n"},
      {"no pppd", Record(true, kNoPhoneBook, 0, 0),
       "Set up: nothing; not set up: the dial-up entry, the access number, the launcher (pppd is not installed); "
       "menu items (the server sent none).\n"},
      {"no modem port", Record(true, kNoLineDevice, 0, 0),
       "Set up: nothing; not set up: the dial-up entry, the access number, the launcher (no modem was found on a "
       "COM port); menu items (the server sent none).\n"},
      {"a network port", Record(true, kNetworkPort, 0, 0),
       "Set up: nothing; not set up: the dial-up entry, the access number, the launcher (the modem's COM port is a "
       "network port, which pppd cannot dial through); menu items (the server sent none).\n"},
      {"the launcher could not be written", Record(true, 0, 0, 0),
       "Set up: the dial-up entry \"Tarkel - Veloran Account\" with access number (217) 555-0100; not set up: the "
       "launcher (it could not be written; see the log); menu items (the server sent none).\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string line = SetupLine(c.record);
    EXPECT_EQ(line, c.line);
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line";
  }
}

TEST(CountFilesSince, CountsLaunchersWrittenDuringTheRunOnly) {
  const test_support::TempDir temp("setup_report_count");
  const fs::path dir = temp.path();
  const auto write = [&](const char* name) { std::ofstream(dir / name) << "[Desktop Entry]\n"; };
  write("old.desktop");
  const auto start = fs::file_time_type::clock::now();
  fs::last_write_time(dir / "old.desktop", start - std::chrono::hours(1));
  write("new.desktop");
  write("account.desktop");
  write("notes.txt");
  fs::last_write_time(dir / "new.desktop", start);
  fs::last_write_time(dir / "account.desktop", start);
  fs::last_write_time(dir / "notes.txt", start);
  EXPECT_EQ(CountFilesSince(dir, start, {dir / "account.desktop"}), 1);
  EXPECT_EQ(CountFilesSince(dir, start), 2);
  EXPECT_EQ(CountFilesSince(dir / "missing", start), 0);
}

}  // namespace
}  // namespace sysconfig
