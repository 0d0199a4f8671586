// The names the platform gives after the product that runs on it.
//
// The platform serves one product per process but names none itself: the
// product gives its names once at start-up, before the system root is first
// used (every program of the product, and its libraries loaded by outside
// programs). Until then the system root has no default folder (choose_root
// asks for --root or VLR_ROOT), the program directory is drive C itself and
// those files carry no prefix.
//
// Index: ProductNames, set_product_names, product_names.
#pragma once

#include <string>

namespace platform {

struct ProductNames {
  // The system root's folder under $XDG_DATA_HOME (or ~/.local/share), and
  // the program directory's folder in drive C: "NAME" -> drive_c/NAME.
  std::string folder;
  // The program directory as Windows names it: "C:\NAME".
  std::string windows_folder;
  // The prefix of the files the product puts in shared folders (program
  // groups and items, systemd units, udev rules): "NAME-".
  std::string vendor;
  // The product as people call it, in comments of the files it writes
  // outside its root ("the NAME dialer").
  std::string title;
  // The program that installs and removes those files ("written by
  // PROGRAM --install-dialup").
  std::string program;

  bool operator==(const ProductNames&) const = default;
};

// Gives the product's names. False (and nothing changes) when other names
// were given before: the names are fixed for the process's life, so views
// of them stay valid. Giving the same names again is fine.
bool set_product_names(const ProductNames& names);

// The names given; all empty before set_product_names.
const ProductNames& product_names();

}  // namespace platform
