// The command line in-process: banner, usage text, mode selection and its
// errors, start values and the tapes of each mode, through files in memory.
#include "app/ProgramEntry.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/Bytes.h"
#include "support/ExpectedOutput.h"
#include "support/VirtualFileSystem.h"

namespace {

using Arguments = std::vector<std::string>;

struct EntryRun {
  int status;
  std::string out;
};

class ProgramEntry : public ::testing::Test {
 protected:
  VirtualFileSystem files;

  EntryRun run(const Arguments& arguments, bool withProgramName = true) {
    std::ostringstream console;
    const int status = runTo(console, arguments, withProgramName);
    return {status, console.str()};
  }
  int runTo(std::ostream& console, const Arguments& arguments, bool withProgramName = true) {
    std::vector<const char*> vector;
    if (withProgramName) vector.push_back("reelmake");
    for (const std::string& argument : arguments) vector.push_back(argument.c_str());
    vector.push_back(nullptr);
    return programEntry(static_cast<int>(vector.size() - 1), vector.data(), files, console);
  }

  // The banner line carries the build date, which the test cannot know.
  std::string banner() {
    const std::string out = run({"-h"}).out;
    return out.substr(1, out.find('\n', 1));
  }

  // A run after which the output holds an empty line, the banner, then rest.
  void expectRun(const Arguments& arguments, int status, const std::string& rest) {
    const EntryRun result = run(arguments);
    EXPECT_EQ(result.status, status) << ::testing::PrintToString(arguments);
    const std::string expected = std::string("\n").append(banner()).append("\n").append(rest);
    EXPECT_EQ(result.out, expected) << ::testing::PrintToString(arguments);
  }

  Bytes tapeOf(const Arguments& arguments) {
    expectRun(arguments, 0, "");
    return files.contents("out.tap");
  }
};

// Standard output on a full disk: a run that is only to print the usage
// text fails, a conversion whose tape is in place does not.
TEST_F(ProgramEntry, AConsoleThatTakesNothingFailsOnlyTheUsage) {
  struct Full : std::streambuf {
    int overflow(int) override { return traits_type::eof(); }
  } full;
  std::ostream console(&full);
  EXPECT_EQ(runTo(console, {"-h"}), 1);
  EXPECT_EQ(runTo(console, {}), 1);
  files.create("in.bin", {1});
  EXPECT_EQ(runTo(console, {"-r", "in.bin", "out.tap"}), 0);
  EXPECT_EQ(files.contents("out.tap"), (Bytes{0x01, 0x00, 0x01}));
}

TEST_F(ProgramEntry, WithoutArgumentsPrintsTheBannerAndTheUsage) {
  EXPECT_TRUE(std::regex_match(
      banner(), std::regex("  reelmake " REELMAKE_VERSION " \\(built \\d{4}-\\d{2}-\\d{2}\\)\n")))
      << banner();
  for (const bool withProgramName : {true, false}) {
    const EntryRun result = run({}, withProgramName);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, banner() + "\n" + expectedUsageText);
  }
}

TEST_F(ProgramEntry, HelpAmongTheOptionsWinsOverEverything) {
  for (const Arguments& arguments :
       std::vector<Arguments>{{"-h"},
                              {"--help"},
                              {"--help=x"},
                              {"-rbh", "x"},
                              {"-c", "--help", "in.bin", "out.tap", "n", "1"},
                              {"-x", "-h", "--", "a"},
                              {"-c", "-h", "in.bin", "out.tap", "n", "0x10"}}) {
    expectRun(arguments, 0, expectedUsageText);
  }
  EXPECT_TRUE(files.paths().empty());
}

