// Fills an empty folder with `count` empty files for the benchmark, created in shuffled order:
// about 90% pictures ending in ".jpg" or ".JPG", the rest other names.
//   make_folder DIR COUNT
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_folder DIR COUNT\n");
    return 2;
  }
  const std::string dir = argv[1];
  const size_t count = std::strtoull(argv[2], nullptr, 10);
  std::vector<uint32_t> order(count);
  std::iota(order.begin(), order.end(), 0);
  std::mt19937_64 random(42);
  std::shuffle(order.begin(), order.end(), random);

  char name[64];
  for (uint32_t i : order) {
    switch (i % 10) {
      case 0:
        std::snprintf(name, sizeof name, "notes_%07u.txt", i);
        break;
      case 1:
      case 4:
      case 7:
        std::snprintf(name, sizeof name, "IMG_%07u.JPG", i);
        break;
      case 2:
        std::snprintf(name, sizeof name, "Frame_%07u.Jpg", i);
        break;
      default:
        std::snprintf(name, sizeof name, "frame_%07u.jpg", i);
        break;
    }
    const std::string path = dir + "/" + name;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0 || close(fd) != 0) {
      std::perror(path.c_str());
      return 1;
    }
  }
  return 0;
}
