// Where the picture search reads names from: the platform's listing of the current directory, or
// a stand-in that tests fill.
#ifndef MKANI_SEARCH_DIRECTORY_SOURCE_H_
#define MKANI_SEARCH_DIRECTORY_SOURCE_H_

#include <string>
#include <string_view>

namespace mkani {

class DirectorySource {
 public:
  enum Status { kName, kUnwritable, kEnd, kFailed };

  virtual ~DirectorySource() = default;

  // Starts a pass over the names in the current directory; the source may leave out names that
  // cannot match `pattern`, but may also yield them. Returns false and sets *err to the reason
  // when the directory cannot be read; there is then no pass to close.
  virtual bool open(const char* pattern, std::string* err) = 0;

  // Returns kName with *name set to the next name (valid until the next call); kUnwritable with
  // *name set to the name of an entry that no name in the script could open, as the user reads
  // it (UTF-8); kEnd when the pass has yielded every name; or kFailed with *err set to the
  // reason when reading failed.
  virtual Status read(std::string_view* name, std::string* err) = 0;

  // Ends the pass that open started. Returns false and sets *err to the reason on failure.
  virtual bool close(std::string* err) = 0;
};

// The platform's listing of the process's current directory.
class DiskDirectorySource : public DirectorySource {
 public:
  DiskDirectorySource() = default;
  ~DiskDirectorySource() override;
  DiskDirectorySource(const DiskDirectorySource&) = delete;
  DiskDirectorySource& operator=(const DiskDirectorySource&) = delete;

  bool open(const char* pattern, std::string* err) override;
  Status read(std::string_view* name, std::string* err) override;
  bool close(std::string* err) override;

 private:
  struct Pass;  // the platform's open listing
  Pass* pass_ = nullptr;
};

}  // namespace mkani

#endif  // MKANI_SEARCH_DIRECTORY_SOURCE_H_
