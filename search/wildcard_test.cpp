#include "search/wildcard.h"

#include <gtest/gtest.h>

#include <string_view>

namespace mkani {

TEST(WildcardTest, AMatchReadsTheNameAloneNotTheByteAfterIt) {
  const std::string_view listed = "a.jpgx";  // a name in a listing, followed by other bytes
  EXPECT_TRUE(Wildcard("*.jpg").matches(listed.substr(0, 5)));
}

}  // namespace mkani
