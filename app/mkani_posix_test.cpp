// The mkani executable where POSIX systems can fail it or its surroundings turn hostile.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <ostream>

#include "app/console.h"
#include "test/test_util.h"

namespace mkani {

// What main.ani is: its bytes, "<missing>", or what stands there instead of a file.
std::string mainAni() {
  struct stat st = {};
  if (lstat("main.ani", &st) != 0) return "<missing>";
  if (S_ISLNK(st.st_mode)) {
    return readFile("main.ani") == "<missing>" ? "<link to nothing>" : "<link to a file>";
  }
  return S_ISREG(st.st_mode) ? readFile("main.ani") : "<not a file>";
}

// A turn the surroundings take before mkani runs, over an old script "old\n": its name in the
// test's; the shell commands that take it, with mkani run as the user nobody after them when
// `asNobody` and the tests run as root; what the run ends in; what main.ani then is (kNewScript
// for the script that mkani writes); whether the turn starves or hides what the sanitizers'
// runtime needs (address space, descriptors, /proc); and a shell command that must succeed for
// the turn to be taken here.
struct Hostile {
  const char* id;
  const char* setup;
  bool asNobody;
  std::string outcome;
  std::string script;
  bool starvesSanitizers = false;
  const char* need = ":";
};

const std::string kNewScript = "<the new script>";
const std::string kCannot = "2||mkani: cannot write main.ani: ";
const std::string kRefused = kCannot + "it is ";
// Makes the pipe p, held open for reading on descriptor 3 while a stream is sent into it;
// closing 3 then ("3<&-") leaves it with no reader.
#define MKANI_PIPE "mkfifo p; exec 3<>p; exec "

const Hostile kHostile[] = {
    {"FolderClosedToWriting", "rm main.ani; chmod 555 .", true, kCannot + "Permission denied\n",
     "<missing>"},
    {"ReadOnlyScript", "chmod 777 .; chmod 444 main.ani", true, kCannot + "Permission denied\n",
     "old\n"},
    {"WriteOnlyScript", "chmod 777 .; chmod 222 main.ani", true, "0||", kNewScript},
    // Rewritten in place.
    {"WritableScriptInAClosedFolder", "chmod 666 main.ani; chmod 555 .", true, "0||", kNewScript},
    {"UnreadableFolder", "chmod 311 .", true,
     "2||mkani: cannot read the current directory: Permission denied\n", "old\n"},
    {"LittleMemory", "ulimit -v 30000", false, "2||mkani: out of memory\n", "old\n", true},
    // Without /proc, as in a chroot, the new script has a name from the start, and the unnamed
    // file tried first is given back.
    {"NoProc",
     "exec unshare -m sh -c \"mount -t tmpfs t /proc && exec 3>&- && ulimit -n 5 && exec " MKANI_EXE
     "\"",
     false, "0||", kNewScript, true, "unshare -m mount -t tmpfs t /proc"},
    // Without /dev, a closed stream is given the root folder.
    {"NoDevAndStandardErrorClosed",
     "exec unshare -m sh -c \"mount -t tmpfs t /dev && exec 2>&- && exec " MKANI_EXE "\"", false,
     "0||", kNewScript, true, "unshare -m mount -t tmpfs t /dev"},
    // A root of its own that holds mkani and its libraries, no /dev/null, and that nobody may
    // read: a closed standard input can be given no stand-in.
    {"NoStandInForAClosedStream",
     "mkdir r && cp " MKANI_EXE " r/mkani && for l in $(ldd " MKANI_EXE
     " | grep -o \"/[^ ]*\"); do mkdir -p r$(dirname $l) && cp $l r$l; done && chmod 711 r && "
     "exec chroot --userspec=65534:65534 r /mkani <&-",
     false, "2||mkani: cannot ready the standard streams\n", "old\n", true, "test $(id -u) = 0"},
    {"FewDescriptors", "exec 3>&-; ulimit -n 4", false, kCannot + "Too many open files\n", "old\n",
     true},
    // Past the file size limit nothing is written, whole or in place.
    {"FileSizeLimit", "ulimit -f 9", false, kCannot + "File too large\n", "old\n"},
    {"FileSizeLimitInPlace", "chmod 666 main.ani; chmod 555 .; ulimit -f 9", true,
     kCannot + "File too large\n", "old\n"},
    // No death by SIGPIPE.
    {"StandardErrorABrokenPipe", "chmod 444 main.ani; " MKANI_PIPE "2>p 3<&-", true, "2||",
     "old\n"},
    {"StandardOutputABrokenPipe", MKANI_PIPE ">p 3<&-; exec " MKANI_EXE " --version", false,
     "2||mkani: cannot write to standard output: Broken pipe\n", "old\n"},
    {"StandardOutputClosed", "exec >&-; exec " MKANI_EXE " --version", false, "0||", "old\n"},
    // Run with standard error closed, the message of a name skipped as the script is written
    // (it comes last) goes nowhere, least of all into the script; no old script is open then
    // to take it.
    {"StandardErrorClosed", "rm main.ani; touch \"z\nb.jpg\"; exec 2>&-", false, "2||", kNewScript},
    // Refused before anything is created, and nothing is written through.
    {"ScriptALink", "rm main.ani; ln -s gone.jpg main.ani", false, kRefused + "a symbolic link\n",
     "<link to nothing>"},
    {"ScriptAPipe", "rm main.ani; mkfifo main.ani", false, kRefused + "not a regular file\n",
     "<not a file>"},
    {"ScriptADevice", "rm main.ani; mknod main.ani c 1 3", false, kRefused + "not a regular file\n",
     "<not a file>", false, "mknod device c 1 3 && rm device"},
    {"ScriptAFolder", "rm main.ani; mkdir main.ani", false, kRefused + "a directory\n",
     "<not a file>"},
};

// Shows a turn by the commands that take it, in the test's name too.
void PrintTo(const Hostile& hostile, std::ostream* out) {
  *out << hostile.setup;
}

// A folder of pictures whose names outgrow the first block of names and whose script is past
// 50 KiB; a link to nothing is a picture as any other entry. Made with no umask, the first
// script is still writable by its owner alone.
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
    ASSERT_EQ(runToolAfter("umask 0"), "0||");
    struct stat st = {};
    ASSERT_EQ(stat("main.ani", &st), 0);
    EXPECT_EQ(st.st_mode, S_IFREG | 0644u);
    fresh = readFile("main.ani");
    writeFile("main.ani", "old\n");
  }

  ScopedTempDir dir;
  std::string fresh;
};

