// The mkani executable where POSIX systems can fail it or its surroundings turn hostile.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <iostream>

#include "app/console.h"
#include "script/script_writer.h"
#include "test/test_util.h"
#include "util/scratch_file.h"

namespace mkani {
namespace {

TEST(MkaniPosixTest, FailuresAndHostileSurroundingsEndInOneLineAndStatusTwo) {
  ScopedTempDir dir;
  // Names long enough to outgrow the first block of names, and a script past 50 KiB; a link to
  // nothing is a picture as any other entry.
  for (int i = 0; i < 6000; ++i) writeFile(std::string(190, 'p') + std::to_string(i) + ".jpg");
  ASSERT_EQ(symlink("nowhere", "gone.jpg"), 0);
  ASSERT_EQ(runToolAfter("umask 0"), "0||");
  const std::string fresh = readFile("main.ani");
  struct stat st;
  EXPECT_EQ(stat("main.ani", &st) == 0 ? st.st_mode : 0, S_IFREG | 0644u);
  const std::string cannot = "2||mkani: cannot write main.ani: ";
  const std::string denied = cannot + "Permission denied\n", refused = cannot + "it is ";
  const std::string pipe = "mkfifo p; exec 3<>p; exec ";  // then a pipe nobody reads: "3<&-"
  const bool root = geteuid() == 0;
  const struct {
    std::string setup;
    bool nobody;
    const char* args;
    std::string outcome, script;  // what the run ends in, and what main.ani then holds
    bool needsRoot = false;       // to give files away or make devices
  } cases[] = {
    {"rm main.ani; chmod 555 .", true, "", denied, "<missing>"},
    {"chmod 777 .; echo old >main.ani; chmod 444 main.ani", true, "", denied, "old\n"},
    {"chmod 666 main.ani; chmod 555 .", true, "", "0||", fresh},  // rewritten in place
    {"chmod 311 .", true, "", "2||mkani: cannot read the current directory: Permission denied\n",
     fresh},
#if !defined(MKANI_SANITIZE)  // the sanitizers need more address space than this, and /proc
    {"chmod 755 .; ulimit -v 30000", false, "", "2||mkani: out of memory\n", fresh},
    // Without /proc, as in a chroot, the new script has a name from the start, and the unnamed
    // file tried first is given back; without /dev, a closed stream is given the root folder
    // (where a mount namespace can hide them; elsewhere these run as any other case).
    {"chmod 644 main.ani; unshare -m true 2>&- && exec unshare -m sh -c \"mount -t tmpfs t /proc "
     "2>&-; exec 3>&-; ulimit -n 5; exec " MKANI_EXE "\"",
     false, "", "0||", fresh},
    {"unshare -m true 2>&- && exec unshare -m sh -c \"mount -t tmpfs t /dev && exec 2>&- && "
     "exec " MKANI_EXE "\"",
     false, "", "0||", fresh},
    // A small folder takes little memory.
    {"mkdir two && cd two && touch a.jpg b.jpg && ulimit -v 8000", false, "", "0||", ""},
    {"exec 3>&-; ulimit -n 4", false, "", cannot + "Too many open files\n", fresh},
#endif
    {"chmod 755 .; echo old >main.ani; ulimit -f 9", false, "", cannot + "File too large\n",
     "old\n"},
    {"chmod 444 main.ani; " + pipe + "2>p 3<&-", true, "", "2||", "old\n"},  // no SIGPIPE death
    {"rm p; " + pipe + ">p 3<&-", false, "--version",
     "2||mkani: cannot write to standard output: Broken pipe\n", "old\n"},
    {"rm p; exec >&-", false, "--version", "0||", "old\n"},
    // Refused before anything is created, and nothing is written through.
    {"rm main.ani; ln -s gone.jpg main.ani", false, "", refused + "a symbolic link\n", "<missing>"},
    {"rm main.ani; mkfifo main.ani", false, "", refused + "not a regular file\n", ""},
    {"rm main.ani; mknod main.ani c 1 3", false, "", refused + "not a regular file\n", "", true},
    {"rm main.ani; mkdir main.ani", false, "", refused + "a directory\n", ""},
    // A replaced script keeps its mode, set-group-ID too, and its owner; a name linked to it
    // keeps the old bytes.
    {"rmdir main.ani; echo old >main.ani; chown 65534:65534 main.ani; chmod 2770 main.ani; "
     "ln main.ani partner; chmod 777 .",
     true, "", "0||", fresh, true},
  };
  for (const auto& c : cases) {
    if (c.needsRoot && !root) continue;
    EXPECT_EQ(runToolAfter(c.setup, c.nobody, c.args), c.outcome) << c.setup;
    EXPECT_TRUE(c.script.empty() || readFile("main.ani") == c.script) << c.setup;
    EXPECT_EQ(entryCount(".mkani-"), 0) << c.setup;  // no scratch file left
  }
  // Run with standard error closed, the message of a skipped name goes nowhere, least of all
  // into the script.
  writeFile("a\nb.jpg");
  ASSERT_EQ(runToolAfter("rmdir main.ani 2>&-; exec 2>&-"), "2||");
  EXPECT_EQ(readFile("main.ani"), fresh);
  std::remove("a\nb.jpg");
  // Run by another user, who may not give the owner, the script is rewritten in place: owner,
  // group and extended attributes stay, an empty one too.
  if (!root) {
    std::cout << "skipped owners, devices and root's attributes: needs root\n";
    return;
  }
  EXPECT_EQ(stat("main.ani", &st) == 0 ? st.st_mode + st.st_uid + st.st_gid : 0,
            (S_IFREG | 02770u) + 2 * 65534u);
  EXPECT_EQ(readFile("partner"), "old\n");
  ASSERT_EQ(setxattr("main.ani", "user.note", "kept", 4, 0), 0);
  ASSERT_EQ(setxattr("main.ani", "user.empty", "", 0, 0), 0);
  ASSERT_EQ(setxattr("main.ani", "security.mkani", "root's", 6, 0), 0);
  ASSERT_EQ(runToolAfter("chown 0:100 main.ani; chmod 664 main.ani; chmod 777 .", true), "0||");
  EXPECT_EQ(stat("main.ani", &st) == 0 ? st.st_gid + st.st_uid : 0, 100u);
  char kept[8] = {};
  EXPECT_EQ(
      getxattr("main.ani", "user.note", kept, 8) + getxattr("main.ani", "user.empty", kept, 0), 4);
  EXPECT_STREQ(kept, "kept");
}

TEST(MkaniPosixTest, AStopRemovesTheScratchFileOrWaitsForTheInPlaceRewriteToEnd) {
  ScopedTempDir dir;
  // A signal ignored from the start, as nohup ignores SIGHUP, stays ignored; 0 stops a rewrite
  // in place.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, 0, -SIGHUP}) {
    writeFile("main.ani", "old");
    const pid_t child = fork();
    if (child == 0) {
      dup2(open("err", O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
      if (signal < 0) std::signal(-signal, SIG_IGN);
      ScratchFile file;
      FaultyFile inPlace({{DiskOutputFile::Step::kCreate, EACCES}});
      ScriptWriter script(&inPlace);
      std::string err;
      // On Linux the file has no name until it is given one.
      if (prepareProcess() && signal != 0 && createScratchFile(false, &file, &err) &&
          entryCount(".mkani-") == 0 && nameScratchFile(&file, &err)) {
        raise(std::abs(signal));
      } else if (signal == 0 && script.open(1, 5, &err) && raise(SIGTERM) == 0 &&
                 script.writePicture("a.jpg", 0, &err) && script.finish(1, &err)) {
        script.close(&err);
      }
      _exit(9);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, signal < 0 ? 9 : 2) << signal;
    EXPECT_EQ(readFile("err"), signal < 0 ? "" : "mkani: stopped by a signal\n");
    EXPECT_EQ(entryCount(".mkani-"), signal < 0 ? 1 : 0);  // left by a run that went on
    EXPECT_EQ(readFile("main.ani"), signal == 0 ? expectedScript({"a.jpg"}) : "old");
  }
}

TEST(MkaniPosixTest, WorksWhereverPicturesLiveKeepingOwnerAndAccessList) {
  ScopedTempDir dir;
  const bool root = geteuid() == 0;
  const std::string fuse = "test -w /dev/fuse && command -v fusermount && command -v ";
  const std::string script = "cd p && touch a.jpg && echo old >main.ani";
  const std::string inNamespace = "exec unshare -m sh -c \"mount ";
  const struct {
    std::string place, need, before, run, where;  // `need` fails: skipped; `run` starts in p
    bool nobody = false;
    std::string after = ":";
  } cases[] = {
      {"a FAT card", fuse + "fusefat && mkfs.vfat -C fat.img 8192",
       "mkdir p && fusefat -o rw+ fat.img p && " + script, ":", "p/main.ani", false,
       "fusermount -u p"},
      {"a NAS share refusing owners and modes", fuse + "bindfs",
       "mkdir q p && cd q && touch a.jpg && echo old >main.ani && chmod 666 main.ani && chown "
       "65534 main.ani && cd .. && bindfs --chown-deny --chmod-deny q p",
       ":", "p/main.ani", false, "fusermount -u p"},
      {"a sticky shared folder", ":",
       "mkdir p && chmod 1777 p && " + script + " && chmod 666 main.ani", ":", "p/main.ani", true},
      {"a rootless container", "unshare -U -r true",
       "mkdir p && " + script + " && chmod 666 main.ani && chown 12345 main.ani",
       "exec unshare -U -r " MKANI_EXE, "p/main.ani"},
      {"a script bound into a container", "unshare -m true",
       "mkdir p && " + script + " && mv main.ani ../bound && touch main.ani",
       inNamespace + "--bind ../bound main.ani && exec " MKANI_EXE "\"", "bound"},
      {"a folder out of inodes", "unshare -m true", "mkdir p",
       inNamespace + "-t tmpfs -o nr_inodes=4 t . && cd . && touch a.jpg c && echo old >main.ani "
                     "&& " MKANI_EXE " && ! ls -a | grep mkani && cp main.ani ../got\"",
       "got"},
      {"an append-only folder", "mkdir t && chattr +a t && chattr -a t && rmdir t",
       "mkdir p && " + script + " && cd .. && chattr +a p", ":", "p/main.ani", false,
       "chattr -a p"},
      {"a folder with a default access list", "command -v setfacl",
       "mkdir p && setfacl -d -m u:65534:rwx p && " + script + " && setfacl -b main.ani", ":",
       "p/main.ani"},
  };
  for (const auto& c : cases) {
    if (!root || std::system(("(" + c.need + ") >/dev/null 2>&1").c_str()) != 0) {
      std::cout << "skipped " << c.place << (root ? ": not here" : ": needs root") << "\n";
      continue;
    }
    ASSERT_EQ(std::system(("(" + c.before + ") >/dev/null 2>&1").c_str()), 0) << c.place;
    struct stat was = {}, now;
    stat(c.where.c_str(), &was);
    EXPECT_EQ(runToolAfter("cd p; " + c.run, c.nobody), "0||") << c.place;
    EXPECT_EQ(readFile(c.where), expectedScript({"a.jpg"})) << c.place;
    EXPECT_EQ(stat(c.where.c_str(), &now) == 0 ? now.st_uid : 1, was.st_uid) << c.place;
    EXPECT_EQ(getxattr(c.where.c_str(), "system.posix_acl_access", nullptr, 0), -1) << c.place;
    EXPECT_NE(std::system("ls -a p | grep -q mkani"), 0) << c.place;  // nothing left behind
    std::system(("(" + c.after + "; rm -rf p bound got) 2>&1").c_str());
  }
}

}  // namespace
}  // namespace mkani
