// Runs the built program in a temporary directory and checks its standard
// output, standard error, exit status and the tape it writes, byte for byte.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <thread>

#include "support/ExpectedOutput.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace {

const std::string usageText = expectedUsageText;

// The banner line carries the build date, which the test cannot know.
std::string banner() {
  static const std::string line = [] {
    const ProgramResult result = runProgram(REELMAKE_BINARY, {"--help"});
    return result.out.substr(1, result.out.find('\n', 1));
  }();
  return line;
}

class CommandLine : public ::testing::Test {
 protected:
  TempDir dir;

  ProgramResult run(const std::vector<std::string>& arguments, ProgramRunOptions options = {}) {
    options.directory = dir.path().string();
    const std::string program = options.asUnprivilegedUser ? copyForEveryone() : REELMAKE_BINARY;
    ProgramResult result = runProgram(program, arguments, options);
    EXPECT_EQ(result.err, "") << "nothing may go to standard error";
    return result;
  }
  // The build tree may be closed to other users, so nobody runs a copy.
  std::string copyForEveryone() {
    const std::string copy = dir / "reelmake";
    std::filesystem::copy_file(REELMAKE_BINARY, copy,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(
        copy, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                  std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                  std::filesystem::perms::others_exec);
    return copy;
  }
  void input(const Bytes& bytes, const std::string& name = "in.bin") {
    writeFile(dir / name, bytes);
  }
  Bytes tape(const std::string& name = "out.tap") { return readFile(dir / name); }
  bool exists(const std::string& name) { return fileExists(dir / name); }

  // A run that prints an empty line, the banner, then rest (which starts with
  // the empty line that follows the banner).
  void expectBannerThen(const ProgramResult& result, int status, const std::string& rest) {
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(result.out, "\n" + banner() + rest);
  }
};

TEST(Banner, IsOneLineWithTheVersionAndAnIsoBuildDate) {
  EXPECT_TRUE(std::regex_match(
      banner(), std::regex("  reelmake " REELMAKE_VERSION " \\(built \\d{4}-\\d{2}-\\d{2}\\)\n")))
      << banner();
}

TEST_F(CommandLine, WithoutArgumentsPrintsBannerAndUsage) {
  const ProgramResult result = run({});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, banner() + "\n" + usageText);

  ProgramRunOptions empty;
  empty.withoutProgramName = true;
  const ProgramResult noName = run({}, empty);
  EXPECT_EQ(noName.status, 0);
  EXPECT_EQ(noName.out, banner() + "\n" + usageText);
}

TEST_F(CommandLine, HelpAmongTheOptionsWinsOverEverything) {
  for (const auto& arguments :
       std::vector<std::vector<std::string>>{{"-h"},
                                             {"--help"},
                                             {"-rbh", "x"},
                                             {"-c", "--help", "in.bin", "out.tap", "n", "1"},
                                             {"-x", "-h", "--", "a"},
                                             {"--help=yes"}}) {
    expectBannerThen(run(arguments), 0, "\n" + usageText);
  }
  EXPECT_FALSE(exists("out.tap"));
}

TEST_F(CommandLine, AfterTheFirstPositionalAnOptionIsAFileName) {
  input({});
  expectBannerThen(run({"in.bin", "-h"}), 0, "\n");
  EXPECT_EQ(tape("-h"), (Bytes{0x02, 0x00, 0xFF, 0xFF}));
}

TEST_F(CommandLine, CombinationsOutsideTheModeTableConvertNothing) {
  input({1, 2, 3});
  for (const auto& arguments :
       std::vector<std::vector<std::string>>{{"in.bin", "out.tap", "-r"},
                                             {"-c", "in.bin", "out.tap", "name"},
                                             {"-rb", "in.bin", "out.tap"},
                                             {"-r", "-r", "in.bin", "out.tap"},
                                             {"-x", "in.bin", "out.tap"},
                                             {"--foo", "in.bin", "out.tap"},
                                             {"-b", "in.bin", "out.tap"},
                                             {"-b", "in.bin", "out.tap", "n", "1", "extra"},
                                             {"-r", "in.bin", "out.tap", "n"},
                                             {"in.bin"},
                                             {"--"},
                                             {"-"}}) {
    expectBannerThen(run(arguments), 0, "\n");
    EXPECT_FALSE(exists("out.tap"));
  }
}

