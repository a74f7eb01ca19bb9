// Runs the built program in a temporary directory, for what only a real
// process and real files show: exit statuses, the bytes of each mode as the
// platform's own files and arguments carry them, sizes and refusals. The
// command line itself, its messages and the tape of each mode are tested
// in-process; what only one platform has is in PosixEndToEndTest and
// WindowsEndToEndTest.
#include "EndToEnd.h"

#include <optional>

namespace {

namespace fs = std::filesystem;

// The same hand-written bytes on every platform. Carriage return, line feed
// and end-of-file mark in the data, and a tape name in UTF-8, come through
// unchanged only where nothing treats files or arguments as text.
TEST_F(EndToEnd, EachModeWritesTheSameTapeOnEveryPlatform) {
  input({0x0D, 0x0A, 0x1A});
  const Bytes framed = {0x05, 0x00, 0xFF, 0x0D, 0x0A, 0x1A, 0xE2};
  const auto basicHeader = [](std::uint8_t start0, std::uint8_t start1, std::uint8_t checksum) {
    return Bytes{0x13, 0x00, 0x00, 0x00, 'h',  'e',    'l',    'l',  'o',  0x20,    0x20,
                 0x20, 0x20, 0x20, 0x03, 0x00, start0, start1, 0x03, 0x00, checksum};
  };
  // テープ is E3 83 86, E3 83 BC, E3 83 97: nine bytes and one blank.
  const Bytes codeHeader = {0x13, 0x00, 0x00, 0x03, 0xE3, 0x83, 0x86, 0xE3, 0x83, 0xBC, 0xE3,
                            0x83, 0x97, 0x20, 0x03, 0x00, 0x00, 0x80, 0x00, 0x80, 0xED};
  const struct {
    Arguments arguments;
    Bytes tape;
  } cases[] = {
      {{"in.bin", "out.tap"}, framed},
      {{"-r", "in.bin", "out.tap"}, {0x03, 0x00, 0x0D, 0x0A, 0x1A}},
      {{"-b", "in.bin", "out.tap", "hello"}, join({basicHeader(0x00, 0x80, 0xC2), framed})},
      {{"-b", "in.bin", "out.tap", "hello", "10"}, join({basicHeader(0x0A, 0x00, 0x48), framed})},
      {{"-c", "in.bin", "out.tap", "テープ", "32768"}, join({codeHeader, framed})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    expectRun(run(c.arguments), 0, "");
    EXPECT_EQ(tape(), c.tape);
  }
}

TEST_F(EndToEnd, InputSizeLimitsOnRealFiles) {
  const struct {
    Arguments arguments;
    std::uintmax_t size;
    std::optional<Bytes> tape;
  } cases[] = {
      // The largest block, read through the platform's own calls.
      {{"-r", "in.bin", "out.tap"}, 65535, join({{0xFF, 0xFF}, Bytes(65535, 0)})},
      // Sparse, so it takes no room: refused by its size, not after reading 4 GiB.
      {{"-r", "in.bin", "out.tap"}, (std::uintmax_t{1} << 32) + 3, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    fs::remove(dir / "out.tap");
    input({});
    fs::resize_file(dir / "in.bin", c.size);
    expectRun(run(c.arguments), c.tape ? 0 : 1, c.tape ? "" : errorTooLong);
    if (c.tape) {
      EXPECT_EQ(tape(), *c.tape);
    } else {
      EXPECT_FALSE(exists("out.tap"));
    }
  }
}

// An existing tape over 2 GiB (sparse, so it takes no room) is found and
// replaced as any other, keeping its permissions: not taken for absent.
TEST_F(EndToEnd, AnExistingTapeOver2GiBIsReplacedLikeAnyOther) {
  input({1});
  input({}, "out.tap");
  fs::resize_file(dir / "out.tap", std::uintmax_t{3} << 30);
  fs::permissions(dir / "out.tap", mode(0604));
  const fs::perms before = fs::status(dir / "out.tap").permissions();
  expectRun(run({"in.bin", "out.tap"}), 0, "");
  EXPECT_EQ(tape(), (Bytes{0x03, 0x00, 0xFF, 0x01, 0xFE}));
  EXPECT_EQ(fs::status(dir / "out.tap").permissions(), before);
}

// Refused before anything is written, by the platform's own look at the
// files: a directory is no input and no output, and the same file is found
// under another spelling, a full path or a hard link.
TEST_F(EndToEnd, RunsThatCannotStartWritingLeaveEveryFileAlone) {
  input({1});
  input(earlierTape, "out.tap");
  fs::create_directory(dir / "folder");
  fs::create_hard_link(dir / "in.bin", dir / "hard.tap");
  const struct {
    Arguments arguments;
    const char* message;
  } cases[] = {
      {{"missing.bin", "out.tap"}, errorOpen},
      {{"-c", "folder", "out.tap", "n", "1"}, errorOpen},
      {{"in.bin", "no/such/dir/out.tap"}, errorCreate},
      {{"in.bin", "folder"}, errorCreate},
      {{"in.bin", "in.bin"}, errorSame},
      {{"in.bin", "./in.bin"}, errorSame},
      {{"in.bin", dir / "in.bin"}, errorSame},
      {{"in.bin", "hard.tap"}, errorSame},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    expectRun(run(c.arguments), 1, c.message);
  }
  EXPECT_EQ(tape(), earlierTape);
  EXPECT_EQ(tape("in.bin"), Bytes{1});
  EXPECT_TRUE(fs::is_directory(dir / "folder"));
  EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

}  // namespace
