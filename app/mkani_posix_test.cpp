// The mkani executable where POSIX systems can fail it or its surroundings turn hostile.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <ostream>

#include "app/console.h"
#include "script/script_writer.h"
#include "test/test_util.h"
#include "util/scratch_file.h"

namespace mkani {

// What main.ani is: its bytes, "<missing>", or what stands there instead of a file.
std::string mainAni() {
  struct stat st = {};
  if (lstat("main.ani", &st) != 0) return "<missing>";
  if (S_ISLNK(st.st_mode)) {
    return readFile("main.ani") == "<missing>" ? "<link to nothing>" : "<link to a file>";
  }
  if (S_ISFIFO(st.st_mode)) return "<pipe>";
  if (S_ISCHR(st.st_mode)) return "<device>";
  if (S_ISDIR(st.st_mode)) return "<folder>";
  return readFile("main.ani");
}

// Stands for the script that mkani writes for the folder, in a table made before it is known.
const char kNewScript[] = "<the new script>";

// A turn the surroundings take before mkani runs: its name in the test's; the shell commands
// that take it, with mkani run as the user nobody after them when `asNobody` and the tests run
// as root; what the run ends in; what main.ani then is; whether the turn starves or hides what
// the sanitizers' runtime needs (address space, descriptors, /proc); and a shell command that
// must succeed for the turn to be taken here.
enum Sanitizers { kSanitizersRun, kSanitizersStarve };
struct Hostile {
  const char* id;
  const char* setup;
  bool asNobody;
  std::string outcome;
  const char* script;
  Sanitizers sanitizers = kSanitizersRun;
  const char* need = ":";
};

const std::string kCannot = "2||mkani: cannot write main.ani: ";
const std::string kDenied = kCannot + "Permission denied\n";
const std::string kRefused = kCannot + "it is ";
// Makes the pipe p, held open for reading on descriptor 3 while a stream is sent into it;
// closing 3 then ("3<&-") leaves it with no reader.
#define MKANI_PIPE "mkfifo p; exec 3<>p; exec "

const Hostile kHostile[] = {
    {"FolderClosedToWriting", "rm main.ani; chmod 555 .", true, kDenied, "<missing>"},
    {"ReadOnlyScript", "chmod 777 .; echo old >main.ani; chmod 444 main.ani", true, kDenied,
     "old\n"},
    {"WritableScriptInAClosedFolder", "echo old >main.ani; chmod 666 main.ani; chmod 555 .", true,
     "0||", kNewScript},  // rewritten in place
    {"UnreadableFolder", "echo old >main.ani; chmod 311 .", true,
     "2||mkani: cannot read the current directory: Permission denied\n", "old\n"},
    {"LittleMemory", "echo old >main.ani; ulimit -v 30000", false, "2||mkani: out of memory\n",
     "old\n", kSanitizersStarve},
    // Without /proc, as in a chroot, the new script has a name from the start, and the unnamed
    // file tried first is given back.
    {"NoProc",
     "echo old >main.ani; exec unshare -m sh -c \"mount -t tmpfs t /proc && exec 3>&- && ulimit "
     "-n 5 && exec " MKANI_EXE "\"",
     false, "0||", kNewScript, kSanitizersStarve, "unshare -m mount -t tmpfs t /proc"},
    // Without /dev, a closed stream is given the root folder.
    {"NoDevAndStandardErrorClosed",
     "echo old >main.ani; exec unshare -m sh -c \"mount -t tmpfs t /dev && exec 2>&- && "
     "exec " MKANI_EXE "\"",
     false, "0||", kNewScript, kSanitizersStarve, "unshare -m mount -t tmpfs t /dev"},
    {"FewDescriptors", "echo old >main.ani; exec 3>&-; ulimit -n 4", false,
     kCannot + "Too many open files\n", "old\n", kSanitizersStarve},
    // Past the file size limit nothing is written, whole or in place.
    {"FileSizeLimit", "echo old >main.ani; ulimit -f 9", false, kCannot + "File too large\n",
     "old\n"},
    {"FileSizeLimitInPlace", "echo old >main.ani; chmod 666 main.ani; chmod 555 .; ulimit -f 9",
     true, kCannot + "File too large\n", "old\n"},
    // No death by SIGPIPE.
    {"StandardErrorABrokenPipe", "echo old >main.ani; chmod 444 main.ani; " MKANI_PIPE "2>p 3<&-",
     true, "2||", "old\n"},
    {"StandardOutputABrokenPipe",
     "echo old >main.ani; " MKANI_PIPE ">p 3<&-; exec " MKANI_EXE " --version", false,
     "2||mkani: cannot write to standard output: Broken pipe\n", "old\n"},
    {"StandardOutputClosed", "echo old >main.ani; exec >&-; exec " MKANI_EXE " --version", false,
     "0||", "old\n"},
    // Run with standard error closed, the message of a name skipped as the script is written
    // (it comes last) goes nowhere, least of all into the script; no old script is open then
    // to take it.
    {"StandardErrorClosed", "rm main.ani; touch \"z\nb.jpg\"; exec 2>&-", false, "2||", kNewScript},
    // Refused before anything is created, and nothing is written through.
    {"ScriptALink", "rm main.ani; ln -s gone.jpg main.ani", false, kRefused + "a symbolic link\n",
     "<link to nothing>"},
    {"ScriptAPipe", "rm main.ani; mkfifo main.ani", false, kRefused + "not a regular file\n",
     "<pipe>"},
    {"ScriptADevice", "rm main.ani; mknod main.ani c 1 3", false, kRefused + "not a regular file\n",
     "<device>", kSanitizersRun, "mknod device c 1 3 && rm device"},
    {"ScriptAFolder", "rm main.ani; mkdir main.ani", false, kRefused + "a directory\n", "<folder>"},
};

// Shows a turn by the commands that take it, in the test's name too.
void PrintTo(const Hostile& hostile, std::ostream* out) {
  *out << hostile.setup;
}

// A folder of pictures whose names outgrow the first block of names and whose script is past
// 50 KiB; a link to nothing is a picture as any other entry. main.ani holds their new script.
class HostileSurroundings : public testing::TestWithParam<Hostile> {
 protected:
  void SetUp() override {
    // One file under every name: making as many files takes seconds on some disks.
    const std::string first = std::string(190, 'p') + "0.jpg";
    writeFile(first);
    for (int i = 1; i < 6000; ++i) {
      ASSERT_EQ(link(first.c_str(), (std::string(190, 'p') + std::to_string(i) + ".jpg").c_str()),
                0);
    }
    ASSERT_EQ(symlink("nowhere", "gone.jpg"), 0);
    ASSERT_EQ(runTool(), "0||");
    fresh = readFile("main.ani");
  }