TEST_F(CommandLine, HeaderlessBlocks) {
  input({});
  expectBannerThen(run({"in.bin", "out.tap"}), 0, "\n");
  EXPECT_EQ(tape(), (Bytes{0x02, 0x00, 0xFF, 0xFF}));
  expectBannerThen(run({"-r", "in.bin", "out.tap"}), 0, "\n");
  EXPECT_EQ(tape(), (Bytes{0x00, 0x00}));

  input({0x01, 0x02, 0x03});
  expectBannerThen(run({"in.bin", "out.tap"}), 0, "\n");
  EXPECT_EQ(tape(), (Bytes{0x05, 0x00, 0xFF, 0x01, 0x02, 0x03, 0xFF}));
  expectBannerThen(run({"--raw", "in.bin", "out.tap"}), 0, "\n");
  EXPECT_EQ(tape(), (Bytes{0x03, 0x00, 0x01, 0x02, 0x03}));
  expectBannerThen(run({"--", "in.bin", "out.tap"}), 0, "\n");
  EXPECT_EQ(tape(), (Bytes{0x05, 0x00, 0xFF, 0x01, 0x02, 0x03, 0xFF}));

  input({0x10, 0x20, 0x40, 0x80, 0x01});
  expectBannerThen(run({"in.bin", "out.tap"}), 0, "\n");
  EXPECT_EQ(tape(), (Bytes{0x07, 0x00, 0xFF, 0x10, 0x20, 0x40, 0x80, 0x01, 0x0E}));
}

// Header block of a BASIC program named hello holding 01 02 03, before its
// parameter 1 and checksum, which the tests append.
Bytes basicHeader(std::uint8_t start0, std::uint8_t start1, std::uint8_t checksum) {
  return {0x13, 0x00, 0x00, 0x00, 'h',  'e',    'l',    'l',  'o',  0x20,    0x20,
          0x20, 0x20, 0x20, 0x03, 0x00, start0, start1, 0x03, 0x00, checksum};
}

const Bytes dataOf123 = {0x05, 0x00, 0xFF, 0x01, 0x02, 0x03, 0xFF};

