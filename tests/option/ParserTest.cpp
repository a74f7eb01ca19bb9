#include "option/Parser.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "support/AllocationCounter.h"

namespace option {
namespace {

enum : std::uint32_t { OTHER = 0, HELP = 1, BASIC = 2, CODE = 3, RAW = 5 };

const OptionSpec programLikeTable[] = {
    {OTHER, 0, "", "", takesNoArgument, "preamble"},
    {HELP, 0, "h", "help", takesNoArgument, "help"},
    {BASIC, 0, "b", "basic", takesNoArgument, "basic"},
    {CODE, 0, "c", "code", takesNoArgument, "code"},
    {RAW, 0, "r", "raw", takesNoArgument, "raw"},
    {0, 0, nullptr, nullptr, nullptr, nullptr},
};

ArgVerdict takesArgument(const ParsedOption&, bool) { return ArgumentTaken; }
ArgVerdict dropsArgument(const ParsedOption&, bool) { return ArgumentDropped; }
ArgVerdict unusualVerdict(const ParsedOption&, bool) { return static_cast<ArgVerdict>(7); }

int refusalCalls = 0;
ArgVerdict refusesSecondCall(const ParsedOption&, bool) {
  return ++refusalCalls == 2 ? ArgumentRefused : NoArgument;
}

bool lastReportErrors = false;
ArgVerdict recordsReportErrors(const ParsedOption&, bool reportErrors) {
  lastReportErrors = reportErrors;
  return NoArgument;
}

// Runs both passes the way the program does: count, allocate, store.
struct ParseRun {
  std::vector<const char*> vector;
  std::unique_ptr<Stats> stats;
  std::unique_ptr<ParsedOption[]> byIndex;
  std::unique_ptr<ParsedOption[]> buffer;
  std::unique_ptr<Parser> parser;

  ParseRun(const OptionSpec* table, std::initializer_list<const char*> arguments)
      : vector(arguments) {
    vector.push_back(nullptr);
    const auto count = static_cast<std::int32_t>(arguments.size());
    stats = std::make_unique<Stats>(table, count, vector.data());
    byIndex = std::make_unique<ParsedOption[]>(stats->indexCapacity);
    buffer = std::make_unique<ParsedOption[]>(stats->occurrenceCapacity);
    parser = std::make_unique<Parser>(table, count, vector.data(), byIndex.get(), buffer.get());
  }

