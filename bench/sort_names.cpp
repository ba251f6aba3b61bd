// Times the name sort alone, on the pictures of the benchmark's folders (make_folder's names, a
// frame for each note) in shuffled order, as a listing gives them:
//   sort_names [COUNT...]          (default: 100000 1000000 6000000)
// Prints for each count the median of seven sorts, in nanoseconds per name, and fails when the
// order is not the one compareNames gives.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "search/name_order.h"

namespace {

// Returns the name of the picture numbered `i`, as make_folder names it.
std::string pictureName(uint32_t i) {
  char name[64];
  const unsigned kind = i % 10;
  const char* format = kind == 1 || kind == 4 || kind == 7 ? "IMG_%07u.JPG"
                       : kind == 2                         ? "Frame_%07u.Jpg"
                                                           : "frame_%07u.jpg";
  std::snprintf(name, sizeof name, format, i);
  return name;
}

// Returns the median of seven sorts of `names`, in nanoseconds per name; false in *ordered when
// a sort gives another order than compareNames.
double timeSort(const std::vector<mkani::NameRef>& names, const std::string& arena, bool* ordered) {
  std::vector<double> times;
  for (int run = 0; run < 7; ++run) {
    std::vector<mkani::NameRef> refs = names;
    const auto start = std::chrono::steady_clock::now();
    mkani::sortNames(refs.data(), refs.size(), arena.data());
    const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
    times.push_back(took.count() / static_cast<double>(names.size()));
    *ordered = *ordered && std::is_sorted(refs.begin(), refs.end(), [&](auto& a, auto& b) {
      return mkani::compareNames(mkani::nameAt(arena.data(), a), mkani::nameAt(arena.data(), b)) <
             0;
    });
  }
  std::nth_element(times.begin(), times.begin() + 3, times.end());
  return times[3];
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<size_t> counts;
  for (int i = 1; i < argc; ++i) counts.push_back(std::strtoull(argv[i], nullptr, 10));
  if (counts.empty()) counts = {100000, 1000000, 6000000};
  for (const size_t count : counts) {
    std::vector<uint32_t> order(count);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), std::mt19937_64(42));
    std::string arena;
    std::vector<mkani::NameRef> names;
    for (const uint32_t i : order) {
      const std::string name = pictureName(i);
      names.push_back({0, static_cast<uint32_t>(arena.size()), static_cast<uint32_t>(name.size())});
      arena += name;
    }
    bool ordered = true;
    const double perName = timeSort(names, arena, &ordered);
    std::printf("%zu names: %.1f ns per name\n", count, perName);
    if (!ordered) {
      std::fprintf(stderr, "sort_names: %zu names come out of order\n", count);
      return 1;
    }
  }
  return 0;
}
