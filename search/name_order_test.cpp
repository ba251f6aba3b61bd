#include "search/name_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace mkani {

TEST(NameOrderTest, FoldsAsciiLettersAndBreaksTiesOnRawBytesInCompareAndSort) {
  const std::vector<std::string> ordered = {
      ".jpg",  "1.jpg", "A",     "a",     "A.JPG", "A.jpg", "a.JPG", "a.jpg",    "ab.jpg",  "B.jpg",
      "b.JPG", "y.jpg", "Z.jpg", "z.jpg", "[.jpg", "_.jpg", "{.jpg", "\x80.jpg", "\xff.jpg"};
  // Then long shared prefixes, every letter case, odd bytes, twins, lengths on both sides of the
  // sort's eight-byte keys and bucket sizes: sortNames agrees with compareNames.
  const std::string alphabet = "aAbBzZ09_. ;\"\x7f\x80\xe9\xff";
  const std::vector<std::string> prefixes = {"", "frame_", "Frame_0000", "FRAME_0000",
                                             "very_long_shared_prefix_for_frames_"};
  std::mt19937 random(1);
  for (size_t count : {0, 19, 2, 255, 256, 257, 5000, 70000, 70001, 150000}) {
    std::vector<std::string> names(count == 19 ? ordered : std::vector<std::string>());
    std::shuffle(names.begin(), names.end(), random);
    while (names.size() < count) {
      // The largest set shares a prefix of more than one eight-byte key.
      // 70001 names are one short name in every letter case.
      std::string name = count == 70001 ? "frame" : prefixes[count > 100000 ? 4 : random() % 5];
      if (count == 70001) name[random() % 5] &= '\xdf';
      // And in it, names differing only in letter case, or by DEL for '_', in the prefix too.
      if (count > 100000) name[random() % name.size()] ^= ' ';
      for (size_t extra = count == 70001 ? 0 : random() % 20; extra > 0; --extra)
        name += alphabet[random() % alphabet.size()];
      names.push_back(name + (random() % 4 && count != 70001 ? ".jpg" : ""));
      if (random() % 8 == 0) names.push_back(names.back());
    }
    if (count > 100000) names[0] = "~";       // first in line, unlike every other name
    if (count == 70000) names[1] = names[0];  // twins first in line
    if (count == 70001) names[1] = "_";       // the second in line unlike every other name
    std::string arena;
    std::vector<NameRef> refs;
    for (const std::string& name : names)
      refs.push_back({0, uint32_t(arena.size()), uint32_t(name.size())}), arena += name;
    sortNames(refs.data(), refs.size(), arena.data());
    std::vector<std::string> got;  // in the order sortNames gives
    for (const NameRef& ref : refs) got.emplace_back(nameAt(arena.data(), ref));
    std::sort(names.begin(), names.end(), [](auto& a, auto& b) { return compareNames(a, b) < 0; });
    ASSERT_EQ(got, names) << count << " names";
    EXPECT_TRUE(count != 19 || got == ordered);  // the rule itself
  }
}

}  // namespace mkani
