#include "app/run.h"

#include <cstdint>
#include <cstdio>
#include <new>
#include <string>

#include "script/script_writer.h"
#include "search/picture_search.h"

namespace mkani {
namespace {

const char kPattern[] = "*.jpg";
const std::string kProgram = "mkani: ";

const char* const kUsage[] = {
    "Usage: mkani",
    "Writes the animation script main.ani for the pictures of the current directory: every",
    "entry whose name ends in .jpg, in any letter case, in name order. A new main.ani takes",
    "the place of the old one whole where the folder allows, else rewrites it in place.",
    "mkani takes no arguments; run it in the folder of frames.",
    "Exit status: 0 when main.ani was written, 1 when there is no picture (nothing is",
    "written), 2 when something failed (each failure is named on standard error), 3 when",
    "a failed rewrite in place left main.ani damaged.",
    kMoreHelp,
};
const char* const kVersion[] = {
    "mkani " MKANI_VERSION,
    "Copyright (c) 2026 the mkani developers. MIT License: free to use, change and share.",
};

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
      char hex[5];  // \xHH
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

// Returns the lines, *count of them, that answer a command line asking only for the usage or
// the version; *count is 0 when it asks for neither.
const char* const* answer(int argc, char** argv, size_t* count) {
  const std::string_view word = argc == 2 ? argv[1] : "";
  if (word == "--help" || word == "-h" || word == "/?") {
    *count = sizeof kUsage / sizeof *kUsage;
    return kUsage;
  }
  *count = word == "--version" ? sizeof kVersion / sizeof *kVersion : 0;
  return kVersion;
}

// Prints `line` on standard output. Returns false, having said why on standard error, when it
// cannot.
bool printed(Console* console, std::string_view line) {
  std::string err;
  if (console->printLine(line, &err)) return true;
  console->errorLine(kProgram + "cannot write to standard output: " + err);
  return false;
}

int runOnce(DirectorySource* dir, RunStore* runs, size_t budget, OutputFile* file,
            Console* console) {
  PictureSearch search(dir, runs, budget);
  PictureEntry entry;
  std::string searchError;
  bool failed = false;

  // Names the picture `name` and why it cannot stand in the script, and leaves it out.
  auto skip = [&](std::string_view name, const char* why) {
    console->errorLine(kProgram + "skipped " + quoted(name) + ": " + why + " cannot stand in " +
                       ScriptWriter::kFileName);
    failed = true;
  };
  // Moves on from `status` to the next entry that can stand on a picture line.
  auto writable = [&](SearchStatus status) {
    while (status == SearchStatus::kEntry && !fitsOnPictureLine(entry.name)) {
      skip(entry.name, "a name holding a line break");
      status = search.next(&entry, &searchError);
    }
    return status;
  };

  SearchStatus status = writable(search.first(kPattern, &entry, &searchError));
  for (const std::string& name : search.unwritable()) {
    skip(name, "a name outside the ANSI code page, without a short name,");
  }
  if (search.unwritableCount() > search.unwritable().size()) {
    console->errorLine(kProgram + "skipped " +
                       std::to_string(search.unwritableCount() - search.unwritable().size()) +
                       " more such names");
  }
  if (status != SearchStatus::kEntry) {
    search.close();
    if (status == SearchStatus::kFailed) {
      console->errorLine(kProgram + searchError);
      return kExitFailed;
    }
    if (failed) return kExitFailed;  // there were pictures, none of them writable
    return printed(console, kNoPicturesMessage) ? kExitNoPictures : kExitFailed;
  }

  ScriptWriter script(file);
  std::string writeError;
  uint64_t count = 0, nameBytes = 0, leftOut = 0;
  // Rewritten in place, the script has room for the names counted at first: where the folder
  // grows while it is listed again, the names past that room are left out.
  const uint64_t room = scriptSize(search.matches(), search.matchBytes());
  if (script.open(search.matches(), search.matchBytes(), &writeError)) {
    for (;;) {
      if (file->fixedSize() && scriptSize(count + 1, nameBytes + entry.name.size()) > room) {
        ++leftOut;
      } else if (script.writePicture(entry.name, count, &writeError)) {
        ++count;
        nameBytes += entry.name.size();
      } else {
        break;
      }
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
  if (leftOut > 0 && written) {
    console->errorLine(kProgram + "the folder grew while " + ScriptWriter::kFileName +
                       " was rewritten in place; it leaves out the last " + pictures(leftOut));
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
  if (file->damaged()) return kExitDamaged;
  return failed ? kExitFailed : kExitWritten;
}

}  // namespace

int run(DirectorySource* dir, OutputFile* script, Console* console) {
  DiskRunStore runs;
  return run(dir, &runs, PictureSearch::kDefaultBudget, script, console);
}

int run(DirectorySource* dir, RunStore* runs, size_t budget, OutputFile* script, Console* console) {
  try {
    return runOnce(dir, runs, budget, script, console);
  } catch (const std::bad_alloc&) {  // everything taken was given back on the way out
    script->discard();               // and a rewrite in place begun is undone
    if (script->damaged()) {
      console->errorLine(kProgram + "out of memory; " + ScriptWriter::kFileName + " is damaged");
      return kExitDamaged;
    }
    console->errorLine(kProgram + "out of memory");
    return kExitFailed;
  }
}

int run(int argc, char** argv) {
  StdConsole console;
  if (!prepareProcess()) {
    console.errorLine("mkani: cannot ready the standard streams");
    return kExitFailed;
  }
  size_t count;
  const char* const* lines = answer(argc, argv, &count);
  for (size_t i = 0; i < count; ++i) {
    if (!printed(&console, lines[i])) return kExitFailed;
  }
  if (count != 0) return kExitWritten;
  DiskDirectorySource dir;
  DiskOutputFile script(
      [&console](const std::string& line) { console.errorLine(kProgram + line); });
  return run(&dir, &script, &console);
}

}  // namespace mkani
