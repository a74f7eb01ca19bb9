// Runs the built program and reads every tape it writes back with libspectrum,
// a tape library that emulators use, to be sure that the tapes load elsewhere
// and not only in our own tests. The expected blocks are written out by hand.
#include <libspectrum.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/Bytes.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace {

struct TapeDeleter {
  void operator()(libspectrum_tape* tape) const { libspectrum_tape_free(tape); }
};
using Tape = std::unique_ptr<libspectrum_tape, TapeDeleter>;

// A varied pattern, so that a byte out of place shows.
Bytes patternOf(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>((i * 31 + i / 256 + 7) & 0xFFU);
  }
  return bytes;
}

Bytes framedData(const Bytes& input) {
  Bytes block{0xFF};
  block.insert(block.end(), input.begin(), input.end());
  block.push_back(static_cast<std::uint8_t>(0xFF ^ xorOf(input)));
  return block;
}

class TapeLibrary : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(libspectrum_init(), LIBSPECTRUM_ERROR_NONE); }

  // Runs the program on input (in.bin) with the arguments and returns the
  // tape it wrote (out.tap).
  Bytes tapeFile(const std::vector<std::string>& arguments, const Bytes& input) {
    writeFile(dir / "in.bin", input);
    ProgramRunOptions options;
    options.directory = dir.path().string();
    const ProgramResult result = runProgram(REELMAKE_BINARY, arguments, options);
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(result.out.find("error"), std::string::npos) << result.out;
    return readFile(dir / "out.tap");
  }

  // The data of every block of the tape as the library reads it; every TAP
  // block must come out as a standard ROM-loader block.
  static std::vector<Bytes> readTape(const Bytes& file) {
    std::vector<Bytes> blocks;
    const Tape tape(libspectrum_tape_alloc());
    const libspectrum_error error = libspectrum_tape_read(tape.get(), file.data(), file.size(),
                                                          LIBSPECTRUM_ID_TAPE_TAP, nullptr);
    EXPECT_EQ(error, LIBSPECTRUM_ERROR_NONE);
    if (error != LIBSPECTRUM_ERROR_NONE) {
      return blocks;
    }
    libspectrum_tape_iterator iterator = nullptr;
    for (libspectrum_tape_block* block = libspectrum_tape_iterator_init(&iterator, tape.get());
         block != nullptr; block = libspectrum_tape_iterator_next(&iterator)) {
      EXPECT_EQ(libspectrum_tape_block_type(block), LIBSPECTRUM_TAPE_BLOCK_ROM);
      const libspectrum_byte* data = libspectrum_tape_block_data(block);
      const std::size_t length = libspectrum_tape_block_data_length(block);
      blocks.emplace_back(data, data + length);
    }
    return blocks;
  }

  TempDir dir;
};

// One tape of each kind, read back alone and then all joined into one tape.
TEST_F(TapeLibrary, EachKindOfTapeReadsBack) {
  const Bytes largest = patternOf(65533);
  const struct {
    const char* kind;
    std::vector<std::string> arguments;
    Bytes input;
    std::vector<Bytes> blocks;
  } cases[] = {
      // The longest block there is: 65535 bytes.
      {"headerless", {"in.bin", "out.tap"}, largest, {framedData(largest)}},
      {"raw, empty", {"-r", "in.bin", "out.tap"}, {}, {{}}},
      // flag, type 0, "loader" padded to 10, length 3, line 10, program length 3, checksum
      {"BASIC with auto-start",
       {"-b", "in.bin", "out.tap", "loader", "10"},
       {0x01, 0x02, 0x03},
       {{0x00, 0x00, 0x6C, 0x6F, 0x61, 0x64, 0x65, 0x72, 0x20, 0x20, 0x20, 0x20, 0x03, 0x00, 0x0A,
         0x00, 0x03, 0x00, 0x1B},
        {0xFF, 0x01, 0x02, 0x03, 0xFF}}},
      // parameter 1 is 32768: no auto-start; an empty program
      {"BASIC without auto-start, empty",
       {"-b", "in.bin", "out.tap", "empty"},
       {},
       {{0x00, 0x00, 0x65, 0x6D, 0x70, 0x74, 0x79, 0x20, 0x20, 0x20, 0x20, 0x20, 0x00, 0x00, 0x00,
         0x80, 0x00, 0x00, 0xD5},
        {0xFF, 0xFF}}},
      // type 3, "game", length 2, load address 32768, parameter 2 32768
      {"code",
       {"-c", "in.bin", "out.tap", "game", "32768"},
       {0xF3, 0xC9},
       {{0x00, 0x03, 0x67, 0x61, 0x6D, 0x65, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x02, 0x00, 0x00,
         0x80, 0x00, 0x80, 0x0F},
        {0xFF, 0xF3, 0xC9, 0xC5}}},
  };
  Bytes joined;
  std::vector<Bytes> allBlocks;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    const Bytes tape = tapeFile(c.arguments, c.input);
    EXPECT_EQ(readTape(tape), c.blocks);
    joined.insert(joined.end(), tape.begin(), tape.end());
    allBlocks.insert(allBlocks.end(), c.blocks.begin(), c.blocks.end());
  }
  EXPECT_EQ(readTape(joined), allBlocks);
}

}  // namespace
