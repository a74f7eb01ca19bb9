// Prints option tables whose help texts come from the fuzz input and judges
// the writer calls: only blanks, line breaks and bytes of the help texts,
// each help text byte at most once, every printable byte of columns 0 to 7
// exactly once, lines no wider than 80 cells but where the layout allows it,
// and an output of bounded size. Lines are measured with the library's own
// character measure: what is judged here is the layout, not the measure.
//
// Input layout: the help texts, separated by NULs; a help text that is the
// single byte 0x01 stands for a row without help text (a table separator).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "FuzzCheck.h"
#include "option/OptionSpec.h"
#include "option/StringWriter.h"
#include "option/UsagePrinter.h"
#include "option/UsageTextScanner.h"

namespace {

using option::OptionSpec;

constexpr std::int32_t lineWidth = 80;
constexpr std::int32_t columnLimit = 8;
constexpr std::size_t mostRows = 48;
constexpr const char* nullHelpMarker = "\x01";

bool isSeparator(char byte) { return byte == '\t' || byte == '\v' || byte == '\n'; }

std::int32_t cellsOf(const char* text, std::int32_t count) {
  std::int32_t cells = 0;
  for (std::int32_t taken = 0; taken < count;) {
    const option::CharacterSize size = option::measureCharacter(text + taken, count - taken);
    cells += size.cells;
    taken += size.bytes;
  }
  return cells;
}

// One help text with the column, counted by the tabs of its row, of each byte.
struct HelpText {
  explicit HelpText(std::string text) : text(std::move(text)) {
    std::int32_t column = 0;
    for (const char byte : this->text) {
      column = byte == '\n' ? 0 : column + (byte == '\t' ? 1 : 0);
      columnOf.push_back(column);
    }
  }

  std::string text;
  std::vector<std::int32_t> columnOf;
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

// The option table of one run, built from the input. Its rows point into
// the help texts held here, so a case never moves.
class PrinterCase {
 public:
  explicit PrinterCase(InputCursor& cursor) {
    const std::vector<std::string> rowTexts = cursor.pieces(mostRows);
    helps.reserve(rowTexts.size());
    for (const std::string& rowText : rowTexts) {
      const char* helpText = nullptr;
      if (rowText != nullHelpMarker) {
        helpText = helps.emplace_back(rowText).text.c_str();
        outputBound += outputBoundOf(rowText);
      }
      const auto index = static_cast<std::uint32_t>(table.size());
      table.push_back({index, 0, "", "", option::takesNoArgument, helpText});
    }
    table.push_back({0, 0, nullptr, nullptr, nullptr, nullptr});
  }
  PrinterCase(const PrinterCase&) = delete;
  PrinterCase& operator=(const PrinterCase&) = delete;
  ~PrinterCase() = default;

  std::vector<HelpText> helps;
  std::vector<OptionSpec> table;
  std::size_t outputBound = 0;
};

struct WriterCall {
  const char* text;
  std::int32_t count;
};

// Keeps every call for the judge. The bound is checked as the calls come,
// so that a printer that never stops is caught before it fills the memory.
class RecordingWriter final : public option::PrintUsageImplementation::IStringWriter {
 public:
  explicit RecordingWriter(std::size_t bound) : bound(bound) {}

  void operator()(const char* text, std::int32_t count) override {
    require(count >= 0, "a negative count");
    total += static_cast<std::size_t>(count);
    require(total <= bound, "the output grows past its bound");
    calls.push_back({text, count});
  }

  std::vector<WriterCall> calls;

 private:
  std::size_t bound;
  std::size_t total = 0;
};

std::vector<WriterCall> print(const PrinterCase& printerCase) {
  RecordingWriter writer(printerCase.outputBound);
  option::PrintUsageImplementation::printUsageTable(writer, printerCase.table.data());
  return std::move(writer.calls);
}

// Follows the output call by call: where each byte came from and how wide
// the current line has grown.
class OutputJudge {
 public:
  explicit OutputJudge(const std::vector<HelpText>& helps) : helps(helps) {
    for (const HelpText& help : helps) {
      written.emplace_back(help.text.size(), false);
    }
  }

