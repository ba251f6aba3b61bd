#include "test/test_util.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "script/script_writer.h"

namespace fs = std::filesystem;

namespace mkani {

ScopedTempDir::ScopedTempDir() {
  std::random_device random;
  do {
    path = (fs::temp_directory_path() / ("mkani-test-" + std::to_string(random()))).string();
  } while (!fs::create_directory(path));
  previous = fs::current_path().string();
  fs::current_path(path);
}

ScopedTempDir::~ScopedTempDir() {
  fs::current_path(previous);
  std::error_code ignored;
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);  // tests take some
  fs::remove_all(path, ignored);
}

void writeFile(const std::string& name, const std::string& contents) {
  std::ofstream(name, std::ios::binary | std::ios::trunc) << contents;
}

std::string readFile(const std::string& name) {
  std::ifstream file(name, std::ios::binary);
  return file ? std::string(std::istreambuf_iterator<char>(file), {}) : "<missing>";
}

long entryCount(const std::string& prefix) {
  std::error_code unreadable;  // counts none
  return std::count_if(
      fs::directory_iterator(".", unreadable), fs::directory_iterator(), [&](const auto& entry) {
        return entry.path().filename().string().compare(0, prefix.size(), prefix) == 0;
      });
}

std::string expectedScript(const std::vector<std::string>& names) {
  std::string text = ";Automatically created by Pelorin.\r\n\r\nvoice_data\\w.wav\r\n\r\n";
  std::string index, strings;
  for (size_t k = 0; k < names.size(); ++k) {
    const std::string value = std::to_string(10 * (k + 1));
    text += names[k] + "\t\t;" + std::to_string(k) + " \r\n";
    index += "\t\t" + std::to_string(k) + "\r\n" + value;
    strings += "\"\"\r\n\"\"\r\n" + value + "\r\n";
  }
  return text + "\r\nEOJ\r\n" + index + "\r\n\r\nEOFL\r\n\r\n" + strings +
         "\r\n\"EOTL\"\r\n\r\nEOF\r\n\r\n";
}

std::string writeScript(const std::vector<std::string>& names, OutputFile* file,
                        size_t bufferSize) {
  ScriptWriter script(file, bufferSize ? bufferSize : ScriptWriter::kBufferSize);
  std::string err;
  size_t bytes = 0;
  for (const std::string& name : names) bytes += name.size();
  if (script.open(names.size(), bytes, &err)) {
    for (size_t k = 0; k < names.size(); ++k) script.writePicture(names[k], k, &err);
    script.finish(names.size(), &err);
  }
  script.close(&err);
  return err;
}

std::vector<std::string> picturesIn(const std::string& text) {
  std::vector<std::string> names;
  std::istringstream lines(text.substr(0, text.find("\r\nEOJ\r\n")));
  for (std::string line; std::getline(lines, line);) {
    if (line.find("\t\t;") != std::string::npos)
      names.push_back(line.substr(0, line.find("\t\t;")));
  }
  return names;
}

}  // namespace mkani
