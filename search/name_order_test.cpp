#include "search/name_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace mkani {
namespace {

TEST(NameOrderTest, FoldsAsciiLettersAndBreaksTiesOnRawBytes) {
  // Each name sorts strictly before the next.
  const std::vector<std::string> ordered = {
      ".jpg",  "1.jpg", "A.JPG", "A.jpg", "a.JPG", "a.jpg",    "ab.jpg",   "B.jpg",
      "b.JPG", "Z.jpg", "[.jpg", "_.jpg", "{.jpg", "\x7f.jpg", "\x80.jpg", "\xff.jpg",
  };
  for (size_t i = 0; i < ordered.size(); ++i) {
    EXPECT_EQ(compareNames(ordered[i], ordered[i]), 0) << ordered[i];
    for (size_t j = i + 1; j < ordered.size(); ++j) {
      EXPECT_LT(compareNames(ordered[i], ordered[j]), 0) << ordered[i] << " " << ordered[j];
      EXPECT_GT(compareNames(ordered[j], ordered[i]), 0) << ordered[j] << " " << ordered[i];
    }
  }
  EXPECT_LT(compareNames("frame", "frame1"), 0);  // a prefix comes first
  EXPECT_LT(compareNames("FRAME", "frame1"), 0);
  EXPECT_EQ(compareNames("", ""), 0);
}

// Names as frame folders hold them: long shared prefixes, every letter case, odd bytes, and
// lengths on both sides of the sort's eight-byte keys.
std::vector<std::string> sampleNames(size_t count, unsigned seed) {
  std::mt19937 random(seed);
  const std::string alphabet = "aAbBzZ09_. ;\t\"\x7f\x80\xe9\xff";
  const std::vector<std::string> prefixes = {"", "frame_", "Frame_0000", "IMG_2026_12_06_",
                                             "very long shared prefix for frames "};
  std::vector<std::string> names;
  for (size_t i = 0; i < count; ++i) {
    std::string name = prefixes[random() % prefixes.size()];
    const size_t extra = random() % 20;
    for (size_t j = 0; j < extra; ++j) name += alphabet[random() % alphabet.size()];
    name += (random() % 2) ? ".jpg" : ".JPG";
    names.push_back(name);
    if (random() % 8 == 0) names.push_back(name);  // an exact twin
    if (random() % 8 == 0) {                       // a twin but for letter case
      std::transform(name.begin(), name.end(), name.begin(), [](char c) {
        return static_cast<char>(std::islower(static_cast<unsigned char>(c)) ? c - 32 : c);
      });
      names.push_back(name);
    }
  }
  return names;
}

TEST(NameOrderTest, SortNamesAgreesWithCompareNames) {
  for (size_t count : {0, 1, 2, 23, 24, 25, 300, 5000, 60000}) {
    const std::vector<std::string> names = sampleNames(count, static_cast<unsigned>(count));
    std::string arena;
    std::vector<NameRef> refs;
    for (const std::string& name : names) {
      refs.push_back(
          NameRef{0, static_cast<uint32_t>(arena.size()), static_cast<uint32_t>(name.size())});
      arena += name;
    }
    sortNames(refs.data(), refs.size(), arena.data());

    std::vector<std::string> expected = names;
    std::sort(expected.begin(), expected.end(),
              [](const std::string& a, const std::string& b) { return compareNames(a, b) < 0; });
    std::vector<std::string> got;
    for (const NameRef& ref : refs) got.emplace_back(nameAt(arena.data(), ref));
    ASSERT_EQ(got, expected) << count << " names";
  }
}

}  // namespace
}  // namespace mkani
