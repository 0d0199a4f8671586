#include "wizard/help.h"

#include "wizard/strings.h"

namespace wizard {

HelpLookup find_help_topic(const std::filesystem::path& file, int context, HelpTopic& out) {
  return platform::find_help_topic(file, context, kHelpFileLimits, out);
}

HelpLink::HelpLink(const std::filesystem::path& program_dir, const std::string& name)
    : path_(program_dir / (name.empty() ? load_string(IDS_HELP_FILE) : name)) {}

}  // namespace wizard
