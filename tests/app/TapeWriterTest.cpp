// The conversions' reading, limits and messages, with files in memory that
// fail on demand; what becomes of the output is OutputFileTest's business.
#include "app/TapeWriter.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "support/AllocationCounter.h"
#include "support/Bytes.h"
#include "support/ExpectedOutput.h"
#include "support/TempDir.h"
#include "support/VirtualFileSystem.h"

namespace {

using Op = VirtualFileSystem::Operation;

Bytes randomBytes(std::size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  Bytes bytes(count);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(generator());
  return bytes;
}

// Hand-computed: header block of "name", 3 bytes at 32768, then 01 02 03.
const Bytes codeTapeOf123 = {0x13, 0x00, 0x00, 0x03, 'n',  'a',  'm',  'e',  0x20, 0x20,
                             0x20, 0x20, 0x20, 0x20, 0x03, 0x00, 0x00, 0x80, 0x00, 0x80,
                             0x07, 0x05, 0x00, 0xFF, 0x01, 0x02, 0x03, 0xFF};
const Bytes oldTape = {'o', 'l', 'd'};

// Read and written a byte at a time: a file measured first, one that cannot
// be measured, and a character device, whose size is never asked for (this
// one would claim a byte more than it holds); the last two are read to their
// end.
TEST(Conversion, ShortReadsAndShortWritesStillGiveTheWholeTape) {
  const struct {
    FileKind kind;
    bool measurable;
  } inputs[] = {
      {FileKind::Regular, true}, {FileKind::Regular, false}, {FileKind::CharacterDevice, true}};
  for (const auto& input : inputs) {
    VirtualFileSystem fresh;
    if (!input.measurable) fresh.failOn(Op::Measure);
    fresh.measureOnlyRegular = false;
    fresh.measureExtra = input.kind == FileKind::Regular ? 0 : 1;
    fresh.readChunk = 1;
    fresh.writeChunk = 1;
    fresh.create("in.bin", {1, 2, 3}, input.kind);
    std::ostringstream messages;
    EXPECT_EQ(convertCode("in.bin", "out.tap", "name", {0x8000, false}, {fresh, fresh, messages}),
              0);
    EXPECT_EQ(fresh.contents("out.tap"), codeTapeOf123) << static_cast<int>(input.kind);
    EXPECT_EQ(messages.str(), "");
    EXPECT_TRUE(fresh.allClosed());
  }
}

// Both sides of each limit, for a file whose size is known first and for a
// stream; the end-to-end tests try only some of them.
TEST(Conversion, SizeLimitsHoldForMeasuredFilesAndForStreams) {
  for (const bool measurable : {true, false}) {
    VirtualFileSystem fresh;
    if (!measurable) fresh.failOn(Op::Measure);
    fresh.readChunk = 4096;
    const struct {
      std::size_t size;
      bool raw;
      int status;
    } cases[] = {{65533, false, 0},
                 {65534, false, 1},
                 {65535, true, 0},
                 {65536, true, 1},
                 {65540, false, 1}};  // more than one byte too many, streamed
    for (const auto& c : cases) {
      std::ostringstream messages;
      fresh.create("in.bin", Bytes(c.size, 7));
      EXPECT_EQ(convertHeaderless("in.bin", "out.tap", c.raw, {fresh, fresh, messages}), c.status)
          << c.size << (measurable ? " measured" : " streamed");
      EXPECT_EQ(messages.str(), c.status == 0 ? "" : errorTooLong);
      if (c.status == 0) {
        EXPECT_EQ(fresh.contents("out.tap").size(), 65537u);
      }
    }
  }
}

// Every failure leaves the earlier tape; one of the input is found before
// the output comes into being. What becomes of the output is
// OutputFileTest's; here only the message.
TEST(Conversion, FailuresAreReportedAndLeaveTheOutputAlone) {
  VirtualFileSystem files;
  files.create("in.bin", {1, 2, 3});
  files.create("out.tap", oldTape);
  files.create("folder", {}, FileKind::Directory);
  files.link("in.bin", "hard.tap");
  files.create("kept.tap", oldTape);
  files.setPermissions("kept.tap", 0444);
  const struct {
    const char* input;
    const char* output;
    Op failing;
    std::uint64_t measureExtra;
    const char* message;
  } cases[] = {
      {"missing.bin", "out.tap", Op::operationCount, 0, errorOpen},
      {"folder", "out.tap", Op::operationCount, 0, errorOpen},
      {"in.bin", "out.tap", Op::Read, 0, errorRead},
      {"in.bin", "out.tap", Op::operationCount, 1, errorRead},  // shrank while read
      {"in.bin", "in.bin", Op::operationCount, 0, errorSame},
      {"in.bin", "hard.tap", Op::operationCount, 0, errorSame},
      // Names that cannot be compared: the output found is still the input.
      {"in.bin", "hard.tap", Op::IdentifyPath, 0, errorSame},
      {"in.bin", "kept.tap", Op::operationCount, 0, errorCreate},
      {"in.bin", "out.tap", Op::Write, 0, errorWrite},
  };
  for (const auto& c : cases) {
    VirtualFileSystem fresh = files;
    if (c.failing != Op::operationCount) fresh.failOn(c.failing);
    fresh.measureExtra = c.measureExtra;
    std::ostringstream messages;
    EXPECT_EQ(convertBasic(c.input, c.output, "n", std::nullopt, {fresh, fresh, messages}), 1);
    EXPECT_EQ(messages.str(), c.message) << c.input << " " << c.output;
    EXPECT_EQ(fresh.contents("out.tap"), oldTape);
    EXPECT_EQ(fresh.contents("kept.tap"), oldTape);
    EXPECT_EQ(fresh.contents("in.bin"), (Bytes{1, 2, 3}));
    if (c.message != errorCreate && c.message != errorWrite) {
      EXPECT_EQ(fresh.calls(Op::CreateTemporary) + fresh.calls(Op::OpenSpecial), 0u);
    }
    EXPECT_TRUE(fresh.allClosed());
  }
}

// The one check that a conversion, on the real file system, needs no heap.
TEST(ConversionOnDisk, ConvertingAllocatesNothing) {
  TempDir dir;
  const std::string input = dir / "in.bin";
  const std::string output = dir / "out.tap";
  writeFile(input, randomBytes(65533, 2));
  writeFile(output, {1});
  std::ostringstream console;
  const ConversionChannels channels{systemFileSystem(), systemProcess(), console};
  AllocationCounter counter;
  const int status =
      convertBasic(input.c_str(), output.c_str(), "prog", StartValue{10, false}, channels);
  EXPECT_EQ(counter.allocations(), 0u);
  EXPECT_EQ(status, 0);
}

}  // namespace