  ScopedTempDir dir;
  std::string fresh;
};

TEST_P(HostileSurroundings, EndTheRunInOneLineAndStatusTwoOrAreOvercome) {
  const Hostile& hostile = GetParam();
#if defined(MKANI_SANITIZE)
  if (hostile.sanitizers == kSanitizersStarve)
    GTEST_SKIP() << "the sanitizers' runtime needs more address space, descriptors or /proc";
#endif
  if (std::system((std::string(hostile.need) + " >/dev/null 2>&1").c_str()) != 0)
    GTEST_SKIP() << "needs what is not here: " << hostile.need;
  EXPECT_EQ(runToolAfter(hostile.setup, hostile.asNobody), hostile.outcome);
  const bool renewed = std::string(hostile.script) == kNewScript;
  EXPECT_EQ(mainAni(), renewed ? fresh : hostile.script);
  EXPECT_EQ(entryCount(".mkani-"), 0) << "a scratch file was left";
}

INSTANTIATE_TEST_SUITE_P(Turns, HostileSurroundings, testing::ValuesIn(kHostile),
                         [](const testing::TestParamInfo<Hostile>& info) { return info.param.id; });

TEST(MkaniPosixTest, AScriptItsRunnerMayWriteButNotReadIsReplaced) {
  ScopedTempDir dir;
  writeFile("a.jpg");
  EXPECT_EQ(runToolAfter("chmod 777 .; echo old >main.ani; chmod 222 main.ani", true), "0||");
  chmod("main.ani", 0644);  // for the test to read it
  EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"}));
}

TEST(MkaniPosixTest, ANewScriptIsWritableByItsOwnerAloneWhateverTheUmask) {
  ScopedTempDir dir;
  writeFile("a.jpg");
  ASSERT_EQ(runToolAfter("umask 0"), "0||");
  struct stat st = {};
  ASSERT_EQ(stat("main.ani", &st), 0);
  EXPECT_EQ(st.st_mode, S_IFREG | 0644u);
}

TEST(MkaniPosixTest, ASmallFolderTakesLittleMemory) {
#if defined(MKANI_SANITIZE)
  GTEST_SKIP() << "the sanitizers' runtime needs more address space than this";
#endif
  ScopedTempDir dir;
  writeFile("a.jpg");
  writeFile("b.jpg");
  EXPECT_EQ(runToolAfter("ulimit -v 8000"), "0||");
  EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg", "b.jpg"}));
}

// The value of main.ani's extended attribute `name`, or "<none>".
std::string attribute(const char* name) {
  char value[64];
  const ssize_t size = getxattr("main.ani", name, value, sizeof value);
  return size < 0 ? "<none>" : std::string(value, size);
}

TEST(MkaniPosixTest, AScriptReplacedWholeByItsOwnerKeepsWhatTheOwnerMaySet) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: gives the script away, sets root's attribute";
  if (std::system("command -v setfacl >/dev/null && command -v setfattr >/dev/null") != 0)
    GTEST_SKIP() << "needs setfacl and setfattr";
  ScopedTempDir dir;
  writeFile("a.jpg");
  ASSERT_EQ(runToolAfter("echo old >main.ani; chown 65534:100 main.ani; chmod 6770 main.ani; ln "
                         "main.ani partner; chmod 777 .; setfacl -m u:9:r main.ani; setfattr -n "
                         "user.note -v kept main.ani; setfattr -n user.empty main.ani; setfattr -n "
                         "security.mkani -v x main.ani",
                         true),
            "0||");
  EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"}));
  EXPECT_EQ(entryCount(".mkani-"), 0) << "a scratch file was left";
  struct stat st = {};
  ASSERT_EQ(stat("main.ani", &st), 0);
  EXPECT_EQ(st.st_mode, S_IFREG | 06770u) << "the mode, set-user-ID and set-group-ID";
  EXPECT_EQ(st.st_uid, 65534u) << "the owner";
  EXPECT_EQ(st.st_gid, 100u) << "the group";
  EXPECT_GT(getxattr("main.ani", "system.posix_acl_access", nullptr, 0), 0) << "the access list";
  EXPECT_EQ(attribute("user.note"), "kept") << "an attribute the owner set";
  EXPECT_EQ(attribute("user.empty"), "") << "an attribute the owner set, with no value";
  EXPECT_EQ(attribute("security.mkani"), "<none>") << "an attribute only root may set";
  EXPECT_EQ(readFile("partner"), "old\n") << "a name linked to the old script";
}

