// Runs the counting and the storing pass over fuzzed argument vectors, with
// the program's own option table or with a table built from the input, and
// judges the records against a plain walk of the vector. The name lengths and
// the index capacity are left to the unit tests, whose tables cover them.
//
// Input layout: a flag byte (bit 0: table from the input; bits 1-3: how many
// trailing arguments the count leaves out; bit 4: a null vector when there
// are no arguments). A table from the input follows as a row count and, per
// row, an index byte, a check byte, the short names and the long name, each
// ended by a NUL. The rest is the argument vector, its entries separated by NULs.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "app/UsageTable.h"
#include "option/OptionSpec.h"
#include "option/ParsedOption.h"
#include "option/Parser.h"

namespace {

using option::ArgVerdict;
using option::OptionSpec;
using option::ParsedOption;

constexpr std::size_t mostRows = 8;
constexpr std::uint32_t indexKinds = 12;
constexpr std::size_t mostArguments = 64;

bool isTerminating(const OptionSpec& row) { return row.shortNames == nullptr; }

const OptionSpec* endOf(const OptionSpec* table) {
  while (!isTerminating(*table)) {
    ++table;
  }
  return table;
}

// The table of the current run, for the checks that the argument checks
// make on the occurrence they are handed.
const OptionSpec* currentTable = nullptr;
const OptionSpec* currentTableEnd = nullptr;

void checkOccurrence(const ParsedOption& occurrence) {
  require(isWithin(occurrence.spec, currentTable, currentTableEnd),
          "a check was handed a record whose row is not in the table");
  require(occurrence.nameText != nullptr, "a check was handed a record without a name");
}

// The argument checks that fuzzed rows choose from. Each decides from the
// candidate alone, so both passes and the reference walk see the same verdicts.
enum class Check { None, Takes, Drops, Refuses, Unusual, Negative, TakesDigits, RefusesBang };
constexpr int checkKinds = 8;

ArgVerdict verdictOf(Check check, const char* candidate) {
  switch (check) {
    case Check::None:
      return option::NoArgument;
    case Check::Takes:
      return option::ArgumentTaken;
    case Check::Drops:
      return option::ArgumentDropped;
    case Check::Refuses:
      return option::ArgumentRefused;
    case Check::Unusual:
      return static_cast<ArgVerdict>(7);
    case Check::Negative:
      return static_cast<ArgVerdict>(-1);
    case Check::TakesDigits:
      return candidate != nullptr && candidate[0] >= '0' && candidate[0] <= '9'
                 ? option::ArgumentTaken
                 : option::NoArgument;
    case Check::RefusesBang:
      return candidate != nullptr && candidate[0] == '!' ? option::ArgumentRefused
                                                         : option::NoArgument;
  }
  return option::NoArgument;
}

template <Check check>
ArgVerdict checkOf(const ParsedOption& occurrence, bool /*reportErrors*/) {
  checkOccurrence(occurrence);
  return verdictOf(check, occurrence.argText);
}

constexpr option::ArgValidator checks[checkKinds] = {
    checkOf<Check::None>,        checkOf<Check::Takes>,      checkOf<Check::Drops>,
    checkOf<Check::Refuses>,     checkOf<Check::Unusual>,    checkOf<Check::Negative>,
    checkOf<Check::TakesDigits>, checkOf<Check::RefusesBang>};

Check checkOfRow(const OptionSpec& row) {
  if (row.argValidator == option::takesNoArgument) {
    return Check::None;
  }
  for (int i = 0; i < checkKinds; ++i) {
    if (row.argValidator == checks[i]) {
      return static_cast<Check>(i);
    }
  }
  violated("a row with an unknown check");
}

// The table and the argument vector of one run, built from the input. The
// rows and the vector point into strings held here, so a case never moves.
class ParseCase {
 public:
  explicit ParseCase(InputCursor& cursor) {
    const std::uint8_t flags = cursor.byte();
    table = (flags & 1U) != 0 ? readTable(cursor) : usageTable;
    tableEnd = endOf(table);
    arguments = cursor.pieces(mostArguments);
    for (const std::string& argument : arguments) {
      entries.push_back(argument.c_str());
    }
    entries.push_back(nullptr);
    const auto leftOut = static_cast<std::int32_t>((flags >> 1U) & 7U);
    count = std::max(static_cast<std::int32_t>(arguments.size()) - leftOut, 0);
    const bool nullVector = arguments.empty() && (flags & 0x10U) != 0;
    vector = nullVector ? nullptr : entries.data();
  }
  ParseCase(const ParseCase&) = delete;
  ParseCase& operator=(const ParseCase&) = delete;
  ~ParseCase() = default;

