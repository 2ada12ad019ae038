// Lower-casing of names in GBK text: a trail byte in A-Z is part of its double-byte character and
// stays as it is, unless the text is folded byte by byte.
#include "message/case_folding.h"

#include <gtest/gtest.h>

#include <string>

namespace qx::message {
namespace {

TEST(CaseFoldingTest, EveryDoubleByteCharacterSurvivesFoldingAndOnlyBytewiseFoldsItsTrail) {
  int trail_in_a_to_z = 0;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
      const std::string framed = "A" + pair + "Z";
      ASSERT_EQ(FoldLowerDoubleByte(framed), "a" + pair + "z") << std::hex << lead << ' ' << trail;
      if (trail >= 'A' && trail <= 'Z') {
        ++trail_in_a_to_z;
        ASSERT_EQ(FoldLowerBytewise(framed)[2], static_cast<char>(trail + 32));
      }
    }
  }
  EXPECT_EQ(trail_in_a_to_z, 126 * 26);
}

}  // namespace
}  // namespace qx::message