TEST_F(ProgramEntry, CommandLinesThatSelectNoConversionFailAndTouchNothing) {
  files.create("in.bin", {1, 2, 3});
  files.create("out.tap", {'o', 'l', 'd'});
  const struct {
    Arguments arguments;
    std::string error;
  } cases[] = {
      {{"-x", "in.bin", "out.tap"}, errorUnknownOption("-x")},
      {{"-bx", "in.bin", "out.tap", "n"}, errorUnknownOption("-x")},
      {{"-r-", "in.bin", "out.tap"}, errorUnknownOption("--")},
      {{"--foo=3", "-b", "in.bin", "out.tap", "n"}, errorUnknownOption("--foo")},
      {{"-rb", "--he", "-y", "in.bin", "out.tap"}, errorUnknownOption("--he")},
      {{"-rb", "in.bin", "out.tap"}, errorOnlyOne},
      {{"-r", "-r", "in.bin", "out.tap"}, errorOnlyOne},
      {{"--basic", "--code", "in.bin", "out.tap", "n", "1"}, errorOnlyOne},
      {{"-b", "in.bin", "out.tap"}, errorBasicNeeds},
      {{"--basic", "in.bin", "out.tap", "n", "1", "extra"}, errorBasicNeeds},
      {{"-c", "in.bin", "out.tap", "name"}, errorCodeNeeds},
      {{"--code", "in.bin", "out.tap", "n", "1", "extra"}, errorCodeNeeds},
      {{"in.bin"}, errorHeaderlessNeeds},
      {{"in.bin", "out.tap", "-r"}, errorHeaderlessNeeds},
      {{"--raw=0", "in.bin", "out.tap", "n"}, errorHeaderlessNeeds},
      {{"--"}, errorHeaderlessNeeds},
      {{"-"}, errorHeaderlessNeeds},
  };
  for (const auto& c : cases) {
    expectRun(c.arguments, 1, c.error);
  }
  EXPECT_EQ(files.paths(), (std::vector<std::string>{"in.bin", "out.tap"}));
  EXPECT_EQ(files.contents("out.tap"), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(files.calls(VirtualFileSystem::OpenInput), 0u);
}

TEST_F(ProgramEntry, AStartValueMustBeADecimalNumber) {
  files.create("in.bin", {1, 2, 3});
  // The rest of the refused forms are StartValueTest's.
  for (const char* text : {"", "0x8000", "12abc", "١٢"}) {
    expectRun({"-c", "in.bin", "out.tap", "n", text}, 1, errorStartValue);
    expectRun({"-b", "in.bin", "out.tap", "n", text}, 1, errorStartValue);
  }
  EXPECT_EQ(files.calls(VirtualFileSystem::OpenInput), 0u);
  EXPECT_EQ(files.paths(), (std::vector<std::string>{"in.bin"}));
}

TEST_F(ProgramEntry, HeaderlessBlocks) {
  files.create("in.bin", {});
  EXPECT_EQ(tapeOf({"in.bin", "out.tap"}), (Bytes{0x02, 0x00, 0xFF, 0xFF}));
  EXPECT_EQ(tapeOf({"-r", "in.bin", "out.tap"}), (Bytes{0x00, 0x00}));

  files.create("in.bin", {0x01, 0x02, 0x03});
  EXPECT_EQ(tapeOf({"in.bin", "out.tap"}), (Bytes{0x05, 0x00, 0xFF, 0x01, 0x02, 0x03, 0xFF}));
  EXPECT_EQ(tapeOf({"--raw", "in.bin", "out.tap"}), (Bytes{0x03, 0x00, 0x01, 0x02, 0x03}));
  EXPECT_EQ(tapeOf({"--", "in.bin", "out.tap"}), (Bytes{0x05, 0x00, 0xFF, 0x01, 0x02, 0x03, 0xFF}));

  files.create("in.bin", {0x10, 0x20, 0x40, 0x80, 0x01});
  EXPECT_EQ(tapeOf({"in.bin", "out.tap"}),
            (Bytes{0x07, 0x00, 0xFF, 0x10, 0x20, 0x40, 0x80, 0x01, 0x0E}));

  // After the first file name an option is a file name too.
  expectRun({"in.bin", "-h"}, 0, "");
  EXPECT_EQ(files.contents("-h"), (Bytes{0x07, 0x00, 0xFF, 0x10, 0x20, 0x40, 0x80, 0x01, 0x0E}));
}

// Header block of a BASIC program named hello holding 01 02 03.
Bytes basicHeader(std::uint8_t start0, std::uint8_t start1, std::uint8_t checksum) {
  return {0x13, 0x00, 0x00, 0x00, 'h',  'e',    'l',    'l',  'o',  0x20,    0x20,
          0x20, 0x20, 0x20, 0x03, 0x00, start0, start1, 0x03, 0x00, checksum};
}

const Bytes dataOf123 = {0x05, 0x00, 0xFF, 0x01, 0x02, 0x03, 0xFF};

TEST_F(ProgramEntry, BasicPrograms) {
  files.create("in.bin", {0x01, 0x02, 0x03});
  const Bytes noAutoStart = join({basicHeader(0x00, 0x80, 0xC2), dataOf123});
  const Bytes line10 = join({basicHeader(0x0A, 0x00, 0x48), dataOf123});
  EXPECT_EQ(tapeOf({"-b", "in.bin", "out.tap", "hello"}), noAutoStart);
  EXPECT_EQ(tapeOf({"--basic", "in.bin", "out.tap", "hello", "10"}), line10);
  // Blanks around the number are allowed.
  EXPECT_EQ(tapeOf({"-b", "in.bin", "out.tap", "hello", " \t10 \n"}), line10);
  // A negative start line means no auto-start; -5 is positional here.
  EXPECT_EQ(tapeOf({"-b", "in.bin", "out.tap", "hello", "-5"}), noAutoStart);
  // Only the low 16 bits of a large line number are kept: 65546 -> 10.
  EXPECT_EQ(tapeOf({"-b", "in.bin", "out.tap", "hello", "65546"}), line10);
  // -0 is not negative: auto-start at line 0.
  EXPECT_EQ(tapeOf({"-b", "in.bin", "out.tap", "hello", "-0"}),
            join({basicHeader(0x00, 0x00, 0x42), dataOf123}));
}

TEST_F(ProgramEntry, CodeFiles) {
  files.create("in.bin", {0x01, 0x02, 0x03});
  const Bytes header = {0x13, 0x00, 0x00, 0x03, 'c',  'o',  'd',  'e',  0x20, 0x20, 0x20,
                        0x20, 0x20, 0x20, 0x03, 0x00, 0x00, 0x80, 0x00, 0x80, 0x0D};
  EXPECT_EQ(tapeOf({"-c", "in.bin", "out.tap", "code", "32768"}), join({header, dataOf123}));
  // A value of 4294967296 + 32768 written out in full still lands on 32768.
  EXPECT_EQ(tapeOf({"-c", "in.bin", "out.tap", "code", "+4295000064"}), join({header, dataOf123}));

  // -1 is kept as its low 16 bits, FF FF.
  Bytes minusOne = header;
  minusOne[16] = 0xFF;
  minusOne[17] = 0xFF;
  minusOne[20] = 0x0D ^ 0x80 ^ 0xFF ^ 0xFF;
  EXPECT_EQ(tapeOf({"--code", "in.bin", "out.tap", "code", "-1"}), join({minusOne, dataOf123}));
}

TEST_F(ProgramEntry, NamesAreCutOrPaddedToTenBytes) {
  files.create("in.bin", {});
  const Bytes longName = tapeOf({"-c", "in.bin", "out.tap", "abcdefghijklmno", "0"});
  ASSERT_EQ(longName.size(), 25u);
  EXPECT_EQ(Bytes(longName.begin() + 4, longName.begin() + 14),
            (Bytes{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j'}));
  EXPECT_EQ(longName[20], 0x03 ^ 'a' ^ 'b' ^ 'c' ^ 'd' ^ 'e' ^ 'f' ^ 'g' ^ 'h' ^ 'i' ^ 'j' ^ 0x80);

  EXPECT_EQ(tapeOf({"-c", "in.bin", "out.tap", "", "0"}),
            (Bytes{0x13, 0x00, 0x00, 0x03, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
                   0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x83, 0x02, 0x00, 0xFF, 0xFF}));
}

}  // namespace
