#include "option/UsagePrinter.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <sstream>
#include <string>
#include <vector>

#include "support/AllocationCounter.h"
#include "support/ExpectedOutput.h"
#include "support/RecordingWriter.h"

namespace {

using option::OptionSpec;
using option::PrintUsageImplementation::OStreamWriter;
using option::PrintUsageImplementation::printUsageTable;

constexpr OptionSpec terminatingRow{0, 0, nullptr, nullptr, nullptr, nullptr};
constexpr OptionSpec separatorRow{0, 0, "s", "sep", nullptr, nullptr};

// The program's own table, as the entry defines it.
constexpr OptionSpec programTable[] = {
    {0, 0, "", "", nullptr,
     "  a tool to create tape images out of binary files\n\n  usage:\n"
     "    reelmake [-r] input.bin output.tap\n      creates a headerless tape block\n"
     "    reelmake -b input.bin output.tap zxname [start]\n"
     "      creates a basic file that autostarts at line 'start'\n"
     "    reelmake -c input.bin output.tap zxname start\n"
     "      creates a code file that loads at address 'start'\n  options:"},
    {1, 0, "h", "help", nullptr, "    -h, --help  \tprint usage and exit."},
    {2, 0, "b", "basic", nullptr, "    -b, --basic  \tcreate basic *.tap file."},
    {3, 0, "c", "code", nullptr, "    -c, --code  \tcreate code *.tap file."},
    {5, 0, "r", "raw", nullptr,
     "    -r, --raw  \tcreate a raw block, i.e. do not generate block id and checksum."},
    terminatingRow,
};

const char* const programUsage = expectedUsageText;

OptionSpec helpRow(const char* helpText) { return {0, 0, "", "", nullptr, helpText}; }

std::string print(std::vector<OptionSpec> rows) {
  rows.push_back(terminatingRow);
  RecordingWriter writer;
  printUsageTable(writer, rows.data());
  return writer.text();
}

std::string blanks(std::size_t count) { return std::string(count, ' '); }

TEST(UsagePrinter, PrintsTheProgramUsageWithTheExpectedWriterCalls) {
  RecordingWriter writer;
  printUsageTable(writer, programTable);
  EXPECT_EQ(writer.text(), programUsage);
  EXPECT_EQ(
      writer.callPattern(),
      "[  a tool to create tape images out of binary files][\n][\n][  usage:][\n]"
      "[    reelmake [-r] input.bin output.tap][\n][      creates a headerless tape block][\n]"
      "[    reelmake -b input.bin output.tap zxname [start]][\n]"
      "[      creates a basic file that autostarts at line 'start'][\n]"
      "[    reelmake -c input.bin output.tap zxname start][\n]"
      "[      creates a code file that loads at address 'start'][\n][  options:][\n]"
      "[    -h, --help  ][ ][print usage and exit.][\n]"
      "[    -b, --basic  ][create basic *.tap file.][\n]"
      "[    -c, --code  ][ ][create code *.tap file.][\n]"
      "[    -r, --raw  ][ ][ ][create a raw block, i.e. do not generate block id and checksum.]"
      "[\n]");
}

TEST(UsagePrinter, StreamWriterWritesCountedBytesUnchanged) {
  std::ostringstream stream;
  OStreamWriter writer(stream);
  writer("ab\0c", 4);
  writer("xyz", 2);
  EXPECT_EQ(stream.str(), std::string("ab\0cxy", 6));
  stream.str("");
  printUsageTable(writer, programTable);
  EXPECT_EQ(stream.str(), programUsage);
}

TEST(UsagePrinter, WrapsLastColumnBesideTheRowThenBelowItAtItsStart) {
  EXPECT_EQ(print({helpRow("  -x  \taaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jjjj kkkk llll "
                           "mmmm nnnn oooo pppp qqqq rrrr ssss tttt uuuu vvvv wwww xxxx yyyy "
                           "zzzz AAAA BBBB CCCC DDDD EEEE FFFF GGGG HHHH")}),
            "  -x  aaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jjjj kkkk llll mmmm nnnn oooo\n"
            "      pppp qqqq rrrr ssss tttt uuuu vvvv wwww xxxx yyyy zzzz AAAA BBBB CCCC DDDD\n"
            "      EEEE FFFF GGGG HHHH\n");
}

TEST(UsagePrinter, WrappedLastColumnContinuesBesideTheRowsFurtherLines) {
  EXPECT_EQ(print({helpRow("  -s\v  --long  \taaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jjjj "
                           "kkkk llll mmmm nnnn oooo pppp qqqq rrrr ssss tttt uuuu vvvv wwww "
                           "xxxx yyyy zzzz AAAA BBBB CCCC DDDD")}),
            "  -s      aaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jjjj kkkk llll mmmm nnnn\n"
            "  --long  oooo pppp qqqq rrrr ssss tttt uuuu vvvv wwww xxxx yyyy zzzz AAAA BBBB\n"
            "          CCCC DDDD\n");
  EXPECT_EQ(print({helpRow("longer\vab\tdescription")}), "longerdescription\nab    \n");
}

// Column 0 is too wide to leave 40 cells for the descriptions.
const OptionSpec belowTable[] = {
    helpRow("intro words"),
    helpRow("  --option-with-a-really-quite-long-name=ARG\v  -o\taaaa bbbb cccc dddd eeee ffff "
            "gggg hhhh iiii jjjj kkkk llll mmmm nnnn oooo pppp qqqq"),
    helpRow("  -s\tshort"),
    terminatingRow,
};

// The empty last-column part of the second row's line 1 feeds its second piece.
// clang-format off
const std::string belowUsage =
    "intro words\n"
    "  --option-with-a-really-quite-long-name=ARG\n"
    "  -o" + blanks(40) + "\n" +
    blanks(20) + "aaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jjjj kkkk llll\n" +
    blanks(20) + "mmmm nnnn oooo pppp qqqq\n" +
    "  -s" + blanks(40) + "\n" +
    blanks(20) + "short\n";
// clang-format on

TEST(UsagePrinter, LastColumnGoesBelowWhenTooLittleRoomIsLeft) {
  RecordingWriter writer;
  printUsageTable(writer, belowTable);
  EXPECT_EQ(writer.text(), belowUsage);
}

TEST(UsagePrinter, OverlongCellIsLeftOutOfTheColumnWidths) {
  const std::string overlong(90, 'x');
  const std::string firstRow = overlong + "\tb\tlast";
  EXPECT_EQ(print({helpRow(firstRow.c_str()), helpRow("cccc\tddd\tlast")}),
            overlong + "\n    b  last\nccccdddlast\n");
}

TEST(UsagePrinter, ColumnsAlignByScreenCells) {
  EXPECT_EQ(print({helpRow("\xE4\xB8\x80\tx"), helpRow("a\ty")}), "\xE4\xB8\x80x\na y\n");
}

TEST(UsagePrinter, EmptyTextRowsPrintEmptyLines) {
  EXPECT_EQ(print({helpRow("x\ty"), helpRow(""), helpRow("a\n")}), "xy\n\na\n\n");
  EXPECT_EQ(print({helpRow("")}), "\n");
}

TEST(UsagePrinter, TablesAreAlignedIndependently) {
  EXPECT_EQ(
      print({helpRow("a\tfirst"), helpRow("bbb\tsecond"), separatorRow, helpRow("cccccc\tthird")}),
      "a  first\nbbbsecond\nccccccthird\n");
}

TEST(UsagePrinter, DropsColumnsFromTheNinthOn) {
  EXPECT_EQ(print({helpRow("a\tb\tc\td\te\tf\tg\th\ti\tj"), helpRow("A\tB")}), "abcdefgh\nAB\n");
}

TEST(UsagePrinter, PrintsWithoutAllocating) {
  RecordingWriter writer;
  std::size_t allocations = 0;
  {
    AllocationCounter counter;
    printUsageTable(writer, programTable);
    printUsageTable(writer, belowTable);
    allocations = counter.allocations();
  }
  EXPECT_EQ(allocations, 0u);
  EXPECT_EQ(writer.text(), programUsage + belowUsage);
}

}  // namespace
