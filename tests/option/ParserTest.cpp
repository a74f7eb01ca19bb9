#include "option/Parser.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/AllocationCounter.h"

namespace option {
namespace {

enum : std::uint32_t { OTHER = 0, HELP = 1, BASIC = 2, CODE = 3, RAW = 5 };

constexpr OptionSpec terminatingRow{0, 0, nullptr, nullptr, nullptr, nullptr};

const OptionSpec programLikeTable[] = {
    {OTHER, 0, "", "", takesNoArgument, "preamble"},
    {HELP, 0, "h", "help", takesNoArgument, "help"},
    {BASIC, 0, "b", "basic", takesNoArgument, "basic"},
    {CODE, 0, "c", "code", takesNoArgument, "code"},
    {RAW, 0, "r", "raw", takesNoArgument, "raw"},
    terminatingRow,
};

ArgVerdict takesArgument(const ParsedOption&, bool) { return ArgumentTaken; }
ArgVerdict dropsArgument(const ParsedOption&, bool) { return ArgumentDropped; }
ArgVerdict unusualVerdict(const ParsedOption&, bool) { return static_cast<ArgVerdict>(7); }
// Refuses a candidate argument that starts with '!', so that a refusal can
// come in the middle of a cluster.
ArgVerdict refusesBang(const ParsedOption& occurrence, bool) {
  return occurrence.argText != nullptr && occurrence.argText[0] == '!' ? ArgumentRefused
                                                                       : NoArgument;
}

const OptionSpec argumentTable[] = {
    {0, 0, "", "", takesNoArgument, nullptr},
    {1, 0, "r", "raw", takesArgument, nullptr},
    {2, 0, "b", "basic", takesNoArgument, nullptr},
    {3, 0, "d", "drop", dropsArgument, nullptr},
    {4, 0, "u", "unusual", unusualVerdict, nullptr},
    {6, 0, "q", "", refusesBang, nullptr},
    terminatingRow,
};

// A short-only and a long-only row come before the catch-all.
const OptionSpec catchAllLastTable[] = {
    {1, 0, "a", "", takesNoArgument, nullptr},
    {2, 0, "", "all", takesNoArgument, nullptr},
    {3, 0, "", "", takesNoArgument, nullptr},
    terminatingRow,
};

// A null long name ends the search for long names: rows behind it answer to
// short names only.
const OptionSpec noCatchAllTable[] = {
    {2, 0, "b", "basic", takesNoArgument, nullptr},
    {7, 0, "n", nullptr, takesNoArgument, nullptr},
    {8, 0, "m", "more", takesNoArgument, nullptr},
    terminatingRow,
};

const OptionSpec emptyTable[] = {terminatingRow};

// Runs both passes the way the program does (count, allocate, store) over
// the arguments, given as one text split at blanks, and describes what was
// stored: each occurrence as its index, its name and its argument if it has
// one, then "|" and the positional arguments: "5:r 1:--help(x) | in.bin".
std::string parse(const OptionSpec* table, const std::string& words, std::int32_t count) {
  std::vector<std::string> arguments;
  std::istringstream split(words);
  for (std::string word; split >> word;) {
    arguments.push_back(word);
  }
  std::vector<const char*> vector;
  for (const std::string& argument : arguments) {
    vector.push_back(argument.c_str());
  }
  vector.push_back(nullptr);
  if (count < 0) {
    count = static_cast<std::int32_t>(arguments.size());
  }
  const Stats stats(table, count, vector.data());
  const auto byIndex =
      std::make_unique<ParsedOption[]>(indexArrayLength(stats.indexCapacity).value());
  const auto buffer = std::make_unique<ParsedOption[]>(stats.occurrenceCapacity);
  const Parser parser(table, count, vector.data(), byIndex.get(), buffer.get());
  // Both passes see the same arguments, so the buffer has one record to spare.
  EXPECT_EQ(stats.occurrenceCapacity, static_cast<std::uint32_t>(parser.occurrenceCount) + 1);
  EXPECT_FALSE(buffer[stats.occurrenceCapacity - 1].isSet());
  EXPECT_EQ(parser.positionals == nullptr, parser.positionalCount == 0);

  std::string text = parser.failed ? "failed " : "";
  for (std::size_t i = 0; i < static_cast<std::size_t>(parser.occurrenceCount); ++i) {
    const ParsedOption& record = buffer[i];
    text += std::to_string(record.spec->optionIndex) + ":" +
            std::string(record.nameText, static_cast<std::size_t>(record.nameLength));
    if (record.argText != nullptr) {
      text += std::string("(") + record.argText + ")";
    }
    text += " ";
  }
  text += "|";
  for (std::int32_t i = 0; i < parser.positionalCount; ++i) {
    text += std::string(" ") + parser.positionals[i];
  }
  return text;
}

TEST(Parser, ParsesArgumentVectors) {
  struct Case {
    const OptionSpec* table;
    const char* arguments;
    std::int32_t count;
    const char* expected;
  };
  const Case cases[] = {
      {programLikeTable, "- out.tap", -1, "| - out.tap"},
      {programLikeTable, "-r --", -1, "5:r |"},
      // The count, not only the vector's null entry, ends the arguments.
      {programLikeTable, "-r", 2, "5:r |"},
      {argumentTable, "-r x", 1, "1:r |"},
      {argumentTable, "-r val in", -1, "1:r(val) | in"},
      {argumentTable, "-r val", -1, "1:r(val) |"},
      {argumentTable, "--raw=v in", -1, "1:--raw(v) | in"},
      {argumentTable, "-ub --unusual x", -1, "4:u(b) 2:b 4:--unusual(x) | x"},
      {catchAllLastTable, "-za --zz --all", -1, "3:z 1:a 3:--zz 2:--all |"},
      {noCatchAllTable, "-xbx --nope --more -m in", -1, "2:b 8:m | in"},
      // These rows kill nothing the rows above do not; they show the rules
      // a reader needs: options end at the first non-option; long names
      // match whole and by case, and an empty one matches '='; every letter
      // of a cluster is an occurrence; an argument from inside its entry
      // leaves the next entry, even one of the same text; what a dropped
      // argument and a refusal do.
      {programLikeTable, "-rb -r in.bin -c out.tap", -1, "5:r 2:b 5:r | in.bin -c out.tap"},
      {programLikeTable, "--he --helpx --HELP ---x --=x --help=yes", -1,
       "0:--he 0:--helpx 0:--HELP 0:---x 0:-- 1:--help |"},
      {programLikeTable, "-help -r-x", -1, "1:h 0:e 0:l 0:p 5:r 0:-x 0:x |"},
      {argumentTable, "-rin in", -1, "1:r(in) | in"},
      {argumentTable, "-db -d x", -1, "3:d 2:b 3:d | x"},
      {argumentTable, "-qq! in", -1, "failed 6:q |"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    EXPECT_EQ(parse(c.table, c.arguments, c.count), c.expected);
  }
}

// Each index heads the list of its occurrences: a copy of the first, then
// the buffer records of the later ones. A second parse over the same arrays
// stores behind the records already there and adds to the same lists.
TEST(Parser, ListsTheOccurrencesOfAnIndexUnderIt) {
  const char* first[] = {"-rb", "-r", nullptr};
  const char* second[] = {"-r", nullptr};
  ParsedOption byIndex[7];
  ParsedOption buffer[5];
  const Parser once(programLikeTable, 2, first, byIndex, buffer);
  EXPECT_EQ(byIndex[RAW].nameText, first[0] + 1);
  EXPECT_EQ(byIndex[RAW].next(), &buffer[2]);
  // The first occurrence's own buffer record stays a list of its own.
  EXPECT_TRUE(buffer[0].isFirst());
  EXPECT_TRUE(buffer[0].isLast());
  EXPECT_FALSE(byIndex[4].isSet());
  EXPECT_FALSE(byIndex[6].isSet());
  const Parser twice(programLikeTable, 1, second, byIndex, buffer);
  EXPECT_EQ(twice.occurrenceCount, 4);
  EXPECT_EQ(buffer[2].next(), &buffer[3]);
  EXPECT_TRUE(buffer[3].isLast());
  EXPECT_EQ(buffer[3].next(), &byIndex[RAW]);
}

TEST(Parser, IndexCapacityIsTheLargestIndexPlusTwoEvenForTheLargestIndices) {
  EXPECT_EQ(Stats(programLikeTable, 0, nullptr).indexCapacity, 7u);
  // A null vector counts as no arguments, whatever the count says.
  EXPECT_EQ(Stats(programLikeTable, 3, nullptr).occurrenceCapacity, 1u);
  EXPECT_EQ(Stats(emptyTable, 0, nullptr).indexCapacity, 1u);
  struct Case {
    std::uint32_t largestIndex;
    std::uint64_t capacity;
  };
  for (const Case& c : {Case{0xFFFFFFFEu, 0x100000000u}, Case{0xFFFFFFFFu, 0x100000001u}}) {
    // The smaller index after the largest must not lower the capacity again.
    const OptionSpec table[] = {
        {c.largestIndex, 0, "x", "x", takesNoArgument, nullptr},
        {1, 0, "y", "y", takesNoArgument, nullptr},
        terminatingRow,
    };
    EXPECT_EQ(Stats(table, 0, nullptr).indexCapacity, c.capacity) << c.largestIndex;
  }
}

// A length narrowed to a 32-bit size_t would make the array too short.
TEST(Parser, AnIndexArrayTooLargeForTheMachineHasNoLength) {
  EXPECT_EQ(indexArrayLength(7), std::optional<std::size_t>{7});
  // The capacity of the largest index: 2^32 + 1 elements.
  const std::optional<std::size_t> length = indexArrayLength(0x100000001u);
  EXPECT_EQ(length.has_value(), sizeof(std::size_t) >= sizeof(std::uint64_t));
  if (length) {
    EXPECT_EQ(std::uint64_t{*length}, 0x100000001u);
  }
  EXPECT_EQ(indexArrayLength(std::numeric_limits<std::uint64_t>::max()), std::nullopt);
}

bool lastReportErrors = false;
ArgVerdict recordsReportErrors(const ParsedOption&, bool reportErrors) {
  lastReportErrors = reportErrors;
  return NoArgument;
}

// Documents which pass may report: no mutant of the parser reaches it.
TEST(Parser, OnlyTheStoringPassAsksChecksToReportErrors) {
  const OptionSpec table[] = {{0, 0, "e", "", recordsReportErrors, nullptr}, terminatingRow};
  const char* vector[] = {"-e", nullptr};
  lastReportErrors = true;
  const Stats stats(table, 1, vector);
  EXPECT_FALSE(lastReportErrors);
  ParsedOption byIndex[2];
  ParsedOption buffer[2];
  const Parser parser(table, 1, vector, byIndex, buffer);
  EXPECT_TRUE(lastReportErrors);
}

TEST(Parser, AnOccurrenceLimitDropsTheRestSilently) {
  const char* vector[] = {"-r", "-b", "-c", "in", nullptr};
  for (const std::int32_t limit : {0, 2}) {
    ParsedOption byIndex[7];
    ParsedOption buffer[4];
    const char* noArguments[] = {nullptr};
    Parser target(programLikeTable, 0, noArguments, byIndex, buffer);
    StoreOptionAction limited(&target, byIndex, buffer, limit);
    EXPECT_TRUE(parseArguments(programLikeTable, 4, vector, limited, true)) << limit;
    EXPECT_EQ(target.occurrenceCount, limit);
    EXPECT_FALSE(buffer[limit].isSet()) << limit;
    EXPECT_EQ(target.positionalCount, 1) << limit;
    EXPECT_EQ(target.positionals, vector + 3) << limit;
  }
}

TEST(Parser, BothPassesStopAtTheLargestSignedCount) {
  std::uint32_t counter = 2147483646u;
  CountOptionsAction counting(&counter);
  const char* twice[] = {"-r", "-r", nullptr};
  EXPECT_TRUE(parseArguments(programLikeTable, 1, twice, counting, false));  // one more fits
  EXPECT_FALSE(parseArguments(programLikeTable, 2, twice, counting, false));
  EXPECT_EQ(counter, 2147483647u);

  const char* vector[] = {"-r", "in", nullptr};
  ParsedOption byIndex[7];
  ParsedOption buffer[2];
  const char* noArguments[] = {nullptr};
  Parser target(programLikeTable, 0, noArguments, byIndex, buffer);
  target.occurrenceCount = 2147483647;
  StoreOptionAction storing(&target, byIndex, buffer, -1);
  EXPECT_FALSE(parseArguments(programLikeTable, 2, vector, storing, true));
  EXPECT_EQ(target.positionalCount, 0);
  EXPECT_FALSE(buffer[0].isSet());
}

TEST(Parser, ParsingAllocatesNothing) {
  const char* vector[] = {"-rb", "--help=x", "-x", "--", "in", "out", nullptr};
  ParsedOption byIndex[7];
  ParsedOption buffer[5];
  AllocationCounter counter;
  const Stats stats(programLikeTable, 6, vector);
  const Parser parser(programLikeTable, 6, vector, byIndex, buffer);
  EXPECT_EQ(counter.allocations(), 0u);
  EXPECT_EQ(stats.occurrenceCapacity, 5u);
  EXPECT_EQ(parser.occurrenceCount, 4);
  // The counter does see an allocation, so the 0 above means something.
  const auto record = std::make_unique<ParsedOption>();
  EXPECT_EQ(counter.allocations(), 1u);
}

}  // namespace
}  // namespace option
