#pragma once

#include <cstdint>

namespace option {

struct ParsedOption;

// Result of an argument check. Values outside the named ones are legal: they
// report the option with its candidate argument unchanged.
enum ArgVerdict : std::int32_t {
  NoArgument = 0,
  ArgumentTaken = 1,
  ArgumentDropped = 2,
  ArgumentRefused = 3,
};

using ArgValidator = ArgVerdict (*)(const ParsedOption& occurrence, bool reportErrors);

// One row of an option table. A table ends with a row whose fields are all
// zero or null; a row with a null helpText separates two usage tables.
struct OptionSpec {
  std::uint32_t optionIndex;
  std::int32_t optionType;
  const char* shortNames;
  const char* longName;
  ArgValidator argValidator;
  const char* helpText;
};

ArgVerdict takesNoArgument(const ParsedOption& occurrence, bool reportErrors);

}  // namespace option
