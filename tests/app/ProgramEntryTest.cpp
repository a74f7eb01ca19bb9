// The command line in-process: banner, usage text, mode selection and its
// errors, start values and the tapes of each mode, through files in memory.
#include "app/ProgramEntry.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/StartValue.h"
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
    return programEntry(static_cast<int>(vector.size() - 1), vector.data(), files, files, console);
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

// Standard output on a (nearly) full disk: a run that is only to print the
// usage text fails, a conversion whose tape is in place does not. No other
// test gives the program a console that fails. Like a file's stream, this
// one fails only when its buffer is written out.
TEST_F(ProgramEntry, AConsoleThatTakesNothingFailsOnlyTheUsage) {
  struct NearlyFull : std::streambuf {
    explicit NearlyFull(std::size_t room) : room(room) { setp(buffer, buffer + sizeof buffer); }
    int overflow(int) override { return traits_type::eof(); }
    int sync() override {
      const auto pending = static_cast<std::size_t>(pptr() - pbase());
      setp(buffer, buffer + sizeof buffer);
      if (pending > room) return -1;
      room -= pending;
      return 0;
    }
    char buffer[4096];
    std::size_t room;
  };
  const auto statusWithRoomFor = [&](std::size_t room, const Arguments& arguments) {
    NearlyFull full(room);
    std::ostream console(&full);
    return runTo(console, arguments);
  };
  EXPECT_EQ(statusWithRoomFor(0, {"-h"}), 1);
  EXPECT_EQ(statusWithRoomFor(0, {}), 1);
  EXPECT_EQ(statusWithRoomFor(200, {"-h"}), 1);  // room for the banner alone
  files.create("in.bin", {1});
  EXPECT_EQ(statusWithRoomFor(0, {"-r", "in.bin", "out.tap"}), 0);
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

// Help among the options wins over everything; any other command line that
// selects no conversion fails with one error line. Neither opens a file.
TEST_F(ProgramEntry, CommandLinesThatConvertNothing) {
  files.create("in.bin", {1, 2, 3});
  files.create("out.tap", {'o', 'l', 'd'});
  const struct {
    Arguments arguments;
    int status;
    std::string message;
  } cases[] = {
      {{"-h"}, 0, expectedUsageText},
      {{"--help"}, 0, expectedUsageText},
      {{"--help=x"}, 0, expectedUsageText},
      {{"-rbh", "x"}, 0, expectedUsageText},
      {{"-c", "--help", "in.bin", "out.tap", "n", "1"}, 0, expectedUsageText},
      {{"-x", "-h", "--", "a"}, 0, expectedUsageText},
      {{"-c", "-h", "in.bin", "out.tap", "n", "0x10"}, 0, expectedUsageText},
      {{"-x", "in.bin", "out.tap"}, 1, errorUnknownOption("-x")},
      {{"-bx", "in.bin", "out.tap", "n"}, 1, errorUnknownOption("-x")},
      {{"-r-", "in.bin", "out.tap"}, 1, errorUnknownOption("--")},
      {{"--foo=3", "-b", "in.bin", "out.tap", "n"}, 1, errorUnknownOption("--foo")},
      {{"-rb", "--he", "-y", "in.bin", "out.tap"}, 1, errorUnknownOption("--he")},
      {{"-rb", "in.bin", "out.tap"}, 1, errorOnlyOne},
      {{"-r", "-r", "in.bin", "out.tap"}, 1, errorOnlyOne},
      {{"--basic", "--code", "in.bin", "out.tap", "n", "1"}, 1, errorOnlyOne},
      {{"-b", "in.bin", "out.tap"}, 1, errorBasicNeeds},
      {{"--basic", "in.bin", "out.tap", "n", "1", "extra"}, 1, errorBasicNeeds},
      {{"-c", "in.bin", "out.tap", "name"}, 1, errorCodeNeeds},
      {{"--code", "in.bin", "out.tap", "n", "1", "extra"}, 1, errorCodeNeeds},
      {{"in.bin"}, 1, errorHeaderlessNeeds},
      {{"in.bin", "out.tap", "-r"}, 1, errorHeaderlessNeeds},
      {{"--raw=0", "in.bin", "out.tap", "n"}, 1, errorHeaderlessNeeds},
      {{"--"}, 1, errorHeaderlessNeeds},
      {{"-"}, 1, errorHeaderlessNeeds},
  };
  for (const auto& c : cases) {
    expectRun(c.arguments, c.status, c.message);
  }
  EXPECT_EQ(files.paths(), (std::vector<std::string>{"in.bin", "out.tap"}));
  EXPECT_EQ(files.contents("out.tap"), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(files.calls(VirtualFileSystem::OpenInput), 0u);
}

// Each start value as a code file's load address (its low 16 bits) and as a
// BASIC program's start line (the same, or 8000, no auto-start, below zero).
// A value that is not a decimal number is refused before any file is opened.
TEST_F(ProgramEntry, StartValues) {
  files.create("in.bin", {});
  for (const char* text :
       {"", " ", "-", "+-3", "- 3", "4 2", "12abc", "1e5", "0x10", "0x8000", "abc", "١٢"}) {
    expectRun({"-c", "in.bin", "out.tap", "n", text}, 1, errorStartValue);
    expectRun({"-b", "in.bin", "out.tap", "n", text}, 1, errorStartValue);
  }
  EXPECT_EQ(files.calls(VirtualFileSystem::OpenInput), 0u);
  EXPECT_EQ(files.paths(), (std::vector<std::string>{"in.bin"}));

  // 10^5000 + 32768: 10^5000 is divisible by 2^16, so the low bits are 32768.
  const std::string thousandsOfDigits = "1" + std::string(5000 - 5, '0') + "32768";
  const struct {
    std::string text;
    std::uint16_t low16;
    bool negative;
  } cases[] = {
      {"10", 10, false},
      {"32768", 0x8000, false},
      {"65535", 0xFFFF, false},
      {"65536", 0, false},
      {"65546", 10, false},
      {"4294967306", 10, false},            // 2^32 + 10: no 32-bit wrap-around on the way
      {"18446744073709551626", 10, false},  // 2^64 + 10
      {thousandsOfDigits, 0x8000, false},
      {"-" + thousandsOfDigits, 0x8000, true},
      {"-1", 0xFFFF, true},  // positional, as every argument after the first file name
      {"-32768", 0x8000, true},
      {"-65536", 0, true},  // non-zero, so negative, although its low bits are 0
      {"-0", 0, false},
      {"-000", 0, false},
      {"+7", 7, false},
      {"000123", 123, false},
      {"  \t\n42", 42, false},
      {"42 \r\n", 42, false},
      {" -9 ", 0xFFF7, true},
  };
  const auto startField = [](const Bytes& tape) { return tape.at(16) | tape.at(17) << 8; };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 30));
    EXPECT_EQ(startField(tapeOf({"-c", "in.bin", "out.tap", "n", c.text})), c.low16);
    EXPECT_EQ(startField(tapeOf({"-b", "in.bin", "out.tap", "n", c.text})),
              c.negative ? 0x8000 : c.low16);
    // Below zero with low bits 8000 looks on a tape like 32768: the value says.
    EXPECT_EQ(parseStartValue(c.text.c_str()).value().negative, c.negative);
  }
}

