// INIMOD: and APPENDFILE: the server's file commands, confined to the
// system root.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/ini.h"
#include "platform/loop/log.h"
#include "platform/storage/system_root.h"
#include "session/line_protocol.h"
#include "sysconfig/sysconfig.h"

namespace sysconfig {
namespace {

constexpr std::string_view kComponent = "sysconfig";

bool Refuse(std::string* why, std::string text) {
  platform::log_warn(kComponent, text);
  if (why) *why = std::move(text);
  return false;
}

// Built by append: GCC 12 at -O3 warns falsely (-Wrestrict) on "\"" + string.
std::string Quoted(std::string_view text) {
  std::string out(1, '"');
  out.append(session::Printable(text)).append(1, '"');
  return out;
}

// A known folder's Windows name with the backslash the path needs.
std::string FolderPrefix(platform::KnownFolder folder) {
  std::string name(platform::known_folder_windows_name(folder));
  if (name.empty() || name.back() != '\\') name += '\\';
  return name;
}

}  // namespace

std::string IniModPath(std::string_view code, std::string_view file, std::string_view install_dir) {
  const std::string upper = session::ToUpper(code);
  std::string path;
  if (upper == ".") {
    path = install_dir;
  } else if (upper == "WIN") {
    path = FolderPrefix(platform::KnownFolder::Windows);
  } else if (upper == "WINSYS") {
    path = FolderPrefix(platform::KnownFolder::System);
  } else {
    // The code as the server wrote it: a subfolder of the program's folder.
    path = std::string(install_dir) + std::string(code) + "\\";
  }
  path += file;
  return path;
}

bool IniModCommand(std::string_view arguments, std::string_view install_dir, std::string* why) {
  std::string_view remainder = arguments;
  std::vector<std::string> f;
  if (!session::NextFields(remainder, 5, f)) {
    return Refuse(why, "INIMOD: refused, fields missing: " + Quoted(arguments));
  }
  const std::string& section = f[2];
  const std::string& key = f[3];
  const std::string& value = f[4];
  const std::string windows_path = IniModPath(f[0], f[1], install_dir);
  // A name without a folder is looked for in the Windows directory, as the
  // private-profile calls do.
  platform::RootPath path = platform::translate_path(windows_path, platform::RelativeTo::Windows);
  if (!path) return Refuse(why, "INIMOD: " + path.error);
  std::string error;
  if (!platform::check_translated(path, &error)) {
    return Refuse(why, "INIMOD: refused path \"" + windows_path + "\": " + error);
  }
  if (!common::write_private_profile_string(section.c_str(), key.c_str(), value.c_str(), path.full())) {
    return Refuse(why, "INIMOD: cannot write [" + session::Printable(section) + "] " + session::Printable(key) +
                           " to " + path.full().string());
  }
  // Flush of the cached copy: writes are already on disk here, kept for the
  // sake of the sequence the server expects.
  common::write_private_profile_string(nullptr, nullptr, nullptr, path.full());
  platform::log_info(kComponent, "INIMOD: [" + session::Printable(section) + "] " + session::Printable(key) +
                                     " written to " + path.full().string());
  return true;
}

std::string AppendFileName(std::string_view name) {
  std::string upper = session::ToUpper(name);
  if (upper.empty() || (upper[0] != '\\' && upper[0] != '.')) upper.insert(0, ".\\");
  return upper;
}

bool AppendFileCommand(std::string_view arguments, std::string* why) {
  std::string_view remainder = arguments;
  std::vector<std::string> f;
  if (!session::NextFields(remainder, 2, f)) {
    return Refuse(why, "APPENDFILE: refused, fields missing: " + Quoted(arguments));
  }
  const std::string windows_path = AppendFileName(f[0]);
  platform::RootPath path = platform::translate_path(windows_path, platform::RelativeTo::Program);
  if (!path) return Refuse(why, "APPENDFILE: " + path.error);
  // O_NONBLOCK: a FIFO without a reader fails at once instead of hanging
  // the session; it is refused below anyway.
  platform::OpenResult file =
      platform::open_translated(path, O_WRONLY | O_APPEND | O_CREAT | O_NOCTTY | O_NONBLOCK);
  if (!file) return Refuse(why, "APPENDFILE: cannot open \"" + windows_path + "\": " + file.error);
  struct stat st {};
  if (fstat(file.fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return Refuse(why, "APPENDFILE: \"" + windows_path + "\" is not a regular file");
  }
  // A second name of the file may lie anywhere, outside the root too: the
  // server's line would land there as well.
  if (st.st_nlink > 1) {
    return Refuse(why, "APPENDFILE: \"" + windows_path + "\" has " + std::to_string(st.st_nlink) +
                           " names (hard links): refused");
  }
  // Text mode: the line ends in CR LF. One write, so that other appenders
  // cannot split the line.
  std::string line = f[1] + "\r\n";
  if (static_cast<std::uint64_t>(st.st_size) + line.size() > kMaxAppendedFileSize) {
    // The server must not grow a file beyond what its readers take (the INI
    // layer reads 4 MiB at most; Joinwiz.ini is one of the files it may name).
    return Refuse(why, "APPENDFILE: \"" + windows_path + "\" would grow past " +
                           std::to_string(kMaxAppendedFileSize) + " bytes: refused");
  }
  std::size_t done = 0;
  while (done < line.size()) {
    ssize_t n = ::write(file.fd.get(), line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int e = n < 0 ? errno : EIO;
      // Half a line is worse than none: cut the file back to what it was.
      if (ftruncate(file.fd.get(), st.st_size) != 0) {
        platform::log_error(kComponent, "APPENDFILE: cannot cut " + path.full().string() +
                                            " back after a failed write: " + std::strerror(errno));
      }
      return Refuse(why, "APPENDFILE: cannot write to " + path.full().string() + ": " + std::strerror(e));
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(file.fd.release()) != 0) {
    return Refuse(why, "APPENDFILE: cannot close " + path.full().string() + ": " + std::strerror(errno));
  }
  platform::log_info(kComponent, "APPENDFILE: line added to " + path.full().string());
  return true;
}

}  // namespace sysconfig
