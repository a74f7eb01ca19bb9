// The POSIX file system on real files, for what the output relies on but a
// whole run seldom shows: which names are descriptors already held, which
// last components are refused, a FIFO that is not waited for, and clean-ups
// that remove only the file they were given.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "app/FileSystem.h"
#include "support/TempDir.h"

namespace {

FileSystem& files = systemFileSystem();

TEST(PosixFileSystem, NamesOfHeldDescriptors) {
  const struct {
    const char* path;
    int held;  // -1: not a descriptor's name
  } cases[] = {
      {"/dev/stdin", 0},
      {"/dev/stdout", 1},
      {"/dev/stderr", 2},
      {"/dev/fd/10", 10},
      {"/proc/self/fd/123456789", 123456789},
      {"/dev/fd/", -1},
      {"/dev/fd/1x", -1},
      {"/dev/fd/x1", -1},
      {"/dev/fd/1234567890", -1},
      {"/dev/stdout/", -1},
      {"/proc/self/fd", -1},
      {"dev/fd/1", -1},
  };
  for (const auto& c : cases) {
    int held = -2;
    const bool named = files.namesDescriptor(c.path, held);
    EXPECT_EQ(named ? held : -1, c.held) << c.path;
  }
}

TEST(PosixFileSystem, TheDirectoryOfTheLastComponent) {
  TempDir dir;
  writeFile(dir / "probe", {1});
  PathBuffer name;
  const int directory = files.openDirectoryOf((dir / std::string(255, 'n')).c_str(), name);
  ASSERT_GE(directory, 0);
  EXPECT_EQ(std::string(name.c_str()), std::string(255, 'n'));
  EXPECT_TRUE(files.existsAt(directory, "probe"));
  EXPECT_FALSE(files.existsAt(directory, "missing"));
  EXPECT_TRUE(files.close(directory));
  for (const std::string& path : {dir / "", dir / ".", dir / "..", dir / std::string(256, 'n')}) {
    EXPECT_LT(files.openDirectoryOf(path.c_str(), name), 0) << path;
  }
}

// Without waiting, a FIFO without a reader is not opened at all; a regular
// file is, and writes to it block as usual.
TEST(PosixFileSystem, OpeningWithoutWaiting) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  writeFile(dir / "file", {});
  PathBuffer name;
  const int directory = files.openDirectoryOf((dir / "file").c_str(), name);
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
  const int directory = files.openDirectoryOf((dir / "out.tap").c_str(), name);
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
