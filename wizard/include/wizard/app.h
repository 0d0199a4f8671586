// CWizardApp: start-up of joinwiz.
//
// Order: command line; system root; the single-instance test (a second copy
// shows the stop box, asks the running copy to come to the front and ends);
// side files installed into the program directory; the welcome page created
// modeless and centred; the message loop runs until the welcome window is
// gone. The exit code is the quit message's (0 normally).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace wizard {

inline constexpr const char* kWizardCaption = "Registration Wizard";
inline constexpr const char* kOneInstanceText =
    "Only one instance of the Veloran Network Regerstration application may run at a time";

// Exit codes besides the wizard's own 0 and 1.
inline constexpr int kExitUsage = 2;     // bad command line
inline constexpr int kExitStartup = 4;   // root, side files or display unusable
inline constexpr int kExitProfileNotSaved = 5;  // the profile could not be saved at the end
inline constexpr const char* kProfileNotSavedText =
    "Your registration could not be saved on this computer.";

// Runs the wizard with the command-line words after the program name;
// returns the process exit code.
int run_app(const std::vector<std::string>& args, const std::filesystem::path& executable);

// Full path of the running executable (/proc/self/exe), else `argv0`.
std::filesystem::path current_executable(const char* argv0);

}  // namespace wizard
