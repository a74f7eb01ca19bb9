// How an output is put in place, and that a failure at any step leaves what
// was there before, through files in memory that fail on demand.
#include "app/OutputFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Bytes.h"
#include "support/VirtualFileSystem.h"

namespace {

using Op = VirtualFileSystem::Operation;
using Paths = std::vector<std::string>;

const Bytes oldTape = {'o', 'l', 'd'};
const Bytes newTape = {1, 2, 3, 4, 5};

// Opens path, writes the new tape and commits; the result of the first step
// that fails, or of the commit.
bool writeNewTape(VirtualFileSystem& files, const std::string& path, bool guarded = true) {
  OutputFile output(files);
  if (!output.open(path.c_str())) return false;
  EXPECT_EQ(files.guarded() != nullptr, guarded) << "clean-up armed while writing";
  output.write(newTape);
  return output.commit();
}

void expectCleanFinish(const VirtualFileSystem& files) {
  EXPECT_TRUE(files.allClosed());
  EXPECT_EQ(files.guarded(), nullptr) << "a clean-up is still armed";
  EXPECT_FALSE(files.holdsInterruptions());
}

TEST(OutputFile, ARegularOutputIsReplacedThroughATemporaryFile) {
  VirtualFileSystem files;
  files.create("out.tap", oldTape);
  files.setPermissions("out.tap", 0600);
  ASSERT_TRUE(writeNewTape(files, "out.tap"));
  EXPECT_EQ(files.contents("out.tap"), newTape);
  EXPECT_EQ(files.permissionsOf("out.tap"), 0600u) << "the permissions of the old file are kept";
  EXPECT_EQ(files.calls(Op::Replace), 1u);
  EXPECT_EQ(files.paths(), Paths{"out.tap"});

  ASSERT_TRUE(writeNewTape(files, "dir/new.tap"));
  EXPECT_EQ(files.contents("dir/new.tap"), newTape);
  EXPECT_EQ(files.calls(Op::CopyAttributes), 1u) << "a new file keeps its default permissions";
  EXPECT_EQ(files.paths(), (Paths{"dir/new.tap", "out.tap"}));
  expectCleanFinish(files);
}

TEST(OutputFile, ASymbolicLinkStaysALinkToTheNewTape) {
  VirtualFileSystem files;
  files.create("dir/target.tap", oldTape);
  files.symlink("dir/target.tap", "link.tap");
  ASSERT_TRUE(writeNewTape(files, "link.tap"));
  EXPECT_EQ(files.paths(), (Paths{"dir/target.tap", "link.tap"}));
  EXPECT_EQ(files.contents("dir/target.tap"), newTape);
  EXPECT_EQ(files.contents("link.tap"), newTape);
}

TEST(OutputFile, HardLinksAndUnwritableDirectoriesAreWrittenInPlace) {
  VirtualFileSystem files;
  files.create("out.tap", oldTape);
  files.link("out.tap", "other.tap");
  ASSERT_TRUE(writeNewTape(files, "out.tap"));
  EXPECT_EQ(files.contents("other.tap"), newTape) << "every name sees the new tape";

  files.makeDirectory("locked", false);
  files.create("locked/out.tap", oldTape);
  ASSERT_TRUE(writeNewTape(files, "locked/out.tap"));
  EXPECT_EQ(files.contents("locked/out.tap"), newTape);
  EXPECT_EQ(files.calls(Op::Replace), 0u);
  expectCleanFinish(files);
}

TEST(OutputFile, OutputsThatMayNotBeWrittenAreRefusedUntouched) {
  VirtualFileSystem files;
  files.create("readonly.tap", oldTape);
  files.setPermissions("readonly.tap", 0444);
  files.makeDirectory("folder");
  files.makeDirectory("locked", false);
  for (const std::string path : {"readonly.tap", "folder", "locked/new.tap"}) {
    EXPECT_FALSE(writeNewTape(files, path)) << path;
  }
  EXPECT_EQ(files.contents("readonly.tap"), oldTape);
  EXPECT_EQ(files.paths(), (Paths{"folder", "locked", "readonly.tap"}));
  expectCleanFinish(files);
}

TEST(OutputFile, AFailedReplacementLeavesTheOldTapeOrNoFile) {
  for (const Op failing : {Op::CreateTemporary, Op::Write, Op::Close, Op::Replace}) {
    for (const bool existing : {true, false}) {
      VirtualFileSystem files;
      if (existing) files.create("out.tap", oldTape);
      files.failOn(failing);
      EXPECT_FALSE(writeNewTape(files, "out.tap")) << failing;
      EXPECT_EQ(files.paths(), existing ? Paths{"out.tap"} : Paths{}) << failing;
      if (existing) {
        EXPECT_EQ(files.contents("out.tap"), oldTape) << failing;
      }
      expectCleanFinish(files);
    }
  }
}

TEST(OutputFile, AFailedWriteInPlaceLeavesNoPartialTapeUnderAnyName) {
  for (const Op failing : {Op::Write, Op::Close}) {
    VirtualFileSystem files;
    files.create("out.tap", oldTape);
    files.link("out.tap", "other.tap");
    files.writeChunk = 2;
    files.failOn(failing, failing == Op::Write ? 1 : 0);
    EXPECT_FALSE(writeNewTape(files, "out.tap")) << failing;
    EXPECT_EQ(files.paths(), Paths{"other.tap"}) << failing;
    EXPECT_EQ(files.contents("other.tap"), Bytes{}) << failing;
    expectCleanFinish(files);
  }
}

// As cp does: a replacement could not keep the owner (or, where the platform
// cannot, the permissions), so who may use the tape would change.
TEST(OutputFile, AnOutputWhoseOwnerCannotBeKeptIsWrittenInPlace) {
  for (const bool givenAway : {true, false}) {
    VirtualFileSystem files;
    files.create("out.tap", oldTape);
    files.setPermissions("out.tap", 0640);
    if (givenAway) {
      files.giveAway("out.tap");
    } else {
      files.failOn(Op::CopyAttributes);
    }
    ASSERT_TRUE(writeNewTape(files, "out.tap"));
    EXPECT_EQ(files.paths(), std::vector<std::string>{"out.tap"});
    EXPECT_EQ(files.contents("out.tap"), newTape);
    EXPECT_EQ(files.permissionsOf("out.tap"), 0640u);
    EXPECT_EQ(files.calls(Op::Replace), 0u);
  }
}

// A dangling link may name a file the user means to make elsewhere:
// replacing the link itself with a file is not what was asked.
TEST(OutputFile, ANameThatIsTakenButCannotBeLookedAtIsRefused) {
  VirtualFileSystem files;
  files.symlink("nowhere/target.tap", "link.tap");
  EXPECT_FALSE(writeNewTape(files, "link.tap"));
  EXPECT_EQ(files.paths(), Paths{"link.tap"});
  EXPECT_EQ(files.calls(Op::CreateTemporary), 0u);
  expectCleanFinish(files);
}

TEST(OutputFile, SpecialFilesAreWrittenInPlaceAndNeverRemoved) {
  VirtualFileSystem files;
  files.create("fifo", {}, FileKind::Fifo);
  files.failOn(Op::Write);
  EXPECT_FALSE(writeNewTape(files, "fifo", false));
  EXPECT_EQ(files.paths(), Paths{"fifo"});
  EXPECT_EQ(files.calls(Op::RemoveIfSame), 0u);
  expectCleanFinish(files);
}

TEST(OutputFile, ALinkRePointedWhileWritingCannotRedirectTheOutputOrTheCleanUp) {
  for (const bool hardLinked : {false, true}) {
    for (const bool fails : {false, true}) {
      VirtualFileSystem files;
      files.create("target.tap", oldTape);
      if (hardLinked) files.link("target.tap", "second.tap");
      files.create("unrelated", {'u'});
      files.symlink("target.tap", "link.tap");
      OutputFile output(files);
      ASSERT_TRUE(output.open("link.tap"));
      files.symlink("unrelated", "link.tap");
      if (fails) files.failOn(Op::Write);
      output.write(newTape);
      EXPECT_EQ(output.commit(), !fails);
      EXPECT_EQ(files.contents("unrelated"), Bytes{'u'});
      EXPECT_EQ(files.holds("target.tap"), !(fails && hardLinked));
      if (!fails) {
        EXPECT_EQ(files.contents("target.tap"), newTape);
      }
    }
  }
}

}  // namespace
