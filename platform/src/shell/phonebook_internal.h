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
PeersFile entry_peers_file(const PhoneBook& book, std::string_view name, const EntryProperties& properties);

}  // namespace platform::phonebook
