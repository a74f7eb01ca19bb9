// The POSIX file system on real files, for what the output relies on but a
// whole run seldom shows: which names are descriptors already held, how a
// path is followed and which last components are refused, a FIFO that is not
// waited for, and clean-ups that remove only the file they were given.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <span>
#include <string>

#include "app/FileSystem.h"
#include "app/OutputFile.h"
#include "support/TempDir.h"

namespace {

FileSystem& files = systemFileSystem();

// Every way of naming a descriptor the program holds leads to it, links
// included; a name in another directory, or one that is no number, does not.
TEST(PosixFileSystem, SpellingsOfHeldDescriptors) {
  TempDir dir;
  std::filesystem::create_symlink("/dev//stdout", pathOf(dir / "log"));
  std::filesystem::create_symlink("log", pathOf(dir / "chain"));
  const std::string ownDescriptors = "/proc/" + std::to_string(::getpid()) + "/fd/";
  const struct {
    std::string path;
    int held;  // -1: not a descriptor's name
  } cases[] = {
      {"/dev/stdin", 0},
      {"/dev//stdout", 1},
      {"/dev/./stderr", 2},
      {"/dev/fd/10", 10},
      {"/proc/thread-self/fd/1", 1},
      {ownDescriptors + "123456789", 123456789},
      {dir / "chain", 1},
      {"/dev/fd/1x", -1},
      {"/dev/fd/01", -1},
      {"/dev/fd/1234567890", -1},
      {"/dev/stdout/", -1},
      {dir / "10", -1},
  };
  for (const auto& c : cases) {
    PathBuffer name;
    int held = -2;
    const int directory = files.openDirectoryOf(c.path.c_str(), name, held);
    EXPECT_EQ(held, c.held) << c.path;
    if (c.held >= 0) {
      EXPECT_LT(directory, 0) << c.path;
    }
    if (directory >= 0) files.close(directory);
  }
}

TEST(PosixFileSystem, TheDirectoryOfTheLastComponent) {
  TempDir dir;
  writeFile(dir / "probe", {1});
  std::filesystem::create_directory(pathOf(dir / "sub"));
  std::filesystem::create_symlink("sub/target", pathOf(dir / "link"));
  std::filesystem::create_symlink("nowhere", pathOf(dir / "dangling"));
  writeFile(dir / "sub/target", {2});
  PathBuffer name;
  int held = -1;
  const int directory = files.openDirectoryOf((dir / std::string(255, 'n')).c_str(), name, held);
  ASSERT_GE(directory, 0);
  EXPECT_EQ(std::string(name.c_str()), std::string(255, 'n'));
  FileIdentity identity;
  EXPECT_TRUE(files.identifyAt(directory, "probe", identity));
  EXPECT_FALSE(files.identifyAt(directory, "missing", identity));
  EXPECT_TRUE(files.close(directory));
  // A link in the last component is followed from the directory that holds it.
  const int linked = files.openDirectoryOf((dir / "link").c_str(), name, held);
  ASSERT_GE(linked, 0);
  EXPECT_STREQ(name.c_str(), "target");
  EXPECT_TRUE(files.identifyAt(linked, "target", identity));
  files.close(linked);
  for (const std::string& path :
       {dir / "", dir / ".", dir / "..", dir / std::string(256, 'n'), dir / "dangling"}) {
    EXPECT_LT(files.openDirectoryOf(path.c_str(), name, held), 0) << path;
  }
}

// The program may be started in a directory whose path is too long for any
// system call to take whole: its output there is still replaced.
TEST(PosixFileSystem, AWorkingDirectoryDeeperThanAnyPath) {
  TempDir dir;
  const int start = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  const std::string step(200, 'd');
  constexpr int depth = 25;  // 5000 bytes and more, beyond PATH_MAX
  for (int i = 0; i < depth; ++i) {
    ASSERT_EQ(::mkdir(step.c_str(), 0700), 0);
    ASSERT_EQ(::chdir(step.c_str()), 0);
  }
  const std::uint8_t tape[] = {1, 2, 3};
  const std::span<const std::uint8_t> pieces[] = {tape};
  for (int run = 0; run < 2; ++run) {
    OutputFile output(files, systemProcess());
    EXPECT_TRUE(output.open("out.tap") && output.store(pieces)) << "run " << run;
  }
  struct stat status {};
  EXPECT_EQ(::stat("out.tap", &status), 0);
  EXPECT_EQ(status.st_size, 3);
  ::unlink("out.tap");
  for (int i = 0; i < depth; ++i) {
    ASSERT_EQ(::chdir(".."), 0);
    ::rmdir(step.c_str());
  }
  EXPECT_EQ(::fchdir(start), 0);
  ::close(start);
}

// Without waiting, a FIFO without a reader is not opened at all; a regular
// file is, and writes to it block as usual.
TEST(PosixFileSystem, OpeningWithoutWaiting) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  writeFile(dir / "file", {});
  PathBuffer name;
  int held = -1;
  const int directory = files.openDirectoryOf((dir / "file").c_str(), name, held);
  EXPECT_LT(files.openExisting(directory, "fifo", false), 0);
  const int file = files.openExisting(directory, "file", false);
  ASSERT_GE(file, 0);
  EXPECT_EQ(::fcntl(file, F_GETFL) & O_NONBLOCK, 0);
  files.close(file);
  files.close(directory);
}

// A temporary file is its owner's alone; one that cannot take its place is
// removed, and a clean-up never removes a file that took its name.
TEST(PosixFileSystem, TemporaryFilesAndTheirCleanUp) {
  TempDir dir;
  PathBuffer name;
  int held = -1;
  const int directory = files.openDirectoryOf((dir / "out.tap").c_str(), name, held);
  bool refused = false;
  const int temporary = files.createTemporary(directory, name, refused);
  ASSERT_GE(temporary, 0);
  FileIdentity identity;
  ASSERT_TRUE(files.identify(temporary, identity));
  EXPECT_EQ(identity.permissions, 0600u);
  const std::string temporaryPath = dir / name.c_str();

  writeFile(dir / "other", {1});
  EXPECT_FALSE(files.removeIfSame(directory, "other", identity));
  EXPECT_TRUE(fileExists(dir / "other"));

  // A failure other than a refusal (here: not a directory) is not taken for one.
  PathBuffer unused;
  EXPECT_LT(files.createTemporary(temporary, unused, refused), 0);
  EXPECT_FALSE(refused);

  // Discarded: closed and gone.
  PathBuffer discardedName;
  const int discarded = files.createTemporary(directory, discardedName, refused);
  FileIdentity discardedIdentity;
  ASSERT_TRUE(files.identify(discarded, discardedIdentity));
  files.discardTemporary(discarded, directory, discardedName.c_str(), discardedIdentity);
  EXPECT_EQ(::fcntl(discarded, F_GETFD), -1);
  EXPECT_FALSE(fileExists(dir / discardedName.c_str()));

  std::filesystem::create_directories(pathOf(dir / "taken/full"));
  EXPECT_EQ(files.putInPlace(temporary, directory, name.c_str(), identity, "taken"),
            Placing::Failed);
  EXPECT_FALSE(fileExists(temporaryPath));
  EXPECT_TRUE(fileExists(dir / "other"));
  files.close(directory);
}

}  // namespace
