#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>

#include "script/script_writer.h"
#include "test/test_util.h"

namespace mkani {
namespace {

// Writes a script for one picture as main.ani; returns the failure, or "".
std::string writeScript() {
  DiskOutputFile file;
  ScriptWriter script(&file);
  std::string err;
  if (script.open(&err) && script.writePicture("a.jpg", 0, &err)) script.finish(1, &err);
  script.close(&err);
  return err;
}

struct stat statOf(const char* path) {
  struct stat st = {};
  EXPECT_EQ(lstat(path, &st), 0) << path;
  return st;
}

TEST(ScriptWriterPosixTest, ReplacesTheScriptKeepingItsModeAndOwner) {
  ScopedTempDir dir;
  const mode_t mask = umask(0);
  const std::string err = writeScript();
  umask(mask);
  ASSERT_EQ(err, "");
  EXPECT_EQ(statOf("main.ani").st_mode, S_IFREG | 0644u);

  ASSERT_EQ(chmod("main.ani", 0600), 0);
  ASSERT_EQ(link("main.ani", "partner"), 0);
  writeFile("partner", "old");
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown("main.ani", 65534, 65534), 0);
  }
  ASSERT_EQ(writeScript(), "");
  EXPECT_EQ(readFile("partner"), "old");  // replaced, not written through
  EXPECT_NE(readFile("main.ani"), "old");
  const struct stat st = statOf("main.ani");
  EXPECT_EQ(st.st_mode, S_IFREG | 0600u);
  if (root) {
    EXPECT_EQ(st.st_uid + st.st_gid, 2 * 65534u);
  }
}

TEST(ScriptWriterPosixTest, RefusesAnythingButARegularFileBeforeCreatingAnything) {
  ScopedTempDir dir;
  writeFile("target", "keep me");
  const std::string link = "cannot write main.ani: it is a symbolic link";
  const std::string other = "cannot write main.ani: it is not a regular file";
  const struct {
    std::function<int()> make;
    std::string error;
  } cases[] = {
      {[] { return symlink("target", "main.ani"); }, link},
      {[] { return symlink("nowhere", "main.ani"); }, link},
      {[] { return mkfifo("main.ani", 0644); }, other},  // no reader: must not wait for one
      {[] { return mknod("main.ani", S_IFCHR | 0666, makedev(1, 3)); }, other},  // as root
      {[] { return mkdir("main.ani", 0755); }, "cannot write main.ani: it is a directory"},
  };
  for (const auto& c : cases) {
    if (c.make() != 0) continue;
    EXPECT_EQ(writeScript(), c.error);
    auto entries = std::filesystem::directory_iterator(".");
    EXPECT_EQ(std::distance(begin(entries), end(entries)), 2) << c.error;
    std::filesystem::remove("main.ani");
  }
  EXPECT_EQ(readFile("target"), "keep me");
  EXPECT_EQ(readFile("nowhere"), "<missing>");
}

}  // namespace
}  // namespace mkani
