#include "option/UsageTextScanner.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace option {
namespace {

constexpr char tab = '\t';
constexpr char verticalTab = '\v';
constexpr char lineFeed = '\n';
constexpr char textEnd = '\0';

constexpr std::uint32_t firstPossiblyWide = 0x1100;
constexpr std::uint32_t firstOpenEndedWide = 0x1B000;
// Lies inside the wide CJK range but is drawn half width.
constexpr std::uint32_t narrowIdeographicHalfFillSpace = 0x303F;

struct CodePointRange {
  std::uint32_t first;
  std::uint32_t last;
};

constexpr std::array<CodePointRange, 9> doubleWidthRanges{{
    {0x1100, 0x115F},
    {0x2329, 0x232A},
    {0x2E80, 0xA4C6},
    {0xA960, 0xA97C},
    {0xAC00, 0xD7FB},
    {0xF900, 0xFAFF},
    {0xFE10, 0xFE6B},
    {0xFF01, 0xFF60},
    {0xFFE0, 0xFFE6},
}};

bool endsPart(char byte) {
  return byte == tab || byte == verticalTab || byte == lineFeed || byte == textEnd;
}

bool isContinuation(char byte) {
  const auto value = static_cast<unsigned char>(byte);
  return value >= 0x80 && value <= 0xBF;
}

// The value bits of a lead byte are those below its highest zero bit; 0xFE
// and 0xFF have none there and are taken whole.
std::uint32_t leadValueMask(unsigned char lead) {
  if (lead <= 0xDF) {
    return 0x1F;
  }
  if (lead <= 0xEF) {
    return 0x0F;
  }
  if (lead <= 0xF7) {
    return 0x07;
  }
  if (lead <= 0xFB) {
    return 0x03;
  }
  if (lead <= 0xFD) {
    return 0x01;
  }
  return 0xFF;
}

}  // namespace

CharacterSize measureCharacter(const char* text, std::int32_t available) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0xC2) {
    return {1, 1};
  }
  std::uint32_t codePoint = lead & leadValueMask(lead);
  std::int32_t bytes = 1;
  // Takes every continuation byte, whatever count the lead byte announces.
  while (bytes < available && isContinuation(text[bytes])) {
    codePoint = (codePoint << 6) | (static_cast<unsigned char>(text[bytes]) & 0x3Fu);
    ++bytes;
  }
  const bool wide = codePoint >= firstPossiblyWide && UsageTextScanner::isDoubleWidth(codePoint);
  return {bytes, wide ? 2 : 1};
}

bool UsageTextScanner::isDoubleWidth(std::uint32_t codePoint) noexcept {
  if (codePoint == narrowIdeographicHalfFillSpace) {
    return false;
  }
  if (codePoint >= firstOpenEndedWide) {
    return true;
  }
  return std::any_of(doubleWidthRanges.begin(), doubleWidthRanges.end(),
                     [codePoint](const CodePointRange& range) {
                       return codePoint >= range.first && codePoint <= range.last;
                     });
}

UsageTextScanner::UsageTextScanner(const OptionSpec* table) noexcept : state{table} {}

bool UsageTextScanner::advanceTable() noexcept {
  const OptionSpec*& row = state.firstRow;
  if (state.currentRow != nullptr) {
    while (row->helpText != nullptr && row->shortNames != nullptr) {
      ++row;
    }
  }
  while (row->helpText == nullptr && row->shortNames != nullptr) {
    ++row;
  }
  rewindTable();
  return row->helpText != nullptr;
}

void UsageTextScanner::rewindTable() noexcept {
  state.currentRow = state.firstRow;
  state.rowText = state.firstRow->helpText;
  state.partText = nullptr;
}

bool UsageTextScanner::advanceRow() noexcept {
  if (state.partText == nullptr) {
    rewindRow();
    return state.rowText != nullptr;
  }
  state.partText += std::strcspn(state.partText, "\n");
  if (*state.partText == textEnd) {
    const OptionSpec* nextRow = state.currentRow + 1;
    if (nextRow->helpText == nullptr) {
      return false;
    }
    state.currentRow = nextRow;
    state.rowText = nextRow->helpText;
  } else {
    state.rowText = state.partText + 1;
  }
  rewindRow();
  return true;
}

// Everything but the place in the table starts afresh.
void UsageTextScanner::rewindRow() noexcept {
  state = WalkState{state.firstRow, state.currentRow, state.rowText, state.rowText};
}

bool UsageTextScanner::advancePart() noexcept {
  if (state.partText == nullptr) {
    return false;
  }
  if (state.column == -1) {
    state.column = 0;
    measurePart();
    return true;
  }
  state.partText += state.partBytes;
  for (;;) {
    switch (examineByte()) {
      case Step::Deliver:
        measurePart();
        state.targetFound = true;
        return true;
      case Step::RowFinished:
        measurePart();
        return false;
      case Step::GoOn:
        break;
    }
  }
}

UsageTextScanner::Step UsageTextScanner::examineByte() noexcept {
  switch (*state.partText) {
    case verticalTab:
      return passVerticalTab();
    case tab:
      return state.targetFound ? passTab() : Step::Deliver;
    case lineFeed:
    case textEnd:
      return state.targetFound ? startNextLine() : Step::Deliver;
    default:
      ++state.partText;
      return Step::GoOn;
  }
}

UsageTextScanner::Step UsageTextScanner::passVerticalTab() noexcept {
  ++state.lineInColumn;
  state.deepestLine = std::max(state.deepestLine, state.lineInColumn);
  ++state.partText;
  return deliverIfOnTargetLine();
}

// Only reached once the column just walked has delivered its part, so a tab
// here starts the next column.
UsageTextScanner::Step UsageTextScanner::passTab() noexcept {
  state.targetFound = false;
  state.lineInColumn = 0;
  ++state.column;
  ++state.partText;
  return deliverIfOnTargetLine();
}

// The walk of line 0 has seen every vertical tab of the row, so deepestLine
// tells whether another line is left to deliver.
UsageTextScanner::Step UsageTextScanner::startNextLine() noexcept {
  ++state.targetLine;
  if (state.targetLine > state.deepestLine) {
    return Step::RowFinished;
  }
  state.targetFound = false;
  state.lineInColumn = 0;
  state.column = 0;
  state.partText = state.rowText;
  return Step::GoOn;
}

UsageTextScanner::Step UsageTextScanner::deliverIfOnTargetLine() const noexcept {
  return state.lineInColumn == state.targetLine ? Step::Deliver : Step::GoOn;
}

void UsageTextScanner::measurePart() noexcept {
  constexpr std::int32_t unbounded = std::numeric_limits<std::int32_t>::max();
  state.partBytes = 0;
  state.partColumns = 0;
  while (!endsPart(state.partText[state.partBytes])) {
    const CharacterSize size = measureCharacter(state.partText + state.partBytes, unbounded);
    state.partBytes += size.bytes;
    state.partColumns += size.cells;
  }
}

}  // namespace option
