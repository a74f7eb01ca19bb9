#include "option/UsagePrinter.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "option/UsageTextScanner.h"
#include "option/WrapBuffer.h"

namespace option::PrintUsageImplementation {
namespace {

constexpr std::int32_t lineWidth = 80;
constexpr std::int32_t columnLimit = 8;
constexpr std::int32_t firstOverlongLimit = 10000;
constexpr std::int32_t leastRoomBesideRow = lineWidth / 2;
constexpr std::int32_t widthBelowRow = lineWidth * 3 / 4;
constexpr std::int32_t startBelowRow = lineWidth - widthBelowRow;

using ColumnTable = std::array<std::int32_t, columnLimit>;

struct ColumnLayout {
  ColumnTable columnWidth{};
  ColumnTable columnStart{};
  std::int32_t lastColumn = 0;
  bool lastColumnBelow = false;
};

// Every column but the last has a fixed width; the last takes the rest.
struct FixedColumns {
  std::int32_t totalWidth;
  std::int32_t widest;
};

std::size_t slot(std::int32_t column) { return static_cast<std::size_t>(column); }

// A row without tab or vertical tab: its single part is a paragraph and
// takes no part in the column layout.
bool isOnlyPartOfRow(const UsageTextScanner& scanner) {
  const char after = scanner.partText()[scanner.partBytes()];
  return scanner.column() == 0 && scanner.targetLine() == 0 && after != '\t' && after != '\v';
}

void measureOnce(UsageTextScanner& scanner, ColumnLayout& layout, std::int32_t overlongLimit) {
  layout.columnWidth.fill(0);
  layout.lastColumn = 0;
  scanner.rewindTable();
  while (scanner.advanceRow()) {
    while (scanner.advancePart()) {
      const std::int32_t column = scanner.column();
      if (column >= columnLimit) {
        continue;
      }
      layout.lastColumn = std::max(layout.lastColumn, column);
      if (scanner.partColumns() >= overlongLimit || isOnlyPartOfRow(scanner)) {
        continue;
      }
      std::int32_t& width = layout.columnWidth[slot(column)];
      width = std::max(width, scanner.partColumns());
    }
  }
}

FixedColumns measureFixedColumns(const ColumnLayout& layout) {
  FixedColumns fixed{0, 0};
  for (std::int32_t column = 0; column < layout.lastColumn; ++column) {
    fixed.totalWidth += layout.columnWidth[slot(column)];
    fixed.widest = std::max(fixed.widest, layout.columnWidth[slot(column)]);
  }
  return fixed;
}

// While the fixed columns are too wide for the line, measures again without
// the parts that set the widest of them; those are printed whole anyway and
// push the rest of their row onto a new line.
void measureColumns(UsageTextScanner& scanner, ColumnLayout& layout) {
  std::int32_t overlongLimit = firstOverlongLimit;
  for (;;) {
    measureOnce(scanner, layout, overlongLimit);
    const FixedColumns fixed = measureFixedColumns(layout);
    if (fixed.totalWidth <= lineWidth) {
      return;
    }
    overlongLimit = fixed.widest;
  }
}

// Sets the column starts and decides where the last column goes; returns the
// screen column where its lines start.
std::int32_t placeColumns(ColumnLayout& layout) {
  for (std::size_t column = 0; column + 1 < layout.columnStart.size(); ++column) {
    layout.columnStart[column + 1] = layout.columnStart[column] + layout.columnWidth[column];
  }
  const std::int32_t room = lineWidth - layout.columnStart[slot(layout.lastColumn)];
  layout.lastColumnBelow =
      room < leastRoomBesideRow && room < layout.columnWidth[slot(layout.lastColumn)];
  return layout.lastColumnBelow ? startBelowRow : lineWidth - room;
}

class TablePrinter {
 public:
  TablePrinter(IStringWriter& writer, UsageTextScanner& scanner, const ColumnLayout& layout,
               std::int32_t lastColumnFrom) noexcept
      : writer(writer),
        scanner(scanner),
        layout(layout),
        lastColumnWrap(lastColumnFrom, lineWidth),
        paragraphWrap(0, lineWidth) {}

  void printRows() {
    scanner.rewindTable();
    while (scanner.advanceRow()) {
      printRow();
    }
  }

 private:
  // Both rings are empty again when a row is done.
  void printRow() {
    std::int32_t cursorColumn = -1;
    while (scanner.advancePart()) {
      printPart(cursorColumn);
    }
    if (layout.lastColumnBelow) {
      printLastColumnBelow();
    }
    writeLineBreak(writer);
    lastColumnWrap.drain(writer);
    paragraphWrap.drain(writer);
  }

  void printPart(std::int32_t& cursorColumn) {
    const std::int32_t column = scanner.column();
    if (column > layout.lastColumn) {
      return;
    }
    if (column == 0) {
      if (cursorColumn >= 0) {
        writeLineBreak(writer);
      }
      cursorColumn = 0;
    }
    padToColumn(writer, cursorColumn, layout.columnStart[slot(column)]);
    if (isParagraphPart()) {
      paragraphWrap.feed(writer, scanner.partText(), scanner.partBytes());
    } else if (column < layout.lastColumn) {
      writer(scanner.partText(), scanner.partBytes());
      cursorColumn += scanner.partColumns();
    } else if (!layout.lastColumnBelow) {
      lastColumnWrap.feed(writer, scanner.partText(), scanner.partBytes());
    }
  }

  // A second walk of the row, since the lines below it are written only
  // after the row's own lines.
  void printLastColumnBelow() {
    scanner.rewindRow();
    while (scanner.advancePart()) {
      if (scanner.column() != layout.lastColumn) {
        continue;
      }
      writeLineBreak(writer);
      padFromLineStart(writer, startBelowRow);
      lastColumnWrap.feed(writer, scanner.partText(), scanner.partBytes());
    }
  }

  bool isParagraphPart() const {
    return scanner.column() == 0 && (layout.lastColumn == 0 || isOnlyPartOfRow(scanner));
  }

  IStringWriter& writer;
  UsageTextScanner& scanner;
  const ColumnLayout& layout;
  WrapBuffer lastColumnWrap;
  WrapBuffer paragraphWrap;
};

}  // namespace

void printUsageTable(IStringWriter& writer, const OptionSpec* table) {
  UsageTextScanner scanner(table);
  while (scanner.advanceTable()) {
    ColumnLayout layout;
    measureColumns(scanner, layout);
    const std::int32_t lastColumnFrom = placeColumns(layout);
    TablePrinter(writer, scanner, layout, lastColumnFrom).printRows();
  }
}

}  // namespace option::PrintUsageImplementation
