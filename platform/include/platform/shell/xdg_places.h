// XDG places: the folders a freedesktop desktop reads launchers and menus
// from, found as the XDG base-directory and user-dirs rules say.
//
// Every place comes from the environment first, so tests and the demo point
// XDG_DATA_HOME, XDG_CONFIG_HOME and XDG_DESKTOP_DIR at their own folders
// and never touch the user's real menu or desktop. A relative value is
// invalid and ignored, as the base-directory rules say.
//
// Index: data_home, config_home, desktop_dir, MenuPlaces, user_menu_places.
#pragma once

#include <filesystem>

namespace platform::xdg {

// $XDG_DATA_HOME, else ~/.local/share. Empty when neither can be named.
std::filesystem::path data_home();
// $XDG_CONFIG_HOME, else ~/.config. Empty when neither can be named.
std::filesystem::path config_home();
// The desktop folder as `xdg-user-dir DESKTOP` answers: $XDG_DESKTOP_DIR,
// else the XDG_DESKTOP_DIR line of $XDG_CONFIG_HOME/user-dirs.dirs ("$HOME/"
// or an absolute path), else ~/Desktop.
std::filesystem::path desktop_dir();

// The three folders `xdg-desktop-menu install` writes a group into.
struct MenuPlaces {
  std::filesystem::path applications;  // DATA_HOME/applications: the .desktop items
  std::filesystem::path directories;   // DATA_HOME/desktop-directories: the group's .directory
  std::filesystem::path merged_menus;  // CONFIG_HOME/menus/applications-merged: the group's .menu
};
// The same layout under one folder (the system root's copies).
MenuPlaces menu_places_under(const std::filesystem::path& folder);
// The user's own menu. Empty paths when no home can be named.
MenuPlaces user_menu_places();

}  // namespace platform::xdg