TEST(MkaniPosixTest, StandardStreamsThatCannotBeReadiedEndTheRunInOneLine) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: chroot";
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizers' runtime needs /proc, which the chroot lacks";
#endif
  ScopedTempDir dir;
  // A root of its own that holds mkani and its libraries, no /dev/null, and that nobody may
  // read: a closed standard input can be given no stand-in.
  ASSERT_EQ(std::system("mkdir r && cp " MKANI_EXE " r/mkani && for l in $(ldd " MKANI_EXE
                        " | grep -o '/[^ ]*'); do mkdir -p r$(dirname $l) && cp $l r$l; done && "
                        "chmod 711 r"),
            0);
  const int status = std::system("chroot --userspec=65534:65534 r /mkani <&- >out 2>err");
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_EQ(readFile("err"), "mkani: cannot ready the standard streams\n");
}

// What a child process that runs `body` with standard error going to the file "err" ends in:
// its exit status (-1 when a signal ended it) and what it said.
std::string inChild(const std::function<void()>& body) {
  const pid_t child = fork();
  if (child == 0) {
    dup2(open("err", O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
    body();
    _exit(9);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + "|" + readFile("err");
}

TEST(MkaniPosixTest, AStopRemovesTheScratchFileAndLeavesTheOldScript) {
  ScopedTempDir dir;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    writeFile("main.ani", "old");
    const std::string ended = inChild([signal] {
      ScratchFile file;
      std::string err;
      // On Linux the file has no name until it is given one.
      if (prepareProcess() && createScratchFile(false, &file, &err) &&
          nameScratchFile(&file, &err)) {
        raise(signal);
      }
    });
    EXPECT_EQ(ended, "2|mkani: stopped by a signal\n") << signal;
    EXPECT_EQ(entryCount(".mkani-"), 0) << signal;
    EXPECT_EQ(readFile("main.ani"), "old") << signal;
  }
}

TEST(MkaniPosixTest, ASignalIgnoredFromTheStartStaysIgnored) {
  ScopedTempDir dir;
  // As nohup ignores SIGHUP.
  const std::string ended = inChild([] {
    std::signal(SIGHUP, SIG_IGN);
    ScratchFile file;
    std::string err;
    if (prepareProcess() && createScratchFile(false, &file, &err) && nameScratchFile(&file, &err))
      raise(SIGHUP);
  });
  EXPECT_EQ(ended, "9|");  // the run went on
}

// Rewrites main.ani in place with the script for a.jpg, raising SIGTERM as the first byte is
// written in place when `duringRewrite`, else as soon as the file is open.
void rewriteStopped(bool duringRewrite) {
  struct Stopped : FaultyFile {
    using FaultyFile::FaultyFile;
    int fault(Step step) override {
      if (step == Step::kWrite && duringRewrite) raise(SIGTERM);
      return FaultyFile::fault(step);
    }
    bool duringRewrite;
  } inPlace({{DiskOutputFile::Step::kCreate, EACCES}});
  inPlace.duringRewrite = duringRewrite;
  ScriptWriter script(&inPlace);
  std::string err;
  if (!prepareProcess() || !script.open(1, 5, &err)) return;
  if (!duringRewrite) raise(SIGTERM);
  if (script.writePicture("a.jpg", 0, &err) && script.finish(1, &err)) script.close(&err);
}

TEST(MkaniPosixTest, AStopDuringARewriteInPlaceWaitsForItToEnd) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  EXPECT_EQ(inChild([] { rewriteStopped(true); }), "2|mkani: stopped by a signal\n");
  EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"}));
}

TEST(MkaniPosixTest, AStopBeforeTheRewriteInPlaceBeginsLeavesTheOldScriptWhole) {
  ScopedTempDir dir;
  writeFile("main.ani", "old");
  EXPECT_EQ(inChild([] { rewriteStopped(false); }), "2|mkani: stopped by a signal\n");
  EXPECT_EQ(readFile("main.ani"), "old");
}

// A place where pictures live: its name in the test's, what it is, the shell commands that
// must succeed for it to be made here, how it is made and mkani run there, and whether that
// takes root (mounts, other owners).
struct Place {
  const char* id;
  const char* what;
  const char* need;
  const char* run;
  bool needsRoot;
};

// `mk` makes the folder p with a picture and an old script; `go` runs mkani there as $AS and
// checks that it said nothing and wrote the new script ($WANT, else want), that the owner and
// the access list stayed and that nothing was left.
const std::string kPlaceTools =
    "PATH=$PATH:/sbin:/usr/sbin; mk() { mkdir -p p && cd p && touch a.jpg && echo old >main.ani; "
    "}; acl() { getfacl -c main.ani 2>&-; }; go() { o=$(stat -c %u main.ani) && a=$(acl) && "
    "$AS " MKANI_EXE
    " >../out 2>&1 && ! test -s ../out && cmp main.ani ../${WANT:-want} && test $(stat -c %u "
    "main.ani) = $o && test \"$(acl)\" = \"$a\" && ! ls -a | grep mkani; }; fuse() { test -w "
    "/dev/fuse && command -v fusermount $1; }; nobody='setpriv --reuid=65534 --regid=65534 "
    "--clear-groups'; ";

const Place kPlaces[] = {
    {"FatCard", "a FAT card", "fuse fusefat && command -v mkfs.vfat",
     "mkfs.vfat -C fat.img 8192 && mkdir p && fusefat -o rw+ fat.img p && mk && go", true},
    {"Fat32Card", "a FAT32 card", "fuse fusefat && command -v mkfs.vfat",
     "mkfs.vfat -F 32 -C fat.img 40000 && mkdir p && fusefat -o rw+ fat.img p && mk && go", true},
    {"FirstScriptOnAFat32Card", "a first script on a FAT32 card",
     "fuse fusefat && command -v mkfs.vfat",
     "mkfs.vfat -F 32 -C fat.img 40000 && mkdir p && fusefat -o rw+ fat.img p && cd p && touch "
     "a.jpg && " MKANI_EXE " && cmp main.ani ../want",
     true},
    {"FullXfsDisk", "a full XFS disk, rewritten over the old script's blocks",
     "command -v mkfs.xfs",
     "truncate -s 300M x.img && mkfs.xfs -q x.img && mkdir p && mount -o loop x.img p && mk && "
     "for k in $(seq 1000 3999); do : >frame-$k.jpg; done && head -c 300000 /dev/zero >main.ani "
     "&& { cat /dev/zero >fill 2>&- || :; } && WANT=want-many go",
     true},
    {"ExfatCard", "an exFAT card on a loop device",
     "fuse mount.exfat-fuse && command -v mkfs.exfat",
     "truncate -s 64M ex.img && mkfs.exfat ex.img && d=$(losetup -f --show ex.img) && mkdir p && "
     "mount.exfat-fuse $d p && mk && { go; s=$?; cd ..; fusermount -u p; losetup -d $d; exit $s; "
     "}",
     true},
    {"NtfsDisk", "an NTFS disk through ntfs-3g", "fuse ntfs-3g && command -v mkntfs",
     "truncate -s 64M nt.img && mkntfs -q -F -f nt.img && mkdir p && ntfs-3g nt.img p && mk && "
     "go",
     true},
    {"FullBtrfsDisk", "a full btrfs disk, where the old blocks are no room: the old script stays",
     "command -v mkfs.btrfs",
     "truncate -s 200M x.img && mkfs.btrfs -q x.img && mkdir p && mount -o loop x.img p && mk && "
     "for k in $(seq 1000 3999); do : >frame-$k.jpg; done && head -c 300000 /dev/zero >main.ani "
     "&& { cat /dev/urandom >fill 2>&- || :; } && ! " MKANI_EXE " 2>../out && test \"$(cat "
     "../out)\" = \"mkani: cannot write main.ani: No space left on device\" && cmp main.ani "
     "/dev/zero 2>&1 | grep -q EOF",
     true},
    {"FullFatCard", "a full FAT card", "fuse fusefat && command -v mkfs.vfat",
     "mkfs.vfat -C fat.img 8192 && mkdir p && fusefat -o rw+ fat.img p && mk && rm main.ani && "
     "head -c 30000 /dev/zero >main.ani && { cat /dev/zero >fill 2>&- || :; } && go",
     true},
    {"NasShare", "a NAS share refusing owners and modes", "fuse bindfs",
     "mk && chown 9 main.ani && cd .. && bindfs --chown-deny --chmod-deny p p && cd p && go", true},
    {"StickySharedFolder", "a sticky shared folder", ":",
     "mk && chmod 666 main.ani && chmod 1777 . && AS=$nobody go", true},
    {"RootlessContainer", "a rootless container", "unshare -U -r true",
     "mk && chmod 666 main.ani && chown 9 main.ani && AS=\"unshare -U -r\" go", true},
    {"ScriptBoundIntoAContainer", "a script bound into a container", ":",
     "mk && mv main.ani ../b && touch main.ani && mount --bind ../b main.ani && go", true},
    {"AppendOnlyFolder", "an append-only folder, a set-user-ID script", "chattr -a .",
     "mk && chown 65534:65534 . main.ani && chmod 4644 main.ani && chattr +a . && AS=$nobody "
     "go && test $(stat -c %a main.ani) = 4644",
     true},
    {"FullAppendOnlyFolder", "a full append-only folder, where a first script is not even begun",
     "chattr -a .",
     "mkdir p && mount -t tmpfs -o size=1M t p && cd p && touch a.jpg && { cat /dev/zero >fill "
     "2>&- || :; "
     "} && chattr +a . && ! " MKANI_EXE " 2>../out && test \"$(cat ../out)\" = \"mkani: "
     "cannot write main.ani: No space left on device\" && ! test -e main.ani",
     true},
    {"FolderWithADefaultAccessList", "a folder with a default access list", "command -v setfacl",
     "mk && setfacl -d -m u:65534:rwx . && setfacl -b main.ani && go", false},
};

// Shows a place by what it is, in the test's name too.
void PrintTo(const Place& place, std::ostream* out) {
  *out << place.what;
}

class WhereverPicturesLive : public testing::TestWithParam<Place> {};

TEST_P(WhereverPicturesLive, MkaniWritesTheScriptKeepingWhatTheOldOneHad) {
  const Place& place = GetParam();
  if (place.needsRoot && geteuid() != 0) GTEST_SKIP() << place.what << ": needs root";
  ScopedTempDir dir;
  writeFile("need", kPlaceTools + place.need);
  if (std::system("sh need >/dev/null 2>&1") != 0)
    GTEST_SKIP() << place.what << ": needs what is not here: " << place.need;
  writeFile("want", expectedScript({"a.jpg"}));
  std::vector<std::string> many = {"a.jpg"};
  for (int k = 1000; k < 4000; ++k) many.push_back("frame-" + std::to_string(k) + ".jpg");
  writeFile("want-many", expectedScript(many));
  writeFile("place", kPlaceTools + place.run);
  // Each place that mounts is made in a mount namespace of its own.
  const std::string shell = place.needsRoot ? "unshare -m sh" : "sh";
  EXPECT_EQ(std::system((shell + " place >said 2>&1").c_str()), 0) << readFile("said");
  std::system("chattr -a p 2>&-");
}

INSTANTIATE_TEST_SUITE_P(Places, WhereverPicturesLive, testing::ValuesIn(kPlaces),
                         [](const testing::TestParamInfo<Place>& info) { return info.param.id; });

// The descriptor that holds a read lease on main.ani, for the handler that lets it go.
int leased = -1;

TEST(MkaniPosixTest, AScriptUnderAReadLeaseIsReplacedOnceTheHolderLetsGo) {
  ScopedTempDir dir;
  writeFile("a.jpg");
  writeFile("main.ani", "old");
  leased = open("main.ani", O_RDONLY | O_CLOEXEC);
  if (fcntl(leased, F_SETLEASE, F_RDLCK) != 0) {
    close(leased);
    GTEST_SKIP() << "no read leases in " << dir.path;
  }
  // The holder, as a file server does, lets go when asked to.
  struct sigaction was, onBreak = {};
  onBreak.sa_handler = [](int) { fcntl(leased, F_SETLEASE, F_UNLCK); };
  sigaction(SIGIO, &onBreak, &was);
  EXPECT_EQ(runTool(), "0||");
  sigaction(SIGIO, &was, nullptr);
  close(leased);
  EXPECT_EQ(readFile("main.ani"), expectedScript({"a.jpg"}));
}

}  // namespace mkani
