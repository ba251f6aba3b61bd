#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "script/script_writer.h"
#include "test/test_util.h"

namespace mkani {
namespace {

// Opens main.ani in the current directory; returns the failure, or "".
std::string openScript() {
  ScriptWriter script;
  std::string err;
  script.open(&err);
  script.close(&err);
  return err;
}

TEST(ScriptWriterPosixTest, CreatesAnOrdinaryFileAndRefusesAnythingElse) {
  ScopedTempDir dir;
  const mode_t mask = umask(0);
  const std::string err = openScript();
  umask(mask);
  ASSERT_EQ(err, "");
  struct stat st;
  ASSERT_EQ(lstat("main.ani", &st), 0);
  EXPECT_EQ(st.st_mode, S_IFREG | 0644u);

  writeFile("target", "keep me");
  ASSERT_EQ(unlink("main.ani"), 0);
  ASSERT_EQ(symlink("target", "main.ani"), 0);
  EXPECT_EQ(openScript(), "cannot write main.ani: it is a symbolic link");
  EXPECT_EQ(readFile("target"), "keep me");

  ASSERT_EQ(unlink("main.ani"), 0);
  ASSERT_EQ(symlink("nowhere", "main.ani"), 0);
  EXPECT_EQ(openScript(), "cannot write main.ani: it is a symbolic link");
  EXPECT_EQ(readFile("nowhere"), "<missing>");

  ASSERT_EQ(unlink("main.ani"), 0);
  ASSERT_EQ(mkfifo("main.ani", 0644), 0);  // no reader: opening must not wait for one
  EXPECT_EQ(openScript(), "cannot write main.ani: it is not a regular file");

  ASSERT_EQ(unlink("main.ani"), 0);
  if (mknod("main.ani", S_IFCHR | 0666, makedev(1, 3)) == 0) {  // /dev/null's numbers, as root
    EXPECT_EQ(openScript(), "cannot write main.ani: it is not a regular file");
    ASSERT_EQ(unlink("main.ani"), 0);
  }
  ASSERT_EQ(mkdir("main.ani", 0755), 0);
  EXPECT_EQ(openScript(), "cannot write main.ani: it is a directory");
}

}  // namespace
}  // namespace mkani
