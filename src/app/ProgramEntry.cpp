#include "app/ProgramEntry.h"

#include <iostream>
#include <memory>
#include <string_view>

#include "BuildDate.h"
#include "app/TapeWriter.h"
#include "app/UsageTable.h"
#include "option/Parser.h"
#include "option/StringWriter.h"
#include "option/UsagePrinter.h"

namespace {

constexpr std::string_view banner =
    "  reelmake " REELMAKE_VERSION " (built " REELMAKE_BUILD_DATE ")\n\n";

struct CommandLine {
  std::int32_t optionCount;
  std::int32_t positionalCount;
  const char* const* positionals;
  const option::ParsedOption* optionsByIndex;

  bool isSet(OptionIndex index) const { return optionsByIndex[index].isSet(); }
};

void printBanner(bool withLeadingEmptyLine) {
  if (withLeadingEmptyLine) {
    std::cout.put('\n');
  }
  std::cout.write(banner.data(), static_cast<std::streamsize>(banner.size()));
  std::cout.flush();
}

void printUsage() {
  option::PrintUsageImplementation::OStreamWriter<std::ostream> writer(std::cout);
  option::PrintUsageImplementation::printUsageTable(writer, usageTable);
  std::cout.flush();
}

int convertSelected(const CommandLine& line) {
  const ConversionChannels channels{systemFileSystem(), std::cout};
  const std::int32_t k = line.optionCount;
  const std::int32_t n = line.positionalCount;
  const char* const* p = line.positionals;
  if ((k == 0 || (k == 1 && line.isSet(RAW))) && n == 2) {
    return convertHeaderless(p[0], p[1], line.isSet(RAW), channels);
  }
  if (k == 1 && line.isSet(BASIC) && n == 3) {
    return convertBasic(p[0], p[1], p[2], std::nullopt, channels);
  }
  if (k == 1 && line.isSet(BASIC) && n == 4) {
    return convertBasic(p[0], p[1], p[2], parseStartValue(p[3]), channels);
  }
  if (k == 1 && line.isSet(CODE) && n == 4) {
    return convertCode(p[0], p[1], p[2], parseStartValue(p[3]), channels);
  }
  return 0;
}

}  // namespace

int programEntry(int argumentCount, const char* const* argumentVector) {
  // Without even the program's name this is a call without arguments.
  const std::int32_t count = argumentCount > 0 ? argumentCount - 1 : 0;
  const char* const* arguments = argumentCount > 0 ? argumentVector + 1 : argumentVector;

  const option::Stats stats(usageTable, count, arguments);
  const auto optionsByIndex = std::make_unique<option::ParsedOption[]>(stats.indexCapacity);
  const auto occurrences = std::make_unique<option::ParsedOption[]>(stats.occurrenceCapacity);
  const option::Parser parser(usageTable, count, arguments, optionsByIndex.get(),
                              occurrences.get());
  if (parser.failed) {
    return 1;
  }
  printBanner(count > 0);
  if (count == 0 || optionsByIndex[HELP].isSet()) {
    printUsage();
    return 0;
  }
  return convertSelected(
      {parser.occurrenceCount, parser.positionalCount, parser.positionals, optionsByIndex.get()});
}
