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
#include <iostream>

#include "app/console.h"
#include "script/script_writer.h"
#include "test/test_util.h"
#include "util/scratch_file.h"

namespace mkani {

TEST(MkaniPosixTest, FailuresAndHostileSurroundingsEndInOneLineAndStatusTwo) {
  ScopedTempDir dir;
  // Names long enough to outgrow the first block of names, and a script past 50 KiB; a link to
  // nothing is a picture as any other entry.
  for (int i = 0; i < 6000; ++i) writeFile(std::string(190, 'p') + std::to_string(i) + ".jpg");
  ASSERT_EQ(symlink("nowhere", "gone.jpg"), 0);
  ASSERT_EQ(runToolAfter("umask 0"), "0||");
  const std::string fresh = readFile("main.ani");
  struct stat st = {};
  EXPECT_EQ(stat("main.ani", &st) + st.st_mode, S_IFREG | 0644u);
  const std::string cannot = "2||mkani: cannot write main.ani: ";
  const std::string denied = cannot + "Permission denied\n", refused = cannot + "it is ";
  const std::string pipe = "mkfifo p; exec 3<>p; exec ";  // then a pipe nobody reads: "3<&-"
  const bool root = geteuid() == 0;
  const struct {
    std::string setup;
    bool nobody;
    std::string outcome, script;  // what the run ends in, and what main.ani then holds
    bool needsRoot = false;       // to give files away or make devices
  } cases[] = {
    {"rm main.ani; chmod 555 .", true, denied, "<missing>"},
    {"chmod 777 .; echo old >main.ani; chmod 444 main.ani", true, denied, "old\n"},
    {"chmod 666 main.ani; chmod 555 .", true, "0||", fresh},  // rewritten in place
    {"chmod 311 .", true, "2||mkani: cannot read the current directory: Permission denied\n",
     fresh},
#if !defined(MKANI_SANITIZE)  // the sanitizers need more address space than this, and /proc
    {"chmod 755 .; ulimit -v 30000", false, "2||mkani: out of memory\n", fresh},
    // Without /proc, as in a chroot, the new script has a name from the start, and the unnamed
    // file tried first is given back; without /dev, a closed stream is given the root folder
    // (where a mount namespace can hide them; elsewhere these run as any other case).
    {"chmod 644 main.ani; unshare -m true 2>&- && exec unshare -m sh -c \"mount -t tmpfs t /proc "
     "2>&-; exec 3>&-; ulimit -n 5; exec " MKANI_EXE "\"",
     false, "0||", fresh},
    {"unshare -m true 2>&- && exec unshare -m sh -c \"mount -t tmpfs t /dev && exec 2>&- && "
     "exec " MKANI_EXE "\"",
     false, "0||", fresh},
    // A small folder takes little memory.
    {"mkdir two && cd two && touch a.jpg b.jpg && ulimit -v 8000", false, "0||", ""},
    {"exec 3>&-; ulimit -n 4", false, cannot + "Too many open files\n", fresh},
#endif
    // Past the file size limit nothing is written, whole or in place.
    {"chmod 755 .; echo old >main.ani; ulimit -f 9", false, cannot + "File too large\n", "old\n"},
    {"chmod 666 main.ani; chmod 555 .; ulimit -f 9", true, cannot + "File too large\n", "old\n"},
    // No death by SIGPIPE.
    {"chmod 755 .; chmod 444 main.ani; " + pipe + "2>p 3<&-", true, "2||", "old\n"},
    {"rm p; " + pipe + ">p 3<&-; exec " MKANI_EXE " --version", false,
     "2||mkani: cannot write to standard output: Broken pipe\n", "old\n"},
    {"rm p; exec >&-; exec " MKANI_EXE " --version", false, "0||", "old\n"},
    // Refused before anything is created, and nothing is written through.
    {"rm main.ani; ln -s gone.jpg main.ani", false, refused + "a symbolic link\n", "<missing>"},
    {"rm main.ani; mkfifo main.ani", false, refused + "not a regular file\n", ""},
    {"rm main.ani; mknod main.ani c 1 3", false, refused + "not a regular file\n", "", true},
    {"rm main.ani; mkdir main.ani", false, refused + "a directory\n", ""},
    // Replaced whole by its owner, a script keeps its mode, set-user-ID and set-group-ID too, its
    // owner, its access list and the extended attributes the owner may set (not those root set); a
    // name linked to it keeps the old bytes.
    {"rmdir main.ani; echo old >main.ani; chown 65534:100 main.ani; chmod 6770 main.ani; ln "
     "main.ani partner; chmod 777 .; setfacl -m u:9:r main.ani; setfattr -n user.note -v kept "
     "main.ani; setfattr -n user.empty main.ani; setfattr -n security.mkani -v x main.ani",
     true, "0||", fresh, true},
  };
  for (const auto& c : cases) {
    if (c.needsRoot && !root) continue;
    EXPECT_EQ(runToolAfter(c.setup, c.nobody), c.outcome) << c.setup;
    EXPECT_TRUE(c.script.empty() || readFile("main.ani") == c.script) << c.setup;
    EXPECT_EQ(entryCount(".mkani-"), 0) << c.setup;  // no scratch file left
  }
  // Run with standard error closed, the message of a skipped name goes nowhere, least of all
  // into the script.
  writeFile("a\nb.jpg");
  ASSERT_EQ(runToolAfter("rmdir main.ani 2>&-; exec 2>&-", true), "2||");
  EXPECT_EQ(readFile("main.ani"), fresh);
  if (!root) return void(std::cout << "skipped owners, devices, root's attributes: needs root\n");
  char kept[8] = {};
  EXPECT_EQ(stat("main.ani", &st) + st.st_mode + st.st_uid + st.st_gid +
                getxattr("main.ani", "user.note", kept, 8) +
                getxattr("main.ani", "user.empty", kept, 0) +
                getxattr("main.ani", "security.mkani", nullptr, 0) +
                (getxattr("main.ani", "system.posix_acl_access", nullptr, 0) > 0),
            (S_IFREG | 06770u) + 65534u + 100u + 4);
  EXPECT_EQ(std::string(kept) + readFile("partner"), "keptold\n");
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
