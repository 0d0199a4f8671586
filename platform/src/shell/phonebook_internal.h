// What the phone book's writers share inside the platform library.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/shell/phonebook.h"

namespace platform::phonebook {

// The reason a secrets file is left alone (after its path).
inline constexpr const char* kSpansLines =
    " carries a quoted word or a backslash continuation across a line end; it is left as it is "
    "(edit it by hand, then install again)";

// The peers file of entry `name` in `book` with `properties` (no user yet).
PeersFile EntryPeersFile(const PhoneBook& book, std::string_view name, const EntryProperties& properties);

// The entry's secrets line for `user` and `password`, and the text of its
// secret file when the password must live there (it begins with '@', which
// pppd reads as a file name); no file text otherwise.
struct EntrySecret {
  std::string line;
  std::optional<std::string> file_text;
};
std::optional<EntrySecret> MakeEntrySecret(const PhoneBook& book, std::string_view name, std::string_view user,
                                           std::string_view password, std::string* why);

}  // namespace platform::phonebook
