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

TEST(UsageTextScanner, DeliversLineByLineWithOnePartPerColumn) {
  EXPECT_EQ(walkHelpText("p\tq\vr"), "{(0.0:p|1.0:q|0.1:|1.1:r|)}");
  EXPECT_EQ(walkHelpText("p\v\vq\tr"), "{(0.0:p|1.0:r|0.1:|1.1:|0.2:q|1.2:|)}");
  EXPECT_EQ(walkHelpText("pq\trs"), "{(0.0:pq|1.0:rs|)}");
  EXPECT_EQ(walkHelpText("a\t\tb\v"), "{(0.0:a|1.0:|2.0:b|0.1:|1.1:|2.1:|)}");
}

TEST(UsageTextScanner, CutsHelpTextsIntoTextRows) {
  EXPECT_EQ(walkHelpText("x\n"), "{(0.0:x|)(0.0:|)}");
  EXPECT_EQ(walkHelpText(""), "{(0.0:|)}");
  EXPECT_EQ(walkHelpText("a\n\nb\tc"), "{(0.0:a|)(0.0:|)(0.0:b|1.0:c|)}");
  EXPECT_EQ(walkAll({helpRow("a\tb"), helpRow("c\nd"), terminatingRow()}),
            "{(0.0:a|1.0:b|)(0.0:c|)(0.0:d|)}");
}

TEST(UsageTextScanner, RowsWithoutHelpTextSeparateTables) {
  EXPECT_EQ(walkAll({separatorRow(), helpRow("a"), separatorRow(), separatorRow(), helpRow(""),
                     helpRow("z"), terminatingRow()}),
            "{(0.0:a|)}{(0.0:|)(0.0:z|)}");
  EXPECT_EQ(walkAll({separatorRow(), terminatingRow()}), "");
}

struct Measurement {
  const char* text;
  std::int32_t bytes;
  std::int32_t cells;
};

TEST(UsageTextScanner, MeasuresFirstPartInBytesAndCells) {
  const Measurement cases[] = {
      {"\xC3\xA9", 2, 1},                // e acute
      {"\xE4\xB8\x80", 3, 2},            // U+4E00
      {"\xF0\x9F\x98\x80", 4, 2},        // U+1F600
      {"\xE3\x80\xBF", 3, 1},            // U+303F, narrow inside a wide range
      {"a\xC3\xA9\xE4\xB8\x80z", 7, 5},  // mixed widths
      {"\x80", 1, 1},                    // stray continuation byte
      {"\xE4 ", 2, 2},                   // lead byte without continuation
      {"\xC0\x80", 2, 2},                // 0xC0 never leads a character
      {"\xE4\xB8\x80\x80", 4, 2},        // surplus continuation bytes join in
      {"\xFE\x80", 2, 2},                // 0xFE keeps all its bits: U+3F80
      {"ab\tc", 2, 2},
      {"ab\vc", 2, 2},
  };
  for (const Measurement& expected : cases) {
    const OptionSpec table[] = {helpRow(expected.text), terminatingRow()};
    UsageTextScanner scanner(table);
    ASSERT_TRUE(scanner.advanceTable());
    ASSERT_TRUE(scanner.advanceRow());
    ASSERT_TRUE(scanner.advancePart());
    EXPECT_EQ(scanner.partBytes(), expected.bytes) << expected.text;
    EXPECT_EQ(scanner.partColumns(), expected.cells) << expected.text;
  }
}

TEST(UsageTextScanner, DoubleWidthRangeBoundaries) {
  const std::uint32_t wide[] = {0x1100, 0x115F, 0x2329,  0x2E80,    0x303E, 0x3040,
                                0xA4C6, 0xA97C, 0xAC00,  0xD7FB,    0xFAFF, 0xFE10,
                                0xFF60, 0xFFE6, 0x1B000, 0xFFFFFFFF};
  const std::uint32_t narrow[] = {0x10FF, 0x1160, 0x232B, 0x2E7F, 0x303F, 0xA4C7, 0xA95F,
                                  0xD7FC, 0xF8FF, 0xFE6C, 0xFF00, 0xFFE7, 0x1AFFF};
  for (const std::uint32_t codePoint : wide) {
    EXPECT_TRUE(UsageTextScanner::isDoubleWidth(codePoint)) << std::hex << codePoint;
  }
  for (const std::uint32_t codePoint : narrow) {
    EXPECT_FALSE(UsageTextScanner::isDoubleWidth(codePoint)) << std::hex << codePoint;
  }
}

TEST(UsageTextScanner, RewindRowRestartsTheRowFromAnyState) {
  const OptionSpec table[] = {helpRow("p\tq\vr\nnext"), terminatingRow()};
  UsageTextScanner scanner(table);
  ASSERT_TRUE(scanner.advanceTable());
  ASSERT_TRUE(scanner.advanceRow());
  scanner.rewindRow();
  EXPECT_EQ(rowTranscript(scanner), "(0.0:p|1.0:q|0.1:|1.1:r|)");
  scanner.rewindRow();
  ASSERT_TRUE(scanner.advancePart());
  ASSERT_TRUE(scanner.advancePart());
  ASSERT_TRUE(scanner.advancePart());
  scanner.rewindRow();
  EXPECT_EQ(rowTranscript(scanner), "(0.0:p|1.0:q|0.1:|1.1:r|)");
  ASSERT_TRUE(scanner.advanceRow());
  EXPECT_EQ(rowTranscript(scanner), "(0.0:next|)");
}

TEST(UsageTextScanner, RewindTableRestartsTheCurrentTableFromAnyState) {
  const OptionSpec table[] = {helpRow("a"), separatorRow(), helpRow("b\tc\nd"), helpRow("e"),
                              terminatingRow()};
  UsageTextScanner scanner(table);
  ASSERT_TRUE(scanner.advanceTable());
  ASSERT_TRUE(scanner.advanceTable());
  const std::string secondTable = "{(0.0:b|1.0:c|)(0.0:d|)(0.0:e|)}";
  EXPECT_EQ(tableTranscript(scanner), secondTable);
  scanner.rewindTable();
  EXPECT_EQ(tableTranscript(scanner), secondTable);  // after the table was finished
  scanner.rewindTable();
  ASSERT_TRUE(scanner.advanceRow());
  ASSERT_TRUE(scanner.advanceRow());
  ASSERT_TRUE(scanner.advancePart());
  scanner.rewindTable();
  EXPECT_FALSE(scanner.advancePart());
  EXPECT_EQ(tableTranscript(scanner), secondTable);  // in the middle of a row
  EXPECT_FALSE(scanner.advanceTable());
  EXPECT_FALSE(scanner.advanceTable());
}

}  // namespace
