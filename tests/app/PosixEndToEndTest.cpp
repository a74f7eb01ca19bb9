// End-to-end runs that only POSIX can set up: pipes and devices, /proc,
// permission bits and users, links, umask, file-size limits, signals at an
// exact system call, concurrent runs and closed standard descriptors.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <thread>
#include <utility>

#include "EndToEnd.h"

namespace {

namespace fs = std::filesystem;

const Bytes newData(2000, 0xAB);
// 2002 = 07D2 bytes: flag, data, checksum; an even count of equal bytes XORs to 00.
const Bytes newTape = join({{0xD2, 0x07, 0xFF}, newData, {0xFF}});
constexpr std::uint64_t smallerThanTheTape = 1024;

// Only the superuser can run the program as another user, for whom
// permission bits bind.
bool canRunAsAnotherUser() { return ::geteuid() == 0; }

// A run that could not be traced fails in CI, where it must not go unseen,
// and is skipped elsewhere.
#define SKIP_OR_FAIL_UNTRACED()                                                    \
  do {                                                                             \
    if (std::getenv("CI") != nullptr) FAIL() << "the program could not be traced"; \
    GTEST_SKIP() << "the system does not let the test trace the program";          \
  } while (false)

// What qemu-user, which runs a cross build's program, cannot do. A test that
// needs it says so and skips there; natively it runs.
#define SKIP_UNDER_EMULATION(why)                                                \
  do {                                                                           \
    if (programEmulator != nullptr) GTEST_SKIP() << "not under qemu-user: " why; \
  } while (false)
#define NO_TRACER "it has no ptrace, so the program cannot be traced"
#define NO_CLOSED_DESCRIPTORS                                                                     \
  "a run with closed descriptors starts the program directly (qemu's own files would take them)," \
  " which a foreign program survives only where binfmt_misc hands it to qemu"

class PosixEndToEnd : public EndToEnd {
 protected:
  ProgramResult runAsNobody(const Arguments& arguments, ProgramRunOptions options = {}) {
    options.asUnprivilegedUser = true;
    return run(arguments, options, copyForEveryone());
  }
  // The build tree may be closed to other users, so nobody runs a copy.
  std::string copyForEveryone() {
    fs::permissions(dir.path(), mode(0755));
    const std::string copy = dir / "reelmake";
    fs::copy_file(REELMAKE_BINARY, copy, fs::copy_options::overwrite_existing);
    fs::permissions(copy, mode(0755));
    return copy;
  }