  std::vector<std::string> positionals() const {
    std::vector<std::string> result;
    for (std::int32_t i = 0; i < parser->positionalCount; ++i) {
      result.emplace_back(parser->positionals[i]);
    }
    return result;
  }
  std::vector<std::uint32_t> storedIndices() const {
    std::vector<std::uint32_t> result;
    for (std::size_t i = 0; i < static_cast<std::size_t>(parser->occurrenceCount); ++i) {
      result.push_back(buffer[i].spec->optionIndex);
    }
    return result;
  }
  std::size_t listLength(std::uint32_t index) const {
    std::size_t length = 1;
    for (const ParsedOption* record = &byIndex[index]; !record->isLast(); record = record->next()) {
      ++length;
    }
    return length;
  }
};

using Indices = std::vector<std::uint32_t>;
using Texts = std::vector<std::string>;

TEST(Parser, NoArgumentsStoresNothing) {
  ParseRun run(programLikeTable, {});
  EXPECT_EQ(run.stats->occurrenceCapacity, 1u);
  EXPECT_EQ(run.parser->occurrenceCount, 0);
  EXPECT_EQ(run.parser->positionalCount, 0);
  EXPECT_EQ(run.parser->positionals, nullptr);
  EXPECT_FALSE(run.parser->failed);
  EXPECT_FALSE(run.buffer[0].isSet());
}

TEST(Parser, ClustersAndRepeatsAreStoredInCommandLineOrder) {
  ParseRun run(programLikeTable, {"-rb", "-r", "in.bin", "out.tap"});
  EXPECT_EQ(run.stats->occurrenceCapacity, 4u);
  EXPECT_EQ(run.storedIndices(), (Indices{RAW, BASIC, RAW}));
  EXPECT_FALSE(run.buffer[3].isSet());
  EXPECT_EQ(run.positionals(), (Texts{"in.bin", "out.tap"}));
  EXPECT_EQ(run.parser->positionals, run.vector.data() + 2);
  // The index list: the copy of the first -r, then the buffer record of the second.
  ASSERT_TRUE(run.byIndex[RAW].isSet());
  EXPECT_EQ(run.listLength(RAW), 2u);
  EXPECT_EQ(run.byIndex[RAW].next(), &run.buffer[2]);
  EXPECT_EQ(run.byIndex[RAW].nameText, run.vector[0] + 1);
  // The first occurrence's own buffer record stays a list of its own.
  EXPECT_TRUE(run.buffer[0].isLast());
  EXPECT_TRUE(run.buffer[0].isFirst());
  EXPECT_FALSE(run.byIndex[4].isSet());
  EXPECT_FALSE(run.byIndex[6].isSet());
}

TEST(Parser, OptionProcessingEndsAtTheFirstNonOption) {
  ParseRun afterFile(programLikeTable, {"in.bin", "-r", "out.tap"});
  EXPECT_EQ(afterFile.parser->occurrenceCount, 0);
  EXPECT_EQ(afterFile.positionals(), (Texts{"in.bin", "-r", "out.tap"}));

  ParseRun dash(programLikeTable, {"-", "out.tap"});
  EXPECT_EQ(dash.parser->occurrenceCount, 0);
  EXPECT_EQ(dash.positionals(), (Texts{"-", "out.tap"}));

  ParseRun doubleDash(programLikeTable, {"--", "-r", "x"});
  EXPECT_EQ(doubleDash.parser->occurrenceCount, 0);
  EXPECT_EQ(doubleDash.positionals(), (Texts{"-r", "x"}));

  ParseRun trailingDoubleDash(programLikeTable, {"-r", "--"});
  EXPECT_EQ(trailingDoubleDash.parser->occurrenceCount, 1);
  EXPECT_EQ(trailingDoubleDash.parser->positionalCount, 0);
  EXPECT_EQ(trailingDoubleDash.parser->positionals, nullptr);
}

TEST(Parser, LongNamesMatchWholeAndCaseSensitively) {
  ParseRun run(programLikeTable, {"--he", "--helpx", "--HELP", "---x", "--=x", "--help=yes"});
  EXPECT_EQ(run.storedIndices(), (Indices{OTHER, OTHER, OTHER, OTHER, OTHER, HELP}));
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(run.buffer[i].nameText, run.vector[i]) << i;
  }
  EXPECT_EQ(run.byIndex[HELP].argText, nullptr);
}

// A single dash never reaches the long names, and a dash inside a cluster is
// one more letter. (How long each name is, ParsedOptionTest checks.)
TEST(Parser, EveryLetterOfAClusterIsAnOccurrenceOfItsOwn) {
  ParseRun run(programLikeTable, {"-help", "-r-x"});
  EXPECT_EQ(run.storedIndices(), (Indices{HELP, OTHER, OTHER, OTHER, RAW, OTHER, OTHER}));
  EXPECT_EQ(run.listLength(OTHER), 5u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(run.buffer[i].nameText, run.vector[0] + 1 + i) << i;
  }
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(run.buffer[4 + i].nameText, run.vector[1] + 1 + i) << i;
  }
}

TEST(Parser, ANoArgumentCheckConsumesNothing) {
  ParseRun run(programLikeTable, {"--help", "x", "-c", "32768"});
  EXPECT_EQ(run.storedIndices(), (Indices{HELP}));
  EXPECT_EQ(run.positionals(), (Texts{"x", "-c", "32768"}));
}

const OptionSpec argumentTable[] = {
    {0, 0, "", "", takesNoArgument, nullptr},        {1, 0, "r", "raw", takesArgument, nullptr},
    {2, 0, "b", "basic", takesNoArgument, nullptr},  {3, 0, "d", "drop", dropsArgument, nullptr},
    {4, 0, "u", "unusual", unusualVerdict, nullptr}, {0, 0, nullptr, nullptr, nullptr, nullptr},
};

TEST(Parser, ATakenArgumentIsKeptAndConsumed) {
  ParseRun following(argumentTable, {"-r", "val", "in"});
  EXPECT_STREQ(following.byIndex[1].argText, "val");
  EXPECT_EQ(following.positionals(), (Texts{"in"}));

  ParseRun cluster(argumentTable, {"-rb", "in"});
  EXPECT_EQ(cluster.storedIndices(), (Indices{1}));
  EXPECT_STREQ(cluster.byIndex[1].argText, "b");
  EXPECT_EQ(cluster.positionals(), (Texts{"in"}));

  ParseRun equals(argumentTable, {"--raw=v", "in"});
  EXPECT_STREQ(equals.byIndex[1].argText, "v");
  EXPECT_EQ(equals.positionals(), (Texts{"in"}));

  ParseRun empty(argumentTable, {"--raw=", "in"});
  EXPECT_STREQ(empty.byIndex[1].argText, "");

  ParseRun last(argumentTable, {"-r"});
  EXPECT_EQ(last.byIndex[1].argText, nullptr);
  EXPECT_EQ(last.parser->positionalCount, 0);
}

