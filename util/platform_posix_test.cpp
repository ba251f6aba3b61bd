// Whole writes on POSIX systems.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

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