  void clear() {
    for (const auto& entry : fs::directory_iterator(dir.path())) fs::remove_all(entry.path());
  }
  // True while the program has written part of the new tape, into the file
  // named holder or into a temporary file beside it.
  bool partialTapeBeside(const std::string& holder) {
    const fs::path path = dir.path() / holder;
    for (const auto& entry : fs::directory_iterator(path.parent_path())) {
      if (entry.path() == path || entry.path().filename().string().starts_with(".reelmake-")) {
        const std::uintmax_t size = fs::file_size(entry.path());
        if (size > 0 && size < newTape.size()) return true;
      }
    }
    return false;
  }
  // The whole new tape is under the holder's name, and no temporary file.
  bool tapeInPlace(const std::string& holder) {
    return fileExists(dir / holder) && fs::file_size(dir / holder) == newTape.size() &&
           leftovers().empty();
  }
  // Nobody else may open a tape while it is written.
  void expectPrivateTemporaries(const std::string& holder) {
    const fs::path path = dir.path() / holder;
    for (const auto& entry : fs::directory_iterator(path.parent_path())) {
      if (entry.path().filename().string().starts_with(".reelmake-")) {
        EXPECT_EQ(fs::status(entry.path()).permissions(), mode(0600));
      }
    }
  }
  // The output has just come into being: a temporary file is there, or the
  // file written in place has been emptied.
  bool outputBegunBeside(const std::string& holder) {
    const fs::path path = dir.path() / holder;
    for (const auto& entry : fs::directory_iterator(path.parent_path())) {
      if (entry.path().filename().string().starts_with(".reelmake-") ||
          (entry.path() == path && fs::file_size(path) == 0)) {
        return true;
      }
    }
    return false;
  }
};

TEST_F(PosixEndToEnd, FilesThatPermissionsCloseAreLeftAlone) {
  if (!canRunAsAnotherUser()) GTEST_SKIP() << "needs the superuser, to run as nobody";
  input({1});
  input({2}, "secret.bin");
  fs::permissions(dir / "secret.bin", mode(0));
  fs::create_directory(dir / "locked");
  fs::permissions(dir / "locked", mode(0755));
  // A directory where anyone may create files, so that replacing the tape
  // would be possible, but the tape itself is not to be written.
  fs::create_directory(dir / "open");
  fs::permissions(dir / "open", mode(0777));
  input(earlierTape, "open/kept.tap");
  fs::permissions(dir / "open/kept.tap", mode(0444));
  const struct {
    Arguments arguments;
    const char* message;
  } cases[] = {
      {{"secret.bin", "out.tap"}, errorOpen},
      {{"in.bin", "locked/out.tap"}, errorCreate},
      {{"in.bin", "open/kept.tap"}, errorCreate},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    expectRun(runAsNobody(c.arguments), 1, c.message);
  }
  EXPECT_FALSE(exists("out.tap"));
  EXPECT_EQ(tape("open/kept.tap"), earlierTape);
  EXPECT_FALSE(exists("locked/out.tap"));
  EXPECT_EQ(leftovers(), std::vector<std::string>{});

  // A drop box: nobody may add files to it but not list it.
  fs::create_directory(dir / "drop");
  fs::permissions(dir / "drop", mode(0733));
  expectRun(runAsNobody({"in.bin", "drop/out.tap"}), 0, "");
  EXPECT_EQ(tape("drop/out.tap"), (Bytes{0x03, 0x00, 0xFF, 0x01, 0xFE}));
}

TEST_F(PosixEndToEnd, SpecialFilesAreWrittenInPlaceAndNeverRemoved) {
  input(Bytes(65533, 1));
  expectRun(run({"-b", "in.bin", "/dev/full", "n"}), 1, errorWrite);
  EXPECT_TRUE(fs::is_character_file("/dev/full"));

  // The tape is larger than a pipe holds, so the reader that goes away
  // without reading makes a write fail (with SIGPIPE, which must not kill).
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread reader([&] { ::close(::open(fifo.c_str(), O_RDONLY)); });
  const ProgramResult result = run({"in.bin", "fifo"});
  reader.join();
  expectRun(result, 1, errorWrite);
  EXPECT_TRUE(fs::is_fifo(fifo));
}

// Opens a FIFO for writing once a reader is there, giving up after a while
// so that a program that never opens it fails the test instead of hanging it.
int openFifoForWriting(const std::string& fifo) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) return fd;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

TEST_F(PosixEndToEnd, InputsOfUnknownSizeAreReadToTheirEnd) {
  // Files under /proc report a size of 0 whatever they hold.
  const std::string ostype = "/proc/sys/kernel/ostype";
  if (fileExists(ostype)) {
    const Bytes content = readFile(ostype);
    ASSERT_FALSE(content.empty());
    expectRun(run({"-r", ostype, "out.tap"}), 0, "");
    EXPECT_EQ(tape(), join({{static_cast<std::uint8_t>(content.size()), 0x00}, content}));
  }

  ProgramRunOptions piped;
  piped.input = std::string("\x01\x02\x03", 3);
  expectRun(run({"/dev/stdin", "out.tap"}, piped), 0, "");
  EXPECT_EQ(tape(), (Bytes{0x05, 0x00, 0xFF, 0x01, 0x02, 0x03, 0xFF}));
  piped.input = std::string(65535, 'x');
  expectRun(run({"-r", "/dev/stdin", "out.tap"}, piped), 0, "");
  EXPECT_EQ(tape(), join({{0xFF, 0xFF}, Bytes(65535, 'x')}));
  fs::remove(dir / "out.tap");
  piped.input = std::string(65534, 'x');
  expectRun(run({"-c", "/dev/stdin", "out.tap", "n", "0"}, piped), 1, errorTooLong);
  EXPECT_FALSE(exists("out.tap"));

  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    const int fd = openFifoForWriting(fifo);
    if (fd >= 0) {
      EXPECT_EQ(::write(fd, "\x01\x02\x03", 3), 3);
      ::close(fd);
    }
  });
  const ProgramResult result = run({"-r", "fifo", "out.tap"});
  writer.join();
  expectRun(result, 0, "");
  EXPECT_EQ(tape(), (Bytes{0x03, 0x00, 0x01, 0x02, 0x03}));
}

