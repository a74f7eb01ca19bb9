#pragma once

#include <cstdint>

#include "option/OptionSpec.h"

enum OptionIndex : std::uint32_t {
  UNRECOGNISED = 0,
  HELP = 1,
  BASIC = 2,
  CODE = 3,
  RAW = 5,
};

// The program's options and, in their help texts, its usage text.
extern const option::OptionSpec usageTable[];