  const OptionSpec* table = nullptr;
  const OptionSpec* tableEnd = nullptr;
  std::vector<std::string> arguments;
  std::int32_t count = 0;
  const char* const* vector = nullptr;

 private:
  // Every row gets a long name, maybe an empty one, as in the program's
  // table: the reference walk looks long names up in every row.
  const OptionSpec* readTable(InputCursor& cursor) {
    const std::size_t rowCount = cursor.byte() % (mostRows + 1);
    // Rows point into the names, so the names must never move.
    names.reserve(2 * rowCount);
    for (std::size_t i = 0; i < rowCount; ++i) {
      const std::uint32_t index = cursor.byte() % indexKinds;
      const option::ArgValidator check = checks[cursor.byte() % checkKinds];
      const std::string& shortNames = names.emplace_back(cursor.text(4));
      const std::string& longName = names.emplace_back(cursor.text(6));
      rows.push_back({index, static_cast<std::int32_t>(i), shortNames.c_str(), longName.c_str(),
                      check, nullptr});
    }
    rows.push_back({0, 0, nullptr, nullptr, nullptr, nullptr});
    return rows.data();
  }

  std::vector<std::string> names;
  std::vector<OptionSpec> rows;
  std::vector<const char*> entries;
};

// Both passes, run the way the program runs them: count, allocate, store.
struct ParseRun {
  explicit ParseRun(const ParseCase& parseCase)
      : stats(parseCase.table, parseCase.count, parseCase.vector),
        byIndex(std::make_unique<ParsedOption[]>(
            option::indexArrayLength(stats.indexCapacity).value())),
        buffer(std::make_unique<ParsedOption[]>(stats.occurrenceCapacity)),
        parser(parseCase.table, parseCase.count, parseCase.vector, byIndex.get(), buffer.get()) {}

  const option::Stats stats;
  const std::unique_ptr<ParsedOption[]> byIndex;
  const std::unique_ptr<ParsedOption[]> buffer;
  const option::Parser parser;
};

// One occurrence as the reference walk finds it.
struct Occurrence {
  const OptionSpec* row;
  const char* name;
  const char* argument;
};

// The parse as the option syntax describes it, entry by entry, written for
// clarity rather than speed. Where the parser compares addresses to learn
// whether an argument came from the next entry, the walk knows it from
// where it took the argument.
class ReferenceWalk {
 public:
  ReferenceWalk(const OptionSpec* table, std::int32_t count, const char* const* vector)
      : table(table) {
    const std::int32_t entries = vector == nullptr ? 0 : count;
    std::int32_t at = 0;
    while (at < entries && isOption(vector[at])) {
      const std::string_view argument(vector[at++]);
      if (argument == "--") {
        break;
      }
      const char* following = at < entries ? vector[at] : nullptr;
      const bool tookFollowing = argument[1] == '-' ? walkLongOption(argument.data(), following)
                                                    : walkCluster(argument.data(), following);
      if (refused) {
        return;
      }
      at += tookFollowing ? 1 : 0;
    }
    if (at < entries && vector[at] != nullptr) {
      positionalCount = entries - at;
      positionals = vector + at;
    }
  }

  std::vector<Occurrence> occurrences;
  bool refused = false;
  std::int32_t positionalCount = 0;
  const char* const* positionals = nullptr;

 private:
  static bool isOption(const char* argument) {
    return argument != nullptr && argument[0] == '-' && argument[1] != '\0';
  }

  const OptionSpec* catchAll() const {
    const auto found = std::find_if(table, endOf(table), [](const OptionSpec& row) {
      return row.shortNames[0] == '\0' && row.longName[0] == '\0';
    });
    return isTerminating(*found) ? nullptr : found;
  }

  const OptionSpec* rowForLongName(std::string_view search) const {
    const auto found = std::find_if(table, endOf(table), [search](const OptionSpec& row) {
      const std::string_view longName(row.longName);
      return search.substr(0, longName.size()) == longName &&
             (search.size() == longName.size() || search[longName.size()] == '=');
    });
    return isTerminating(*found) ? catchAll() : found;
  }

  const OptionSpec* rowForLetter(char letter) const {
    const auto found = std::find_if(table, endOf(table), [letter](const OptionSpec& row) {
      return std::string_view(row.shortNames).find(letter) != std::string_view::npos;
    });
    return isTerminating(*found) ? catchAll() : found;
  }

  // Both return whether the option took the following entry as its argument.
  bool walkLongOption(const char* argument, const char* following) {
    const char* equals = std::strchr(argument + 2, '=');
    const char* candidate = equals != nullptr ? equals + 1 : following;
    return occur(rowForLongName(argument + 2), argument, candidate) && equals == nullptr &&
           following != nullptr;
  }

