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

class Conversion : public ::testing::Test {
 protected:
  VirtualFileSystem files;
  std::ostringstream console;

  int code(const Bytes& data, const char* output = "out.tap") {
    files.create("in.bin", data);
    return convertCode("in.bin", output, "name", StartValue{0x8000, false}, {files, console});
  }
  int headerless(const Bytes& data, bool raw) {
    files.create("in.bin", data);
    return convertHeaderless("in.bin", "out.tap", raw, {files, console});
  }
};

TEST_F(Conversion, ShortReadsAndShortWritesStillGiveTheWholeTape) {
  files.readChunk = 1;
  files.writeChunk = 1;
  EXPECT_EQ(code({1, 2, 3}), 0);
  EXPECT_EQ(files.contents("out.tap"), codeTapeOf123);
  EXPECT_EQ(console.str(), "");
  EXPECT_TRUE(files.allClosed());
}

TEST_F(Conversion, AnInputThatCannotBeMeasuredIsReadToItsEnd) {
  files.failOn(Op::Measure);
  EXPECT_EQ(code({1, 2, 3}), 0);
  EXPECT_EQ(files.contents("out.tap"), codeTapeOf123);
}

TEST_F(Conversion, SizeLimitsHoldForMeasuredFilesAndForStreams) {
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
      EXPECT_EQ(convertHeaderless("in.bin", "out.tap", c.raw, {fresh, messages}), c.status)
          << c.size << (measurable ? " measured" : " streamed");
      EXPECT_EQ(messages.str(), c.status == 0 ? "" : errorTooLong);
      if (c.status == 0) {
        EXPECT_EQ(fresh.contents("out.tap").size(), 65537u);
      }
    }
  }
}

TEST_F(Conversion, InputFailuresLeaveTheOutputAlone) {
  files.create("in.bin", {1, 2, 3});
  files.create("out.tap", oldTape);
  files.create("folder", {}, FileKind::Directory);
  files.link("in.bin", "hard.tap");
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
  };
  for (const auto& c : cases) {
    VirtualFileSystem fresh = files;
    if (c.failing != Op::operationCount) fresh.failOn(c.failing);
    fresh.measureExtra = c.measureExtra;
    std::ostringstream messages;
    EXPECT_EQ(convertBasic(c.input, c.output, "n", std::nullopt, {fresh, messages}), 1);
    EXPECT_EQ(messages.str(), c.message) << c.input << " " << c.output;
    EXPECT_EQ(fresh.contents("out.tap"), oldTape);
    EXPECT_EQ(fresh.calls(Op::CreateTemporary) + fresh.calls(Op::OpenSpecial), 0u);
    EXPECT_TRUE(fresh.allClosed());
  }
}

// What becomes of the output is OutputFileTest's; here only the messages.
TEST_F(Conversion, OutputFailuresAreReported) {
  files.create("out.tap", oldTape);
  files.setPermissions("out.tap", 0444);
  EXPECT_EQ(code({1, 2, 3}), 1);
  EXPECT_EQ(console.str(), errorCreate);

  VirtualFileSystem failing;
  failing.create("in.bin", {1, 2, 3});
  failing.failOn(Op::Write);
  std::ostringstream messages;
  EXPECT_EQ(convertCode("in.bin", "out.tap", "n", {}, {failing, messages}), 1);
  EXPECT_EQ(messages.str(), errorWrite);
}

TEST(ConversionOnDisk, ConvertingAllocatesNothing) {
  TempDir dir;
  const std::string input = dir / "in.bin";
  const std::string output = dir / "out.tap";
  writeFile(input, randomBytes(65533, 2));
  writeFile(output, {1});
  std::ostringstream console;
  const ConversionChannels channels{systemFileSystem(), console};
  AllocationCounter counter;
  const int status =
      convertBasic(input.c_str(), output.c_str(), "prog", StartValue{10, false}, channels);
  EXPECT_EQ(counter.allocations(), 0u);
  EXPECT_EQ(status, 0);
}

}  // namespace
