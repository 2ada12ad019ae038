#include "platform/memory_wipe.h"

#include <gtest/gtest.h>

#include <string>

namespace qx::platform {
namespace {

TEST(WipeTest, WipesTheWholeCapacity) {
  std::string secret = "a longer secret than the small buffer holds";
  secret = "123456";  // the earlier, longer text still sits in the capacity
  const char* data = secret.data();
  const std::size_t capacity = secret.capacity();
  WipeString(&secret);
  EXPECT_TRUE(secret.empty());
  for (std::size_t i = 0; i < capacity; ++i) {
    ASSERT_EQ(data[i], '\0') << "byte " << i;
  }
}

}  // namespace
}  // namespace qx::platform