  bool walkCluster(const char* argument, const char* following) {
    for (const char* letter = argument + 1; *letter != '\0' && !refused; ++letter) {
      const bool lastLetter = letter[1] == '\0';
      if (occur(rowForLetter(*letter), letter, lastLetter ? following : letter + 1)) {
        return lastLetter && following != nullptr;
      }
    }
    return false;
  }

  // Notes one occurrence; says whether its check took the candidate.
  bool occur(const OptionSpec* row, const char* name, const char* candidate) {
    if (row == nullptr) {
      return false;
    }
    const ArgVerdict verdict = verdictOf(checkOfRow(*row), candidate);
    if (verdict == option::ArgumentRefused) {
      refused = true;
      return false;
    }
    const bool keeps = verdict != option::NoArgument && verdict != option::ArgumentDropped;
    occurrences.push_back({row, name, keeps ? candidate : nullptr});
    return verdict == option::ArgumentTaken;
  }

  const OptionSpec* table;
};

bool isAloneInList(const ParsedOption& record) {
  return record.next() == &record && record.prev() == &record && record.isFirst() &&
         record.isLast();
}

bool isEmptyRecord(const ParsedOption& record) {
  return !record.isSet() && record.nameText == nullptr && record.argText == nullptr &&
         record.nameLength == 0 && isAloneInList(record);
}

// Row, name and argument are the very pointers the walk found, so they lie
// in the table and the vector.
void checkRecord(const ParsedOption& record, const Occurrence& expected) {
  require(record.spec == expected.row && record.nameText == expected.name &&
              record.argText == expected.argument,
          "a record differs from the walk of the vector");
}

// The list of one index: headed by its options-by-index element, then the
// buffer records of its later occurrences in command-line order, linked both
// ways and closed by the flagged links.
void checkIndexList(const ParsedOption& head, std::uint64_t index, const ParsedOption* buffer,
                    std::int32_t stored) {
  std::vector<const ParsedOption*> members;
  for (std::int32_t i = 0; i < stored; ++i) {
    if (buffer[i].spec->optionIndex == index) {
      members.push_back(&buffer[i]);
    }
  }
  if (members.empty()) {
    require(isEmptyRecord(head), "an index without occurrences is not empty");
    return;
  }
  const ParsedOption& first = *members[0];
  require(head.spec == first.spec && head.nameText == first.nameText &&
              head.argText == first.argText && head.nameLength == first.nameLength,
          "an index does not hold a copy of its first occurrence");
  require(isAloneInList(first), "the buffer record of a first occurrence is linked");
  require(head.isFirst(), "the head of a list is not flagged as its first record");
  const ParsedOption* record = &head;
  for (std::size_t k = 1; k < members.size(); ++k) {
    require(!record->isLast(), "a list ends early");
    const ParsedOption* next = record->next();
    require(next == members[k], "a list is out of command-line order");
    require(next->prev() == record && !next->isFirst(), "a backward link is wrong");
    record = next;
  }
  require(record->isLast() && record->next() == &head, "a list does not close on its head");
  require(head.prev() == record, "the head does not lead back to the last record");
}

void checkCapacities(const ParseRun& run) {
  // Both passes see the same verdicts, so they agree even when a check refuses.
  require(
      run.stats.occurrenceCapacity == static_cast<std::uint32_t>(run.parser.occurrenceCount) + 1,
      "the counting pass counted other than what the storing pass stored");
  require(isEmptyRecord(run.buffer[run.stats.occurrenceCapacity - 1]),
          "the last buffer element is set");
}

void judge(const ParseCase& parseCase, const ParseRun& run) {
  const ReferenceWalk walk(parseCase.table, parseCase.count, parseCase.vector);
  require(run.parser.failed == walk.refused, "failed does not match a refusal");
  checkCapacities(run);
  require(run.parser.positionalCount == walk.positionalCount, "positionalCount");
  require(run.parser.positionals == walk.positionals, "positionals");
  require(static_cast<std::size_t>(run.parser.occurrenceCount) == walk.occurrences.size(),
          "occurrenceCount");
  for (std::size_t i = 0; i < walk.occurrences.size(); ++i) {
    checkRecord(run.buffer[i], walk.occurrences[i]);
  }
  for (std::uint64_t index = 0; index < run.stats.indexCapacity; ++index) {
    checkIndexList(run.byIndex[index], index, run.buffer.get(), run.parser.occurrenceCount);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputCursor cursor(data, size);
  const ParseCase parseCase(cursor);
  currentTable = parseCase.table;
  currentTableEnd = parseCase.tableEnd;
  const ParseRun run(parseCase);
  judge(parseCase, run);
  return 0;
}
