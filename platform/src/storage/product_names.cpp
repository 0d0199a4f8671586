#include "platform/storage/product_names.h"

#include <mutex>

#include "platform/loop/log.h"

namespace platform {

namespace {

std::mutex g_mutex;
ProductNames g_names;
bool g_given = false;

}  // namespace

bool set_product_names(const ProductNames& names) {
  std::lock_guard lock(g_mutex);
  if (g_given) {
    if (names == g_names) return true;
    log_error("system_root", "the product's names were given before: \"" + g_names.folder + "\" stays");
    return false;
  }
  g_names = names;
  g_given = true;
  return true;
}

const ProductNames& product_names() {
  // Written once, before it is read (see the header), so readers need no lock.
  return g_names;
}

}  // namespace platform
