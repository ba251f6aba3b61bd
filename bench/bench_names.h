// The names of the benchmark's pictures, as bench/make_folder names its entries.
#ifndef MKANI_BENCH_BENCH_NAMES_H_
#define MKANI_BENCH_BENCH_NAMES_H_

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Returns the name of the picture numbered `i`: make_folder's name for entry `i`, with a frame
// for each of its notes.
inline std::string pictureName(uint32_t i) {
  char name[64];
  const unsigned kind = i % 10;
  const char* format = kind == 1 || kind == 4 || kind == 7 ? "IMG_%07u.JPG"
                       : kind == 2                         ? "Frame_%07u.Jpg"
                                                           : "frame_%07u.jpg";
  std::snprintf(name, sizeof name, format, i);
  return name;
}

// Returns the median of seven runs of `work`, in nanoseconds for each of `count` items.
template <typename Work>
double medianTime(size_t count, Work work) {
  std::vector<double> times;
  for (int run = 0; run < 7; ++run) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
    times.push_back(took.count() / static_cast<double>(count));
  }
  std::nth_element(times.begin(), times.begin() + 3, times.end());
  return times[3];
}

#endif  // MKANI_BENCH_BENCH_NAMES_H_
