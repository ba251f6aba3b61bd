#include "script/script_writer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include "test/test_util.h"

namespace mkani {
namespace {

const char kHeader[] = ";Automatically created by Pelorin.\r\n\r\nvoice_data\\w.wav\r\n\r\n";
const char kTrailer[] = "\r\n\"EOTL\"\r\n\r\nEOF\r\n\r\n";

// Writes main.ani for `names` in the current directory; returns the first failure, or "".
std::string writeScript(const std::vector<std::string>& names) {
  ScriptWriter script;
  std::string err;
  if (script.open(&err)) {
    for (size_t k = 0; k < names.size() && script.writePicture(names[k], k, &err); ++k) {
    }
    script.finish(names.size(), &err);
  }
  script.close(&err);
  return err;
}

size_t digits(uint64_t value) {
  return std::to_string(value).size();
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0, end;
  while ((end = text.find("\r\n", start)) != std::string::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(start, text.size()) << "bytes after the last line end";
  return lines;
}

TEST(ScriptWriterTest, WorkedExamplesByteForByte) {
  ScopedTempDir dir;
  ASSERT_EQ(writeScript({"sunset.jpg", "beach.jpg"}), "");
  const std::string two = std::string(kHeader) +
                          "sunset.jpg\t\t;0 \r\n"
                          "beach.jpg\t\t;1 \r\n"
                          "\r\nEOJ\r\n"
                          "\t\t0\r\n10\t\t1\r\n20"
                          "\r\n\r\nEOFL\r\n\r\n"
                          "\"\"\r\n\"\"\r\n10\r\n"
                          "\"\"\r\n\"\"\r\n20\r\n" +
                          kTrailer;
  EXPECT_EQ(two.size(), 167u);
  EXPECT_EQ(linesOf(two).size(), 25u);
  EXPECT_EQ(readFile("main.ani"), two);

  ASSERT_EQ(writeScript({"a.jpg"}), "");
  const std::string one = std::string(kHeader) + "a.jpg\t\t;0 \r\n\r\nEOJ\r\n\t\t0\r\n10" +
                          "\r\n\r\nEOFL\r\n\r\n\"\"\r\n\"\"\r\n10\r\n" + kTrailer;
  EXPECT_EQ(one.size(), 127u);
  EXPECT_EQ(linesOf(one).size(), 20u);
  EXPECT_EQ(readFile("main.ani"), one);  // the longer script before it is gone
}

TEST(ScriptWriterTest, ManyPicturesFollowTheSizeAndLineFormulas) {
  ScopedTempDir dir;
  std::vector<std::string> names;
  const std::vector<std::string> odd = {"my trip; day 1.jpg", "TRIP.JPG",      "tab\there.jpg",
                                        "quote\"d.jpg",       "\xe9t\xe9.jpg", "\x1a.jpg"};
  for (size_t k = 0; k < 250000; ++k) {
    names.push_back(k < odd.size() ? odd[k]
                                   : "frame_" + std::to_string(k * 7919 % 250000) + ".jpg");
  }
  writeFile("main.ani", std::string(1 << 22, 'x'));  // longer than the new script
  ASSERT_EQ(writeScript(names), "");
  const std::string text = readFile("main.ani");

  size_t size = 96;
  for (size_t k = 0; k < names.size(); ++k) {
    size += names[k].size() + 2 * digits(k) + 2 * digits(10 * (k + 1)) + 20;
  }
  EXPECT_EQ(text.size(), size);
  const std::vector<std::string> lines = linesOf(text);
  const size_t n = names.size();
  ASSERT_EQ(lines.size(), 5 * n + 15);
  EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1);  // every LF follows a CR
  for (size_t at = 0; (at = text.find('\n', at + 1)) != std::string::npos;) {
    ASSERT_EQ(text[at - 1], '\r') << "bare line feed at " << at;
  }
  EXPECT_EQ(std::count(text.begin(), text.end(), '\x1a'), 1);  // the name's own, no end mark

  for (size_t k = 0; k < n; ++k) {
    ASSERT_EQ(lines[4 + k], names[k] + "\t\t;" + std::to_string(k) + " ");
  }
  EXPECT_EQ(lines[4 + 10].substr(lines[4 + 10].size() - 4), ";10 ");
  EXPECT_EQ(lines[4 + n], "");
  EXPECT_EQ(lines[5 + n], "EOJ");
  EXPECT_EQ(lines[6 + n], "\t\t0");
  for (size_t k = 1; k < n; ++k) {
    ASSERT_EQ(lines[6 + n + k], std::to_string(10 * k) + "\t\t" + std::to_string(k));
  }
  EXPECT_EQ(lines[6 + 2 * n], std::to_string(10 * n));
  EXPECT_EQ(lines[8 + 2 * n], "EOFL");
  for (size_t k = 0; k < n; ++k) {
    ASSERT_EQ(lines[10 + 2 * n + 3 * k], "\"\"");
    ASSERT_EQ(lines[11 + 2 * n + 3 * k], "\"\"");
    ASSERT_EQ(lines[12 + 2 * n + 3 * k], std::to_string(10 * (k + 1)));
  }
  EXPECT_EQ(lines[14 + 5 * n - 3], "\"EOTL\"");
  EXPECT_EQ(text.substr(text.size() - 7), "EOF\r\n\r\n");
}

TEST(ScriptWriterTest, CreatesAnOrdinaryFileReadableByAll) {
  ScopedTempDir dir;
  const mode_t mask = umask(0);
  const std::string err = writeScript({"a.jpg"});
  umask(mask);
  ASSERT_EQ(err, "");
  struct stat st;
  ASSERT_EQ(lstat("main.ani", &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST(ScriptWriterTest, RefusesWhatIsNotARegularFile) {
  ScopedTempDir dir;
  writeFile("target", "keep me");
  ASSERT_EQ(symlink("target", "main.ani"), 0);
  EXPECT_EQ(writeScript({"a.jpg"}), "cannot write main.ani: it is a symbolic link");
  EXPECT_EQ(readFile("target"), "keep me");

  ASSERT_EQ(unlink("main.ani"), 0);
  ASSERT_EQ(symlink("nowhere", "main.ani"), 0);
  EXPECT_EQ(writeScript({"a.jpg"}), "cannot write main.ani: it is a symbolic link");
  EXPECT_EQ(readFile("nowhere"), "<missing>");

  ASSERT_EQ(unlink("main.ani"), 0);
  ASSERT_EQ(mkfifo("main.ani", 0644), 0);  // no reader: opening must not wait for one
  EXPECT_EQ(writeScript({"a.jpg"}), "cannot write main.ani: it is not a regular file");

  ASSERT_EQ(unlink("main.ani"), 0);
  ASSERT_EQ(mkdir("main.ani", 0755), 0);
  EXPECT_EQ(writeScript({"a.jpg"}), "cannot write main.ani: Is a directory");
}

TEST(ScriptWriterTest, ReportsAWriteThatFails) {
  ScopedTempDir dir;
  // A file size limit makes the kernel refuse bytes past it, as a full disk would.
  const int status = inChild([] {
    rlimit limit{4096, 4096};
    signal(SIGXFSZ, SIG_IGN);
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
    std::vector<std::string> names(200, "a picture with a rather long name.jpg");
    return writeScript(names) == "cannot write main.ani: File too large" ? 0 : 11;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(readFile("main.ani").size(), 4096u);
}

}  // namespace
}  // namespace mkani
