#include "app/TapeWriter.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "support/AllocationCounter.h"
#include "support/ExpectedOutput.h"
#include "support/TempDir.h"

namespace {

// Real files, with any one operation made to fail or to fall short.
class FaultyFileSystem : public SystemFileSystem {
 public:
  bool failCreate = false;
  bool failClose = false;
  bool failMeasure = false;
  bool failReadAtStart = false;
  std::int64_t writeFailsAfter = -1;  // bytes accepted before writes fail
  std::size_t readCap = 0;            // most bytes one read delivers (0: no cap)
  std::size_t writeCap = 0;           // most bytes one write accepts (0: no cap)
  std::size_t endsAfter = 0;          // input seems to end after this many bytes (0: never)

  int outputDescriptor = -1;

  bool measure(int descriptor, std::uint64_t& size) override {
    return !failMeasure && SystemFileSystem::measure(descriptor, size);
  }
  std::int64_t read(int descriptor, void* buffer, std::size_t count) override {
    if (failReadAtStart) return -1;
    if (readCap > 0) count = std::min(count, readCap);
    if (endsAfter > 0) {
      if (delivered >= endsAfter) return 0;
      count = std::min(count, endsAfter - delivered);
    }
    const std::int64_t got = SystemFileSystem::read(descriptor, buffer, count);
    if (got > 0) delivered += static_cast<std::size_t>(got);
    return got;
  }
  int createOutput(const char* path) override {
    if (failCreate) return -1;
    outputDescriptor = SystemFileSystem::createOutput(path);
    return outputDescriptor;
  }
  std::int64_t write(int descriptor, const void* data, std::size_t count) override {
    if (writeCap > 0) count = std::min(count, writeCap);
    if (writeFailsAfter >= 0) {
      if (writtenSoFar >= writeFailsAfter) return -1;
      count =
          std::min<std::size_t>(count, static_cast<std::size_t>(writeFailsAfter - writtenSoFar));
    }
    const std::int64_t written = SystemFileSystem::write(descriptor, data, count);
    if (written > 0) writtenSoFar += written;
    return written;
  }
  bool close(int descriptor) override {
    const bool closed = SystemFileSystem::close(descriptor);
    return closed && !(failClose && descriptor == outputDescriptor);
  }

 private:
  std::size_t delivered = 0;
  std::int64_t writtenSoFar = 0;
};

Bytes randomBytes(std::size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  Bytes bytes(count);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(generator());
  return bytes;
}

std::uint8_t referenceChecksum(const Bytes& bytes, std::size_t count) {
  std::uint8_t checksum = 0;
  for (std::size_t i = 0; i < count; ++i) checksum = static_cast<std::uint8_t>(checksum ^ bytes[i]);
  return checksum;
}

TEST(XorChecksum, MatchesAByteByByteXorForEveryLengthAndAlignment) {
  const Bytes bytes = randomBytes(70000, 1);
  for (std::size_t offset = 0; offset < 8; ++offset) {
    for (std::size_t count = 0; count < 40; ++count) {
      const Bytes slice(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                        bytes.begin() + static_cast<std::ptrdiff_t>(offset + count));
      EXPECT_EQ(xorChecksum({bytes.data() + offset, count}), referenceChecksum(slice, count));
    }
  }
  EXPECT_EQ(xorChecksum(bytes), referenceChecksum(bytes, bytes.size()));
}

class Conversion : public ::testing::Test {
 protected:
  TempDir dir;
  FaultyFileSystem files;
  std::ostringstream console;
  ConversionChannels channels{files, console};
  std::string input = dir / "in.bin";
  std::string output = dir / "out.tap";

