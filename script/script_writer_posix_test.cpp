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

TEST(ScriptWriterPosixTest, ReplacesARegularFileKeepingModeAndOwnerAndRefusesAllElse) {
  ScopedTempDir dir;
  const mode_t mask = umask(0);
  const std::string err = writeScript();
  umask(mask);
  ASSERT_EQ(err, "");
  struct stat st;
  ASSERT_EQ(lstat("main.ani", &st), 0);
  EXPECT_EQ(st.st_mode, S_IFREG | 0644u);

  ASSERT_EQ(chmod("main.ani", 0600), 0);
  ASSERT_EQ(link("main.ani", "partner"), 0);
  writeFile("partner", "old");
  const bool root = geteuid() == 0;
  ASSERT_EQ(chown("main.ani", 65534, 65534) == 0, root);
  ASSERT_EQ(writeScript(), "");
  EXPECT_EQ(readFile("partner"), "old");  // replaced, not written through
  ASSERT_EQ(lstat("main.ani", &st), 0);
  EXPECT_EQ(st.st_mode, S_IFREG | 0600u);
  EXPECT_EQ(st.st_uid + st.st_gid, root ? 2 * 65534u : 2 * st.st_uid);

  // Refused before anything is created, and nothing is written through.
  for (int kind = 0; kind < 5; ++kind) {
    std::filesystem::remove("main.ani");
    const int made = kind == 0   ? symlink("partner", "main.ani")
                     : kind == 1 ? symlink("nowhere", "main.ani")
                     : kind == 2 ? mkfifo("main.ani", 0644)  // no reader: must not wait for one
                     : kind == 3 ? mknod("main.ani", S_IFCHR | 0666, makedev(1, 3))  // as root
                                 : mkdir("main.ani", 0755);
    if (made != 0) continue;
    EXPECT_EQ(writeScript(),
              "cannot write main.ani: " + std::string(kind < 2   ? "it is a symbolic link"
                                                      : kind < 4 ? "it is not a regular file"
                                                                 : "it is a directory"));
    EXPECT_EQ(entryCount(), 2);
  }
  EXPECT_EQ(readFile("partner"), "old");
  EXPECT_EQ(readFile("nowhere"), "<missing>");
}

}  // namespace
}  // namespace mkani
