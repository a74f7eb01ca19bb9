// Runs the counting and the storing pass over fuzzed argument vectors, with
// the program's own option table or with a table built from the input, and
// checks the stored records against a plain walk of the vector.
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
#include <functional>
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

// Pointers into unrelated objects are compared through std::less, which is
// a total order where the built-in operators are not.
bool isWithin(const void* pointer, const void* begin, const void* end) {
  const std::less<const void*> before;
  return !before(pointer, begin) && before(pointer, end);
}

// The table and vector of the current run, for the checks that the argument
// checks make on the occurrence they are handed.
const OptionSpec* currentTable = nullptr;
const OptionSpec* currentTableEnd = nullptr;

void checkOccurrence(const ParsedOption& occurrence) {
  require(isWithin(occurrence.spec, currentTable, currentTableEnd),
          "a check was handed a record whose row is not in the table");
  require(occurrence.nameText != nullptr, "a check was handed a record without a name");
}

// The argument checks that fuzzed rows choose from. Each decides from the
// occurrence alone, so both passes see the same verdicts.
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

// One occurrence as an independent walk of the vector finds it.
struct Occurrence {
  const OptionSpec* row;
  const char* name;
  const char* argument;
};

struct Walk {
  std::vector<Occurrence> occurrences;
  bool refused = false;
  std::int32_t positionalCount = 0;
  const char* const* positionals = nullptr;
};

bool isTerminating(const OptionSpec& row) { return row.shortNames == nullptr; }

const OptionSpec* catchAllOf(const OptionSpec* table) {
  for (const OptionSpec* row = table; !isTerminating(*row); ++row) {
    if (row->shortNames[0] == '\0' && row->longName[0] == '\0') {
      return row;
    }
  }
  return nullptr;
}

const OptionSpec* longRowFor(const OptionSpec* table, const char* search) {
  for (const OptionSpec* row = table; !isTerminating(*row) && row->longName != nullptr; ++row) {
    const std::string_view name(row->longName);
    const std::string_view text(search);
    if (text.substr(0, name.size()) == name &&
        (text.size() == name.size() || text[name.size()] == '=')) {
      return row;
    }
  }
  return nullptr;
}

const OptionSpec* shortRowFor(const OptionSpec* table, char character) {
  for (const OptionSpec* row = table; !isTerminating(*row); ++row) {
    for (const char* name = row->shortNames; *name != '\0'; ++name) {
      if (*name == character) {
        return row;
      }
    }
  }
  return nullptr;
}

// The parse as the option syntax defines it, written for clarity rather
// than speed, to compare the parser's records with.
Walk walkArguments(const OptionSpec* table, std::int32_t count, const char* const* vector) {
  Walk walk;
  if (vector == nullptr) {
    count = 0;
  }
  const OptionSpec* catchAll = catchAllOf(table);
  std::int32_t at = 0;
  // The verdict for one occurrence; false when the walk stops.
  bool taken = false;
  auto handle = [&](const OptionSpec* row, const char* name, const char* candidate) {
    taken = false;
    row = row != nullptr ? row : catchAll;
    if (row == nullptr) {
      return true;
    }
    const ArgVerdict verdict = verdictOf(checkOfRow(*row), candidate);
    if (verdict == option::ArgumentRefused) {
      walk.refused = true;
      return false;
    }
    taken = verdict == option::ArgumentTaken;
    const bool keeps = verdict != option::NoArgument && verdict != option::ArgumentDropped;
    walk.occurrences.push_back({row, name, keeps ? candidate : nullptr});
    return true;
  };
  while (at < count) {
    const char* argument = vector[at];
    if (argument == nullptr || argument[0] != '-' || argument[1] == '\0') {
      break;
    }
    if (std::strcmp(argument, "--") == 0) {
      ++at;
      break;
    }
    const char* following = at + 1 < count ? vector[at + 1] : nullptr;
    bool consumesFollowing = false;
    if (argument[1] == '-') {
      const char* equals = std::strchr(argument + 2, '=');
      const char* candidate = equals != nullptr ? equals + 1 : following;
      if (!handle(longRowFor(table, argument + 2), argument, candidate)) {
        return walk;
      }
      consumesFollowing = taken && following != nullptr && candidate == following;
    } else {
      for (const char* character = argument + 1; *character != '\0'; ++character) {
        const char* candidate = character[1] != '\0' ? character + 1 : following;
        if (!handle(shortRowFor(table, *character), character, candidate)) {
          return walk;
        }
        if (taken) {
          consumesFollowing = following != nullptr && candidate == following;
          break;
        }
      }
    }
    at += consumesFollowing ? 2 : 1;
  }
  if (at < count && vector[at] != nullptr) {
    walk.positionalCount = count - at;
    walk.positionals = vector + at;
  }
  return walk;
}

