#include "option/UsageTextScanner.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <ios>
#include <string>
#include <vector>

namespace {

using option::OptionSpec;
using option::UsageTextScanner;

OptionSpec helpRow(const char* helpText) { return {0, 0, "", "", nullptr, helpText}; }
OptionSpec separatorRow() { return {0, 0, "s", "sep", nullptr, nullptr}; }
OptionSpec terminatingRow() { return {0, 0, nullptr, nullptr, nullptr, nullptr}; }

// One text row as "(column.line:text|...)".
std::string rowTranscript(UsageTextScanner& scanner) {
  std::string transcript = "(";
  while (scanner.advancePart()) {
    transcript +=
        std::to_string(scanner.column()) + "." + std::to_string(scanner.targetLine()) + ":" +
        std::string(scanner.partText(), static_cast<std::size_t>(scanner.partBytes())) + "|";
  }
  return transcript + ")";
}

std::string tableTranscript(UsageTextScanner& scanner) {
  std::string transcript = "{";
  while (scanner.advanceRow()) {
    transcript += rowTranscript(scanner);
  }
  return transcript + "}";
}

std::string walkAll(const std::vector<OptionSpec>& table) {
  UsageTextScanner scanner(table.data());
  std::string transcript;
  while (scanner.advanceTable()) {
    transcript += tableTranscript(scanner);
  }
  return transcript;
}

std::string walkHelpText(const char* helpText) {
  return walkAll({helpRow(helpText), terminatingRow()});
}

// The printer's tests make the same kills; this is the walk's order spelled
// out for a reader of the scanner.
TEST(UsageTextScanner, WalksTablesRowsAndParts) {
  // Line by line, one part per column, empty where a column has no such line.
  EXPECT_EQ(walkHelpText("p\tq\vr"), "{(0.0:p|1.0:q|0.1:|1.1:r|)}");
  EXPECT_EQ(walkHelpText("p\v\vq\tr"), "{(0.0:p|1.0:r|0.1:|1.1:|0.2:q|1.2:|)}");
  EXPECT_EQ(walkHelpText("pq\trs"), "{(0.0:pq|1.0:rs|)}");
  EXPECT_EQ(walkHelpText("a\t\tb\v"), "{(0.0:a|1.0:|2.0:b|0.1:|1.1:|2.1:|)}");
  // Line feeds cut text rows; the rows of a table run across its help texts.
  EXPECT_EQ(walkHelpText("x\n"), "{(0.0:x|)(0.0:|)}");
  EXPECT_EQ(walkHelpText(""), "{(0.0:|)}");
  EXPECT_EQ(walkHelpText("a\n\nb\tc"), "{(0.0:a|)(0.0:|)(0.0:b|1.0:c|)}");
  EXPECT_EQ(walkAll({helpRow("a\tb"), helpRow("c\nd"), terminatingRow()}),
            "{(0.0:a|1.0:b|)(0.0:c|)(0.0:d|)}");
  // Rows without help text separate tables.
  EXPECT_EQ(walkAll({separatorRow(), helpRow("a"), separatorRow(), separatorRow(), helpRow(""),
                     helpRow("z"), terminatingRow()}),
            "{(0.0:a|)}{(0.0:|)(0.0:z|)}");
  EXPECT_EQ(walkAll({separatorRow(), terminatingRow()}), "");
}

// The parts of a help text's first text row as "bytes/cells", blank-separated.
std::string partSizes(const char* helpText) {
  const OptionSpec table[] = {helpRow(helpText), terminatingRow()};
  UsageTextScanner scanner(table);
  std::string sizes;
  if (scanner.advanceTable() && scanner.advanceRow()) {
    while (scanner.advancePart()) {
      // Appended piece by piece: MinGW's GCC 12 at -O3 takes "x" + string for
      // an overlapping copy.
      if (!sizes.empty()) sizes += ' ';
      sizes.append(std::to_string(scanner.partBytes())).append("/");
      sizes.append(std::to_string(scanner.partColumns()));
    }
  }
  return sizes;
}

// One row per class of lead byte. A lead byte takes every continuation byte
// behind it, however many it announces; the code points decoded that way
// decide the width, so some rows are chosen to land on a wide code point only
// when every value bit of the lead is kept.
TEST(UsageTextScanner, MeasuresPartsByCharacter) {
  struct Case {
    const char* text;
    const char* sizes;
  };
  const Case cases[] = {
      {"\x80\xBF\xC0\x80\xC1\xBF", "6/6"},          // below C2 every byte is a character
      {"\xC3\x7F\xC3\xC0", "4/4"},                  // only 80..BF continue a character
      {"\xC2\x80\xC3\x80\x80\xDF\xBF\xBF", "8/5"},  // U+0080; with surplus bytes U+3000, U+1FFFF
      {"\xE1\x84\x80\xEF\xBF\xBD", "6/3"},          // U+1100, the first wide one, and U+FFFD
      {"\xF1\x84\x80\xF7\x80\xBF", "6/4"},          // short F1 and F7 sequences: U+1100, U+703F
      {"\xFB\x80\x80", "3/2"},                      // U+3000
      {"\xFD\x80\xFD\x84\x80", "5/3"},              // U+0040, then U+1100
      {"\xFE\x80", "2/2"},                          // FE has no value bits to spare: U+3F80
      {"\xE3\x80\xBF", "3/1"},                      // U+303F, narrow inside a wide range
      // After the tab, each character is measured where it stands.
      {"wide:\ta\xC3\xA9\xE4\xB8\x80z", "5/5 7/5"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(partSizes(c.text), c.sizes) << testing::PrintToString(std::string(c.text));
  }
}

TEST(UsageTextScanner, DoubleWidthRangesIncludeBothEdges) {
  struct Range {
    std::uint32_t first;
    std::uint32_t last;
  };
  const Range wide[] = {{0x1100, 0x115F}, {0x2329, 0x232A}, {0x2E80, 0x303E},     {0x3040, 0xA4C6},
                        {0xA960, 0xA97C}, {0xAC00, 0xD7FB}, {0xF900, 0xFAFF},     {0xFE10, 0xFE6B},
                        {0xFF01, 0xFF60}, {0xFFE0, 0xFFE6}, {0x1B000, 0xFFFFFFFF}};
  for (const Range& range : wide) {
    EXPECT_FALSE(UsageTextScanner::isDoubleWidth(range.first - 1)) << std::hex << range.first;
    EXPECT_TRUE(UsageTextScanner::isDoubleWidth(range.first)) << std::hex << range.first;
    EXPECT_TRUE(UsageTextScanner::isDoubleWidth(range.last)) << std::hex << range.last;
    if (range.last != 0xFFFFFFFF) {
      EXPECT_FALSE(UsageTextScanner::isDoubleWidth(range.last + 1)) << std::hex << range.last;
    }
  }
}

TEST(UsageTextScanner, RewindsTheRowOrTheTableFromAnyState) {
  const OptionSpec table[] = {helpRow("a"), separatorRow(), helpRow("b\tc\vd\ne"), helpRow("f"),
                              terminatingRow()};
  UsageTextScanner scanner(table);
  ASSERT_TRUE(scanner.advanceTable());
  ASSERT_TRUE(scanner.advanceTable());
  const std::string firstRow = "(0.0:b|1.0:c|0.1:|1.1:d|)";
  const std::string secondTable = "{" + firstRow + "(0.0:e|)(0.0:f|)}";
  EXPECT_EQ(tableTranscript(scanner), secondTable);
  scanner.rewindTable();
  EXPECT_EQ(tableTranscript(scanner), secondTable);  // after the table was finished
  scanner.rewindTable();
  ASSERT_TRUE(scanner.advanceRow());
  ASSERT_TRUE(scanner.advancePart());
  ASSERT_TRUE(scanner.advancePart());
  ASSERT_TRUE(scanner.advancePart());
  scanner.rewindRow();
  EXPECT_EQ(rowTranscript(scanner), firstRow);  // in the middle of the row
  scanner.rewindRow();
  EXPECT_EQ(rowTranscript(scanner), firstRow);  // after the row was finished
  EXPECT_FALSE(scanner.advancePart());          // and stays finished
  ASSERT_TRUE(scanner.advanceRow());
  EXPECT_EQ(rowTranscript(scanner), "(0.0:e|)");
  scanner.rewindTable();
  ASSERT_TRUE(scanner.advanceRow());
  ASSERT_TRUE(scanner.advanceRow());  // leaves the first row before its first part
  ASSERT_TRUE(scanner.advancePart());
  EXPECT_EQ(std::string(scanner.partText(), static_cast<std::size_t>(scanner.partBytes())), "e");
  scanner.rewindTable();
  EXPECT_FALSE(scanner.advancePart());
  EXPECT_EQ(tableTranscript(scanner), secondTable);  // in the middle of a row
  EXPECT_FALSE(scanner.advanceTable());
  EXPECT_FALSE(scanner.advanceTable());
}

}  // namespace
