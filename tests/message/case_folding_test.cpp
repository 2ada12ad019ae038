// Lower-casing of names in GBK text: a trail byte in A-Z is part of its double-byte character and
// stays as it is, unless the text is folded byte by byte.
#include "message/case_folding.h"

#include <gtest/gtest.h>

#include <string>

namespace qx::message {
namespace {

// Every lead/trail pair between A and Z; then bytes that start no pair: a lead byte at the end
// takes nothing with it, 0x80 (the euro) is one byte, and only A-Z change.
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
  EXPECT_EQ(FoldLowerDoubleByte("Center_ID-@[`{AB\x81"), "center_id-@[`{ab\x81");
  EXPECT_EQ(FoldLowerDoubleByte("\x80Q"), "\x80q");
  EXPECT_EQ(FoldLowerBytewise("Center_ID-@[`{\x80Q"), "center_id-@[`{\x80q");
}

}  // namespace
}  // namespace qx::message