std::int32_t expectedNameLength(const char* name) {
  if (name[0] != '-' || name[1] == '\0') {
    return 1;
  }
  const char* equals = std::strchr(name + 1, '=');
  return static_cast<std::int32_t>(
      equals != nullptr ? equals - name : static_cast<std::ptrdiff_t>(std::strlen(name)));
}

bool isEmptyRecord(const ParsedOption& record) {
  return !record.isSet() && record.nameText == nullptr && record.argText == nullptr &&
         record.nameLength == 0 && record.next() == &record && record.prev() == &record &&
         record.isFirst() && record.isLast();
}

bool isAloneInList(const ParsedOption& record) {
  return record.next() == &record && record.prev() == &record && record.isFirst() &&
         record.isLast();
}

void checkPointsIntoVector(const char* text, const std::vector<std::string>& arguments,
                           bool mayBeNull) {
  if (text == nullptr) {
    require(mayBeNull, "a record without a name");
    return;
  }
  for (const std::string& argument : arguments) {
    if (isWithin(text, argument.data(), argument.data() + argument.size() + 1)) {
      return;
    }
  }
  violated("a record points outside the argument vector");
}

bool sameContent(const ParsedOption& record, const Occurrence& occurrence) {
  return record.spec == occurrence.row && record.nameText == occurrence.name &&
         record.argText == occurrence.argument;
}

// The list of one index: headed by its options-by-index element, then the
// buffer records of its later occurrences in command-line order, linked both
// ways and closed by the flagged links.
void checkIndexList(const ParsedOption& head, std::uint32_t index, const ParsedOption* buffer,
                    std::int32_t stored) {
  std::vector<std::int32_t> positions;
  for (std::int32_t i = 0; i < stored; ++i) {
    if (buffer[i].spec->optionIndex == index) {
      positions.push_back(i);
    }
  }
  if (positions.empty()) {
    require(isEmptyRecord(head), "an index without occurrences is not empty");
    return;
  }
  const ParsedOption& first = buffer[positions[0]];
  require(head.spec == first.spec && head.nameText == first.nameText &&
              head.argText == first.argText && head.nameLength == first.nameLength,
          "an index does not hold a copy of its first occurrence");
  require(isAloneInList(first), "the buffer record of a first occurrence is linked");
  require(head.isFirst(), "the head of a list is not flagged as its first record");
  const ParsedOption* record = &head;
  for (std::size_t k = 1; k < positions.size(); ++k) {
    require(!record->isLast(), "a list ends early");
    const ParsedOption* next = record->next();
    require(next == &buffer[positions[k]], "a list is out of command-line order");
    require(next->prev() == record && !next->isFirst(), "a backward link is wrong");
    record = next;
  }
  require(record->isLast() && record->next() == &head, "a list does not close on its head");
  require(head.prev() == record, "the head does not lead back to the last record");
}

