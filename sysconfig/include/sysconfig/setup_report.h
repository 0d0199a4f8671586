// What one run of the wizard set up on the computer, told in one line when
// the run ends, whatever its outcome.
//
// A registration sets the computer up only once the server transfers the
// call (TRANSFER:): the user picks the access number, CONFIG: makes the
// dial-up entry, and the account's launchers follow. The steps that make
// something record it in ThisRun(); the wizard records that the server
// ended the registration with success. SetupLine names what was made and
// what was not, with the reason for the first part missing.
//
// Index: SetupRecord, ThisRun, CountFilesSince, SetupLine.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace sysconfig {

struct SetupRecord {
  bool registered = false;                        // the server ended the registration with success
  std::optional<int> entry_result;                // 0: the entry was made; else MakeDialUpEntry's result; empty: never run
  std::string access_number;                      // the number the entry dials, as the user chose it
  std::vector<std::filesystem::path> launchers;   // the account's launchers made
  int menu_items = 0;                             // menu entries the server's ADDITEM: made
};

// The record of this process's run.
SetupRecord& ThisRun();

// The ".desktop" files directly in `folder` written at or after `since`
// and not named in `except` (0 when the folder is missing).
int CountFilesSince(const std::filesystem::path& folder, std::filesystem::file_time_type since,
                    const std::vector<std::filesystem::path>& except = {});

// One line, ending in '\n': "Set up: ...; not set up: ... (reason)."
std::string SetupLine(const SetupRecord& record);

}  // namespace sysconfig
