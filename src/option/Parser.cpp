#include "option/Parser.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace option {
namespace {

constexpr std::int32_t largestCount = std::numeric_limits<std::int32_t>::max();

bool isTerminatingRow(const OptionSpec& row) { return row.shortNames == nullptr; }

const OptionSpec* findCatchAll(const OptionSpec* table) {
  for (const OptionSpec* row = table; !isTerminatingRow(*row); ++row) {
    if (row->shortNames[0] == '\0' && row->longName != nullptr && row->longName[0] == '\0') {
      return row;
    }
  }
  return nullptr;
}

// A null long name ends the rows that long options are looked up in, as the
// terminating row ends the table: rows behind it answer to short names only.
const OptionSpec* findLongOption(const OptionSpec* table, const char* searchText) {
  for (const OptionSpec* row = table; !isTerminatingRow(*row) && row->longName != nullptr; ++row) {
    const std::size_t length = std::strlen(row->longName);
    if (std::strncmp(searchText, row->longName, length) == 0) {
      const char following = searchText[length];
      if (following == '\0' || following == '=') {
        return row;
      }
    }
  }
  return nullptr;
}

const OptionSpec* findShortOption(const OptionSpec* table, char character) {
  for (const OptionSpec* row = table; !isTerminatingRow(*row); ++row) {
    if (std::strchr(row->shortNames, character) != nullptr) {
      return row;
    }
  }
  return nullptr;
}

// One run of the parse loop: the position in the vector, the remaining count
// and the working record that every occurrence is assigned to in turn.
class ParseLoop {
 public:
  ParseLoop(const OptionSpec* table, std::int32_t count, const char* const* vector, Action& action,
            bool reportErrors)
      : table(table),
        catchAll(findCatchAll(table)),
        remaining(vector == nullptr ? 0 : count),
        position(vector),
        action(action),
        reportErrors(reportErrors) {}

  bool run();

 private:
  enum class Outcome { Continue, EndCluster, Stop };

  void consume() {
    ++position;
    if (remaining > 0) {
      --remaining;
    }
  }
  const char* followingArgument() const { return remaining >= 2 ? position[1] : nullptr; }

  void parseLongOption(const char* argument);
  void parseCluster(const char* argument);
  Outcome handle(const OptionSpec* row, const char* name, const char* candidate);
  bool finishOptions();

  const OptionSpec* table;
  const OptionSpec* catchAll;
  std::int32_t remaining;
  const char* const* position;
  Action& action;
  bool reportErrors;
  ParsedOption working;
  bool stopped = false;
  bool consumeFollowing = false;
};

bool ParseLoop::run() {
  if (remaining == 0) {
    return action.onEnd(0, position);
  }
  for (;;) {
    const char* argument = *position;
    if (argument == nullptr || argument[0] != '-' || argument[1] == '\0') {
      return finishOptions();
    }
    if (argument[1] == '-' && argument[2] == '\0') {
      consume();
      return finishOptions();
    }
    if (argument[1] == '-') {
      parseLongOption(argument);
    } else {
      parseCluster(argument);
    }
    if (stopped) {
      return false;
    }
    if (consumeFollowing) {
      consume();
      consumeFollowing = false;
    }
    consume();
    if (remaining == 0) {
      return action.onEnd(0, position);
    }
  }
}

void ParseLoop::parseLongOption(const char* argument) {
  const char* searchText = argument + 2;
  const char* equals = std::strchr(searchText, '=');
  const char* candidate = equals != nullptr ? equals + 1 : followingArgument();
  handle(findLongOption(table, searchText), argument, candidate);
}

void ParseLoop::parseCluster(const char* argument) {
  const char* following = followingArgument();
  for (const char* character = argument + 1; *character != '\0'; ++character) {
    const char* candidate = character[1] != '\0' ? character + 1 : following;
    if (handle(findShortOption(table, *character), character, candidate) != Outcome::Continue) {
      return;
    }
  }
}

ParseLoop::Outcome ParseLoop::handle(const OptionSpec* row, const char* name,
                                     const char* candidate) {
  if (row == nullptr) {
    row = catchAll;
  }
  if (row == nullptr) {
    return Outcome::Continue;
  }
  working.assign(row, name, candidate);
  const ArgVerdict verdict = row->argValidator(working, reportErrors);
  bool endsCluster = false;
  switch (verdict) {
    case NoArgument:
    case ArgumentDropped:
      working.argText = nullptr;
      break;
    case ArgumentTaken:
      endsCluster = true;
      // Compared by address: an argument after '=' or the rest of a cluster
      // may spell the same text as the next entry, and then the next entry
      // was not taken and stays on the command line.
      consumeFollowing = candidate != nullptr && remaining >= 2 && candidate == position[1];
      break;
    case ArgumentRefused:
      stopped = true;
      return Outcome::Stop;
    default:
      break;
  }
  if (!action.onOption(working)) {
    stopped = true;
    return Outcome::Stop;
  }
  return endsCluster ? Outcome::EndCluster : Outcome::Continue;
}

bool ParseLoop::finishOptions() {
  if (remaining > 0 && *position == nullptr) {
    remaining = 0;
  }
  return action.onEnd(remaining, position);
}

}  // namespace

