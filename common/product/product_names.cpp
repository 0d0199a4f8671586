// The product's names, given to the platform as each program or library of
// the product starts (every target that links the platform compiles this
// file: see common/CMakeLists.txt), so a library loaded by an outside program
// finds the same system root as the wizard.
#include "platform/storage/product_names.h"

namespace {

[[maybe_unused]] const bool kNamesGiven = platform::set_product_names({
    .folder = "veloran",
    .windows_folder = "C:\\VELORAN",
    .vendor = "veloran-",
    .title = "Veloran",
    .program = "joinwiz",
});

}  // namespace
