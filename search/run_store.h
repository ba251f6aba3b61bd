// Where the picture search sets aside sorted runs of names that do not fit in its memory.
#ifndef MKANI_SEARCH_RUN_STORE_H_
#define MKANI_SEARCH_RUN_STORE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "util/scratch_file.h"

namespace mkani {

class RunStore {
 public:
  virtual ~RunStore() = default;

  // Creates the empty store. Returns false with the reason in *err.
  virtual bool create(std::string* err) = 0;

  // Adds `size` bytes at `data` to the end of the store. Returns false with the reason in *err.
  virtual bool append(const char* data, size_t size, std::string* err) = 0;

  // Reads up to `size` bytes at `offset` into `data`; *got may be less than `size`, and is 0
  // only at the end of the store. Returns false with the reason in *err.
  virtual bool read(uint64_t offset, char* data, size_t size, size_t* got, std::string* err) = 0;

  // Removes the store and all it held.
  virtual void remove() = 0;
};

// A scratch file in the current directory that no listing shows and that goes with the run.
class DiskRunStore : public RunStore {
 public:
  DiskRunStore() = default;
  ~DiskRunStore() override;
  DiskRunStore(const DiskRunStore&) = delete;
  DiskRunStore& operator=(const DiskRunStore&) = delete;

  bool create(std::string* err) override;
  bool append(const char* data, size_t size, std::string* err) override;
  bool read(uint64_t offset, char* data, size_t size, size_t* got, std::string* err) override;
  void remove() override;

 private:
  ScratchFile file_;
};

}  // namespace mkani

#endif  // MKANI_SEARCH_RUN_STORE_H_
