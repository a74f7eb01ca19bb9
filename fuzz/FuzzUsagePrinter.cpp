// Prints option tables whose help texts come from the fuzz input through a
// writer that checks every call: only blanks, line breaks and bytes of the
// help texts, each help text byte at most once, every printable byte of
// columns 0 to 7 exactly once, lines no wider than 80 cells unless a whole
// part is too wide for its place, and an output of bounded size.
//
// Input layout: the help texts, separated by NULs; a help text that is the
// single byte 0x01 stands for a row without help text (a table separator).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "option/OptionSpec.h"
#include "option/StringWriter.h"
#include "option/UsagePrinter.h"

namespace {

using option::OptionSpec;

constexpr std::int32_t lineWidth = 80;
constexpr std::int32_t columnLimit = 8;
constexpr std::size_t mostRows = 48;
constexpr char nullHelpMarker = '\x01';

bool isSeparator(char byte) { return byte == '\t' || byte == '\v' || byte == '\n'; }

bool isDoubleWidth(std::uint32_t codePoint) {
  if (codePoint == 0x303F) {
    return false;
  }
  struct Range {
    std::uint32_t first;
    std::uint32_t last;
  };
  static constexpr Range ranges[] = {{0x1100, 0x115F}, {0x2329, 0x232A}, {0x2E80, 0xA4C6},
                                     {0xA960, 0xA97C}, {0xAC00, 0xD7FB}, {0xF900, 0xFAFF},
                                     {0xFE10, 0xFE6B}, {0xFF01, 0xFF60}, {0xFFE0, 0xFFE6}};
  for (const Range& range : ranges) {
    if (codePoint >= range.first && codePoint <= range.last) {
      return true;
    }
  }
  return codePoint >= 0x1B000;
}

// The bits of a lead byte below its highest zero bit; 0xFE and 0xFF keep all.
std::uint32_t valueBitsOf(std::uint8_t lead) {
  if (lead <= 0xDF) return lead & 0x1FU;
  if (lead <= 0xEF) return lead & 0x0FU;
  if (lead <= 0xF7) return lead & 0x07U;
  if (lead <= 0xFB) return lead & 0x03U;
  if (lead <= 0xFD) return lead & 0x01U;
  return lead;
}

// Screen cells of count bytes of help text: one per character, two for a
// double-width one; a lead byte takes every continuation byte behind it.
std::int32_t cellsOf(const char* text, std::int32_t count) {
  std::int32_t cells = 0;
  std::int32_t i = 0;
  while (i < count) {
    const auto lead = static_cast<std::uint8_t>(text[i++]);
    ++cells;
    if (lead < 0xC2) {
      continue;
    }
    std::uint32_t codePoint = valueBitsOf(lead);
    while (i < count && (static_cast<std::uint8_t>(text[i]) & 0xC0U) == 0x80U) {
      codePoint = (codePoint << 6U) | (static_cast<std::uint8_t>(text[i]) & 0x3FU);
      ++i;
    }
    if (codePoint >= 0x1100 && isDoubleWidth(codePoint)) {
      ++cells;
    }
  }
  return cells;
}

// One help text with what the checks need to know about each of its bytes.
struct HelpText {
  std::string text;
  std::vector<std::int32_t> columnOf;  // of each byte, counted by the tabs of its row
  std::vector<bool> written;
};

// An upper bound on what the printer may write for one help text. Every
// part costs at most a line break and a padding to column 80, twice (its
// own place and, for a last column, a line below the row); every piece of a
// wrapped part at most one more of those; and a part has at most one piece
// per byte, plus one. Rows add their own line breaks and two drains.
std::size_t outputBoundOf(const std::string& text) {
  std::size_t bound = 0;
  std::size_t rowStart = 0;
  while (rowStart <= text.size()) {
    std::size_t rowEnd = text.find('\n', rowStart);
    if (rowEnd == std::string::npos) {
      rowEnd = text.size();
    }
    std::size_t columns = 1;
    std::size_t deepest = 0;
    std::size_t lineInColumn = 0;
    for (std::size_t i = rowStart; i < rowEnd; ++i) {
      if (text[i] == '\t') {
        ++columns;
        lineInColumn = 0;
      } else if (text[i] == '\v') {
        deepest = std::max(deepest, ++lineInColumn);
      }
    }
    const std::size_t parts = (deepest + 1) * std::min<std::size_t>(columns, columnLimit);
    const std::size_t bytes = rowEnd - rowStart;
    bound += 300 * (parts + bytes + 1);
    rowStart = rowEnd + 1;
  }
  return bound;
}

class CheckingWriter final : public option::PrintUsageImplementation::IStringWriter {
 public:
  CheckingWriter(std::vector<HelpText>& helps, std::size_t bound) : helps(helps), bound(bound) {}

