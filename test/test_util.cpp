#include "test/test_util.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace mkani {
namespace {

std::string readAll(int fd) {
  std::string data;
  char chunk[4096];
  ssize_t got;
  while ((got = read(fd, chunk, sizeof chunk)) > 0) data.append(chunk, static_cast<size_t>(got));
  return data;
}

int statusOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  return 128 + WTERMSIG(waitStatus);
}

}  // namespace

ScopedTempDir::ScopedTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/mkani-test-XXXXXX";
  if (!mkdtemp(pattern.data())) std::abort();
  path_ = pattern;
  previous_ = std::filesystem::current_path().string();
  std::filesystem::current_path(path_);
}

ScopedTempDir::~ScopedTempDir() {
  std::filesystem::current_path(previous_);
  std::error_code ignored;
  // Tests may have taken permissions away; give them back so the folder can go.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

void writeFile(const std::string& name, const std::string& contents) {
  std::ofstream file(name, std::ios::binary | std::ios::trunc);
  file << contents;
}

std::string readFile(const std::string& name) {
  std::ifstream file(name, std::ios::binary);
  if (!file) return "<missing>";
  std::ostringstream data;
  data << file.rdbuf();
  return data.str();
}

void dropPrivileges() {
  if (geteuid() != 0) return;
  if (setgid(65534) != 0 || setuid(65534) != 0) _exit(126);
}

int inChild(const std::function<int()>& body, bool unprivileged) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (unprivileged) dropPrivileges();
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return statusOf(status);
}

ToolRun runTool(const std::string& dir, const std::vector<std::string>& args,
                const std::function<void()>& setup) {
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) std::abort();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    close(out[0]);
    close(out[1]);
    close(err[0]);
    close(err[1]);
    const int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, STDIN_FILENO);
    if (chdir(dir.c_str()) != 0) _exit(125);
    if (setup) setup();
    std::vector<char*> argv{const_cast<char*>(MKANI_EXE)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(MKANI_EXE, argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  ToolRun run;
  // Small outputs only: read one pipe, then the other.
  run.out = readAll(out[0]);
  run.err = readAll(err[0]);
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = statusOf(status);
  return run;
}

bool CaptureConsole::printLine(std::string_view line, std::string* err) {
  if (!stdoutError.empty()) {
    *err = stdoutError;
    return false;
  }
  out.emplace_back(line);
  return true;
}

}  // namespace mkani
