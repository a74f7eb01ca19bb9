#include "option/WrapBuffer.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/RecordingWriter.h"

namespace {

using option::PrintUsageImplementation::WrapBuffer;

// What the printer does at the end of a row: a line break, then the drain.
void endRow(WrapBuffer& wrap, RecordingWriter& writer) {
  writer("\n", 1);
  wrap.drain(writer);
}

// Feeds the texts in turn and writes "|" after each feed, then ends the row
// as the printer does: the call pattern shows what each feed wrote and what
// the drain left for the lines after the row.
TEST(WrapBuffer, WrapsFedTextsIntoLines) {
  struct Case {
    std::int32_t fromColumn;
    std::int32_t toColumn;
    std::vector<std::string_view> feeds;
    const char* pattern;
  };
  // clang-format off
  const Case cases[] = {
      // Kills nothing the other rows do not; it shows the wrapper's way:
      // each feed writes its oldest piece, the drain the rest from the start
      // column.
      {2, 12, {"one two three four five", "", "x"},
       "[one two][|][three four][|][five][|][\n][ ][ ][x][\n]"},
      // A break at a leading blank leaves an empty first piece.
      {0, 10, {" abcdefghijklmno"}, "[][|][\n][abcdefghij][\n][klmno][\n]"},
      // Hard breaks keep characters whole and a wide one from overhanging.
      {0, 3, {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"},
       "[\xC3\xA9\xC3\xA9\xC3\xA9][|][\n][\xC3\xA9\xC3\xA9][\n]"},
      {0, 5, {"aa\xE4\xB8\x80\xE4\xB8\x80"}, "[aa\xE4\xB8\x80][|][\n][\xE4\xB8\x80][\n]"},
      // Lines narrower than two cells are widened so that a wide character fits.
      {5, 5, {"\xE4\xB8\x80\xE4\xBA\x8C"},
       "[\xE4\xB8\x80][|][\n][ ][ ][ ][ ][ ][\xE4\xBA\x8C][\n]"},
      // Read whole, the last three bytes would be one wide character that
      // does not fit; within the fed count they are a narrow one.
      {0, 2, {std::string_view("a\xE4\xB8\x80", 3)}, "[a\xE4\xB8][|][\n]"},
  };
  // clang-format on
  for (const Case& c : cases) {
    RecordingWriter writer;
    WrapBuffer wrap(c.fromColumn, c.toColumn);
    for (const std::string_view text : c.feeds) {
      wrap.feed(writer, text.data(), static_cast<std::int32_t>(text.size()));
      writer("|", 1);
    }
    endRow(wrap, writer);
    EXPECT_EQ(writer.callPattern(), c.pattern) << testing::PrintToString(std::string(c.feeds[0]));
    for (std::size_t call = 0; call < writer.callCount(); ++call) {
      EXPECT_GE(writer.count(call), 0);
    }
  }
}

TEST(WrapBuffer, OverflowingRingWritesEarlyPiecesInOrder) {
  RecordingWriter writer;
  WrapBuffer wrap(2, 4);
  const std::string_view text = "a b c d e f g h i j k l m n o p q r s t";
  wrap.feed(writer, text.data(), static_cast<std::int32_t>(text.size()));
  EXPECT_EQ(writer.text(), "a\n  b\n  c\n  d\n  e");
  endRow(wrap, writer);
  EXPECT_EQ(writer.text(),
            "a\n  b\n  c\n  d\n  e\n"
            "  f\n  g\n  h\n  i\n  j\n  k\n  l\n  m\n  n\n  o\n  p\n  q\n  r\n  s\n  t\n");
}

}  // namespace
