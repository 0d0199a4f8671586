#include "wizard/strings.h"

namespace wizard {

std::string load_string(int id) {
  switch (id) {
    case IDS_ACCOUNT_NAME: return "Tarkel - Veloran Account";
    case IDS_NONE: return "None";
    case IDS_SUPPORT:
      return "If you have problems connecting, please contact Veloran Support at (800) 555-0147 "
             "for assistance.";
    case IDS_CLIENT_CODE: return "VLRREG501";
    case IDS_HELP_FILE: return "Vlrhelp.hlp";
    default: return {};
  }
}

}  // namespace wizard
