// The two streams the user reads: standard output and standard error.
#ifndef MKANI_APP_CONSOLE_H_
#define MKANI_APP_CONSOLE_H_

#include <string>
#include <string_view>

namespace mkani {

class Console {
 public:
  virtual ~Console() = default;

  // Writes `line` and the platform's line end to standard output. Returns false with the reason
  // in *err when it could not.
  virtual bool printLine(std::string_view line, std::string* err) = 0;

  // Writes `line` and the platform's line end to standard error, as far as it can.
  virtual void errorLine(std::string_view line) = 0;
};

// The process's own standard output and standard error. Writing takes no memory.
class StdConsole : public Console {
 public:
  bool printLine(std::string_view line, std::string* err) override;
  void errorLine(std::string_view line) override;
};

// Readies the process for a run: gives each closed standard stream a harmless stand-in, so that
// no file the run opens takes its place; has writes to a broken pipe or past the file size
// limit fail with a reason instead of ending the process; and has a request to stop (a signal,
// Ctrl-C) end it with kStopMessage and status 2, its scratch file removed. Returns false when
// it could not.
bool prepareProcess();

// What a stopped run says on standard error, before its line end.
extern const char kStopMessage[];

// The usage's last line: where this platform's user reads more.
extern const char kMoreHelp[];

}  // namespace mkani

#endif  // MKANI_APP_CONSOLE_H_
