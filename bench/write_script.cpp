// Times the script writer alone: the script for the benchmark's pictures, written through a file
// that keeps only the count of its bytes:
//   write_script [COUNT...]          (default: 1000000 6000000)
// Prints for each count the median of seven scripts, in nanoseconds per picture, and fails when
// a script's size is not the one the writer announced.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_names.h"
#include "script/script_writer.h"

namespace {

// Takes the script and keeps the count of its bytes.
struct CountingFile : mkani::OutputFile {
  bool open(const char* /*path*/, uint64_t /*size*/, std::string* /*err*/) override { return true; }
  bool write(const char* /*data*/, size_t size, std::string* /*err*/) override {
    bytes += size;
    return true;
  }
  bool close(std::string* /*err*/) override { return true; }
  void discard() override {}
  bool fixedSize() const override { return false; }
  uint64_t bytes = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<size_t> counts;
  for (int i = 1; i < argc; ++i) counts.push_back(std::strtoull(argv[i], nullptr, 10));
  if (counts.empty()) counts = {1000000, 6000000};
  for (const size_t count : counts) {
    std::vector<std::string> names;
    uint64_t nameBytes = 0;
    for (uint32_t i = 0; i < count; ++i) {
      names.push_back(pictureName(i));
      nameBytes += names.back().size();
    }
    bool sized = true;
    const double perPicture = medianTime(count, [&] {
      CountingFile file;
      mkani::ScriptWriter script(&file);
      std::string err;
      script.open(count, nameBytes, &err);
      for (size_t k = 0; k < count; ++k) script.writePicture(names[k], k, &err);
      script.finish(count, &err);
      sized = sized && script.close(&err) && file.bytes == mkani::scriptSize(count, nameBytes);
    });
    std::printf("%zu pictures: %.1f ns per picture\n", count, perPicture);
    if (!sized) {
      std::fprintf(stderr, "write_script: the script for %zu pictures is not its size\n", count);
      return 1;
    }
  }
  return 0;
}
