// Side files of the wizard: where they come from and where they go.
//
// The program directory is the system root's program folder. The shipped
// side files (Joinwiz.ini with its "Dialing Information" and "Windows"
// sections, vlrterms.txt, Vlrhelp.hlp, the page bitmaps) are copied there
// from the data folder the first time a root is used; a file that is already
// there is never overwritten. The profile file is named after the executable:
// its base name with the extension replaced by "ini" (the dot rule looks only
// at the base name, since folders on this system often hold dots), matched
// without regard to case as the original file system did, so "joinwiz" finds
// the shipped "Joinwiz.ini" and a renamed copy gets a profile of its own.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/storage/files.h"

namespace wizard {

// The folder of shipped side files: $VLR_DATA_DIR, else "data" beside the
// executable (build tree), else "../share/veloran/data" (installed). Empty
// when none exists.
std::filesystem::path find_data_dir(const std::filesystem::path& executable);

// Copies every regular file of `data_dir` that `program_dir` lacks. Joinwiz.ini
// (it will hold the password) is created owner-only. Returns false with
// `error` at the first file that cannot be installed; files done stay done.
bool install_side_files(const std::filesystem::path& data_dir,
                        const std::filesystem::path& program_dir,
                        std::vector<std::string>* installed, std::string* error);

// File name of the profile for executable base name `exe_name`: the name with
// everything after its last dot replaced by "ini", or with ".ini" added when
// it has no dot.
std::string profile_file_name(std::string_view exe_name);

// Full profile path in `program_dir`: an existing file whose name matches
// profile_file_name() without regard to case wins; else the plain name.
std::filesystem::path profile_path(const std::filesystem::path& program_dir,
                                   std::string_view exe_name);

// Creates `path` with `contents` and `mode` only if it does not exist yet,
// atomically (never a half-written file, never an overwrite). True when the
// file exists afterwards (made now or before); false with `error` otherwise.
bool create_file_if_missing(const std::filesystem::path& path, std::string_view contents,
                            platform::FileMode mode, std::string* error);

}  // namespace wizard
