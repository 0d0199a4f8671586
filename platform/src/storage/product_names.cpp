#include "platform/storage/product_names.h"

#include <mutex>

#include "platform/loop/log.h"

namespace platform {

namespace {

std::mutex g_mutex;
bool g_given = false;

// Never destroyed: code that runs at exit (other libraries' destructors)
// may still build paths from it.
ProductNames& names_storage() {
  static ProductNames* names = new ProductNames;
  return *names;
}

}  // namespace

bool set_product_names(const ProductNames& names) {
  std::lock_guard lock(g_mutex);
  ProductNames& given = names_storage();
  if (g_given) {
    if (names == given) return true;
    log_error("system_root", "the product's names were given before: \"" + given.folder + "\" stays");
    return false;
  }
  given = names;
  g_given = true;
  return true;
}

const ProductNames& product_names() {
  // Written once, before it is read (see the header), so readers need no lock.
  return names_storage();
}

}  // namespace platform