TEST_P(HostileSurroundings, EndTheRunInOneLineAndStatusTwoOrAreOvercome) {
  const Hostile& hostile = GetParam();
#if defined(MKANI_SANITIZE)
  if (hostile.starvesSanitizers)
    GTEST_SKIP() << "the sanitizers' runtime needs more address space, descriptors or /proc";
#endif
  if (std::system((std::string(hostile.need) + " >/dev/null 2>&1").c_str()) != 0)
    GTEST_SKIP() << "needs what is not here: " << hostile.need;
  EXPECT_EQ(runToolAfter(hostile.setup, hostile.asNobody), hostile.outcome);
  chmod("main.ani", 0644);  // a write-only script, for the test to read
  EXPECT_EQ(mainAni(), hostile.script == kNewScript ? fresh : hostile.script);
  EXPECT_EQ(entryCount(".mkani-"), 0) << "a scratch file was left";
}

INSTANTIATE_TEST_SUITE_P(Turns, HostileSurroundings, testing::ValuesIn(kHostile),
                         [](const testing::TestParamInfo<Hostile>& info) { return info.param.id; });

using Step = DiskOutputFile::Step;

TEST(MkaniPosixTest, AStopEndsTheRunLeavingTheOldScriptOrOnceARewriteInPlaceIsWhole) {
  ScopedTempDir dir;
  const std::string stopped = "mkani: stopped by a signal\n";
  const std::string fresh = expectedScript({"a.jpg"});
  // The signal; whether it is ignored from the start, as nohup ignores SIGHUP; the step it comes
  // at and whether the script is rewritten in place; then the status, what the run said and
  // what main.ani holds. Replaced whole, the new script has its name by the time it is closed.
  const struct {
    int signal;
    bool ignored;
    Step step;
    bool inPlace;
    int status;
    std::string said;
    std::string script;
  } cases[] = {
      {SIGINT, false, Step::kClose, false, 2, stopped, "old"},
      {SIGTERM, false, Step::kClose, false, 2, stopped, "old"},
      {SIGHUP, false, Step::kClose, false, 2, stopped, "old"},
      {SIGQUIT, false, Step::kClose, false, 2, stopped, "old"},
      {SIGHUP, true, Step::kClose, false, 0, "", fresh},
      {SIGTERM, false, Step::kLock, true, 2, stopped, "old"},
      {SIGTERM, false, Step::kWrite, true, 2, stopped, fresh},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.signal << (c.ignored ? " ignored" : "") << " at step "
                                    << static_cast<int>(c.step));
    writeFile("main.ani", "old");
    const pid_t child = fork();
    if (child == 0) {
      dup2(open("err", O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
      if (c.ignored) std::signal(c.signal, SIG_IGN);
      FaultyFile file({{Step::kCreate, c.inPlace ? EACCES : 0}});
      file.before = [&c](Step now) {
        if (now == c.step) raise(c.signal);
      };
      _exit(prepareProcess() && writeScript({"a.jpg"}, &file).empty() ? 0 : 9);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.status);
    EXPECT_EQ(readFile("err"), c.said);
    EXPECT_EQ(readFile("main.ani"), c.script);
    EXPECT_EQ(entryCount(".mkani-"), 0) << "a scratch file was left";
  }
}

// The tools of a place's commands: `root` succeeds for root; `fuse TOOL` where FUSE and TOOL
// are at hand; `mk` makes the folder p with a picture and an old script and goes into it; `go`
// runs mkani there as $AS and checks that it said nothing and wrote the new script ($WANT, else
// want), that the owner and the access list stayed and that nothing was left; `fat ARGS` makes
// a FAT image with mkfs.vfat ARGS and mounts it on p; `many` adds 3000 pictures and an old
// script of 300000 bytes; `fill SOURCE` fills the disk from /dev/SOURCE; `full` runs mkani and
// checks that it failed for want of room.
const std::string kPlaceTools =
    "PATH=$PATH:/sbin:/usr/sbin; root() { test $(id -u) = 0; }; fuse() { root && test -w "
    "/dev/fuse && command -v fusermount $1; }; mk() { mkdir -p p && cd p && touch a.jpg && echo "
    "old >main.ani; }; acl() { getfacl -c main.ani 2>&-; }; go() { o=$(stat -c %u main.ani) && "
    "a=$(acl) && $AS " MKANI_EXE
    " >../out 2>&1 && ! test -s ../out && cmp main.ani ../${WANT:-want} && test $(stat -c %u "
    "main.ani) = $o && test \"$(acl)\" = \"$a\" && ! ls -a | grep mkani; }; fat() { mkfs.vfat "
    "\"$@\" && mkdir p && fusefat -o rw+ fat.img p; }; many() { for k in $(seq 1000 3999); do : "
    ">frame-$k.jpg; done && head -c 300000 /dev/zero >main.ani; }; fill() { cat /dev/$1 >fill "
    "2>&- || :; }; full() { ! " MKANI_EXE
    " 2>../out && test \"$(cat ../out)\" = \"mkani: cannot write main.ani: No space left on "
    "device\"; }; nobody='setpriv --reuid=65534 --regid=65534 --clear-groups'; ";

// A place where pictures live: its name in the test's, the shell commands that must succeed for
// it to be made here, and those that make it and run mkani there.
struct Place {
  const char* id;
  const char* need;
  const char* run;
};

const Place kPlaces[] = {
    // A small card is FAT16, a larger one FAT32.
    {"Fat16Card", "fuse fusefat && command -v mkfs.vfat", "fat -F 16 -C fat.img 9000 && mk && go"},
    {"Fat32Card", "fuse fusefat && command -v mkfs.vfat", "fat -F 32 -C fat.img 40000 && mk && go"},
    {"FirstScriptOnAFat32Card", "fuse fusefat && command -v mkfs.vfat",
     "fat -F 32 -C fat.img 40000 && cd p && touch a.jpg && " MKANI_EXE " && cmp main.ani ../want"},
    // Rewritten over the old script's blocks.
    {"FullXfsDisk", "root && command -v mkfs.xfs",
     "truncate -s 300M x.img && mkfs.xfs -q x.img && mkdir p && mount -o loop x.img p && mk && "
     "many && fill zero && WANT=want-many go"},
    {"ExfatCardOnALoopDevice", "fuse mount.exfat-fuse && command -v mkfs.exfat",
     "truncate -s 64M ex.img && mkfs.exfat ex.img && d=$(losetup -f --show ex.img) && mkdir p && "
     "mount.exfat-fuse $d p && mk && { go; s=$?; cd ..; fusermount -u p; losetup -d $d; exit $s; "
     "}"},
    {"NtfsDiskThroughNtfs3g", "fuse ntfs-3g && command -v mkntfs",
     "truncate -s 64M nt.img && mkntfs -q -F -f nt.img && mkdir p && ntfs-3g nt.img p && mk && "
     "go"},
    // The old blocks are no room: the old script stays.
    {"FullBtrfsDisk", "root && command -v mkfs.btrfs",
     "truncate -s 200M x.img && mkfs.btrfs -q x.img && mkdir p && mount -o loop x.img p && mk && "
     "many && fill urandom && full && cmp main.ani /dev/zero 2>&1 | grep -q EOF"},
    {"FullFat16Card", "fuse fusefat && command -v mkfs.vfat",
     "fat -F 16 -C fat.img 9000 && mk && rm main.ani && head -c 30000 /dev/zero >main.ani && "
     "fill zero && go"},
    {"NasShareRefusingOwnersAndModes", "fuse bindfs",
     "mk && chown 9 main.ani && cd .. && bindfs --chown-deny --chmod-deny p p && cd p && go"},
    {"StickySharedFolder", "root", "mk && chmod 666 main.ani && chmod 1777 . && AS=$nobody go"},
    {"RootlessContainer", "root && unshare -U -r true",
     "mk && chmod 666 main.ani && chown 9 main.ani && AS=\"unshare -U -r\" go"},
    {"ScriptBoundIntoAContainer", "root",
     "mk && mv main.ani ../b && touch main.ani && mount --bind ../b main.ani && go"},
    {"AppendOnlyFolderWithASetUserIdScript", "root && chattr -a .",
     "mk && chown 65534:65534 . main.ani && chmod 4644 main.ani && chattr +a . && AS=$nobody go "
     "&& test $(stat -c %a main.ani) = 4644"},
    // A first script is not even begun.
    {"FullAppendOnlyFolder", "root && chattr -a .",
     "mkdir p && mount -t tmpfs -o size=1M t p && cd p && touch a.jpg && fill zero && chattr +a . "
     "&& full && ! test -e main.ani"},
    {"FolderWithADefaultAccessList", "command -v setfacl",
     "mk && setfacl -d -m u:65534:rwx . && setfacl -b main.ani && go"},
    // Replaced whole by its owner, it keeps the mode with its set-ID bits, the group and the
    // attributes the owner may set, not one only root may set; a name linked to the old script
    // keeps it.
    {"ScriptOfItsRunnerWithAttributes", "root && command -v setfattr",
     "mk && chown 65534:100 main.ani && chmod 6770 main.ani && ln main.ani partner && chmod 777 . "
     "&& setfacl -m u:9:r main.ani && setfattr -n user.note -v kept main.ani && setfattr -n "
     "user.empty main.ani && setfattr -n security.mkani -v x main.ani && AS=\"setpriv "
     "--reuid=65534 --regid=65534 --groups=100\" go && test $(stat -c %a main.ani) = 6770 && test "
     "$(stat -c %g main.ani) = "
     "100 && test $(getfattr --only-values -n user.note main.ani) = kept && getfattr -n "
     "user.empty main.ani && ! getfattr -n security.mkani main.ani && test $(cat partner) = old"},
};

// Shows a place by its name.
void PrintTo(const Place& place, std::ostream* out) {
  *out << place.id;
}

class WhereverPicturesLive : public testing::TestWithParam<Place> {};

TEST_P(WhereverPicturesLive, MkaniWritesTheScriptKeepingWhatTheOldOneHad) {
  const Place& place = GetParam();
  ScopedTempDir dir;
  writeFile("need", kPlaceTools + place.need);
  if (std::system("sh need >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "needs what is not here: " << place.need;
  writeFile("want", expectedScript({"a.jpg"}));
  std::vector<std::string> many = {"a.jpg"};
  for (int k = 1000; k < 4000; ++k) many.push_back("frame-" + std::to_string(k) + ".jpg");
  writeFile("want-many", expectedScript(many));
  writeFile("place", kPlaceTools + place.run);
  // Each place is made in a mount namespace of its own, where one can be.
  const std::string shell = geteuid() == 0 ? "unshare -m sh" : "sh";
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
