// The mkani executable as users run it.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/console.h"
#include "test/test_util.h"

namespace fs = std::filesystem;

namespace mkani {
namespace {

TEST(MkaniTest, ListsEveryPictureAndAnswersOnlyALoneAskForHelpOrVersion) {
  ScopedTempDir dir;
  for (const char* name : {"sunset.jpg", "Beach.JPG", "holiday.2.jpg", "my trip; day 1.jpg",
                           "photo.jpeg", "a.jpg.bak", ".jpg", "album.jpg/c.jpg"}) {
    fs::create_directory("album.jpg");
    writeFile(name);
  }
  writeFile("main.ani", "hand-tuned");
  const fs::file_time_type old = fs::last_write_time("main.ani") - std::chrono::hours(24);
  fs::last_write_time("main.ani", old);
  const std::string end = kLineEnd;
  for (const char* words : {"--help", "-h", "\"/?\"", "--version"}) {
    ToolRun asked = runTool(words);
    EXPECT_EQ(asked.status, 0) << words;
    EXPECT_EQ(asked.err, "");
    const std::string first = words[2] == 'v' ? "mkani " MKANI_VERSION : "Usage: mkani";
    const std::string last = words[2] == 'v' ? "" : kMoreHelp + end;
    EXPECT_EQ(asked.out.substr(0, first.size() + end.size()), first + end) << words;
    EXPECT_EQ(asked.out.substr(asked.out.size() - last.size()), last) << words;
    EXPECT_EQ(std::count(asked.out.begin(), asked.out.end(), '\n'), words[2] == 'v' ? 2 : 8);
    EXPECT_EQ(readFile("main.ani"), "hand-tuned");
    EXPECT_EQ(fs::last_write_time("main.ani"), old);
    EXPECT_EQ(entryCount(), 9);
  }

  for (const char* args : {"", "album.jpg *.png --help -o other.ani", "--help --version", "-h x"}) {
    ToolRun ignored = runTool(args);
    EXPECT_EQ(ignored.status, 0) << args;
    EXPECT_EQ(ignored.out + ignored.err, "");
    EXPECT_EQ(picturesIn(readFile("main.ani")),
              (std::vector<std::string>{".jpg", "album.jpg", "Beach.JPG", "holiday.2.jpg",
                                        "my trip; day 1.jpg", "sunset.jpg"}));
    EXPECT_EQ(readFile("other.ani") + readFile("album.jpg/main.ani"), "<missing><missing>");
  }

  // No picture: one line, and the old script keeps its bytes and its time.
  fs::remove_all("album.jpg");
  for (const char* name :
       {"sunset.jpg", "Beach.JPG", "holiday.2.jpg", "my trip; day 1.jpg", ".jpg"})
    fs::remove(name);
  fs::last_write_time("main.ani", old);
  const std::string script = readFile("main.ani");
  ToolRun none = runTool("x.jpg");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "No *.jpg files in current directory!" + end);
  EXPECT_EQ(none.err, "");
  EXPECT_EQ(readFile("main.ani"), script);
  EXPECT_EQ(fs::last_write_time("main.ani"), old);
}

}  // namespace
}  // namespace mkani
