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

struct Layout {
  const char* what;
  std::vector<std::string> helpTexts;
  std::string expected;
};

// A help text of "-" stands for a row without help text, which ends a table.
std::string print(const Layout& layout) {
  std::vector<OptionSpec> rows;
  for (const std::string& helpText : layout.helpTexts) {
    rows.push_back(helpRow(helpText == "-" ? nullptr : helpText.c_str()));
  }
  return print(rows);
}

TEST(UsagePrinter, LaysOutColumnsOnEitherSideOfItsLimits) {
  const std::string c40(40, 'c');
  const std::string c50(50, 'c');
  const std::string d30(30, 'd');
  const std::string d79(79, 'd');
  const std::string c90(90, 'c');
  const std::string words = "one two three four five six seven eight nine ten";  // 48 cells
  const Layout layouts[] = {
      {"fixed columns of exactly 80 cells are kept; the last column goes below",
       {c40 + "\t" + c40 + "\tlast"},
       c40 + c40 + "\n" + blanks(20) + "last\n"},
      {"40 cells of room keep the last column beside its row",
       {c40 + "\t" + words},
       c40 + "one two three four five six seven eight\n" + blanks(40) + "nine ten\n"},
      {"room as wide as the last column keeps it beside its row",
       {c50 + "\t" + d30},
       c50 + d30 + "\n"},
      {"a cell wider than the line is left out of the widths and printed whole",
       {c90 + "\tb\tlast", "cccc\tddd\tlast"},
       c90 + "\n    b  last\nccccdddlast\n"},
      {"a column empty in every row takes no room", {"a\t\tb"}, "ab\n"},
      {"in a table of one column every line is a paragraph, wrapped from column 0",
       {"intro\v" + d79 + " yy"},
       "intro\n" + d79 + "\nyy\n"},
      {"columns from the ninth on are dropped",
       {"a\tb\tc\td\te\tf\tg\th\ti\tj", "A\tB"},
       "abcdefgh\nAB\n"},
      // These rows kill nothing the rows above do not; they show what a
      // reader needs: how a wrapped last column goes on beside its row, and
      // that columns align by cells and per table.
      {"a wrapped last column goes on beside the row's further lines, then at its start",
       {"  -s\v  --long  \taaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jjjj kkkk llll mmmm "
        "nnnn oooo pppp qqqq rrrr ssss tttt uuuu vvvv wwww xxxx yyyy zzzz AAAA BBBB CCCC DDDD"},
       "  -s      aaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jjjj kkkk llll mmmm nnnn\n"
       "  --long  oooo pppp qqqq rrrr ssss tttt uuuu vvvv wwww xxxx yyyy zzzz AAAA BBBB\n"
       "          CCCC DDDD\n"},
      {"columns align by screen cells", {"\xE4\xB8\x80\tx", "a\ty"}, "\xE4\xB8\x80x\na y\n"},
      {"tables are aligned independently",
       {"a\tfirst", "bbb\tsecond", "-", "cccccc\tthird"},
       "a  first\nbbbsecond\nccccccthird\n"},
  };
  for (const Layout& layout : layouts) {
    EXPECT_EQ(print(layout), layout.expected) << layout.what;
  }
}

// The first measuring leaves out parts of 10000 cells or more. Beside a
// first column of 41 cells, such a last column stays beside its row; one
// cell narrower, it counts and goes below.
TEST(UsagePrinter, TheFirstMeasuringLeavesOutPartsOf10000Cells) {
  const std::string c41(41, 'c');
  const std::string beside = print({helpRow((c41 + "\t" + std::string(10000, 'd')).c_str())});
  EXPECT_EQ(beside.substr(0, 81), c41 + std::string(39, 'd') + "\n");
  const std::string below = print({helpRow((c41 + "\t" + std::string(9999, 'd')).c_str())});
  EXPECT_EQ(below.substr(0, 123), c41 + "\n" + blanks(20) + std::string(60, 'd') + "\n");
}

}  // namespace