TEST(Parser, TheFollowingArgumentIsConsumedOnlyWhenItIsThatVeryEntry) {
  ParseRun run(argumentTable, {"-br", "next", "in"});
  EXPECT_EQ(run.storedIndices(), (Indices{2, 1}));
  EXPECT_EQ(run.byIndex[1].argText, run.vector[1]);
  EXPECT_EQ(run.positionals(), (Texts{"in"}));

  // Taken from inside the argument: the next entry, though equal, stays.
  // (Arrays, so that the compiler cannot fold "in" into the longer literal.)
  static const char longWithIn[] = "--raw=in";
  static const char clusterWithIn[] = "-rin";
  static const char in[] = "in";
  ParseRun equalText(argumentTable, {longWithIn, in});
  EXPECT_EQ(equalText.positionals(), (Texts{"in"}));
  ParseRun clusterText(argumentTable, {clusterWithIn, in});
  EXPECT_EQ(clusterText.positionals(), (Texts{"in"}));
}

TEST(Parser, DroppedAndUnusualVerdicts) {
  ParseRun dropped(argumentTable, {"-db", "x"});
  EXPECT_EQ(dropped.storedIndices(), (Indices{3, 2}));
  EXPECT_EQ(dropped.byIndex[3].argText, nullptr);
  EXPECT_EQ(dropped.positionals(), (Texts{"x"}));

  ParseRun unusual(argumentTable, {"-ub", "x"});
  EXPECT_EQ(unusual.storedIndices(), (Indices{4, 2}));
  EXPECT_STREQ(unusual.byIndex[4].argText, "b");
  EXPECT_EQ(unusual.positionals(), (Texts{"x"}));

  ParseRun droppedFollowing(argumentTable, {"-d", "x"});
  EXPECT_EQ(droppedFollowing.byIndex[3].argText, nullptr);
  EXPECT_EQ(droppedFollowing.positionals(), (Texts{"x"}));

  // An unusual verdict keeps the following entry as its argument and leaves it in place.
  ParseRun unusualLong(argumentTable, {"--unusual", "x"});
  EXPECT_EQ(unusualLong.byIndex[4].argText, unusualLong.vector[1]);
  EXPECT_EQ(unusualLong.positionals(), (Texts{"x"}));
}

TEST(Parser, ARefusalStopsTheParseAndKeepsWhatWasStored) {
  const OptionSpec table[] = {
      {0, 0, "q", "", refusesSecondCall, nullptr},
      {0, 0, nullptr, nullptr, nullptr, nullptr},
  };
  refusalCalls = -2;  // the counting pass makes the first two calls
  ParseRun run(table, {"-qq", "in"});
  EXPECT_TRUE(run.parser->failed);
  EXPECT_EQ(run.parser->occurrenceCount, 1);
  EXPECT_EQ(run.parser->positionalCount, 0);
  EXPECT_EQ(run.parser->positionals, nullptr);
}

TEST(Parser, WithoutACatchAllUnknownOptionsAreDropped) {
  const OptionSpec table[] = {
      {2, 0, "b", "basic", takesNoArgument, nullptr},
      {0, 0, nullptr, nullptr, nullptr, nullptr},
  };
  ParseRun run(table, {"-xbx", "--nope", "in"});
  EXPECT_EQ(run.storedIndices(), (Indices{2}));
  EXPECT_EQ(run.positionals(), (Texts{"in"}));
}

TEST(Parser, IndexCapacityIsTheLargestIndexPlusTwoEvenForTheLargestIndices) {
  EXPECT_EQ(Stats(programLikeTable, 0, nullptr).indexCapacity, 7u);
  struct Case {
    std::uint32_t largestIndex;
    std::uint64_t capacity;
  };
  for (const Case& c : {Case{0xFFFFFFFEu, 0x100000000u}, Case{0xFFFFFFFFu, 0x100000001u}}) {
    // The smaller index after the largest must not lower the capacity again.
    const OptionSpec table[] = {
        {c.largestIndex, 0, "x", "x", takesNoArgument, nullptr},
        {1, 0, "y", "y", takesNoArgument, nullptr},
        {0, 0, nullptr, nullptr, nullptr, nullptr},
    };
    EXPECT_EQ(Stats(table, 0, nullptr).indexCapacity, c.capacity) << c.largestIndex;
  }
}