void checkParse(const OptionSpec* table, const std::vector<std::string>& arguments,
                std::int32_t count, const char* const* vector) {
  currentTable = table;
  currentTableEnd = table;
  std::uint32_t largestIndex = 0;
  bool hasRows = false;
  while (!isTerminating(*currentTableEnd)) {
    largestIndex = std::max(largestIndex, currentTableEnd->optionIndex);
    hasRows = true;
    ++currentTableEnd;
  }

  const option::Stats stats(table, count, vector);
  require(stats.indexCapacity == (hasRows ? largestIndex + 2 : 1), "indexCapacity");
  const auto byIndex = std::make_unique<ParsedOption[]>(stats.indexCapacity);
  const auto buffer = std::make_unique<ParsedOption[]>(stats.occurrenceCapacity);
  const option::Parser parser(table, count, vector, byIndex.get(), buffer.get());

  const Walk walk = walkArguments(table, count, vector);
  require(parser.failed == walk.refused, "failed does not match a refusal");
  // Both passes see the same verdicts, so they agree even when a check refuses.
  require(stats.occurrenceCapacity == static_cast<std::uint32_t>(parser.occurrenceCount) + 1,
          "the counting pass counted other than what the storing pass stored");
  require(static_cast<std::size_t>(parser.occurrenceCount) == walk.occurrences.size(),
          "occurrenceCount");
  require(parser.positionalCount == walk.positionalCount, "positionalCount");
  require(parser.positionals == walk.positionals, "positionals");
  if (parser.positionalCount > 0) {
    require(parser.positionals + parser.positionalCount == vector + count,
            "the positionals are not the tail of the vector");
  }
  require(isEmptyRecord(buffer[stats.occurrenceCapacity - 1]), "the last buffer element is set");

  for (std::int32_t i = 0; i < parser.occurrenceCount; ++i) {
    const ParsedOption& record = buffer[static_cast<std::size_t>(i)];
    require(isWithin(record.spec, table, currentTableEnd), "a record's row is not in the table");
    checkPointsIntoVector(record.nameText, arguments, false);
    checkPointsIntoVector(record.argText, arguments, true);
    require(sameContent(record, walk.occurrences[static_cast<std::size_t>(i)]),
            "a record differs from the walk of the vector");
    require(record.nameLength == expectedNameLength(record.nameText), "nameLength");
  }
  for (std::uint32_t index = 0; index < stats.indexCapacity; ++index) {
    checkIndexList(byIndex[index], index, buffer.get(), parser.occurrenceCount);
  }
}

class InputCursor {
 public:
  InputCursor(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}

  std::uint8_t byte() { return position < size ? data[position++] : 0; }
  std::string text(std::size_t longest) {
    std::string result;
    while (position < size && data[position] != 0) {
      if (result.size() < longest) {
        result.push_back(static_cast<char>(data[position]));
      }
      ++position;
    }
    ++position;
    return result;
  }
  bool atEnd() const { return position >= size; }
  std::vector<std::string> pieces(std::size_t most) {
    std::vector<std::string> result;
    if (atEnd()) {
      return result;
    }
    std::string piece;
    for (; position < size; ++position) {
      if (data[position] == 0) {
        result.push_back(piece);
        piece.clear();
      } else {
        piece.push_back(static_cast<char>(data[position]));
      }
    }
    result.push_back(piece);
    if (result.size() > most) {
      result.resize(most);
    }
    return result;
  }

 private:
  const std::uint8_t* data;
  std::size_t size;
  std::size_t position = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputCursor cursor(data, size);
  const std::uint8_t flags = cursor.byte();

  std::vector<std::string> names;
  std::vector<OptionSpec> rows;
  const OptionSpec* table = usageTable;
  if ((flags & 1U) != 0) {
    const std::size_t rowCount = cursor.byte() % 9U;
    // Rows point into the names, so the names must never move.
    names.reserve(2 * rowCount);
    for (std::size_t i = 0; i < rowCount; ++i) {
      const std::uint32_t index = cursor.byte() % 12U;
      const option::ArgValidator check = checks[cursor.byte() % checkKinds];
      names.push_back(cursor.text(4));
      names.push_back(cursor.text(6));
      rows.push_back({index, static_cast<std::int32_t>(i), names[2 * i].c_str(),
                      names[2 * i + 1].c_str(), check, nullptr});
    }
    rows.push_back({0, 0, nullptr, nullptr, nullptr, nullptr});
    table = rows.data();
  }

  const std::vector<std::string> arguments = cursor.pieces(64);
  std::vector<const char*> vector;
  vector.reserve(arguments.size() + 1);
  for (const std::string& argument : arguments) {
    vector.push_back(argument.c_str());
  }
  vector.push_back(nullptr);
  const auto leftOut = static_cast<std::int32_t>((flags >> 1U) & 7U);
  const auto entries = static_cast<std::int32_t>(arguments.size());
  const std::int32_t count = std::max(entries - leftOut, 0);
  const bool nullVector = arguments.empty() && (flags & 0x10U) != 0;
  checkParse(table, arguments, count, nullVector ? nullptr : vector.data());
  return 0;
}