// Whole tapes, the bytes worked out by hand: the reference for every mode,
// which the end-to-end and tape-library tests only sample.
TEST_F(ProgramEntry, TheTapeOfEachMode) {
  const Bytes framed123 = {0x05, 0x00, 0xFF, 0x01, 0x02, 0x03, 0xFF};
  const struct {
    Arguments arguments;
    Bytes input;
    Bytes tape;
  } cases[] = {
      {{"in.bin", "out.tap"}, {}, {0x02, 0x00, 0xFF, 0xFF}},
      {{"-r", "in.bin", "out.tap"}, {}, {0x00, 0x00}},
      {{"--", "in.bin", "out.tap"}, {0x01, 0x02, 0x03}, framed123},
      {{"--raw", "in.bin", "out.tap"}, {0x01, 0x02, 0x03}, {0x03, 0x00, 0x01, 0x02, 0x03}},
      // Every bit of the checksum.
      {{"in.bin", "out.tap"},
       {0x10, 0x20, 0x40, 0x80, 0x01},
       {0x07, 0x00, 0xFF, 0x10, 0x20, 0x40, 0x80, 0x01, 0x0E}},
      // BASIC: type 0, name, length, start line (8000: none), length again.
      {{"-b", "in.bin", "out.tap", "hello"},
       {0x01, 0x02, 0x03},
       join({{0x13, 0x00, 0x00, 0x00, 'h',  'e',  'l',  'l',  'o',  0x20, 0x20,
              0x20, 0x20, 0x20, 0x03, 0x00, 0x00, 0x80, 0x03, 0x00, 0xC2},
             framed123})},
      {{"--basic", "in.bin", "out.tap", "hello", "10"},
       {0x01, 0x02, 0x03},
       join({{0x13, 0x00, 0x00, 0x00, 'h',  'e',  'l',  'l',  'o',  0x20, 0x20,
              0x20, 0x20, 0x20, 0x03, 0x00, 0x0A, 0x00, 0x03, 0x00, 0x48},
             framed123})},
      // Code: type 3, the name cut to ten bytes, length, address, 8000.
      {{"-c", "in.bin", "out.tap", "abcdefghijklmno", "32768"},
       {0x01, 0x02, 0x03},
       join({{0x13, 0x00, 0x00, 0x03, 'a',  'b',  'c',  'd',  'e',  'f', 'g',
              'h',  'i',  'j',  0x03, 0x00, 0x00, 0x80, 0x00, 0x80, 0x0B},
             framed123})},
      // An empty name is ten blanks.
      {{"--code", "in.bin", "out.tap", "", "0"},
       {},
       {0x13, 0x00, 0x00, 0x03, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
        0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x83, 0x02, 0x00, 0xFF, 0xFF}},
  };
  for (const auto& c : cases) {
    files.create("in.bin", c.input);
    EXPECT_EQ(tapeOf(c.arguments), c.tape) << ::testing::PrintToString(c.arguments);
  }

  // After the first file name an option is a file name too.
  files.create("in.bin", {0x01, 0x02, 0x03});
  expectRun({"in.bin", "-h"}, 0, "");
  EXPECT_EQ(files.contents("-h"), framed123);
}

