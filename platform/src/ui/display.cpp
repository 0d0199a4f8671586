#include "platform/ui/display.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/loop/log.h"

namespace platform {

namespace {

// Matches "--name value" and "--name=value"; advances i past what it used.
int take_option(int argc, char** argv, int i, const char* name, std::string& value, bool& missing) {
  const std::size_t n = std::strlen(name);
  if (std::strncmp(argv[i], name, n) != 0) return 0;
  if (argv[i][n] == '=') {
    value = argv[i] + n + 1;
    return 1;
  }
  if (argv[i][n] != '\0') return 0;
  if (i + 1 >= argc) {
    missing = true;
    return 1;
  }
  value = argv[i + 1];
  return 2;
}

// The folder of the file this code was loaded from (libplatform.so).
std::filesystem::path platform_library_folder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&platform_library_folder), &info) == 0 || !info.dli_fname) return {};
  std::error_code ec;
  const auto file = std::filesystem::canonical(info.dli_fname, ec);
  return ec ? std::filesystem::path() : file.parent_path();
}

std::filesystem::path program_folder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : exe.parent_path();
}

}  // namespace

void show_notice(HWND control, std::string_view text) {
  log_info("display", "notice: " + std::string(text));
  if (Display* d = current_display()) d->notice(control, std::string(text));
}

bool parse_display_args(int& argc, char** argv, DisplayOptions& options, std::string& error) {
  std::vector<char*> rest;
  bool missing = false;
  for (int i = 0; i < argc; ++i) {
    if (i == 0) {
      rest.push_back(argv[i]);
      continue;
    }
    int used = take_option(argc, argv, i, "--answers", options.answers, missing);
    if (!used) used = take_option(argc, argv, i, "--transcript", options.transcript, missing);
    if (!used) used = take_option(argc, argv, i, "--display", options.name, missing);
    if (missing) {
      error = std::string("option ") + argv[i] + " needs a value";
      return false;
    }
    if (used) {
      i += used - 1;
      continue;
    }
    rest.push_back(argv[i]);
  }
  for (std::size_t i = 0; i < rest.size(); ++i) argv[i] = rest[i];
  argc = static_cast<int>(rest.size());
  if (static_cast<std::size_t>(argc) < rest.capacity()) argv[argc] = nullptr;
  if (!options.answers.empty()) {
    if (!options.name.empty() && options.name != "headless") {
      error = "--answers needs the headless display, not \"" + options.name + "\"";
      return false;
    }
    options.name = "headless";
  }
  if (!options.transcript.empty() && options.answers.empty()) {
    error = "--transcript needs --answers";
    return false;
  }
  return true;
}

bool display_options_from_environment(DisplayOptions& options, std::string& error) {
  auto env = [](const char* name) {
    const char* v = std::getenv(name);
    return std::string(v ? v : "");
  };
  DisplayOptions o;
  o.library_host = true;
  o.name = env("VLR_UI");
  o.answers = env("VLR_ANSWERS");
  o.transcript = env("VLR_TRANSCRIPT");
  if (o.name.empty()) {
    const bool graphical = !env("WAYLAND_DISPLAY").empty() || !env("DISPLAY").empty();
    if (!o.answers.empty()) {
      o.name = "headless";
    } else if (graphical) {
      o.name = "gtk";
      o.fallback = ::isatty(STDIN_FILENO) ? "terminal" : "";
    } else if (::isatty(STDIN_FILENO)) {
      o.name = "terminal";
    } else {
      error = "no display: set VLR_UI=headless with VLR_ANSWERS=SCRIPT, or run on a terminal";
      return false;
    }
  }
  if (o.name == "headless") {
    if (o.answers.empty()) {
      error = "VLR_UI=headless needs VLR_ANSWERS=SCRIPT (nobody would answer the dialogs)";
      return false;
    }
    // The renderer ends the process on a script it cannot read; a library's
    // host gets an error instead.
    if (::access(o.answers.c_str(), R_OK) != 0) {
      error = "cannot read the answers script " + o.answers;
      return false;
    }
  } else if (!o.answers.empty() || (!o.transcript.empty() && o.name != "gtk")) {
    error = "VLR_ANSWERS and VLR_TRANSCRIPT need VLR_UI=headless, not \"" + o.name + "\"";
    return false;
  } else if (o.name == "terminal" && !::isatty(STDIN_FILENO)) {
    error = "VLR_UI=terminal needs standard input on a terminal";
    return false;
  }
  options = std::move(o);
  return true;
}

LoadedDisplay::~LoadedDisplay() {
  if (current_display() == display_) set_display(nullptr);
  delete display_;
  // The library stays loaded: code of it may still sit in timers' callbacks
  // already removed but not yet unwound; unloading buys nothing at exit.
}

std::unique_ptr<LoadedDisplay> open_display(const DisplayOptions& options, std::string& error) {
  if (!options.fallback.empty()) {
    DisplayOptions first = options;
    first.fallback.clear();
    if (auto d = open_display(first, error)) return d;
    log_info("display", "the " + options.name + " display is unavailable (" + error + "); using the " +
                            options.fallback + " display");
    DisplayOptions second = options;
    second.name = options.fallback;
    second.fallback.clear();
    second.transcript.clear();
    return open_display(second, error);
  }
  if (options.name.empty()) {
    error = "no display named";
    return nullptr;
  }
  for (char c : options.name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') {
      error = "bad display name \"" + options.name + "\"";
      return nullptr;
    }
  }
  const std::string file = "libdisplay-" + options.name + ".so";
  void* lib = nullptr;
  // Renderers sit beside libplatform.so (the build folder, or the private
  // library folder of an installed tree), else beside the program; the
  // loader's own search comes last.
  for (const auto& folder : {platform_library_folder(), program_folder()}) {
    std::error_code ec;
    const auto candidate = folder / file;
    if (!folder.empty() && std::filesystem::exists(candidate, ec)) lib = dlopen(candidate.c_str(), RTLD_NOW);
    if (lib) break;
  }
  if (!lib) lib = dlopen(file.c_str(), RTLD_NOW);
  if (!lib) {
    const char* why = dlerror();
    error = "cannot load " + file + (why ? std::string(": ") + why : std::string());
    return nullptr;
  }
  using OpenFn = Display* (*)(const DisplayOptions*, std::string*);
  auto open = reinterpret_cast<OpenFn>(dlsym(lib, "vlr_display_open"));
  if (!open) {
    error = file + " has no vlr_display_open";
    return nullptr;
  }
  std::string why;
  Display* d = open(&options, &why);
  if (!d) {
    error = why.empty() ? file + " refused to start" : why;
    return nullptr;
  }
  std::unique_ptr<LoadedDisplay> loaded(new LoadedDisplay());
  loaded->library_ = lib;
  loaded->display_ = d;
  loaded->name_ = options.name;
  if (current_display() != d) set_display(d);
  return loaded;
}

}  // namespace platform