  int code(const Bytes& data) {
    writeFile(input, data);
    return convertCode(input.c_str(), output.c_str(), "name", StartValue{0x8000, false}, channels);
  }
};

// Hand-computed: header block of "name", 3 bytes at 32768, then 01 02 03.
const Bytes codeTapeOf123 = {0x13, 0x00, 0x00, 0x03, 'n',  'a',  'm',  'e',  0x20, 0x20,
                             0x20, 0x20, 0x20, 0x20, 0x03, 0x00, 0x00, 0x80, 0x00, 0x80,
                             0x07, 0x05, 0x00, 0xFF, 0x01, 0x02, 0x03, 0xFF};

TEST_F(Conversion, ShortReadsAndShortWritesStillGiveTheWholeTape) {
  files.readCap = 1;
  files.writeCap = 1;
  EXPECT_EQ(code({1, 2, 3}), 0);
  EXPECT_EQ(readFile(output), codeTapeOf123);
  EXPECT_EQ(console.str(), "");
}

TEST_F(Conversion, AFailedMeasureFallsBackToReadingToTheEnd) {
  files.failMeasure = true;
  EXPECT_EQ(code({1, 2, 3}), 0);
  EXPECT_EQ(readFile(output), codeTapeOf123);
}

TEST_F(Conversion, AStreamOverTheLimitIsTooLong) {
  files.failMeasure = true;
  files.readCap = 4096;
  writeFile(input, Bytes(65536, 7));
  EXPECT_EQ(convertHeaderless(input.c_str(), output.c_str(), false, channels), 1);
  EXPECT_EQ(console.str(), errorTooLong);
  EXPECT_FALSE(fileExists(output));
}

TEST_F(Conversion, AStreamOfExactlyTheRawLimitIsAccepted) {
  files.failMeasure = true;
  writeFile(input, Bytes(65535, 7));
  EXPECT_EQ(convertHeaderless(input.c_str(), output.c_str(), true, channels), 0);
  EXPECT_EQ(readFile(output).size(), 65537u);
}

TEST_F(Conversion, AnInputThatEndsEarlyOrFailsIsNotConvertedAndTheOutputIsUntouched) {
  writeFile(output, {'o', 'l', 'd'});
  files.endsAfter = 2;
  EXPECT_EQ(code({1, 2, 3}), 1);
  EXPECT_EQ(console.str(), errorRead);
  EXPECT_EQ(readFile(output), (Bytes{'o', 'l', 'd'}));

  FaultyFileSystem failing;
  failing.failReadAtStart = true;
  std::ostringstream messages;
  EXPECT_EQ(convertHeaderless(input.c_str(), output.c_str(), true, {failing, messages}), 1);
  EXPECT_EQ(messages.str(), errorRead);
  EXPECT_EQ(readFile(output), (Bytes{'o', 'l', 'd'}));
}

TEST_F(Conversion, AnOutputThatCannotBeCreatedIsReported) {
  files.failCreate = true;
  EXPECT_EQ(code({1, 2, 3}), 1);
  EXPECT_EQ(console.str(), errorCreate);
}

TEST_F(Conversion, AFailingWriteRemovesTheHalfWrittenOutput) {
  for (const std::int64_t acceptedBytes : {0, 1, 21, 22, 27}) {
    FaultyFileSystem failing;
    failing.writeFailsAfter = acceptedBytes;
    std::ostringstream messages;
    writeFile(input, {1, 2, 3});
    writeFile(output, {'o', 'l', 'd'});
    EXPECT_EQ(convertCode(input.c_str(), output.c_str(), "n", {}, {failing, messages}), 1);
    EXPECT_EQ(messages.str(), errorWrite);
    EXPECT_FALSE(fileExists(output)) << "after " << acceptedBytes << " bytes";
  }
}

TEST_F(Conversion, AFailingCloseRemovesTheOutput) {
  files.failClose = true;
  EXPECT_EQ(code({1, 2, 3}), 1);
  EXPECT_EQ(console.str(), errorWrite);
  EXPECT_FALSE(fileExists(output));
}

TEST_F(Conversion, AFailingWriteThroughALinkRemovesTheFileItNames) {
  const std::string target = dir / "target.tap";
  std::filesystem::create_symlink(target, output);
  files.writeFailsAfter = 5;
  EXPECT_EQ(code({1, 2, 3}), 1);
  EXPECT_FALSE(fileExists(target));
}

TEST_F(Conversion, ConvertingAllocatesNothing) {
  writeFile(input, randomBytes(65533, 2));
  AllocationCounter counter;
  const int status =
      convertBasic(input.c_str(), output.c_str(), "prog", StartValue{10, false}, channels);
  EXPECT_EQ(counter.allocations(), 0u);
  EXPECT_EQ(status, 0);
}

}  // namespace
