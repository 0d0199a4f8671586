// Launcher: starts a program without a shell, as WinExec did.
//
// The program runs beside us (it is not waited for; a reaper thread collects
// its exit so no zombie stays). Results keep WinExec's convention: a value
// above 31 means started; below 32 is the error (0 out of resources, 2 file
// not found, 3 path not found, 5 access denied, 11 not an executable).
//
// A program shipped beside the running one (a control panel, say) starts
// through launch_program_beside; where it is missing it cannot start (2).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/loop/message_loop.h"

namespace platform {

inline constexpr int kLaunchStarted = 33;

// Starts argv[0] (a path; no search, no shell) with the other words as its
// arguments. kLaunchStarted, or a WinExec error below 32.
int launch_program(const std::vector<std::string>& argv);

// As above; when the program ends, `message` is posted to `notify` with
// wparam = its exit status (128 + the signal when a signal ended it). Nothing
// is posted when it could not start.
int launch_program(const std::vector<std::string>& argv, HWND notify, unsigned message);

// As above, for a program that talks to the user. When the current display
// draws on this process's terminal, the program gets that terminal
// (VLR_UI=terminal in its environment): the display lends it for the
// program's run and draws the whole screen again once the program has
// ended, before `message` is posted.
int launch_interactive_program(const std::vector<std::string>& argv, HWND notify, unsigned message);

// Whether `program` can start on this machine: a path, or a bare name
// found on PATH, naming a regular executable file that is not a Windows
// program (an "MZ" executable, which needs Wine). The path found, or
// empty and `why`.
std::filesystem::path runnable_program(const std::string& program, std::string* why = nullptr);

// As above, with the program's standard output and error written to the
// file `output` (created 0600, emptied first) for the caller to read once
// `message` arrives.
int launch_program(const std::vector<std::string>& argv, HWND notify, unsigned message,
                   const std::filesystem::path& output);

// Runs argv[0] (a path) to its end, standard input empty, and collects its
// standard output and error into `output`. Its exit status (128 + the
// signal), or -1 when it could not start. For short helpers (gio,
// systemctl), never for a program that waits on a person.
int run_program(const std::vector<std::string>& argv, std::string* output = nullptr);

// Folder of the running program (/proc/self/exe); empty when unknown.
std::filesystem::path program_folder();

// Starts `program` (a file name) from `folder` (empty: the running program's
// folder; 3 when that is unknown) with `arguments`, as an interactive
// program, posting `message` to `notify` (if any) when it ends.
// kLaunchStarted, or a WinExec error below 32.
int launch_program_beside(std::string_view program, const std::vector<std::string>& arguments, HWND notify = 0,
                          unsigned message = 0, const std::filesystem::path& folder = {});

}  // namespace platform
