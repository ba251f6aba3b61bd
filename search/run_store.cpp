#include "search/run_store.h"

#include "util/platform.h"

namespace mkani {

DiskRunStore::~DiskRunStore() {
  remove();
}

bool DiskRunStore::create(std::string* err) {
  return createScratchFile(true, &file_, err);
}

bool DiskRunStore::append(const char* data, size_t size, std::string* err) {
  return writeAll(file_.handle, data, size, err);
}

bool DiskRunStore::read(uint64_t offset, char* data, size_t size, size_t* got, std::string* err) {
  return readAt(file_.handle, offset, data, size, got, err);
}

void DiskRunStore::remove() {
  removeScratchFile(&file_);
}

}  // namespace mkani
