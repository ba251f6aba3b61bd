#include "search/directory_source.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "test/test_util.h"

namespace mkani {
namespace {

TEST(DiskDirectorySourceTest, ListsEveryKindOfEntry) {
  ScopedTempDir dir;
  writeFile("b.jpg", "data");
  writeFile(".hidden.jpg");
  writeFile("notes.txt");
  ASSERT_EQ(mkdir("album.jpg", 0755), 0);
  ASSERT_EQ(symlink("nowhere", "gone.JPG"), 0);

  DiskDirectorySource source;
  std::string err;
  for (int pass = 0; pass < 2; ++pass) {  // a second pass lists the same again
    ASSERT_TRUE(source.open("*.jpg", &err)) << err;
    std::vector<std::string> names;
    std::string_view name;
    DirectorySource::Status status;
    while ((status = source.read(&name, &err)) == DirectorySource::kName) names.emplace_back(name);
    EXPECT_EQ(status, DirectorySource::kEnd);
    EXPECT_TRUE(source.close(&err)) << err;
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", ".hidden.jpg", "album.jpg", "b.jpg",
                                               "gone.JPG", "notes.txt"}));
  }
}

TEST(DiskDirectorySourceTest, ReportsAFolderItMayNotRead) {
  ScopedTempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0300), 0);
  const int status = inChild(
      [] {
        DiskDirectorySource source;
        std::string err;
        if (source.open("*.jpg", &err)) return 10;
        return err == "Permission denied" ? 0 : 11;
      },
      /*unprivileged=*/true);
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace mkani
