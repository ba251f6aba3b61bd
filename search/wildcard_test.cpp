#include "search/wildcard.h"

#include <gtest/gtest.h>

namespace mkani {
namespace {

TEST(WildcardTest, MatchesAsTheDirectorySearchDoes) {
  const Wildcard jpg("*.jpg");
  for (const char* name :
       {"a.jpg", "SUMMER.JPG", "Trip.Jpg", ".jpg", "holiday.2.jpg", "x.jpg.jpg"}) {
    EXPECT_TRUE(jpg.matches(name)) << name;
  }
  for (const char* name : {"a.jpeg", "a.jpg.bak", "jpg", "a.jpgx", "", ".", "..", "a.jpg "}) {
    EXPECT_FALSE(jpg.matches(name)) << name;
  }

  const Wildcard general("F?ame*_*.j*g");
  EXPECT_TRUE(general.matches("frame_1.jpg"));
  EXPECT_TRUE(general.matches("FLAME__.JPEG"));
  EXPECT_TRUE(general.matches("frame2_x_y.jg"));
  EXPECT_FALSE(general.matches("fame_1.jpg"));
  EXPECT_FALSE(general.matches("frame_1.jpgx"));
  EXPECT_TRUE(Wildcard("*").matches(""));
  EXPECT_TRUE(Wildcard("**a**").matches("bab"));
  EXPECT_FALSE(Wildcard("?").matches(""));
}

}  // namespace
}  // namespace mkani