bool parseArguments(const OptionSpec* table, std::int32_t count, const char* const* vector,
                    Action& action, bool reportErrors) {
  ParseLoop loop(table, count, vector, action, reportErrors);
  return loop.run();
}

bool CountOptionsAction::onOption(const ParsedOption& /*occurrence*/) {
  if (*counter == static_cast<std::uint32_t>(largestCount)) {
    return false;
  }
  ++*counter;
  return true;
}

bool CountOptionsAction::onEnd(std::int32_t /*positionalCount*/,
                               const char* const* /*firstPositional*/) {
  return true;
}

bool StoreOptionAction::onOption(const ParsedOption& occurrence) {
  if (occurrenceLimit >= 0 && target->occurrenceCount >= occurrenceLimit) {
    return true;
  }
  if (target->occurrenceCount == largestCount) {
    return false;
  }
  ParsedOption& stored = occurrences[target->occurrenceCount];
  stored.assign(occurrence.spec, occurrence.nameText, occurrence.argText);
  ParsedOption& head = optionsByIndex[occurrence.spec->optionIndex];
  if (head.isSet()) {
    head.linkAtEnd(&stored);
  } else {
    head.assign(occurrence.spec, occurrence.nameText, occurrence.argText);
  }
  ++target->occurrenceCount;
  return true;
}

bool StoreOptionAction::onEnd(std::int32_t positionalCount, const char* const* firstPositional) {
  if (positionalCount > 0) {
    target->positionalCount = positionalCount;
    target->positionals = firstPositional;
  }
  return true;
}

Stats::Stats(const OptionSpec* table, std::int32_t count, const char* const* vector) noexcept {
  for (const OptionSpec* row = table; !isTerminatingRow(*row); ++row) {
    indexCapacity = std::max(indexCapacity, std::uint64_t{row->optionIndex} + 2U);
  }
  CountOptionsAction counting(&occurrenceCapacity);
  parseArguments(table, count, vector, counting, false);
}

std::optional<std::size_t> indexArrayLength(std::uint64_t indexCapacity) noexcept {
  // No object may be larger than ptrdiff_t counts bytes.
  constexpr std::uint64_t largest =
      std::uint64_t{std::numeric_limits<std::ptrdiff_t>::max()} / sizeof(ParsedOption);
  if (indexCapacity > largest) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(indexCapacity);
}

Parser::Parser(const OptionSpec* table, std::int32_t count, const char* const* vector,
               ParsedOption* optionsByIndex, ParsedOption* occurrences) noexcept {
  // Records already stored by an earlier pass over the same arrays are kept:
  // a second vector then adds its occurrences behind them and to the same
  // per-index lists, instead of overwriting records those lists link to.
  while (occurrences[occurrenceCount].isSet()) {
    ++occurrenceCount;
  }
  StoreOptionAction storing(this, optionsByIndex, occurrences, -1);
  failed = !parseArguments(table, count, vector, storing, true);
}

}  // namespace option
