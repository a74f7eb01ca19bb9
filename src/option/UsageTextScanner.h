#pragma once

#include <cstdint>

#include "option/OptionSpec.h"

namespace option {

// Bytes and screen cells of one character of help text.
struct CharacterSize {
  std::int32_t bytes;
  std::int32_t cells;
};

// Measures the character at text. A lead byte of 0xC2 or above takes every
// continuation byte behind it, but only among the first available bytes, so
// a caller that holds a counted view never reads past it. Malformed UTF-8 is
// measured, never refused.
CharacterSize measureCharacter(const char* text, std::int32_t available);

// Walks the help texts of an option table as tables, text rows and, within a
// row, one part per column and line. It owns nothing and copies nothing: the
// current part is a view into a help text.
//
// Markup: tab ends a column, vertical tab ends a line within a column, line
// feed ends a text row, NUL ends the help text. Parts of a row are delivered
// line by line: line 0 of every column, then line 1 of every column, and so
// on; a column without the current line delivers an empty part.
class UsageTextScanner {
 public:
  explicit UsageTextScanner(const OptionSpec* table) noexcept;

  bool advanceTable() noexcept;
  // Back to the state just after advanceTable entered the current table.
  void rewindTable() noexcept;
  bool advanceRow() noexcept;
  // Back to the start of the current text row.
  void rewindRow() noexcept;
  bool advancePart() noexcept;

  static bool isDoubleWidth(std::uint32_t codePoint) noexcept;

  std::int32_t column() const noexcept { return state.column; }
  std::int32_t targetLine() const noexcept { return state.targetLine; }
  const char* partText() const noexcept { return state.partText; }
  std::int32_t partBytes() const noexcept { return state.partBytes; }
  std::int32_t partColumns() const noexcept { return state.partColumns; }

 private:
  // Kept in one record so the fields can share their names with the read
  // accessors above.
  struct WalkState {
    const OptionSpec* firstRow = nullptr;
    const OptionSpec* currentRow = nullptr;
    const char* rowText = nullptr;
    const char* partText = nullptr;
    std::int32_t column = -1;
    std::int32_t partBytes = 0;
    std::int32_t partColumns = 0;
    std::int32_t deepestLine = 0;
    std::int32_t lineInColumn = 0;
    std::int32_t targetLine = 0;
    bool targetFound = true;
  };

  // What the walk does after examining one byte of the row.
  enum class Step { GoOn, Deliver, RowFinished };

  Step examineByte() noexcept;
  Step passVerticalTab() noexcept;
  Step passTab() noexcept;
  Step startNextLine() noexcept;
  Step deliverIfOnTargetLine() const noexcept;
  void measurePart() noexcept;

  WalkState state;
};

}  // namespace option
