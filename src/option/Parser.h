#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "option/OptionSpec.h"
#include "option/ParsedOption.h"

namespace option {

// Receives what the parse loop finds. Actions live on the caller's stack for
// one pass only, hence no virtual destructor.
class Action {
 public:
  virtual bool onOption(const ParsedOption& occurrence) = 0;
  virtual bool onEnd(std::int32_t positionalCount, const char* const* firstPositional) = 0;

 protected:
  ~Action() = default;
};

class CountOptionsAction final : public Action {
 public:
  explicit CountOptionsAction(std::uint32_t* counter) noexcept : counter(counter) {}
  bool onOption(const ParsedOption& occurrence) override;
  bool onEnd(std::int32_t positionalCount, const char* const* firstPositional) override;

 private:
  std::uint32_t* counter;
};

struct Parser;

class StoreOptionAction final : public Action {
 public:
  StoreOptionAction(Parser* target, ParsedOption* optionsByIndex, ParsedOption* occurrences,
                    std::int32_t occurrenceLimit) noexcept
      : target(target),
        optionsByIndex(optionsByIndex),
        occurrences(occurrences),
        occurrenceLimit(occurrenceLimit) {}
  bool onOption(const ParsedOption& occurrence) override;
  bool onEnd(std::int32_t positionalCount, const char* const* firstPositional) override;

 private:
  Parser* target;
  ParsedOption* optionsByIndex;
  ParsedOption* occurrences;
  std::int32_t occurrenceLimit;
};

// The parse loop shared by both passes. The vector is ended by a null entry;
// count says how many of its entries to consider.
bool parseArguments(const OptionSpec* table, std::int32_t count, const char* const* vector,
                    Action& action, bool reportErrors);

// Counting pass: how large the two result arrays of the storing pass must be.
// The index capacity is the largest index plus two, which for the largest
// indices does not fit in 32 bits.
struct Stats {
  std::uint32_t occurrenceCapacity = 1;
  std::uint64_t indexCapacity = 1;

  Stats(const OptionSpec* table, std::int32_t count, const char* const* vector) noexcept;
};

// The index capacity as the length of the options-by-index array on this
// machine, or nothing when no array that long fits in its memory. On a 32-bit
// machine the largest indices need more elements than size_t counts: a length
// narrowed to size_t would leave the array too short for the storing pass.
std::optional<std::size_t> indexArrayLength(std::uint64_t indexCapacity) noexcept;

// Storing pass: fills caller-owned arrays sized by Stats (options-by-index:
// indexCapacity, occurrences: occurrenceCapacity, all elements empty).
struct Parser {
  std::int32_t occurrenceCount = 0;
  std::int32_t positionalCount = 0;
  const char* const* positionals = nullptr;
  bool failed = false;

  Parser(const OptionSpec* table, std::int32_t count, const char* const* vector,
         ParsedOption* optionsByIndex, ParsedOption* occurrences) noexcept;
};

}  // namespace option
