#include "search/wildcard.h"

#include <gtest/gtest.h>

namespace mkani {
namespace {

// "*.jpg" itself is tested through the picture search; these are the other patterns.
TEST(WildcardTest, StarsAndQuestionMarksAnywhere) {
  const Wildcard pattern("F?ame*_*.j*g");
  EXPECT_TRUE(pattern.matches("frame_1.jpg"));
  EXPECT_TRUE(pattern.matches("FLAME__.JPEG"));
  EXPECT_TRUE(pattern.matches("frame2_x_y.jg"));
  EXPECT_FALSE(pattern.matches("fame_1.jpg"));
  EXPECT_FALSE(pattern.matches("frame_1.jpgx"));
  EXPECT_TRUE(Wildcard("*").matches(""));
  EXPECT_TRUE(Wildcard("**a**").matches("bab"));
  EXPECT_FALSE(Wildcard("?").matches(""));
}

}  // namespace
}  // namespace mkani
