#include "test/test_util.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace mkani {

ScopedTempDir::ScopedTempDir() {
  std::random_device random;
  fs::path path;
  do {
    path = fs::temp_directory_path() / ("mkani-test-" + std::to_string(random()));
  } while (!fs::create_directory(path));
  path_ = path.string();
  previous_ = fs::current_path().string();
  fs::current_path(path_);
}

ScopedTempDir::~ScopedTempDir() {
  fs::current_path(previous_);
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);  // tests take some
  fs::remove_all(path_, ignored);
}

void writeFile(const std::string& name, const std::string& contents) {
  std::ofstream(name, std::ios::binary | std::ios::trunc) << contents;
}

std::string readFile(const std::string& name) {
  std::ifstream file(name, std::ios::binary);
  if (!file) return "<missing>";
  std::ostringstream data;
  data << file.rdbuf();
  return data.str();
}

std::vector<std::string> picturesIn(const std::string& text) {
  std::vector<std::string> names;
  const size_t listEnd = text.find("\r\nEOJ\r\n");
  size_t line = text.find("\r\n\r\n", text.find("voice_data")) + 4;
  for (size_t tabs; (tabs = text.find("\t\t;", line)) < listEnd; line = text.find('\n', tabs) + 1) {
    names.push_back(text.substr(line, tabs - line));
  }
  return names;
}

bool CaptureConsole::printLine(std::string_view line, std::string* error) {
  if (!stdoutError.empty()) {
    *error = stdoutError;
    return false;
  }
  out.emplace_back(line);
  return true;
}

}  // namespace mkani
