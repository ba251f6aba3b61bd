#include "search/name_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace mkani {

using Names = std::vector<std::string>;

TEST(NameOrderTest, FoldsAsciiLettersAndBreaksTiesOnRawBytes) {
  const Names ordered = {".jpg",  "1.jpg",  "A",     "a",        "A.JPG",   "A.jpg", "a.JPG",
                         "a.jpg", "ab.jpg", "B.jpg", "b.JPG",    "y.jpg",   "Z.jpg", "z.jpg",
                         "[.jpg", "_.jpg",  "{.jpg", "\x80.jpg", "\xff.jpg"};
  for (size_t i = 1; i < ordered.size(); ++i) {
    EXPECT_LT(compareNames(ordered[i - 1], ordered[i]), 0) << ordered[i - 1] << " " << ordered[i];
  }
}

// Returns `count` names, and a twin after one in eight: one of `prefixes` with, when `flip`, one
// byte in the other letter case (DEL for '_'), then up to `longestEnd` bytes of every letter case,
// odd bytes (DEL next to '_' folded) and digits, and three times in four `end`.
Names randomNames(size_t count, const Names& prefixes, bool flip, size_t longestEnd,
                  const std::string& end) {
  static std::mt19937 random(1);
  const std::string alphabet = "aAbBzZ09_. ;\"\x7f\x80\xe9\xff";
  Names names;
  while (names.size() < count) {
    std::string name = prefixes[random() % prefixes.size()];
    if (flip) name[random() % name.size()] ^= ' ';
    for (size_t extra = random() % (longestEnd + 1); extra > 0; --extra) {
      name += alphabet[random() % alphabet.size()];
    }
    if (random() % 4 != 0) name += end;
    names.push_back(name);
    if (random() % 8 == 0) names.push_back(name);
  }
  return names;
}

TEST(NameOrderTest, SortNamesAgreesWithCompareNames) {
  // Lengths on both sides of the sort's eight-byte keys.
  const std::string longPrefix = "very_long_shared_prefix_for_frames_";
  const Names prefixes = {"", "frame_", "Frame_0000", "FRAME_0000", longPrefix};
  struct Set {
    const char* what;
    Names names;
  };
  Set sets[] = {
      {"none", {}},
      {"two", randomNames(2, prefixes, false, 19, ".jpg")},
      {"one short of a bucket", randomNames(255, prefixes, false, 19, ".jpg")},
      {"a bucket", randomNames(256, prefixes, false, 19, ".jpg")},
      {"one past a bucket", randomNames(257, prefixes, false, 19, ".jpg")},
      {"a few thousand", randomNames(5000, prefixes, false, 19, ".jpg")},
      {"past the keyed sort's scratch, twins first in line",
       randomNames(70000, prefixes, false, 19, ".jpg")},
      {"a short name in every letter case, the second unlike them all",
       randomNames(70001, {"frame"}, true, 0, "")},
      {"a prefix longer than a key, the first unlike them all",
       randomNames(150000, {longPrefix}, true, 19, ".jpg")},
  };
  sets[6].names[1] = sets[6].names[0];
  sets[7].names[1] = "_";
  sets[8].names[0] = "~";
  for (const Set& set : sets) {
    std::string arena;
    std::vector<NameRef> refs;
    for (const std::string& name : set.names) {
      refs.push_back({0, uint32_t(arena.size()), uint32_t(name.size())});
      arena += name;
    }
    sortNames(refs.data(), refs.size(), arena.data());
    Names sorted;
    for (const NameRef& ref : refs) sorted.emplace_back(nameAt(arena.data(), ref));
    Names expected = set.names;
    std::sort(expected.begin(), expected.end(),
              [](auto& a, auto& b) { return compareNames(a, b) < 0; });
    EXPECT_EQ(sorted, expected) << set.what;
  }
}

}  // namespace mkani
