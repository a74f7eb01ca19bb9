#include "option/WrapBuffer.h"

#include <algorithm>

#include "option/UsageTextScanner.h"

namespace option::PrintUsageImplementation {
namespace {

// Index of the last blank at or before offset, or -1 when there is none.
std::int32_t lastBlankUpTo(const char* text, std::int32_t offset) {
  std::int32_t position = offset;
  while (position >= 0 && text[position] != ' ') {
    --position;
  }
  return position;
}

}  // namespace

void writeLineBreak(IStringWriter& writer) { writer("\n", 1); }

void padToColumn(IStringWriter& writer, std::int32_t& cursor, std::int32_t target) {
  std::int32_t blanks = target - cursor;
  if (blanks < 0) {
    writeLineBreak(writer);
    blanks = target;
  }
  for (; blanks > 0; --blanks) {
    writer(" ", 1);
  }
  cursor = target;
}

void padFromLineStart(IStringWriter& writer, std::int32_t column) {
  std::int32_t cursor = 0;
  padToColumn(writer, cursor, column);
}

WrapBuffer::WrapBuffer(std::int32_t fromColumn, std::int32_t toColumn) noexcept
    : startColumn(fromColumn), lineWidth(std::max(toColumn - fromColumn, narrowestLine)) {}

void WrapBuffer::feed(IStringWriter& writer, const char* text, std::int32_t count) {
  lineStarted = false;
  while (count > 0) {
    const std::int32_t fitting = count <= lineWidth ? count : bytesThatFit(text, count);
    if (fitting == count) {
      enqueue(writer, text, count);
      break;
    }
    const std::int32_t blank = lastBlankUpTo(text, fitting);
    // The blank at the break is dropped; without one the break is hard.
    const std::int32_t pieceBytes = blank >= 0 ? blank : fitting;
    const std::int32_t consumed = blank >= 0 ? blank + 1 : fitting;
    enqueue(writer, text, pieceBytes);
    text += consumed;
    count -= consumed;
  }
  if (!lineStarted) {
    emitLine(writer);
  }
}

void WrapBuffer::drain(IStringWriter& writer) {
  if (isEmpty()) {
    return;
  }
  padFromLineStart(writer, startColumn);
  lineStarted = false;
  while (!isEmpty()) {
    emitLine(writer);
  }
  writeLineBreak(writer);
}

void WrapBuffer::enqueue(IStringWriter& writer, const char* text, std::int32_t count) {
  if (isFull()) {
    emitLine(writer);
  }
  pendingText[static_cast<std::size_t>(nextFree)] = text;
  pendingBytes[static_cast<std::size_t>(nextFree)] = count;
  nextFree = (nextFree + 1) % slotCount;
}

void WrapBuffer::emitLine(IStringWriter& writer) {
  if (lineStarted) {
    writeLineBreak(writer);
    padFromLineStart(writer, startColumn);
  }
  if (!isEmpty()) {
    lastTaken = (lastTaken + 1) % slotCount;
    const auto slot = static_cast<std::size_t>(lastTaken);
    writer(pendingText[slot], pendingBytes[slot]);
  }
  lineStarted = true;
}

bool WrapBuffer::isEmpty() const noexcept { return (lastTaken + 1) % slotCount == nextFree; }

bool WrapBuffer::isFull() const noexcept { return lastTaken == nextFree; }

// Whole characters from text that fill at most lineWidth cells. A
// double-width character that would overhang the line is left for the next.
std::int32_t WrapBuffer::bytesThatFit(const char* text, std::int32_t count) const noexcept {
  std::int32_t cells = 0;
  std::int32_t taken = 0;
  while (cells < lineWidth && taken < count) {
    const CharacterSize size = measureCharacter(text + taken, count - taken);
    if (size.cells == 2 && cells + 2 > lineWidth) {
      break;
    }
    cells += size.cells;
    taken += size.bytes;
  }
  return taken;
}

}  // namespace option::PrintUsageImplementation