TEST_F(PosixEndToEnd, NeitherAFifoNorASymbolicLinkHidesTheSameFile) {
  // A FIFO is refused before it is opened, which would wait for a writer.
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  expectRun(run({"fifo", "fifo"}), 1, errorSame);

  input({1, 2, 3});
  fs::create_symlink("in.bin", dir / "link.tap");
  expectRun(run({"in.bin", "link.tap"}), 1, errorSame);
  EXPECT_EQ(tape("in.bin"), (Bytes{1, 2, 3}));

  // A dangling link may be meant for a file elsewhere: it is not replaced.
  fs::create_symlink("nowhere/out.tap", dir / "dangling.tap");
  expectRun(run({"in.bin", "dangling.tap"}), 1, errorCreate);
  EXPECT_TRUE(fs::is_symlink(dir / "dangling.tap"));
}

// The kinds of output; all but a new one hold an earlier tape.
enum class Output { New, Existing, Symlinked, HardLinked, InLockedDirectory };

struct OutputCase {
  Output kind;
  const char* path;    // given to the program
  const char* holder;  // the file the path finally names
  fs::perms mode;      // the holder's, before (if it exists) and after a success
  bool inPlace;        // written in place, not replaced by a new file
  // What the holder holds after a failed or interrupted run (none: absent).
  std::optional<Bytes> afterFailure;
  const char* otherName;  // another name of the holder, or null
};

const OutputCase outputCases[] = {
    // Created with 0666 less the umask, 002 in these runs.
    {Output::New, "out.tap", "out.tap", mode(0664), false, std::nullopt, nullptr},
    {Output::Existing, "out.tap", "out.tap", mode(0605), false, earlierTape, nullptr},
    // The tape goes where the link points, and the link stays a link.
    {Output::Symlinked, "out.tap", "real/target.tap", mode(0600), false, earlierTape, nullptr},
    // Written in place so that both names see the tape; a partial tape is
    // emptied and its output name removed.
    {Output::HardLinked, "out.tap", "out.tap", mode(0644), true, std::nullopt, "other.tap"},
    // nobody may write the file but not create one beside it, nor remove it.
    {Output::InLockedDirectory, "locked/out.tap", "locked/out.tap", mode(0666), true, Bytes{},
     nullptr},
};

class OutputKinds : public PosixEndToEnd {
 protected:
  void prepare(const OutputCase& c) {
    clear();
    input(newData);
    if (c.kind == Output::New) return;
    const fs::path holder = dir.path() / c.holder;
    fs::create_directories(holder.parent_path());
    fs::permissions(holder.parent_path(), mode(0755));
    writeFile(holder, earlierTape);
    fs::permissions(holder, c.mode);
    if (c.kind == Output::Symlinked) fs::create_symlink(c.holder, dir / c.path);
    if (c.otherName != nullptr) fs::create_hard_link(holder, dir / c.otherName);
  }
  // Skips what only the superuser can set up.
  bool canTry(const OutputCase& c) {
    return c.kind != Output::InLockedDirectory || canRunAsAnotherUser();
  }
  ProgramResult runOn(const OutputCase& c, ProgramRunOptions options) {
    options.fileCreationMask = 002;
    return c.kind == Output::InLockedDirectory ? runAsNobody({"in.bin", c.path}, options)
                                               : run({"in.bin", c.path}, options);
  }
  void expectNoPartialTape(const OutputCase& c) {
    if (c.afterFailure) {
      EXPECT_EQ(tape(c.holder), *c.afterFailure);
    } else {
      EXPECT_FALSE(exists(c.holder));
    }
    if (c.otherName != nullptr) {
      EXPECT_EQ(tape(c.otherName), Bytes{});
    }
    EXPECT_EQ(fs::is_symlink(dir / c.path), c.kind == Output::Symlinked);
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
  }
};

struct stat statusOf(const std::string& path) {
  struct stat status {};
  ::stat(path.c_str(), &status);
  return status;
}

// The access list of path in the system's own form; empty for none.
std::string accessListOf(const std::string& path) {
  char list[4096];
  const ssize_t length = ::getxattr(path.c_str(), "system.posix_acl_access", list, sizeof list);
  return length > 0 ? std::string(list, static_cast<std::size_t>(length)) : std::string();
}

