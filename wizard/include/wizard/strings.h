// The wizard's string table. Other parts load these by number.
#pragma once

#include <string>

namespace wizard {

enum StringId {
  IDS_ACCOUNT_NAME = 2,
  IDS_NONE = 3,
  IDS_SUPPORT = 5,
  IDS_CLIENT_CODE = 7,
  IDS_HELP_FILE = 8,
};

// Text of string `id`; empty for an id the table does not hold.
std::string load_string(int id);

}  // namespace wizard
