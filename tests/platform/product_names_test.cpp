// The product's names are fixed once given: the same names again are fine,
// others are refused and change nothing (folder paths handed out stay true).
#include "platform/storage/product_names.h"

#include <gtest/gtest.h>

#include "platform/storage/system_root.h"

namespace platform {
namespace {

TEST(ProductNames, FixedOnceGiven) {
  const ProductNames given = product_names();
  ASSERT_FALSE(given.folder.empty()) << "every program of the product gives its names at start-up";
  const std::string program = known_folder_relative(KnownFolder::Program);
  EXPECT_EQ(program, "drive_c/" + given.folder);
  EXPECT_EQ(known_folder_windows_name(KnownFolder::Program), given.windows_folder);

  EXPECT_TRUE(set_product_names(given));
  ProductNames other = given;
  other.folder += "-other";
  EXPECT_FALSE(set_product_names(other));
  EXPECT_EQ(product_names(), given);
  EXPECT_EQ(known_folder_relative(KnownFolder::Program), program);
}

}  // namespace
}  // namespace platform
