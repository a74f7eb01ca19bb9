// How an output is put in place, and that a failure at any step leaves what
// was there before, through files in memory that fail on demand. The
// in-memory file system also throws if anything waits while interruptions
// are held, or if a file is created while they pass.
#include "app/OutputFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/Bytes.h"
#include "support/TempDir.h"
#include "support/VirtualFileSystem.h"

namespace {

using Op = VirtualFileSystem::Operation;
using Paths = std::vector<std::string>;

const Bytes oldTape = {'o', 'l', 'd'};
const Bytes newTape = {1, 2, 3, 4, 5};
const Bytes secondPiece = {6, 7};
const Bytes wholeTape = join({newTape, secondPiece});

bool store(OutputFile& output) {
  const std::span<const std::uint8_t> pieces[] = {newTape, secondPiece};
  return output.store(pieces);
}

// Opens path and stores the tape; the result of the first step that fails.
// Between the two, meanwhile runs as another process might.
bool writeNewTape(
    VirtualFileSystem& files, const std::string& path,
    const std::function<void()>& meanwhile = [] {}) {
  OutputFile output(files, files);
  if (!output.open(path.c_str())) return false;
  meanwhile();
  return store(output);
}

void expectCleanFinish(const VirtualFileSystem& files) {
  for (const std::string& path : files.paths()) {
    EXPECT_EQ(path.find(".reelmake-"), std::string::npos) << path << " left behind";
  }
  EXPECT_TRUE(files.allClosed());
  EXPECT_EQ(files.guarded(), nullptr) << "a clean-up is still armed";
  EXPECT_FALSE(files.holdsInterruptions());
}

// Once in place the tape has the old tape's permissions, or a new file's.
TEST(OutputFile, ARegularOutputIsReplacedThroughATemporaryFile) {
  VirtualFileSystem files;
  files.create("out.tap", oldTape);
  files.setPermissions("out.tap", 0604);
  ASSERT_TRUE(writeNewTape(files, "out.tap", [&] {
    EXPECT_NE(files.guarded(), nullptr) << "no clean-up armed while writing";
    EXPECT_EQ(files.paths(), (Paths{".reelmake-1", "out.tap"}));
    EXPECT_EQ(files.contents("out.tap"), oldTape);
    EXPECT_EQ(files.writeOpens("out.tap"), 0u) << "the old tape was opened for writing";
  }));
  EXPECT_EQ(files.contents("out.tap"), wholeTape);
  EXPECT_EQ(files.permissionsOf("out.tap"), 0604u);

  for (const std::uint32_t umask : {027U, 0U}) {
    files.umask = umask;
    const std::string path = "dir/new" + std::to_string(umask) + ".tap";
    ASSERT_TRUE(writeNewTape(files, path));
    EXPECT_EQ(files.contents(path), wholeTape);
    EXPECT_EQ(files.permissionsOf(path), 0666U & ~umask);
  }
  // A lease that its holder gives up within the bound is waited for.
  files.create("leased.tap", oldTape);
  files.busyOpens = 199;
  ASSERT_TRUE(
      writeNewTape(files, "leased.tap", [&] { EXPECT_EQ(files.writeOpens("leased.tap"), 0u); }));
  EXPECT_EQ(files.pauses, 199u);
  // A symbolic link stays a link, to the new tape.
  files.create("dir/target.tap", oldTape);
  files.symlink("dir/target.tap", "link.tap");
  ASSERT_TRUE(writeNewTape(files, "link.tap"));
  EXPECT_EQ(files.contents("dir/target.tap"), wholeTape);
  EXPECT_EQ(files.paths(), (Paths{"dir/new0.tap", "dir/new23.tap", "dir/target.tap", "leased.tap",
                                  "link.tap", "out.tap"}));
  expectCleanFinish(files);
}

// Written in place, under a lock against other runs: a file with other
// names, one whose directory refuses a new file, one whose owner a
// replacement could not keep, and a mount point, which no rename replaces.
TEST(OutputFile, OutputsThatCannotBeReplacedAreWrittenInPlace) {
  struct Case {
    const char* what;
    std::function<void(VirtualFileSystem&)> make;
  };
  const Case cases[] = {
      {"hard link", [](VirtualFileSystem& f) { f.link("d/out.tap", "other.tap"); }},
      {"locked directory", [](VirtualFileSystem& f) { f.makeDirectory("d", false); }},
      {"other owner", [](VirtualFileSystem& f) { f.giveAway("d/out.tap"); }},
      {"owner not kept", [](VirtualFileSystem& f) { f.failOn(Op::CopyOwner); }},
      {"not looked at", [](VirtualFileSystem& f) { f.failOn(Op::LookAt); }},
      {"mount point", [](VirtualFileSystem& f) { f.mountPoints = {"d/out.tap"}; }},
      {"lock taken for a while",
       [](VirtualFileSystem& f) {
         f.link("d/out.tap", "other.tap");
         f.busyLocks = 199;
       }},
  };
  for (const Case& c : cases) {
    VirtualFileSystem files;
    files.create("d/out.tap", oldTape);
    files.setPermissions("d/out.tap", 0640);
    c.make(files);
    ASSERT_TRUE(writeNewTape(files, "d/out.tap", [&] {
      EXPECT_NE(files.guarded(), nullptr) << c.what << ": no clean-up armed while writing";
    })) << c.what;
    EXPECT_EQ(files.contents("d/out.tap"), wholeTape) << c.what;
    EXPECT_EQ(files.permissionsOf("d/out.tap"), 0640u) << c.what;
    EXPECT_EQ(files.calls(Op::Lock), files.pauses + 1) << c.what;
    EXPECT_EQ(files.calls(Op::Truncate), 1u) << c.what;
    expectCleanFinish(files);
  }
}

// A dangling link may name a file the user means to make elsewhere:
// replacing the link itself with a file is not what was asked. A name too
// long for its directory is refused before anything is written.
TEST(OutputFile, OutputsThatMayNotBeWrittenAreRefusedUntouched) {
  VirtualFileSystem files;
  files.create("readonly.tap", oldTape);
  files.setPermissions("readonly.tap", 0444);
  files.makeDirectory("folder");
  files.makeDirectory("locked", false);
  files.symlink("nowhere/target.tap", "link.tap");
  files.longestName = 12;
  for (const std::string path :
       {"readonly.tap", "folder", "locked/new.tap", "link.tap", "new/", "", "1234567890123"}) {
    EXPECT_FALSE(writeNewTape(files, path)) << path;
  }
  EXPECT_EQ(files.contents("readonly.tap"), oldTape);
  EXPECT_EQ(files.paths(), (Paths{"folder", "link.tap", "locked", "readonly.tap"}));
  EXPECT_EQ(files.calls(Op::Write), 0u);
  expectCleanFinish(files);
}

TEST(OutputFile, AFailedReplacementLeavesTheOldTapeOrNoFile) {
  // operationCount: the disk fills up, and a write takes nothing.
  for (const Op failing :
       {Op::OpenDirectory, Op::IdentifyAt, Op::MayWrite, Op::Identify, Op::CreateTemporary,
        Op::Write, Op::SetFinalPermissions, Op::Close, Op::PutInPlace, Op::operationCount}) {
    for (const bool existing : {true, false}) {
      // A new file looks at no old one (and one that cannot be identified is
      // left behind rather than removed by its name alone).
      if (!existing && (failing == Op::MayWrite || failing == Op::Identify)) {
        continue;
      }
      VirtualFileSystem files;
      if (existing) files.create("out.tap", oldTape);
      if (failing == Op::operationCount) {
        files.writeLimit = 3;
      } else {
        files.failOn(failing);
      }
      EXPECT_FALSE(writeNewTape(files, "out.tap")) << failing;
      EXPECT_EQ(files.paths(), existing ? Paths{"out.tap"} : Paths{}) << failing;
      if (existing) {
        EXPECT_EQ(files.contents("out.tap"), oldTape) << failing;
      }
      expectCleanFinish(files);
    }
  }
}

// The output is emptied rather than left with part of a tape; its name goes
// too, but other names stay, and a mount point's name can never go.
TEST(OutputFile, AFailedWriteInPlaceLeavesNoPartialTapeUnderAnyName) {
  struct Case {
    Op failing;
    std::size_t succeeding;
    bool mountPoint;
    Bytes left;
    bool nameKept;
  };
  const Case cases[] = {
      {Op::Write, 1, false, {}, false},
      {Op::Close, 0, false, {}, false},
      {Op::Write, 5, true, {}, true},  // the second round, after the temporary file
      {Op::Truncate, 0, false, oldTape, true},
      {Op::Lock, 0, false, oldTape, true},
      {Op::Identify, 1, false, oldTape, true},
      {Op::OpenExisting, 0, true, oldTape, true},  // a mount point that cannot be reopened
      {Op::Identify, 2, true, oldTape, true},      // or cannot be looked at once reopened
      {Op::Lock, 0, true, oldTape, true},
      {Op::operationCount, 0, false, {}, false},  // dropped without being stored
  };
  for (const Case& c : cases) {
    VirtualFileSystem files;
    files.create("out.tap", oldTape);
    if (c.mountPoint) {
      files.mountPoints = {"out.tap"};
    } else {
      files.link("out.tap", "other.tap");
    }
    files.writeChunk = 2;
    files.failOn(c.failing, c.succeeding);
    if (c.failing == Op::operationCount) {
      OutputFile output(files, files);
      ASSERT_TRUE(output.open("out.tap"));
    } else {
      EXPECT_FALSE(writeNewTape(files, "out.tap")) << c.failing;
    }
    EXPECT_EQ(files.contents(c.mountPoint ? "out.tap" : "other.tap"), c.left) << c.failing;
    EXPECT_EQ(files.holds("out.tap"), c.nameKept) << c.failing;
    expectCleanFinish(files);
  }
}

// The name now leads to another file, which a failing close must not
// empty or remove, and which is not written for a mount point that is gone.
TEST(OutputFile, AFileThatTookTheNameMeanwhileIsLeftAlone) {
  VirtualFileSystem files;
  files.create("out.tap", oldTape);
  files.link("out.tap", "other.tap");
  files.failOn(Op::Close);
  EXPECT_FALSE(writeNewTape(files, "out.tap", [&] { files.create("out.tap", {'u'}); }));
  EXPECT_EQ(files.contents("out.tap"), Bytes{'u'});

  VirtualFileSystem mounted;
  mounted.create("out.tap", oldTape);
  mounted.mountPoints = {"out.tap"};
  mounted.beforeEach = [&](Op operation) {
    if (operation == Op::OpenExisting && mounted.calls(Op::OpenExisting) == 0) {
      mounted.create("out.tap", {'u'});
    }
  };
  EXPECT_FALSE(writeNewTape(mounted, "out.tap"));
  EXPECT_EQ(mounted.contents("out.tap"), Bytes{'u'});
  expectCleanFinish(mounted);
}

// A scanner that opens the new file for a moment is outlasted; one that
// holds on for good fails the run without leaving the temporary file.
TEST(OutputFile, ABusyTargetIsTriedAgainForAWhile) {
  for (const std::size_t busy : {39U, 40U}) {
    VirtualFileSystem files;
    files.create("out.tap", oldTape);
    files.busyPlacings = busy;
    EXPECT_EQ(writeNewTape(files, "out.tap"), busy < 40) << busy;
    EXPECT_EQ(files.pauses, 39u);
    EXPECT_EQ(files.contents("out.tap"), busy < 40 ? wholeTape : oldTape);
    EXPECT_EQ(files.paths(), Paths{"out.tap"});
    expectCleanFinish(files);
  }
}

// Anyone else's lock (a reader's, say), or a lease on a file that is to be
// replaced, keeps the run waiting ten seconds at most; the file is then left
// as it was, and the run says it could not write.
TEST(OutputFile, AFileHeldTooLongFailsTheRunAndIsLeftAlone) {
  for (const bool leased : {false, true}) {
    VirtualFileSystem files;
    files.create("out.tap", oldTape);
    if (leased) {
      files.busyOpens = 200;
    } else {
      files.link("out.tap", "other.tap");
      files.busyLocks = 200;
    }
    OutputFile output(files, files);
    EXPECT_FALSE(output.open("out.tap")) << leased;
    EXPECT_TRUE(output.lockedOut()) << leased;
    EXPECT_EQ(files.pauses, 199u) << leased;
    EXPECT_EQ(files.contents("out.tap"), oldTape);
    EXPECT_EQ(files.writeOpens("out.tap"), leased ? 0u : 1u) << "written in place, not replaced";
  }
}

// A directory whose files cannot be renamed or removed, and that did not
// say so beforehand: the finished temporary file is emptied, and the tape
// written in place, or made under its own name, privately until complete.
TEST(OutputFile, ADirectoryThatRefusesRenamingGetsTheTapeInPlace) {
  for (const bool existing : {true, false}) {
    VirtualFileSystem files;
    files.makeAppendOnly("d");
    if (existing) {
      files.create("d/out.tap", oldTape);
      files.setPermissions("d/out.tap", 0640);
    }
    files.beforeEach = [&](Op operation) {
      if (operation == Op::Write && files.holds("d/out.tap") && files.calls(Op::PutInPlace) > 0) {
        EXPECT_EQ(files.permissionsOf("d/out.tap"), existing ? 0640u : 0600u);
      }
    };
    ASSERT_TRUE(writeNewTape(files, "d/out.tap")) << existing;
    EXPECT_EQ(files.contents("d/out.tap"), wholeTape);
    EXPECT_EQ(files.permissionsOf("d/out.tap"), existing ? 0640u : 0644u);
    EXPECT_EQ(files.paths(), (Paths{"d/.reelmake-1", "d/out.tap"}));
    EXPECT_EQ(files.contents("d/.reelmake-1"), Bytes{}) << "a tape left under a stray name";
    EXPECT_TRUE(files.allClosed());
  }
}

// /dev/stdout and the like: the tape goes through the descriptor, after
// what it holds, and nothing behind it is emptied, replaced or removed.
// A chain of symbolic links to one is followed there as well.
TEST(OutputFile, ADescriptorTheProgramHoldsIsWrittenThrough) {
  VirtualFileSystem files;
  files.create("log", {'h'});
  files.holdOpen(1, "log");
  files.symlink("/dev/fd/1", "d/stdout");
  files.symlink("d/stdout", "chain");
  Bytes expected = {'h'};
  for (const char* path : {"/dev/fd/1", "chain"}) {
    EXPECT_TRUE(writeNewTape(files, path)) << path;
    expected = join({expected, wholeTape});
    EXPECT_EQ(files.contents("log"), expected) << path;
  }
  files.failOn(Op::Write);
  EXPECT_FALSE(writeNewTape(files, "/dev/fd/1"));
  EXPECT_EQ(files.contents("log"), expected);
  EXPECT_EQ(files.calls(Op::Truncate) + files.calls(Op::CreateTemporary), 0u);
  expectCleanFinish(files);

  VirtualFileSystem none;
  EXPECT_FALSE(writeNewTape(none, "/dev/fd/1")) << "a descriptor that is not open";
  EXPECT_TRUE(none.paths().empty());
}

// A regular file put where a FIFO was looked at would be neither emptied
// first nor replaced: it is not written.
TEST(OutputFile, SpecialFilesAreWrittenInPlaceAndNeverRemoved) {
  VirtualFileSystem files;
  files.create("fifo", {}, FileKind::Fifo);
  files.failOn(Op::Write);
  EXPECT_FALSE(writeNewTape(files, "fifo"));
  EXPECT_EQ(files.paths(), Paths{"fifo"});
  EXPECT_EQ(files.calls(Op::RemoveIfSame), 0u);
  expectCleanFinish(files);

  files.failOn(Op::Write, SIZE_MAX);  // writes work again
  files.beforeEach = [&](Op operation) {
    if (operation == Op::OpenExisting) files.create("fifo", oldTape);
  };
  EXPECT_FALSE(writeNewTape(files, "fifo"));
  EXPECT_EQ(files.contents("fifo"), oldTape);
  expectCleanFinish(files);
}

// Once the output's directory has been looked at, nothing done to the path
// sends the tape or a clean-up elsewhere: not a link re-pointed, not the
// directory swapped for another. Another run that replaces the output
// meanwhile is not an error.
TEST(OutputFile, WhatHappensToThePathWhileWritingCannotRedirectTheOutput) {
  for (const bool hardLinked : {false, true}) {
    for (const bool fails : {false, true}) {
      VirtualFileSystem files;
      files.create("c/t/out.tap", oldTape);
      if (hardLinked) files.link("c/t/out.tap", "second.tap");
      files.symlink("c/t/out.tap", "link.tap");
      if (fails) files.failOn(Op::Write);
      EXPECT_EQ(writeNewTape(files, "link.tap",
                             [&] {
                               files.symlink("unrelated", "link.tap");
                               files.moveDirectory("c/t", "c/old");
                               files.create("c/t/out.tap", {'u'});
                             }),
                !fails);
      EXPECT_EQ(files.contents("c/t/out.tap"), Bytes{'u'});
      EXPECT_EQ(files.holds("c/old/out.tap"), !(fails && hardLinked));
      if (!fails) {
        EXPECT_EQ(files.contents("c/old/out.tap"), wholeTape);
      }
    }
  }
  VirtualFileSystem files;
  files.create("out.tap", oldTape);
  ASSERT_TRUE(writeNewTape(files, "out.tap", [&] { files.create("out.tap", {'u'}); }));
  EXPECT_EQ(files.contents("out.tap"), wholeTape);
}

// Temporary names are hidden, unique enough and safe on any file system;
// paths fill their buffer to the last byte and no further.
TEST(OutputFile, TemporaryNamesAndPathsFitTheirShape) {
  const std::string alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
  PathBuffer name;
  std::string used;
  for (std::uint64_t seed = 0; seed < 80; ++seed) {
    temporaryName(seed * 0x9E3779B97F4A7C15U, name);
    const std::string text = name.c_str();
    ASSERT_EQ(text.size(), 16u) << text;
    EXPECT_EQ(text.substr(0, 10), ".reelmake-");
    EXPECT_EQ(text.find_first_not_of(alphabet, 10), std::string::npos) << text;
    used += text.substr(10);
  }
  // Every letter is drawn, so that names are as many as they can be.
  for (const char letter : alphabet) {
    EXPECT_NE(used.find(letter), std::string::npos) << letter;
  }
  // Exactly sized on the heap, so that a checker sees any byte read beyond.
  for (const std::size_t length : {4095U, 4096U}) {
    const auto path = std::make_unique<char[]>(length + 1);
    std::fill_n(path.get(), length, 'p');
    path[length] = '\0';
    PathBuffer buffer;
    EXPECT_EQ(buffer.assign(path.get()), length == 4095U) << length;
  }
  // A buffer is used again, as for the temporary's name and then the output's.
  PathBuffer reused;
  ASSERT_TRUE(reused.assign(".reelmake-abcdef"));
  ASSERT_TRUE(reused.assign("out.tap"));
  EXPECT_STREQ(reused.c_str(), "out.tap");
}

// The size of a file is known before it is read, so that one that shrinks
// while read is noticed; reading then starts at its beginning.
TEST(SystemFileSystem, MeasuresAFileAndGoesBackToItsStart) {
  TempDir dir;
  writeFile(dir / "in.bin", {1, 2, 3, 4, 5});
  FileSystem& files = systemFileSystem();
  const int descriptor = files.openInput((dir / "in.bin").c_str());
  ASSERT_GE(descriptor, 0);
  std::uint8_t bytes[5] = {};
  EXPECT_EQ(files.read(descriptor, bytes, 2), 2);
  std::uint64_t size = 0;
  EXPECT_TRUE(files.measure(descriptor, size));
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(files.read(descriptor, bytes, 5), 5);
  EXPECT_EQ(bytes[0], 1);
  EXPECT_TRUE(files.close(descriptor));
}

}  // namespace