std::uintmax_t inodeOf(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

TEST_F(OutputKinds, ASuccessLeavesTheWholeTapeWithItsPermissions) {
  for (const OutputCase& c : outputCases) {
    if (!canTry(c)) continue;
    SCOPED_TRACE(c.path + std::string(" naming ") + c.holder);
    prepare(c);
    const std::uintmax_t inode = inodeOf(dir / c.holder);
    expectRun(runOn(c, {}), 0, "");
    EXPECT_EQ(tape(c.holder), newTape);
    EXPECT_EQ(fs::status(dir / c.holder).permissions(), c.mode);
    EXPECT_EQ(inodeOf(dir / c.holder) == inode, c.inPlace);
    if (c.otherName != nullptr) {
      EXPECT_EQ(tape(c.otherName), newTape);
    }
    EXPECT_EQ(fs::is_symlink(dir / c.path), c.kind == Output::Symlinked);
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
  }
}

// A file-size limit (ulimit -f) below the size of the tape makes a write
// fail, with SIGXFSZ, which must not kill.
TEST_F(OutputKinds, AFailedWriteLeavesNoPartialTape) {
  for (const OutputCase& c : outputCases) {
    if (!canTry(c)) continue;
    SCOPED_TRACE(c.path + std::string(" naming ") + c.holder);
    prepare(c);
    ProgramRunOptions limited;
    limited.fileSizeLimit = smallerThanTheTape;
    expectRun(runOn(c, limited), 1, errorWrite);
    expectNoPartialTape(c);
  }
}

// A write to a regular file never blocks, so the program cannot be caught
// mid-write by timing. It is traced instead, and stopped at the first system
// call after the output came into being, after part of the tape is written,
// or (for a replaced output) once the tape is in place; the signal arrives
// right there. Each terminating signal is tried on one kind of output at one
// of the moments.
enum class Moment { Begun, PartWritten, InPlace };

TEST_F(OutputKinds, AnInterruptionLeavesNoPartialTapeAndEndsTheProgramByItsSignal) {
  SKIP_UNDER_EMULATION(NO_TRACER);
  std::vector<int> signals = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGALRM,  SIGUSR1,
                              SIGUSR2, SIGPROF, SIGVTALRM, SIGXCPU, SIGRTMIN, SIGABRT};
  // The signals a fault raises are the memory checker's own business: sent
  // by another process, it does not hand all of them on (SIGSYS even stops
  // it), so they are tried on the program run alone.
  if (std::getenv("REELMAKE_TEST_WRAPPER") == nullptr) {
    signals.insert(signals.end(), {SIGTRAP, SIGSYS, SIGBUS, SIGILL, SIGFPE, SIGSEGV});
  }
  std::size_t next = 0;
  // Round after round of the kinds and moments, until every signal was sent.
  while (next < signals.size()) {
    for (const OutputCase& c : outputCases) {
      for (const Moment moment : {Moment::Begun, Moment::PartWritten, Moment::InPlace}) {
        // In place, a whole tape is still guarded until the file is closed.
        if (!canTry(c) || (moment == Moment::InPlace && c.inPlace)) continue;
        const int signal = signals[next++ % signals.size()];
        SCOPED_TRACE(c.path + std::string(" naming ") + c.holder + ", signal " +
                     std::to_string(signal) + ", moment " +
                     std::to_string(static_cast<int>(moment)));
        prepare(c);
        ProgramRunOptions interrupted;
        interrupted.atEachSystemCall = [&] {
          const bool now = moment == Moment::Begun         ? outputBegunBeside(c.holder)
                           : moment == Moment::PartWritten ? partialTapeBeside(c.holder)
                                                           : tapeInPlace(c.holder);
          if (now) expectPrivateTemporaries(c.holder);
          return now ? signal : 0;
        };
        const ProgramResult result = runOn(c, interrupted);
        if (result.status == cannotTraceStatus) {
          SKIP_OR_FAIL_UNTRACED();
        }
        ASSERT_TRUE(result.signalled) << "the moment never came";
        expectRun(result, 128 + signal, "");
        if (moment == Moment::InPlace) {
          EXPECT_EQ(tape(c.holder), newTape);
          EXPECT_EQ(leftovers(), std::vector<std::string>{});
        } else {
          expectNoPartialTape(c);
        }
        fs::remove(dir / "core");
      }
    }
  }
}

