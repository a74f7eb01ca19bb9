#include "option/UsagePrinter.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <sstream>
#include <string>
#include <vector>

#include "app/UsageTable.h"
#include "support/AllocationCounter.h"
#include "support/ExpectedOutput.h"
#include "support/RecordingWriter.h"

namespace {

using option::OptionSpec;
using option::PrintUsageImplementation::OStreamWriter;
using option::PrintUsageImplementation::printUsageTable;

constexpr OptionSpec terminatingRow{0, 0, nullptr, nullptr, nullptr, nullptr};
constexpr OptionSpec separatorRow{0, 0, "s", "sep", nullptr, nullptr};

OptionSpec helpRow(const char* helpText) { return {0, 0, "", "", nullptr, helpText}; }

std::string print(std::vector<OptionSpec> rows) {
  rows.push_back(terminatingRow);
  RecordingWriter writer;
  printUsageTable(writer, rows.data());
  return writer.text();
}

std::string blanks(std::size_t count) { return std::string(count, ' '); }

// Printing allocates nothing: the recording writer reserves its storage up front.
TEST(UsagePrinter, PrintsTheProgramUsageWithTheExpectedWriterCallsWithoutAllocating) {
  RecordingWriter writer;
  AllocationCounter counter;
  printUsageTable(writer, usageTable);
  EXPECT_EQ(counter.allocations(), 0u);
  EXPECT_EQ(writer.text(), expectedUsageText);
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
}

TEST(UsagePrinter, WrappedLastColumnContinuesBesideTheRowsFurtherLinesThenAtItsStart) {
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

// The lines below a row come from a second walk of it, which allocates nothing either.
TEST(UsagePrinter, LastColumnGoesBelowWhenTooLittleRoomIsLeft) {
  RecordingWriter writer;
  AllocationCounter counter;
  printUsageTable(writer, belowTable);
  EXPECT_EQ(counter.allocations(), 0u);
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

}  // namespace
