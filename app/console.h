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

// The process's own standard output and standard error.
class StdConsole : public Console {
 public:
  bool printLine(std::string_view line, std::string* err) override;
  void errorLine(std::string_view line) override;
};

}  // namespace mkani

#endif  // MKANI_APP_CONSOLE_H_
