// One run of mkani in the current directory.
#ifndef MKANI_APP_RUN_H_
#define MKANI_APP_RUN_H_

#include "app/console.h"
#include "script/output_file.h"
#include "search/directory_source.h"
#include "search/run_store.h"

namespace mkani {

// Exit statuses of a run.
enum ExitStatus {
  kExitWritten = 0,     // main.ani lists every picture, or the help or version was printed
  kExitNoPictures = 1,  // nothing matched; the directory is untouched
  kExitFailed = 2,      // something failed; each failure was named on standard error
  kExitDamaged = 3,     // as 2, and main.ani holds neither the old script nor the new one
};

// The only line mkani prints on standard output in a run: when the directory holds no picture.
constexpr const char* kNoPicturesMessage = "No *.jpg files in current directory!";

// Lists the pictures that `dir` names and writes main.ani for them through `script`, telling
// the user through `console`. Returns the run's ExitStatus.
int run(DirectorySource* dir, OutputFile* script, Console* console);

// The same, holding at most `budget` bytes of names and setting sorted runs aside in `runs`.
int run(DirectorySource* dir, RunStore* runs, size_t budget, OutputFile* script, Console* console);

// What main does with the command line `argc`, `argv`: prints the usage or the version when
// that is all it asks for, and otherwise ignores it and runs on the platform's listing of the
// current directory, with the process's own console. Returns the ExitStatus.
int run(int argc, char** argv);

}  // namespace mkani

#endif  // MKANI_APP_RUN_H_
