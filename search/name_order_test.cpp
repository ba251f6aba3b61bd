#include "search/name_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace mkani {

using Names = std::vector<std::string>;

// Returns `names` in the order sortNames gives.
Names sortedBySortNames(const Names& names) {
  std::string arena;
  std::vector<NameRef> refs;
  for (const std::string& name : names) {
    refs.push_back({0, uint32_t(arena.size()), uint32_t(name.size())});
    arena += name;
  }
  sortNames(refs.data(), refs.size(), arena.data());
  Names sorted;
  for (const NameRef& ref : refs) sorted.emplace_back(nameAt(arena.data(), ref));
  return sorted;
}

// Returns `names` in the order compareNames gives.
Names sortedByCompareNames(Names names) {
  std::sort(names.begin(), names.end(), [](auto& a, auto& b) { return compareNames(a, b) < 0; });
  return names;
}

TEST(NameOrderTest, FoldsAsciiLettersAndBreaksTiesOnRawBytes) {
  const Names ordered = {".jpg",  "1.jpg",  "A",     "a",        "A.JPG",   "A.jpg", "a.JPG",
                         "a.jpg", "ab.jpg", "B.jpg", "b.JPG",    "y.jpg",   "Z.jpg", "z.jpg",
                         "[.jpg", "_.jpg",  "{.jpg", "\x80.jpg", "\xff.jpg"};
  for (size_t i = 1; i < ordered.size(); ++i) {
    EXPECT_LT(compareNames(ordered[i - 1], ordered[i]), 0) << ordered[i - 1] << " " << ordered[i];
  }
  Names shuffled = ordered;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(1));
  EXPECT_EQ(sortedBySortNames(shuffled), ordered);
}

// Every letter case, odd bytes (DEL next to '_' folded), and lengths on both sides of the sort's
// eight-byte keys.
const std::string kAlphabet = "aAbBzZ09_. ;\"\x7f\x80\xe9\xff";
const Names kPrefixes = {"", "frame_", "Frame_0000", "FRAME_0000",
                         "very_long_shared_prefix_for_frames_"};

// Returns `name` with up to 19 bytes of kAlphabet after it and, three times in four, ".jpg".
std::string withRandomEnd(std::string name, std::mt19937* random) {
  for (size_t extra = (*random)() % 20; extra > 0; --extra) {
    name += kAlphabet[(*random)() % kAlphabet.size()];
  }
  if ((*random)() % 4 != 0) name += ".jpg";
  return name;
}

// Returns `count` names and a twin for one in eight of them, made by `make`.
template <typename Make>
Names namesWithTwins(size_t count, std::mt19937* random, Make make) {
  Names names;
  while (names.size() < count) {
    names.push_back(make());
    if ((*random)() % 8 == 0) names.push_back(names.back());
  }
  return names;
}

// Returns `count` names of any of the prefixes, with twins.
Names mixedNames(size_t count, std::mt19937* random) {
  return namesWithTwins(count, random, [random] {
    return withRandomEnd(kPrefixes[(*random)() % kPrefixes.size()], random);
  });
}

// Returns `count` names sharing a prefix longer than one key, each with one byte, in the prefix
// too, in the other letter case (or DEL for '_'), with twins; the first is "~", unlike them all.
Names longPrefixNames(size_t count, std::mt19937* random) {
  Names names = namesWithTwins(count, random, [random] {
    std::string name = kPrefixes.back();
    name[(*random)() % name.size()] ^= ' ';
    return withRandomEnd(name, random);
  });
  names[0] = "~";
  return names;
}

// Returns `count` times the short name "frame" in every letter case, with twins; the second is
// "_", unlike them all.
Names letterCaseNames(size_t count, std::mt19937* random) {
  Names names = namesWithTwins(count, random, [random] {
    std::string name = "frame";
    name[(*random)() % name.size()] &= '\xdf';
    return name;
  });
  names[1] = "_";
  return names;
}

TEST(NameOrderTest, SortNamesAgreesWithCompareNames) {
  std::mt19937 random(1);
  struct Set {
    const char* what;
    Names names;
  };
  Set sets[] = {
      {"none", {}},
      {"two", mixedNames(2, &random)},
      {"one short of a bucket", mixedNames(255, &random)},
      {"a bucket", mixedNames(256, &random)},
      {"one past a bucket", mixedNames(257, &random)},
      {"a few thousand", mixedNames(5000, &random)},
      {"past the keyed sort's scratch, twins first in line", mixedNames(70000, &random)},
      {"one short name in every letter case", letterCaseNames(70001, &random)},
      {"a shared prefix longer than a key", longPrefixNames(150000, &random)},
  };
  sets[6].names[1] = sets[6].names[0];
  for (const Set& set : sets) {
    EXPECT_EQ(sortedBySortNames(set.names), sortedByCompareNames(set.names)) << set.what;
  }
}

}  // namespace mkani