  void judgeCall(const WriterCall& call) {
    wroteAnything = wroteAnything || call.count > 0;
    const std::size_t help = findHelp(call);
    if (call.count == 0) {
      require(help != notFound, "an empty write outside the help texts");
    } else if (help != notFound) {
      judgePiece(help, call);
    } else if (call.count == 1 && call.text[0] == ' ') {
      ++line.width;
      line.endsInPiece = false;
      endsInBreak = false;
    } else if (call.count == 1 && call.text[0] == '\n') {
      judgeLineEnd();
      endsInBreak = true;
    } else {
      violated("bytes written that are neither blank, line break nor help text");
    }
  }

  // Every text row ends in a line break, so any help text gives output; and
  // only the blank at a wrap break is dropped, so every other byte of
  // columns 0 to 7 reaches the output.
  void judgeEnd() const {
    require(wroteAnything || helps.empty(), "help texts but no output");
    require(!wroteAnything || endsInBreak, "something was written after the last line break");
    for (std::size_t help = 0; help < helps.size(); ++help) {
      const HelpText& source = helps[help];
      for (std::size_t i = 0; i < source.text.size(); ++i) {
        const char byte = source.text[i];
        if (byte != ' ' && !isSeparator(byte) && source.columnOf[i] < columnLimit) {
          require(written[help][i], "a byte of a help text was not written");
        }
      }
    }
  }

 private:
  static constexpr std::size_t notFound = static_cast<std::size_t>(-1);

  struct Line {
    std::int32_t width = 0;
    bool endsInPiece = false;
    std::int32_t pieceStart = 0;
    std::int32_t pieceWidth = 0;
    bool pieceIsWholePart = false;
  };

  // An empty write may sit on a help text's terminating NUL.
  std::size_t findHelp(const WriterCall& call) const {
    for (std::size_t help = 0; help < helps.size(); ++help) {
      const char* begin = helps[help].text.data();
      const char* end = begin + helps[help].text.size() + (call.count == 0 ? 1 : 0);
      if (isWithin(call.text, begin, end) && call.count <= end - call.text) {
        return help;
      }
    }
    return notFound;
  }

  void judgePiece(std::size_t help, const WriterCall& call) {
    const std::string& text = helps[help].text;
    const auto offset = static_cast<std::size_t>(call.text - text.data());
    const std::size_t end = offset + static_cast<std::size_t>(call.count);
    for (std::size_t i = offset; i < end; ++i) {
      require(!isSeparator(text[i]), "a markup byte was written");
      require(helps[help].columnOf[i] < columnLimit, "a byte of column 8 or beyond was written");
      require(!written[help][i], "a help text byte was written twice");
      written[help][i] = true;
    }
    line.pieceIsWholePart = (offset == 0 || isSeparator(text[offset - 1])) &&
                            (end == text.size() || isSeparator(text[end]));
    line.pieceStart = line.width;
    line.pieceWidth = cellsOf(call.text, call.count);
    line.width += line.pieceWidth;
    line.endsInPiece = true;
    endsInBreak = false;
  }

  // A line may pass column 80 only through its last piece: a whole part that
  // is wider than its place, or a piece of at most two cells from a wrapper
  // whose lines start at column 79 or 80 and so are widened to two cells.
  void judgeLineEnd() {
    if (line.width > lineWidth) {
      require(line.endsInPiece, "a line passes column 80 with blanks");
      require(line.pieceIsWholePart || (line.pieceStart >= lineWidth - 1 && line.pieceWidth <= 2),
              "a line passes column 80 with a piece of a wrapped part");
    }
    line = Line{};
  }

  const std::vector<HelpText>& helps;
  std::vector<std::vector<bool>> written;
  Line line;
  bool wroteAnything = false;
  bool endsInBreak = false;
};

void judge(const PrinterCase& printerCase, const std::vector<WriterCall>& calls) {
  OutputJudge judge(printerCase.helps);
  for (const WriterCall& call : calls) {
    judge.judgeCall(call);
  }
  judge.judgeEnd();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputCursor cursor(data, size);
  const PrinterCase printerCase(cursor);
  const std::vector<WriterCall> calls = print(printerCase);
  judge(printerCase, calls);
  return 0;
}