TEST(Parser, TheCountAndTheVectorsEndBothLimitTheArgumentsConsidered) {
  const char* vector[] = {"-r", "a", "b", "-c", nullptr};
  ParsedOption byIndex[7];
  ParsedOption buffer[2];
  const Parser shortCount(programLikeTable, 2, vector, byIndex, buffer);
  EXPECT_EQ(shortCount.occurrenceCount, 1);
  EXPECT_EQ(shortCount.positionalCount, 1);
  EXPECT_EQ(shortCount.positionals, vector + 1);

  const char* lone[] = {"-r", nullptr};
  ParsedOption loneByIndex[7];
  ParsedOption loneBuffer[2];
  const Parser longCount(programLikeTable, 5, lone, loneByIndex, loneBuffer);
  EXPECT_EQ(longCount.occurrenceCount, 1);
  EXPECT_EQ(longCount.positionalCount, 0);
  EXPECT_EQ(longCount.positionals, nullptr);

  // A check taking an argument finds none at the vector's end and reads no further.
  ParsedOption argByIndex[5];
  ParsedOption argBuffer[2];
  const Parser taking(argumentTable, 3, lone, argByIndex, argBuffer);
  EXPECT_EQ(taking.occurrenceCount, 1);
  EXPECT_EQ(argByIndex[1].argText, nullptr);
}

TEST(Parser, OnlyTheStoringPassAsksChecksToReportErrors) {
  const OptionSpec table[] = {
      {0, 0, "e", "", recordsReportErrors, nullptr},
      {0, 0, nullptr, nullptr, nullptr, nullptr},
  };
  const char* vector[] = {"-e", nullptr};
  lastReportErrors = true;
  const Stats stats(table, 1, vector);
  EXPECT_FALSE(lastReportErrors);
  ParsedOption byIndex[2];
  ParsedOption buffer[2];
  const Parser parser(table, 1, vector, byIndex, buffer);
  EXPECT_TRUE(lastReportErrors);
}

TEST(Parser, StoringContinuesAfterRecordsAlreadyPresent) {
  const char* first[] = {"-r", nullptr};
  const char* second[] = {"-b", "-r", nullptr};
  ParsedOption byIndex[7];
  ParsedOption buffer[4];
  const Parser once(programLikeTable, 1, first, byIndex, buffer);
  const Parser twice(programLikeTable, 2, second, byIndex, buffer);
  EXPECT_EQ(twice.occurrenceCount, 3);
  EXPECT_EQ(buffer[1].spec->optionIndex, BASIC);
  EXPECT_EQ(byIndex[RAW].next(), &buffer[2]);
}

TEST(Parser, AnOccurrenceLimitDropsTheRestSilently) {
  const char* vector[] = {"-r", "-b", "-c", "in", nullptr};
  ParsedOption byIndex[7];
  ParsedOption buffer[4];
  const char* noArguments[] = {nullptr};
  Parser target(programLikeTable, 0, noArguments, byIndex, buffer);
  StoreOptionAction limited(&target, byIndex, buffer, 2);
  EXPECT_TRUE(parseArguments(programLikeTable, 4, vector, limited, true));
  EXPECT_EQ(target.occurrenceCount, 2);
  EXPECT_FALSE(buffer[2].isSet());
  EXPECT_EQ(target.positionalCount, 1);
  EXPECT_EQ(target.positionals, vector + 3);
}

TEST(Parser, BothPassesStopAtTheLargestSignedCount) {
  std::uint32_t counter = 2147483646u;
  CountOptionsAction counting(&counter);
  const char* twice[] = {"-r", "-r", nullptr};
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

TEST(Parser, TheCatchAllNeedNotBeTheFirstRow) {
  const OptionSpec table[] = {
      {1, 0, "a", "all", takesNoArgument, nullptr},
      {3, 0, "", "", takesNoArgument, nullptr},
      {0, 0, nullptr, nullptr, nullptr, nullptr},
  };
  ParseRun run(table, {"-za", "--zz"});
  EXPECT_EQ(run.storedIndices(), (Indices{3, 1, 3}));
}

TEST(Parser, ANullVectorCountsAsNoArguments) {
  std::uint32_t counter = 1;
  CountOptionsAction counting(&counter);
  EXPECT_TRUE(parseArguments(programLikeTable, 3, nullptr, counting, false));
  EXPECT_EQ(counter, 1u);
}

TEST(Parser, TheAllocationCounterSeesAllocations) {
  AllocationCounter counter;
  const auto record = std::make_unique<ParsedOption>();
  EXPECT_EQ(counter.allocations(), 1u);
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
}

}  // namespace
}  // namespace option