// A tape that goes to standard output's own file, by any descriptor, is all
// that goes there; a failure there prints its error line alone. A tape for
// another descriptor, or a command line that converts nothing, leaves the
// banner as it is.
TEST_F(ProgramEntry, ATapeOnStandardOutputComesWithoutTheBanner) {
  files.create("in.bin", {0x01, 0x02, 0x03});
  files.create("console", {});
  files.create("log", {});
  files.holdOpen(1, "console");
  files.holdOpen(3, "console");
  files.holdOpen(4, "log");
  const Bytes raw123 = {0x03, 0x00, 0x01, 0x02, 0x03};
  EXPECT_EQ(run({"-r", "in.bin", "/dev/fd/1"}).out, "");
  EXPECT_EQ(run({"-r", "in.bin", "/dev/fd/3"}).out, "");
  EXPECT_EQ(files.contents("console"), join({raw123, raw123}));
  expectRun({"-r", "in.bin", "/dev/fd/4"}, 0, "");
  EXPECT_EQ(files.contents("log"), raw123);
  expectRun({"-c", "in.bin", "/dev/fd/1", "name"}, 1,
            "  error: -c needs an input, an output, a tape name and a start address.\n");

  files.create("in.bin", Bytes(65536, 0));
  const EntryRun failed = run({"-r", "in.bin", "/dev/fd/1"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, errorTooLong);
}

}  // namespace
