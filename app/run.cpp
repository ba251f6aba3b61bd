#include "app/run.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "script/script_writer.h"
#include "search/picture_search.h"

namespace mkani {
namespace {

const char kPattern[] = "*.jpg";
const std::string kProgram = "mkani: ";

// `name` in double quotes, with line breaks and other control bytes spelled out.
std::string quoted(std::string_view name) {
  std::string out = "\"";
  for (const char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", byte);
      out += hex;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string pictures(uint64_t count) {
  return std::to_string(count) + (count == 1 ? " picture" : " pictures");
}

}  // namespace

int run(DirectorySource* dir, Console* console) {
  PictureSearch search(dir);
  PictureEntry entry;
  std::string searchError;
  bool failed = false;

  // Moves on from `status` to the next entry that can stand on a picture line, naming and
  // skipping each one that cannot.
  auto writable = [&](SearchStatus status) {
    while (status == SearchStatus::kEntry && !fitsOnPictureLine(entry.name)) {
      console->errorLine(kProgram + "skipped " + quoted(entry.name) +
                         ": a name holding a line break cannot stand in " +
                         ScriptWriter::kFileName);
      failed = true;
      status = search.next(&entry, &searchError);
    }
    return status;
  };

  SearchStatus status = writable(search.first(kPattern, &entry, &searchError));
  if (status != SearchStatus::kEntry) {
    search.close();
    if (status == SearchStatus::kFailed) {
      console->errorLine(kProgram + searchError);
      return kExitFailed;
    }
    if (failed) return kExitFailed;  // there were pictures, none of them writable
    std::string outputError;
    if (!console->printLine(kNoPicturesMessage, &outputError)) {
      console->errorLine(kProgram + "cannot write to standard output: " + outputError);
      return kExitFailed;
    }
    return kExitNoPictures;
  }

  ScriptWriter script;
  std::string writeError;
  uint64_t count = 0;
  if (script.open(&writeError)) {
    while (script.writePicture(entry.name, count, &writeError)) {
      ++count;
      status = writable(search.next(&entry, &searchError));
      if (status != SearchStatus::kEntry) {
        script.finish(count, &writeError);
        break;
      }
    }
  }
  const bool written = script.close(&writeError);
  search.close();

  if (!written) {
    console->errorLine(kProgram + writeError);
    failed = true;
  }
  if (status == SearchStatus::kFailed) {
    std::string line = kProgram + searchError;
    if (written)
      line += std::string("; ") + ScriptWriter::kFileName + " lists only the " + pictures(count) +
              " read before it";
    console->errorLine(line);
    failed = true;
  }
  return failed ? kExitFailed : kExitWritten;
}

int run() {
  DiskDirectorySource dir;
  StdConsole console;
  return run(&dir, &console);
}

}  // namespace mkani
