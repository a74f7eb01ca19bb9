#include "app/ProgramEntry.h"

#include <memory>
#include <optional>
#include <ostream>
#include <string_view>

#include "BuildDate.h"
#include "app/OutputFile.h"
#include "app/TapeWriter.h"
#include "app/UsageTable.h"
#include "option/Parser.h"
#include "option/StringWriter.h"
#include "option/UsagePrinter.h"

namespace {

constexpr std::string_view banner =
    "  reelmake " REELMAKE_VERSION " (built " REELMAKE_BUILD_DATE ")\n\n";

struct CommandLine {
  const char* const* arguments;
  std::int32_t argumentCount;
  std::int32_t optionCount;
  std::int32_t positionalCount;
  const char* const* positionals;
  const option::ParsedOption* optionsByIndex;

  bool isSet(OptionIndex index) const { return optionsByIndex[index].isSet(); }

  // A long option's name is a whole argument; a letter sits inside its cluster.
  bool isWholeArgument(const char* text) const {
    for (std::int32_t i = 0; i < argumentCount; ++i) {
      if (arguments[i] == text) return true;
    }
    return false;
  }
};

void write(std::ostream& console, std::string_view text) {
  console.write(text.data(), static_cast<std::streamsize>(text.size()));
}

// Names the first unrecognised option as it was written: --name without any
// =value, or a dash and the letter, also for a letter inside a cluster.
int reportUnknownOption(const CommandLine& line, std::ostream& console) {
  const option::ParsedOption& first = line.optionsByIndex[UNRECOGNISED];
  write(console, "  error: unknown option '");
  if (line.isWholeArgument(first.nameText)) {
    write(console, {first.nameText, static_cast<std::size_t>(first.nameLength)});
  } else {
    write(console, "-");
    write(console, {first.nameText, 1});
  }
  write(console, "'.\n");
  console.flush();
  return 1;
}

// The fourth file name, where there is one, read as a start value; false
// after reporting one that is not a decimal number.
bool readStartValue(const CommandLine& line, std::optional<StartValue>& start,
                    std::ostream& console) {
  if (line.positionalCount == 4) {
    start = parseStartValue(line.positionals[3]);
    if (!start) {
      reportError(console, "the start value is not a decimal number.");
      return false;
    }
  }
  return true;
}

int convertWithHeader(const CommandLine& line, const ConversionChannels& channels) {
  std::optional<StartValue> start;
  if (!readStartValue(line, start, channels.console)) {
    return 1;
  }
  const char* const* files = line.positionals;
  return line.isSet(CODE) ? convertCode(files[0], files[1], files[2], *start, channels)
                          : convertBasic(files[0], files[1], files[2], start, channels);
}

// Exactly one conversion with the right number of file names, or an error
// that says what is wrong with the command line.
int convertSelected(const CommandLine& line, const ConversionChannels& channels) {
  std::ostream& console = channels.console;
  if (line.isSet(UNRECOGNISED)) {
    return reportUnknownOption(line, console);
  }
  if (line.optionCount > 1) {
    return reportError(console, "use only one of -b, -c and -r.");
  }
  const std::int32_t fileCount = line.positionalCount;
  if (line.isSet(BASIC)) {
    return fileCount == 3 || fileCount == 4
               ? convertWithHeader(line, channels)
               : reportError(console,
                             "-b needs an input, an output, a tape name and an optional start "
                             "line.");
  }
  if (line.isSet(CODE)) {
    return fileCount == 4 ? convertWithHeader(line, channels)
                          : reportError(console,
                                        "-c needs an input, an output, a tape name and a start "
                                        "address.");
  }
  if (fileCount != 2) {
    return reportError(console, "a headerless block needs an input and an output.");
  }
  return convertHeaderless(line.positionals[0], line.positionals[1], line.isSet(RAW), channels);
}

// Whether the command line names exactly one conversion with the right
// number of file names, as convertSelected runs it.
bool selectsConversion(const CommandLine& line) {
  if (line.isSet(UNRECOGNISED) || line.optionCount > 1) return false;
  const std::int32_t fileCount = line.positionalCount;
  if (line.isSet(BASIC)) return fileCount == 3 || fileCount == 4;
  return fileCount == (line.isSet(CODE) ? 4 : 2);
}

void printBanner(bool withLeadingEmptyLine, std::ostream& console) {
  if (withLeadingEmptyLine) {
    console.put('\n');
  }
  write(console, banner);
  console.flush();
}

// The usage text is the whole job of such a run: one that could not be
// written (to a full disk, say) has failed.
int printUsage(std::ostream& console) {
  option::PrintUsageImplementation::OStreamWriter<std::ostream> writer(console);
  option::PrintUsageImplementation::printUsageTable(writer, usageTable);
  console.flush();
  return console.good() ? 0 : 1;
}

}  // namespace

int programEntry(int argumentCount, const char* const* argumentVector, FileSystem& files,
                 ProcessControl& process, std::ostream& console) {
  // Without even the program's name this is a call without arguments.
  const std::int32_t count = argumentCount > 0 ? argumentCount - 1 : 0;
  const char* const* arguments = argumentCount > 0 ? argumentVector + 1 : argumentVector;

  const option::Stats stats(usageTable, count, arguments);
  // A table this machine cannot hold fails as a parse does.
  const std::optional<std::size_t> indexLength = option::indexArrayLength(stats.indexCapacity);
  if (!indexLength) {
    return 1;
  }
  const auto optionsByIndex = std::make_unique<option::ParsedOption[]>(*indexLength);
  const auto occurrences = std::make_unique<option::ParsedOption[]>(stats.occurrenceCapacity);
  const option::Parser parser(usageTable, count, arguments, optionsByIndex.get(),
                              occurrences.get());
  if (parser.failed) {
    return 1;
  }
  const CommandLine line{arguments,
                         count,
                         parser.occurrenceCount,
                         parser.positionalCount,
                         parser.positionals,
                         optionsByIndex.get()};
  const bool printsUsage = count == 0 || optionsByIndex[HELP].isSet();
  // A tape sent to standard output is all that goes there, so that the
  // stream is a tape any reader takes; an error line still follows it.
  const bool tapeOnConsole =
      !printsUsage && selectsConversion(line) && leadsToStandardOutput(files, line.positionals[1]);
  if (!tapeOnConsole) {
    printBanner(count > 0, console);
  }
  // A banner that could not be written does not fail a conversion: its tape
  // is what the run is for.
  if (printsUsage) {
    return printUsage(console);
  }
  return convertSelected(line, ConversionChannels{files, process, console});
}