// Whoever started the program had it ignore the signal (nohup, say): it
// stays ignored, and the run ends normally with the whole tape.
TEST_F(PosixEndToEnd, ASignalIgnoredAtTheStartStaysIgnored) {
  SKIP_UNDER_EMULATION(NO_TRACER);
  input(newData);
  input(earlierTape, "out.tap");
  fs::create_hard_link(dir / "out.tap", dir / "other.tap");
  ProgramRunOptions ignoring;
  ignoring.ignoredSignal = SIGTERM;
  ignoring.atEachSystemCall = [&] { return partialTapeBeside("out.tap") ? SIGTERM : 0; };
  const ProgramResult result = run({"in.bin", "out.tap"}, ignoring);
  if (result.status == cannotTraceStatus) {
    SKIP_OR_FAIL_UNTRACED();
  }
  ASSERT_TRUE(result.signalled) << "the moment never came";
  expectRun(result, 0, "");
  EXPECT_EQ(tape("other.tap"), newTape);
}

// Whoever started the program blocked the signal: it stays blocked, and the
// run ends normally.
TEST_F(PosixEndToEnd, ASignalBlockedAtTheStartIsNeverLetThrough) {
  input(newData);
  input(earlierTape, "out.tap");
  ProgramRunOptions blocked;
  blocked.blockedPendingSignal = SIGTERM;
  expectRun(run({"in.bin", "out.tap"}, blocked), 0, "");
  EXPECT_EQ(tape(), newTape);
}

// A second run that comes and goes while the first has written part of its
// tape. Each replacing run writes a temporary file of its own, and the tape
// of the run that ends last is there whole. A file written in place is
// locked: the second run waits for the first, then writes its own tape.
// The moment is found by tracing the first run.
TEST_F(PosixEndToEnd, ARunWhileAnotherWritesTheSameOutputLeavesOneWholeTape) {
  SKIP_UNDER_EMULATION(NO_TRACER);
  // 1002 = 03EA bytes; the second tape is shorter, so that its length field
  // cannot pass for the first one's.
  const Bytes secondTape = join({{0xEA, 0x03, 0xFF}, Bytes(1000, 0x22), {0xFF}});
  for (const Output kind : {Output::New, Output::Existing, Output::HardLinked}) {
    SCOPED_TRACE(static_cast<int>(kind));
    clear();
    input(newData, "first.bin");
    input(Bytes(1000, 0x22), "second.bin");
    if (kind != Output::New) input(earlierTape, "out.tap");
    if (kind == Output::HardLinked) fs::create_hard_link(dir / "out.tap", dir / "other.tap");
    std::optional<ProgramResult> second;
    std::thread secondRun;
    ProgramRunOptions traced;
    traced.atEachSystemCall = [&] {
      if (secondRun.joinable() || !partialTapeBeside("out.tap")) return 0;
      secondRun = std::thread([&] { second = run({"second.bin", "out.tap"}); });
      // Unless it waits for the lock, the second run ends before the first goes on.
      if (kind != Output::HardLinked) secondRun.join();
      return letGo;
    };
    const ProgramResult first = run({"first.bin", "out.tap"}, traced);
    if (first.status == cannotTraceStatus) {
      SKIP_OR_FAIL_UNTRACED();
    }
    if (secondRun.joinable()) secondRun.join();
    ASSERT_TRUE(second.has_value()) << "the first run wrote no partial tape";
    expectRun(*second, 0, "");
    expectRun(first, 0, "");
    EXPECT_EQ(tape(), kind == Output::HardLinked ? secondTape : newTape);
    if (kind == Output::HardLinked) {
      EXPECT_EQ(tape("other.tap"), secondTape);
    }
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
  }
}

