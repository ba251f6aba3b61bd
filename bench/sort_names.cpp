// Times the name sort alone, on the benchmark's pictures in shuffled order, as a listing gives
// them:
//   sort_names [COUNT...]          (default: 100000 1000000 6000000)
// Prints for each count the median of seven sorts, in nanoseconds per name, and fails when the
// order is not the one compareNames gives.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_names.h"
#include "search/name_order.h"

int main(int argc, char** argv) {
  std::vector<size_t> counts;
  for (int i = 1; i < argc; ++i) counts.push_back(std::strtoull(argv[i], nullptr, 10));
  if (counts.empty()) counts = {100000, 1000000, 6000000};
  for (const size_t count : counts) {
    std::vector<uint32_t> order(count);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), std::mt19937_64(42));
    std::string arena;
    std::vector<mkani::NameRef> names, refs;
    for (const uint32_t i : order) {
      const std::string name = pictureName(i);
      names.push_back({0, static_cast<uint32_t>(arena.size()), static_cast<uint32_t>(name.size())});
      arena += name;
    }
    const double perName = medianTime(count, [&] {
      refs = names;
      mkani::sortNames(refs.data(), refs.size(), arena.data());
    });
    const bool ordered = std::is_sorted(refs.begin(), refs.end(), [&](auto& a, auto& b) {
      return mkani::compareNames(mkani::nameAt(arena.data(), a), mkani::nameAt(arena.data(), b)) <
             0;
    });
    std::printf("%zu names: %.1f ns per name\n", count, perName);
    if (!ordered) {
      std::fprintf(stderr, "sort_names: %zu names come out of order\n", count);
      return 1;
    }
  }
  return 0;
}