  void operator()(const char* text, std::int32_t count) override {
    require(count >= 0, "a negative count");
    total += static_cast<std::size_t>(count);
    require(total <= bound, "the output grows past its bound");
    if (count == 0) {
      require(findHelp(text, 0) != nullptr, "an empty write outside the help texts");
      return;
    }
    HelpText* help = findHelp(text, count);
    if (help != nullptr) {
      writePiece(*help, text, count);
    } else if (count == 1 && *text == ' ') {
      ++line.width;
      line.endsInPiece = false;
      endsInBreak = false;
    } else if (count == 1 && *text == '\n') {
      endLine();
      endsInBreak = true;
    } else {
      violated("bytes written that are neither blank, line break nor help text");
    }
  }

  // Every text row ends in a line break, so any help text gives output.
  void finish(bool anyHelpText) const {
    require(total > 0 || !anyHelpText, "help texts but no output");
    require(total == 0 || endsInBreak, "something was written after the last line break");
  }

 private:
  struct Line {
    std::int32_t width = 0;
    bool endsInPiece = false;
    std::int32_t pieceStart = 0;
    std::int32_t pieceWidth = 0;
    bool pieceIsWholePart = false;
  };

  HelpText* findHelp(const char* text, std::int32_t count) {
    const std::less<const char*> before;
    for (HelpText& help : helps) {
      const char* begin = help.text.data();
      // An empty write may sit on the terminating NUL.
      const char* end = begin + help.text.size() + (count == 0 ? 1 : 0);
      if (!before(text, begin) && before(text, end) && count <= end - text) {
        return &help;
      }
    }
    return nullptr;
  }

  void writePiece(HelpText& help, const char* text, std::int32_t count) {
    const auto offset = static_cast<std::size_t>(text - help.text.data());
    for (std::size_t i = offset; i < offset + static_cast<std::size_t>(count); ++i) {
      require(!isSeparator(help.text[i]), "a markup byte was written");
      require(help.columnOf[i] < columnLimit, "a byte of column 8 or beyond was written");
      require(!help.written[i], "a help text byte was written twice");
      help.written[i] = true;
    }
    const char after = help.text.c_str()[offset + static_cast<std::size_t>(count)];
    line.pieceIsWholePart = (offset == 0 || isSeparator(help.text[offset - 1])) &&
                            (after == '\0' || isSeparator(after));
    line.pieceStart = line.width;
    line.pieceWidth = cellsOf(text, count);
    line.width += line.pieceWidth;
    line.endsInPiece = true;
    endsInBreak = false;
  }

  // A line may pass column 80 only through its last piece: a whole part that
  // is wider than its place, or a piece of at most two cells from a wrapper
  // whose lines start at column 79 or 80 and so are widened to two cells.
  void endLine() {
    if (line.width > lineWidth) {
      require(line.endsInPiece, "a line passes column 80 with blanks");
      require(line.pieceIsWholePart || (line.pieceStart >= lineWidth - 1 && line.pieceWidth <= 2),
              "a line passes column 80 with a piece of a wrapped part");
    }
    line = Line{};
  }

  std::vector<HelpText>& helps;
  std::size_t bound;
  std::size_t total = 0;
  Line line;
  bool endsInBreak = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<HelpText> helps;
  std::vector<bool> rowHasHelp;
  std::string piece;
  const auto takeRow = [&] {
    const bool hasHelp = piece.size() != 1 || piece[0] != nullHelpMarker;
    rowHasHelp.push_back(hasHelp);
    if (hasHelp) {
      helps.push_back(HelpText{piece, {}, {}});
    }
    piece.clear();
  };
  for (std::size_t i = 0; i < size && rowHasHelp.size() < mostRows; ++i) {
    if (data[i] == 0) {
      takeRow();
    } else {
      piece.push_back(static_cast<char>(data[i]));
    }
  }
  if (size > 0 && rowHasHelp.size() < mostRows) {
    takeRow();
  }

  std::size_t bound = 0;
  for (HelpText& help : helps) {
    std::int32_t column = 0;
    for (const char byte : help.text) {
      column = byte == '\n' ? 0 : column + (byte == '\t' ? 1 : 0);
      help.columnOf.push_back(column);
    }
    help.written.assign(help.text.size(), false);
    bound += outputBoundOf(help.text);
  }

  std::vector<OptionSpec> table;
  std::size_t nextHelp = 0;
  for (std::size_t row = 0; row < rowHasHelp.size(); ++row) {
    const char* helpText = rowHasHelp[row] ? helps[nextHelp++].text.c_str() : nullptr;
    table.push_back(
        {static_cast<std::uint32_t>(row), 0, "", "", option::takesNoArgument, helpText});
  }
  table.push_back({0, 0, nullptr, nullptr, nullptr, nullptr});

  CheckingWriter writer(helps, bound);
  option::PrintUsageImplementation::printUsageTable(writer, table.data());
  writer.finish(!helps.empty());

  // Only the blank at a wrap break is dropped: every other byte of columns 0
  // to 7 reaches the output.
  for (const HelpText& help : helps) {
    for (std::size_t i = 0; i < help.text.size(); ++i) {
      const char byte = help.text[i];
      if (byte != ' ' && !isSeparator(byte) && help.columnOf[i] < columnLimit) {
        require(help.written[i], "a byte of a help text was not written");
      }
    }
  }
  return 0;
}