Bytes join(Bytes first, const Bytes& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

TEST_F(CommandLine, BasicPrograms) {
  input({0x01, 0x02, 0x03});
  expectBannerThen(run({"-b", "in.bin", "out.tap", "hello"}), 0, "\n");
  EXPECT_EQ(tape(), join(basicHeader(0x00, 0x80, 0xC2), dataOf123));

  expectBannerThen(run({"--basic", "in.bin", "out.tap", "hello", "10"}), 0, "\n");
  EXPECT_EQ(tape(), join(basicHeader(0x0A, 0x00, 0x48), dataOf123));

  // A negative start line means no auto-start; -5 is positional here.
  expectBannerThen(run({"-b", "in.bin", "out.tap", "hello", "-5"}), 0, "\n");
  EXPECT_EQ(tape(), join(basicHeader(0x00, 0x80, 0xC2), dataOf123));

  // Only the low 16 bits of a large line number are kept: 65546 -> 10.
  expectBannerThen(run({"-b", "in.bin", "out.tap", "hello", "65546"}), 0, "\n");
  EXPECT_EQ(tape(), join(basicHeader(0x0A, 0x00, 0x48), dataOf123));

  // -0 is not negative: auto-start at line 0.
  expectBannerThen(run({"-b", "in.bin", "out.tap", "hello", "-0"}), 0, "\n");
  EXPECT_EQ(tape(), join(basicHeader(0x00, 0x00, 0x42), dataOf123));
}

TEST_F(CommandLine, CodeFiles) {
  input({0x01, 0x02, 0x03});
  const Bytes header = {0x13, 0x00, 0x00, 0x03, 'c',  'o',  'd',  'e',  0x20, 0x20, 0x20,
                        0x20, 0x20, 0x20, 0x03, 0x00, 0x00, 0x80, 0x00, 0x80, 0x0D};
  expectBannerThen(run({"-c", "in.bin", "out.tap", "code", "32768"}), 0, "\n");
  EXPECT_EQ(tape(), join(header, dataOf123));

  // -1 is kept as its low 16 bits, FF FF.
  Bytes minusOne = header;
  minusOne[16] = 0xFF;
  minusOne[17] = 0xFF;
  minusOne[20] = 0x0D ^ 0x80 ^ 0xFF ^ 0xFF;
  expectBannerThen(run({"--code", "in.bin", "out.tap", "code", "-1"}), 0, "\n");
  EXPECT_EQ(tape(), join(minusOne, dataOf123));

  // A value of 4294967296 + 32768 written out in full still lands on 32768.
  expectBannerThen(run({"-c", "in.bin", "out.tap", "code", "4295000064"}), 0, "\n");
  EXPECT_EQ(tape(), join(header, dataOf123));
}

TEST_F(CommandLine, NamesAreCutOrPaddedToTenBytes) {
  input({});
  expectBannerThen(run({"-c", "in.bin", "out.tap", "abcdefghijklmno", "0"}), 0, "\n");
  const Bytes longName = tape();
  ASSERT_EQ(longName.size(), 25u);
  EXPECT_EQ(Bytes(longName.begin() + 4, longName.begin() + 14),
            (Bytes{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j'}));
  EXPECT_EQ(longName[20], 0x03 ^ 'a' ^ 'b' ^ 'c' ^ 'd' ^ 'e' ^ 'f' ^ 'g' ^ 'h' ^ 'i' ^ 'j' ^ 0x80);

  expectBannerThen(run({"-c", "in.bin", "out.tap", "", "0"}), 0, "\n");
  EXPECT_EQ(tape(),
            (Bytes{0x13, 0x00, 0x00, 0x03, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
                   0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x83, 0x02, 0x00, 0xFF, 0xFF}));
}

TEST_F(CommandLine, SizeLimits) {
  input(Bytes(65533, 0x55));
  expectBannerThen(run({"in.bin", "out.tap"}), 0, "\n");
  const Bytes framed = tape();
  ASSERT_EQ(framed.size(), 65537u);
  EXPECT_EQ(framed[0], 0xFF);
  EXPECT_EQ(framed[1], 0xFF);
  EXPECT_EQ(framed.back(), 0xFF ^ 0x55);  // an odd number of 0x55 bytes

  input(Bytes(65534, 0x55));
  std::filesystem::remove(dir / "out.tap");
  for (const auto& arguments :
       std::vector<std::vector<std::string>>{{"in.bin", "out.tap"},
                                             {"-b", "in.bin", "out.tap", "n"},
                                             {"-c", "in.bin", "out.tap", "n", "1"}}) {
    expectBannerThen(run(arguments), 1, std::string("\n") + errorTooLong);
    EXPECT_FALSE(exists("out.tap"));
  }

  input(Bytes(65535, 0x55));
  expectBannerThen(run({"-r", "in.bin", "out.tap"}), 0, "\n");
  EXPECT_EQ(tape().size(), 65537u);
  input(Bytes(65536, 0x55));
  std::filesystem::remove(dir / "out.tap");
  expectBannerThen(run({"-r", "in.bin", "out.tap"}), 1, std::string("\n") + errorTooLong);
  EXPECT_FALSE(exists("out.tap"));
}

TEST_F(CommandLine, ASparseFileOfFourGigabytesAndThreeBytesIsTooLong) {
  { std::ofstream sparse(dir / "in.bin", std::ios::binary); }
  std::filesystem::resize_file(dir / "in.bin", (std::uintmax_t{1} << 32) + 3);
  expectBannerThen(run({"-r", "in.bin", "out.tap"}), 1, std::string("\n") + errorTooLong);
  EXPECT_FALSE(exists("out.tap"));
}

TEST_F(CommandLine, AMissingOrDirectoryInputLeavesTheOutputAlone) {
  input({'o', 'l', 'd'}, "out.tap");
  expectBannerThen(run({"missing.bin", "out.tap"}), 1, std::string("\n") + errorOpen);
  std::filesystem::create_directory(dir / "folder");
  expectBannerThen(run({"-c", "folder", "out.tap", "n", "1"}), 1, std::string("\n") + errorOpen);
  EXPECT_EQ(tape(), (Bytes{'o', 'l', 'd'}));
}

TEST_F(CommandLine, OutputsThatCannotBeCreated) {
  input({1});
  expectBannerThen(run({"in.bin", "no/such/dir/out.tap"}), 1, std::string("\n") + errorCreate);
  std::filesystem::create_directory(dir / "folder");
  expectBannerThen(run({"in.bin", "folder"}), 1, std::string("\n") + errorCreate);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder"));
}

TEST_F(CommandLine, AFullDeviceIsAWriteFailureAndIsNotRemoved) {
  input({1, 2, 3});
  expectBannerThen(run({"-b", "in.bin", "/dev/full", "n"}), 1, std::string("\n") + errorWrite);
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
}

TEST_F(CommandLine, AReaderThatGoesAwayIsAWriteFailure) {
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // The tape is one byte larger than a pipe holds, so the program cannot
  // finish writing before the reader closes without reading.
  std::thread reader([&] { ::close(::open(fifo.c_str(), O_RDONLY)); });
  input(Bytes(65533, 1));
  const ProgramResult result = run({"in.bin", "fifo"});
  reader.join();
  expectBannerThen(result, 1, std::string("\n") + errorWrite);
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}

TEST_F(CommandLine, FilesThatMisreportTheirSizeAreReadToTheirEnd) {
  // Files under /proc report a size of 0 whatever they hold.
  const std::string ostype = "/proc/sys/kernel/ostype";
  if (!fileExists(ostype)) {
    GTEST_SKIP() << "no " << ostype;
  }
  const Bytes content = readFile(ostype);
  ASSERT_FALSE(content.empty());
  expectBannerThen(run({"-r", ostype, "out.tap"}), 0, "\n");
  Bytes expected = {static_cast<std::uint8_t>(content.size()), 0x00};
  expected.insert(expected.end(), content.begin(), content.end());
  EXPECT_EQ(tape(), expected);
}

TEST_F(CommandLine, AFifoGivenAsBothInputAndOutputIsRefusedWithoutWaiting) {
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  expectBannerThen(run({"fifo", "fifo"}), 1, std::string("\n") + errorSame);
}

TEST_F(CommandLine, TheSameFileIsNeverBothInputAndOutput) {
  const Bytes original = {1, 2, 3};
  input(original);
  std::filesystem::create_symlink("in.bin", dir / "link.tap");
  std::filesystem::create_hard_link(dir / "in.bin", dir / "hard.tap");
  for (const std::string output : {"in.bin", "./in.bin", "link.tap", "hard.tap"}) {
    expectBannerThen(run({"in.bin", output}), 1, std::string("\n") + errorSame);
    EXPECT_EQ(tape("in.bin"), original) << output;
  }
}

TEST_F(CommandLine, PipesAreReadToTheirEnd) {
  ProgramRunOptions piped;
  piped.input = std::string("\x01\x02\x03", 3);
  expectBannerThen(run({"/dev/stdin", "out.tap"}, piped), 0, "\n");
  EXPECT_EQ(tape(), (Bytes{0x05, 0x00, 0xFF, 0x01, 0x02, 0x03, 0xFF}));

  piped.input = std::string(65535, 'x');
  expectBannerThen(run({"-r", "/dev/stdin", "out.tap"}, piped), 0, "\n");
  EXPECT_EQ(tape().size(), 65537u);

  std::filesystem::remove(dir / "out.tap");
  piped.input = std::string(65534, 'x');
  expectBannerThen(run({"-c", "/dev/stdin", "out.tap", "n", "0"}, piped), 1,
                   std::string("\n") + errorTooLong);
  EXPECT_FALSE(exists("out.tap"));
}

// Opens a FIFO for writing once a reader is there, giving up after a while
// so that a program that never opens it fails the test instead of hanging it.
int openFifoForWriting(const std::string& fifo) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) return fd;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

TEST_F(CommandLine, AFifoIsReadToItsEnd) {
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    const int fd = openFifoForWriting(fifo);
    if (fd >= 0) {
      EXPECT_EQ(::write(fd, "\x01\x02\x03", 3), 3);
      ::close(fd);
    }
  });
  const ProgramResult result = run({"-r", "fifo", "out.tap"});
  writer.join();
  expectBannerThen(result, 0, "\n");
  EXPECT_EQ(tape(), (Bytes{0x03, 0x00, 0x01, 0x02, 0x03}));
}

TEST_F(CommandLine, PermissionsAreRespected) {
  using std::filesystem::perms;
  std::filesystem::permissions(dir.path(), perms::all);
  input({1});
  std::filesystem::permissions(dir / "in.bin", perms::none);
  std::filesystem::create_directory(dir / "readonly");
  std::filesystem::permissions(dir / "readonly", perms::owner_read | perms::owner_exec |
                                                     perms::others_read | perms::others_exec);
  input({2}, "readable.bin");
  std::filesystem::permissions(dir / "readable.bin", perms::all);
  ProgramRunOptions unprivileged;
  unprivileged.asUnprivilegedUser = true;

  expectBannerThen(run({"in.bin", "out.tap"}, unprivileged), 1, std::string("\n") + errorOpen);
  EXPECT_FALSE(exists("out.tap"));
  expectBannerThen(run({"readable.bin", "readonly/out.tap"}, unprivileged), 1,
                   std::string("\n") + errorCreate);
  EXPECT_FALSE(exists("readonly/out.tap"));
}

}  // namespace
