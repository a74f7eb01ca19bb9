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

  std::vector<Bytes> convert(const std::vector<std::string>& arguments, const Bytes& input) {
    return readTape(tapeFile(arguments, input));
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

TEST_F(TapeLibrary, FramedHeaderlessBlock) {
  const auto blocks = convert({"in.bin", "out.tap"}, {0x01, 0x02, 0x03});
  ASSERT_EQ(blocks.size(), 1U);
  EXPECT_EQ(blocks[0], (Bytes{0xFF, 0x01, 0x02, 0x03, 0xFF}));
}

TEST_F(TapeLibrary, RawBlockHasNeitherFlagNorChecksum) {
  const auto blocks = convert({"-r", "in.bin", "out.tap"}, {'l', 'i', 's', 't'});
  ASSERT_EQ(blocks.size(), 1U);
  EXPECT_EQ(blocks[0], (Bytes{'l', 'i', 's', 't'}));
}

TEST_F(TapeLibrary, BasicProgramWithAutoStart) {
  const auto blocks = convert({"-b", "in.bin", "out.tap", "loader", "10"}, {0x01, 0x02, 0x03});
  ASSERT_EQ(blocks.size(), 2U);
  // flag, type 0, "loader" padded to 10, length 3, line 10, program length 3, checksum
  EXPECT_EQ(blocks[0], (Bytes{0x00, 0x00, 0x6C, 0x6F, 0x61, 0x64, 0x65, 0x72, 0x20, 0x20, 0x20,
                              0x20, 0x03, 0x00, 0x0A, 0x00, 0x03, 0x00, 0x1B}));
  EXPECT_EQ(blocks[1], (Bytes{0xFF, 0x01, 0x02, 0x03, 0xFF}));
}

TEST_F(TapeLibrary, BasicProgramWithoutAutoStart) {
  const auto blocks = convert({"-b", "in.bin", "out.tap", "prog"}, {'l', 'i', 's', 't'});
  ASSERT_EQ(blocks.size(), 2U);
  // parameter 1 is 32768: no auto-start
  EXPECT_EQ(blocks[0], (Bytes{0x00, 0x00, 0x70, 0x72, 0x6F, 0x67, 0x20, 0x20, 0x20, 0x20, 0x20,
                              0x20, 0x04, 0x00, 0x00, 0x80, 0x04, 0x00, 0x8A}));
  EXPECT_EQ(blocks[1], (Bytes{0xFF, 'l', 'i', 's', 't', 0xFD}));
}

TEST_F(TapeLibrary, CodeFile) {
  const auto blocks = convert({"-c", "in.bin", "out.tap", "game", "32768"}, {0xF3, 0xC9});
  ASSERT_EQ(blocks.size(), 2U);
  // type 3, "game", length 2, load address 32768, parameter 2 32768
  EXPECT_EQ(blocks[0], (Bytes{0x00, 0x03, 0x67, 0x61, 0x6D, 0x65, 0x20, 0x20, 0x20, 0x20, 0x20,
                              0x20, 0x02, 0x00, 0x00, 0x80, 0x00, 0x80, 0x0F}));
  EXPECT_EQ(blocks[1], (Bytes{0xFF, 0xF3, 0xC9, 0xC5}));
}

TEST_F(TapeLibrary, EmptyInputs) {
  auto blocks = convert({"in.bin", "out.tap"}, {});
  ASSERT_EQ(blocks.size(), 1U);
  EXPECT_EQ(blocks[0], (Bytes{0xFF, 0xFF}));

  blocks = convert({"-r", "in.bin", "out.tap"}, {});
  ASSERT_EQ(blocks.size(), 1U);
  EXPECT_EQ(blocks[0], Bytes{});

  blocks = convert({"-b", "in.bin", "out.tap", "empty"}, {});
  ASSERT_EQ(blocks.size(), 2U);
  EXPECT_EQ(blocks[0], (Bytes{0x00, 0x00, 0x65, 0x6D, 0x70, 0x74, 0x79, 0x20, 0x20, 0x20, 0x20,
                              0x20, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0xD5}));
  EXPECT_EQ(blocks[1], (Bytes{0xFF, 0xFF}));
}

TEST_F(TapeLibrary, LargestInputs) {
  const Bytes framedInput = patternOf(65533);
  auto blocks = convert({"in.bin", "out.tap"}, framedInput);
  ASSERT_EQ(blocks.size(), 1U);
  EXPECT_EQ(blocks[0].size(), 65535U);
  EXPECT_EQ(blocks[0], framedData(framedInput));
  EXPECT_EQ(xorOf(blocks[0]), 0) << "the checksum makes the block's XOR zero";

  blocks = convert({"-c", "in.bin", "out.tap", "big", "24576"}, framedInput);
  ASSERT_EQ(blocks.size(), 2U);
  // length 65533 (FD FF), load address 24576 (00 60)
  EXPECT_EQ(blocks[0], (Bytes{0x00, 0x03, 0x62, 0x69, 0x67, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
                              0x20, 0xFD, 0xFF, 0x00, 0x60, 0x00, 0x80, 0xAD}));
  EXPECT_EQ(blocks[1], framedData(framedInput));

  const Bytes rawInput = patternOf(65535);
  blocks = convert({"-r", "in.bin", "out.tap"}, rawInput);
  ASSERT_EQ(blocks.size(), 1U);
  EXPECT_EQ(blocks[0], rawInput);
}

TEST_F(TapeLibrary, JoinedTapesReadAsOneTape) {
  const Bytes loader = tapeFile({"-b", "in.bin", "out.tap", "loader", "10"}, {0x01, 0x02, 0x03});
  const Bytes code = tapeFile({"-c", "in.bin", "out.tap", "game", "32768"}, {0xF3, 0xC9});
  Bytes joined = loader;
  joined.insert(joined.end(), code.begin(), code.end());
  const auto blocks = readTape(joined);
  ASSERT_EQ(blocks.size(), 4U);
  EXPECT_EQ(blocks[0][1], 0x00) << "BASIC header first";
  EXPECT_EQ(blocks[1], (Bytes{0xFF, 0x01, 0x02, 0x03, 0xFF}));
  EXPECT_EQ(blocks[2][1], 0x03) << "then the code header";
  EXPECT_EQ(blocks[3], (Bytes{0xFF, 0xF3, 0xC9, 0xC5}));
}

}  // namespace
