// One run of mkani in the current directory.
#ifndef MKANI_APP_RUN_H_
#define MKANI_APP_RUN_H_

#include "app/console.h"
#include "search/directory_source.h"

namespace mkani {

// Exit statuses of a run.
enum ExitStatus {
  kExitWritten = 0,     // main.ani lists every picture
  kExitNoPictures = 1,  // nothing matched; the directory is untouched
  kExitFailed = 2,      // something failed; each failure was named on standard error
};

// The only line mkani prints on standard output: when the directory holds no picture.
constexpr const char* kNoPicturesMessage = "No *.jpg files in current directory!";

// Lists the pictures that `dir` names and writes main.ani for them in the current directory,
// telling the user through `console`. Returns the run's ExitStatus.
int run(DirectorySource* dir, Console* console);

// Runs on the platform's listing of the current directory, with the process's own console.
// Returns the run's ExitStatus.
int run();

}  // namespace mkani

#endif  // MKANI_APP_RUN_H_
