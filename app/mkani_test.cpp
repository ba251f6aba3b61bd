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
  fs::create_directory("album.jpg");
  for (const char* name : {"sunset.jpg", "Beach.JPG", "holiday.2.jpg", "my trip; day 1.jpg",
                           "photo.jpeg", "a.jpg.bak", ".jpg", "album.jpg/c.jpg", "main.ani"}) {
    writeFile(name, "hand-tuned");
  }
  const fs::file_time_type old = fs::last_write_time("main.ani") - std::chrono::hours(24);
  fs::last_write_time("main.ani", old);
  const std::string end = kLineEnd;
  for (const std::string words : {"--help", "-h", "\"/?\"", "--version"}) {
    ToolRun asked = runTool(words);
    const bool version = words == "--version";
    const std::string first = version ? "mkani " MKANI_VERSION : "Usage: mkani";
    const std::string last = version ? "MIT License: free to use, change and share." : kMoreHelp;
    EXPECT_EQ(asked.str().substr(0, first.size() + end.size() + 2), "0|" + first + end);
    EXPECT_EQ(asked.str().substr(asked.str().size() - last.size() - end.size() - 1),
              last + end + "|");
    EXPECT_EQ(std::count(asked.out.begin(), asked.out.end(), '\n'), version ? 2 : 8);
    EXPECT_EQ(readFile("main.ani") + asked.err, "hand-tuned");
    EXPECT_EQ(fs::last_write_time("main.ani"), old);
    EXPECT_EQ(entryCount(), 9);
  }

  for (const char* args : {"", "album.jpg *.png --help -o other.ani", "--help --version", "-h x"}) {
    EXPECT_EQ(runTool(args).str(), "0||") << args;
    EXPECT_EQ(picturesIn(readFile("main.ani")),
              (std::vector<std::string>{".jpg", "album.jpg", "Beach.JPG", "holiday.2.jpg",
                                        "my trip; day 1.jpg", "sunset.jpg"}));
    EXPECT_EQ(entryCount(), 9);  // no other.ani, nothing left behind
  }

  // No picture: one line, and the old script keeps its bytes and its time.
  fs::remove_all("album.jpg");
  for (const char* name :
       {"sunset.jpg", "Beach.JPG", "holiday.2.jpg", "my trip; day 1.jpg", ".jpg"})
    fs::remove(name);
  fs::last_write_time("main.ani", old);
  const std::string script = readFile("main.ani");
  EXPECT_EQ(runTool("x.jpg").str(), "1|No *.jpg files in current directory!" + end + "|");
  EXPECT_EQ(readFile("main.ani"), script);
  EXPECT_EQ(fs::last_write_time("main.ani"), old);
}

}  // namespace
}  // namespace mkani
