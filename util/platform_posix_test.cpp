// Whole writes on POSIX systems.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "test/test_util.h"
#include "util/platform.h"

namespace mkani {

TEST(PlatformPosixTest, AWholeWriteTakesEveryByteUpToTheFileSizeLimitThenFails) {
  ScopedTempDir dir;
  signal(SIGXFSZ, SIG_IGN);  // as mkani has it
  struct rlimit was;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &was), 0);
  const struct rlimit limit = {150, was.rlim_max};
  const int fd = open("limited", O_WRONLY | O_CREAT, 0600);
  std::string bytes;
  for (int k = 0; k < 160; ++k) bytes += static_cast<char>('a' + k % 26);
  std::string err;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const bool one = writeAll(fd, bytes.data(), 1, &err);
  const bool over = writeAll(fd, bytes.data() + 1, 159, &err);  // 149 bytes go
  setrlimit(RLIMIT_FSIZE, &was);
  close(fd);
  EXPECT_TRUE(one);
  EXPECT_FALSE(over);
  EXPECT_EQ(err, "File too large");
  EXPECT_EQ(lastError(), static_cast<unsigned long>(EFBIG));
  EXPECT_EQ(readFile("limited"), bytes.substr(0, 150));
}

TEST(PlatformPosixTest, AWholeWriteCutShortByASignalGoesOnWhereItStopped) {
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  struct sigaction was, onSignal = {};
  onSignal.sa_handler = [](int) {};
  sigaction(SIGUSR1, &onSignal, &was);
  std::string bytes;
  for (int k = 0; k < (1 << 20); ++k) bytes += static_cast<char>(k % 251);
  std::string read;
  const pthread_t writer = pthread_self();
  std::thread reader([&] {
    // The pipe is full and the write waits: a signal cuts it short.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pthread_kill(writer, SIGUSR1);
    char piece[4096];
    for (ssize_t got; (got = ::read(pipeEnds[0], piece, sizeof piece)) > 0;)
      read.append(piece, got);
  });
  std::string err;
  EXPECT_TRUE(writeAll(pipeEnds[1], bytes.data(), bytes.size(), &err)) << err;
  close(pipeEnds[1]);
  reader.join();
  close(pipeEnds[0]);
  sigaction(SIGUSR1, &was, nullptr);
  EXPECT_EQ(read, bytes);
}

TEST(PlatformPosixTest, RemovingAFileAnswersZeroThenTheReasonItIsGone) {
  ScopedTempDir dir;
  writeFile("gone", "x");
  EXPECT_EQ(removeFile("gone"), 0);
  EXPECT_EQ(removeFile("gone"), ENOENT);
}

TEST(PlatformPosixTest, AReadThatTheFileRefusesFailsWithItsReason) {
  ScopedTempDir dir;
  writeFile("write-only", "bytes");
  const int fd = open("write-only", O_WRONLY);
  char data[8];
  size_t got = 0;
  std::string err;
  const bool read = readAt(fd, 0, data, sizeof data, &got, &err);
  close(fd);
  EXPECT_FALSE(read);
  EXPECT_EQ(err, "Bad file descriptor");
}

}  // namespace mkani