// Another user swaps the output's directory for a link elsewhere while the
// tape is written: the tape still goes to the directory that was looked at.
TEST_F(PosixEndToEnd, ADirectorySwappedWhileWritingCannotRedirectTheTape) {
  SKIP_UNDER_EMULATION(NO_TRACER);
  input(newData);
  fs::create_directories(dir / "c/tapes");
  fs::create_directory(dir / "elsewhere");
  input(earlierTape, "c/tapes/out.tap");
  ProgramRunOptions traced;
  traced.atEachSystemCall = [&] {
    if (!partialTapeBeside("c/tapes/out.tap")) return 0;
    fs::rename(dir / "c/tapes", dir / "c/old");
    fs::create_directory_symlink("../elsewhere", dir / "c/tapes");
    return letGo;
  };
  const ProgramResult result = run({"in.bin", "c/tapes/out.tap"}, traced);
  if (result.status == cannotTraceStatus) {
    SKIP_OR_FAIL_UNTRACED();
  }
  expectRun(result, 0, "");
  EXPECT_EQ(tape("c/old/out.tap"), newTape);
  EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
  EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

// The tape goes after what standard output holds, whether it appends or
// not, and alone, so that the stream is a tape: the file behind it is
// neither replaced nor emptied, whatever the name, and a failed run adds
// its error line alone.
TEST_F(PosixEndToEnd, StandardOutputAsTheOutputIsWrittenThrough) {
  input({1, 2, 3});
  fs::create_symlink("/dev/stdout", dir / "log");
  fs::create_symlink("log", dir / "chain");
  for (const auto& [name, append] : {std::pair{"/dev/stdout", false},
                                     {"/dev/fd/1", true},
                                     {"/proc/self/fd/1", false},
                                     {"/dev//stdout", true},
                                     {"/proc/thread-self/fd/1", true},
                                     {"chain", true}}) {
    SCOPED_TRACE(name);
    ProgramRunOptions options;
    options.outputBefore = "header";
    options.appendOutput = append;
    const ProgramResult result = run({"-r", "in.bin", name}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "header" + std::string("\x03\x00\x01\x02\x03", 5));
  }
  input(Bytes(65536, 1), "long.bin");
  const ProgramResult failed = run({"-r", "long.bin", "/dev/stdout"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, errorTooLong);
  EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

// A replaced tape keeps exactly the access list it had, and one that had
// none gets none, whatever the directory hands down.
TEST_F(PosixEndToEnd, AReplacedTapeKeepsItsAccessList) {
  input(newData);
  input(earlierTape, "secret.tap");
  fs::create_directory(dir / "shared");
  input(earlierTape, "shared/plain.tap");
  fs::permissions(dir / "secret.tap", mode(0640));
  const std::string setUp = "setfacl -m u:nobody:r,g::- " + utf8Of(dir / "secret.tap") +
                            " && setfacl -d -m u:nobody:rw " + utf8Of(dir / "shared") +
                            " 2>/dev/null";
  if (std::system(setUp.c_str()) != 0) GTEST_SKIP() << "no access lists here";
  const std::string before = accessListOf(dir / "secret.tap");
  ASSERT_FALSE(before.empty());
  expectRun(run({"in.bin", "secret.tap"}), 0, "");
  expectRun(run({"in.bin", "shared/plain.tap"}), 0, "");
  EXPECT_EQ(tape("secret.tap"), newTape);
  EXPECT_EQ(accessListOf(dir / "secret.tap"), before);
  EXPECT_EQ(accessListOf(dir / "shared/plain.tap"), "");
  EXPECT_EQ(statusOf(dir / "shared/plain.tap").st_mode & 07777, 0644u);
}

// A shared lock that another process keeps (a reader, say) holds an
// in-place run back for about ten seconds, not for ever; the file stays.
TEST_F(PosixEndToEnd, ALockHeldByAnotherProcessEndsTheRunInTime) {
  input(newData);
  input(earlierTape, "out.tap");
  fs::create_hard_link(dir / "out.tap", dir / "other.tap");
  const int reader = ::open((dir / "out.tap").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(reader, LOCK_SH), 0);
  ProgramRunOptions bounded;
  bounded.timeLimitSeconds = 25;
  expectRun(run({"in.bin", "out.tap"}, bounded), 1, errorWrite);
  ::close(reader);
  EXPECT_EQ(tape("other.tap"), earlierTape);
}

// A directory whose files may be added but never renamed or removed: the
// tape is written in place, or made under its own name, and nothing is left
// under another name.
TEST_F(PosixEndToEnd, AnAppendOnlyDirectoryGetsTheTapeUnderItsOwnName) {
  input(newData);
  fs::create_directory(dir / "log");
  input(earlierTape, "log/old.tap");
  const std::string appendOnly = "chattr +a " + utf8Of(dir / "log") + " 2>/dev/null";
  if (std::system(appendOnly.c_str()) != 0) GTEST_SKIP() << "no append-only directories here";
  const ProgramResult existing = run({"in.bin", "log/old.tap"});
  const ProgramResult created = run({"in.bin", "log/new.tap"});
  const std::string undo = "chattr -a " + utf8Of(dir / "log");
  ASSERT_EQ(std::system(undo.c_str()), 0);
  expectRun(existing, 0, "");
  expectRun(created, 0, "");
  EXPECT_EQ(tape("log/old.tap"), newTape);
  EXPECT_EQ(tape("log/new.tap"), newTape);
  EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

// A new file gets the permissions any program's new file gets there: what
// the directory's default access list allows, where it has one, whatever
// the umask. Execute bits never count; with named entries, the mask stands
// for the group.
TEST_F(PosixEndToEnd, ANewTapeGetsTheDirectorysDefaultAccess) {
  ProgramRunOptions masked;
  masked.fileCreationMask = 077;
  for (const auto& [list, probeMode] :
       {std::pair{"u::rw,g::r,o::-", 0640u}, {"u::rwx,u:nobody:r,g::rw,m::rx,o::w", 0642u}}) {
    SCOPED_TRACE(list);
    clear();
    input({1});
    fs::create_directory(dir / "shared");
    const std::string command =
        "setfacl -d -m " + std::string(list) + " " + utf8Of(dir / "shared") + " 2>/dev/null";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "no default access lists here";
    const std::string probe = dir / "shared/probe";
    ::close(::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666));
    expectRun(run({"in.bin", "shared/out.tap"}, masked), 0, "");
    EXPECT_EQ(statusOf(dir / "shared/out.tap").st_mode, statusOf(probe).st_mode);
    EXPECT_EQ(statusOf(probe).st_mode & 0777, probeMode);
  }
}

// Another file put in the place of an output written in place is not
// removed by the clean-up of an interruption; the output itself is emptied.
TEST_F(PosixEndToEnd, AnInterruptionLeavesAFileThatTookTheOutputsName) {
  SKIP_UNDER_EMULATION(NO_TRACER);
  input(newData);
  input(earlierTape, "out.tap");
  fs::create_hard_link(dir / "out.tap", dir / "other.tap");
  input({'u'}, "newcomer");
  ProgramRunOptions traced;
  traced.atEachSystemCall = [&] {
    if (!partialTapeBeside("out.tap")) return 0;
    fs::rename(dir / "newcomer", dir / "out.tap");
    return SIGTERM;
  };
  const ProgramResult result = run({"in.bin", "out.tap"}, traced);
  if (result.status == cannotTraceStatus) {
    SKIP_OR_FAIL_UNTRACED();
  }
  expectRun(result, 128 + SIGTERM, "");
  EXPECT_EQ(tape(), Bytes{'u'});
  EXPECT_EQ(tape("other.tap"), Bytes{});
}

TEST_F(PosixEndToEnd, ANameTooLongIsRefusedBeforeAnythingIsWritten) {
  input({1});
  expectRun(run({"in.bin", std::string(300, 'x')}), 1, errorCreate);
  EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

// A replacement takes the owner and group of the tape it replaces; where it
// cannot (another user's tape, in a directory anyone may write, such as
// /tmp), the tape is written in place, as cp does.
TEST_F(PosixEndToEnd, ATapeKeepsItsOwner) {
  if (!canRunAsAnotherUser()) GTEST_SKIP() << "needs the superuser, to own files as nobody";
  constexpr uid_t nobody = 65534;
  input(newData);
  input(earlierTape, "theirs.tap");
  fs::permissions(dir / "theirs.tap", mode(0664));
  ASSERT_EQ(::chown((dir / "theirs.tap").c_str(), nobody, nobody), 0);
  expectRun(run({"in.bin", "theirs.tap"}), 0, "");
  EXPECT_EQ(tape("theirs.tap"), newTape);
  EXPECT_EQ(statusOf(dir / "theirs.tap").st_uid, nobody);
  EXPECT_EQ(statusOf(dir / "theirs.tap").st_gid, nobody);

  fs::create_directory(dir / "shared");
  fs::permissions(dir / "shared", mode(01777));
  input(earlierTape, "shared/root.tap");
  fs::permissions(dir / "shared/root.tap", mode(0666));
  const ino_t inode = statusOf(dir / "shared/root.tap").st_ino;
  expectRun(runAsNobody({"in.bin", "shared/root.tap"}), 0, "");
  EXPECT_EQ(tape("shared/root.tap"), newTape);
  EXPECT_EQ(statusOf(dir / "shared/root.tap").st_ino, inode);
  EXPECT_EQ(statusOf(dir / "shared/root.tap").st_uid, 0u);
  EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

// A closed standard descriptor must not be left for the first file the
// program opens: whatever goes to that stream would go into the file. The
// null device takes its place, which nobody named: a standard descriptor
// closed at the start is refused as an output and as an input, under any
// name, as cp and cat refuse it.
TEST_F(PosixEndToEnd, ClosedStandardDescriptorsAreNeverWrittenTo) {
  SKIP_UNDER_EMULATION(NO_CLOSED_DESCRIPTORS);
  input({1, 2, 3});
  fs::create_symlink("/dev//stderr", dir / "errors");
  const struct {
    int descriptor;
    Arguments arguments;
    const char* message;
  } cases[] = {
      {0, {"/dev/stdin", "out.tap"}, errorOpen},
      {1, {"in.bin", "/dev/stdout"}, ""},
      {2, {"in.bin", "/proc/self/fd/2"}, errorCreate},
      {2, {"in.bin", "errors"}, errorCreate},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments[1]);
    ProgramRunOptions closed;
    closed.closedDescriptors = {c.descriptor};
    const ProgramResult result =
        c.descriptor == 0 ? run(c.arguments, closed) : runAsNobody(c.arguments, closed);
    EXPECT_EQ(result.status, 1);
    if (c.descriptor != 1) expectRun(result, 1, c.message);
  }
  EXPECT_FALSE(exists("out.tap"));
}

// Another user swaps the directory the program was started in for a link to
// another one, and back, again and again while it runs: the tape still goes
// into the directory it was started in, the one every look went through.
// The swaps come at system calls in patterns of several periods and
// phases, so that any two calls that resolve a name are likely to see
// different directories in one run or another.
TEST_F(PosixEndToEnd, TheDirectoryItStartedInCannotBeSwappedUnderIt) {
  SKIP_UNDER_EMULATION(NO_TRACER);
  fs::create_directories(dir / "c/tapes");
  fs::create_directory(dir / "vault");
  input(newData, "c/tapes/in.bin");
  input(earlierTape, "vault/out.tap");
  bool swapped = false;
  const auto swap = [&](bool wanted) {
    if (wanted == swapped) return;
    if (swapped) {
      fs::remove(dir / "c/tapes");
      fs::rename(dir / "c/old", dir / "c/tapes");
    } else {
      fs::rename(dir / "c/tapes", dir / "c/old");
      fs::create_directory_symlink("../vault", dir / "c/tapes");
    }
    swapped = wanted;
  };
  for (const int period : {1, 2, 3}) {
    for (int phase = 0; phase < period; ++phase) {
      SCOPED_TRACE("period " + std::to_string(period) + ", phase " + std::to_string(phase));
      input(earlierTape, "c/tapes/out.tap");
      int stops = 0;
      ProgramRunOptions traced;
      traced.directory = dir / "c/tapes";
      // Each system call stops the program twice, as it starts and as it ends.
      // Once a tape is in place the program is let go, so that the sanitizers
      // can check it for leaks at its end.
      traced.atEachSystemCall = [&] {
        std::error_code absent;
        const fs::path written = dir.path() / (swapped ? "c/old/out.tap" : "c/tapes/out.tap");
        if (fs::file_size(written, absent) == newTape.size() ||
            fs::file_size(dir.path() / "vault/out.tap", absent) != earlierTape.size()) {
          return letGo;
        }
        const int call = stops++ / 2 + phase;
        swap((call / period) % 2 == 1);
        return 0;
      };
      const ProgramResult result = runProgram(REELMAKE_BINARY, {"in.bin", "out.tap"}, traced);
      swap(false);
      if (result.status == cannotTraceStatus) {
        SKIP_OR_FAIL_UNTRACED();
      }
      expectRun(result, 0, "");
      EXPECT_EQ(tape("c/tapes/out.tap"), newTape);
      EXPECT_EQ(tape("vault/out.tap"), earlierTape);
      EXPECT_EQ(leftovers(), std::vector<std::string>{});
    }
  }
}

}  // namespace
