#include "option/WrapBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "support/RecordingWriter.h"

namespace {

using option::PrintUsageImplementation::padToColumn;
using option::PrintUsageImplementation::WrapBuffer;

void feed(WrapBuffer& wrap, RecordingWriter& writer, const char* text) {
  wrap.feed(writer, text, static_cast<std::int32_t>(std::strlen(text)));
}

// What the printer does at the end of a row: a line break, then the drain.
void endRow(WrapBuffer& wrap, RecordingWriter& writer) {
  writer("\n", 1);
  wrap.drain(writer);
}

TEST(PadToColumn, WritesOneBlankPerCallAndBreaksWhenMovingLeft) {
  RecordingWriter writer;
  std::int32_t cursor = 3;
  padToColumn(writer, cursor, 6);
  EXPECT_EQ(cursor, 6);
  padToColumn(writer, cursor, 6);
  padToColumn(writer, cursor, 2);
  EXPECT_EQ(cursor, 2);
  EXPECT_EQ(writer.callPattern(), "[ ][ ][ ][\n][ ][ ]");
}

TEST(WrapBuffer, BreaksAtBlanksAndDrainsContinuationLinesAtStartColumn) {
  RecordingWriter writer;
  WrapBuffer wrap(2, 12);
  feed(wrap, writer, "one two three four five");
  endRow(wrap, writer);
  EXPECT_EQ(writer.callPattern(), "[one two][\n][ ][ ][three four][\n][ ][ ][five][\n]");
}

TEST(WrapBuffer, EachFeedWritesTheOldestPendingPiece) {
  RecordingWriter writer;
  WrapBuffer wrap(0, 10);
  feed(wrap, writer, "one two three four five");
  feed(wrap, writer, "");
  feed(wrap, writer, "x");
  EXPECT_EQ(writer.callPattern(), "[one two][three four][five]");
  endRow(wrap, writer);
  EXPECT_EQ(writer.text(), "one twothree fourfive\nx\n");
}

TEST(WrapBuffer, DropsOnlyTheBlankAtTheBreak) {
  RecordingWriter writer;
  WrapBuffer wrap(0, 10);
  feed(wrap, writer, "abcdefgh  ijkl");
  endRow(wrap, writer);
  feed(wrap, writer, "abcdefghij  kl");
  endRow(wrap, writer);
  EXPECT_EQ(writer.callPattern(), "[abcdefgh ][\n][ijkl][\n][abcdefghij][\n][ kl][\n]");
}

TEST(WrapBuffer, LeadingBlankWithNoOtherInReachGivesAnEmptyFirstPiece) {
  RecordingWriter writer;
  WrapBuffer wrap(0, 10);
  feed(wrap, writer, " abcdefghijklmno");
  endRow(wrap, writer);
  EXPECT_EQ(writer.callPattern(), "[][\n][abcdefghij][\n][klmno][\n]");
  EXPECT_EQ(writer.count(0), 0);
}

TEST(WrapBuffer, HardBreaksKeepCharactersWholeAndWideCharactersInside) {
  RecordingWriter writer;
  WrapBuffer narrow(0, 3);
  feed(narrow, writer, "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9");
  endRow(narrow, writer);
  WrapBuffer overhang(0, 5);
  feed(overhang, writer, "aa\xE4\xB8\x80\xE4\xB8\x80");
  endRow(overhang, writer);
  EXPECT_EQ(writer.callPattern(),
            "[\xC3\xA9\xC3\xA9\xC3\xA9][\n][\xC3\xA9\xC3\xA9][\n]"
            "[aa\xE4\xB8\x80][\n][\xE4\xB8\x80][\n]");
}

TEST(WrapBuffer, LineWidthBelowTwoIsRaisedSoWideCharactersStillFit) {
  RecordingWriter writer;
  WrapBuffer wrap(5, 5);
  feed(wrap, writer, "\xE4\xB8\x80\xE4\xBA\x8C");
  endRow(wrap, writer);
  EXPECT_EQ(writer.text(), "\xE4\xB8\x80\n     \xE4\xBA\x8C\n");
}

TEST(WrapBuffer, DecodesOnlyWithinTheFedCount) {
  RecordingWriter writer;
  WrapBuffer wrap(0, 2);
  // Read whole, the last three bytes would be one wide character that does
  // not fit; within the count they are a narrow one.
  wrap.feed(writer, "a\xE4\xB8\x80", 3);
  endRow(wrap, writer);
  EXPECT_EQ(writer.callPattern(), "[a\xE4\xB8][\n]");
}

TEST(WrapBuffer, OverflowingRingWritesEarlyPiecesInOrder) {
  RecordingWriter writer;
  WrapBuffer wrap(2, 4);
  feed(wrap, writer, "a b c d e f g h i j k l m n o p q r s t");
  EXPECT_EQ(writer.text(), "a\n  b\n  c\n  d\n  e");
  endRow(wrap, writer);
  EXPECT_EQ(writer.text(),
            "a\n  b\n  c\n  d\n  e\n"
            "  f\n  g\n  h\n  i\n  j\n  k\n  l\n  m\n  n\n  o\n  p\n  q\n  r\n  s\n  t\n");
}

}  // namespace
