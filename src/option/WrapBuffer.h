#pragma once

#include <array>
#include <cstdint>

#include "option/StringWriter.h"

namespace option::PrintUsageImplementation {

// Every line break is a writer call of its own.
void writeLineBreak(IStringWriter& writer);

// Moves the output cursor to the screen column target by writing blanks, one
// call each; a target left of the cursor starts a new line first.
void padToColumn(IStringWriter& writer, std::int32_t& cursor, std::int32_t target);

// Pads a line that has just been started, its cursor still at column 0.
void padFromLineStart(IStringWriter& writer, std::int32_t column);

// Wraps the text of one column at blanks into lines from fromColumn to
// toColumn. Each feed writes one piece at the cursor and keeps the rest
// pending, so a wrapped text can continue beside the next line of its row;
// drain, called right after a line break, writes what is left.
class WrapBuffer {
 public:
  WrapBuffer(std::int32_t fromColumn, std::int32_t toColumn) noexcept;

  void feed(IStringWriter& writer, const char* text, std::int32_t count);
  void drain(IStringWriter& writer);

 private:
  // One slot stays free so that a full ring can be told from an empty one.
  static constexpr std::int32_t slotCount = 16;
  // Even the narrowest line must take one double-width character, or
  // feed could not advance.
  static constexpr std::int32_t narrowestLine = 2;

  void enqueue(IStringWriter& writer, const char* text, std::int32_t count);
  void emitLine(IStringWriter& writer);
  bool isEmpty() const noexcept;
  bool isFull() const noexcept;
  std::int32_t bytesThatFit(const char* text, std::int32_t count) const noexcept;

  std::array<std::int32_t, slotCount> pendingBytes{};
  std::array<const char*, slotCount> pendingText{};
  std::int32_t startColumn;
  std::int32_t lineWidth;
  std::int32_t nextFree = 0;
  std::int32_t lastTaken = slotCount - 1;
  bool lineStarted = false;
};

}  // namespace option::PrintUsageImplementation
