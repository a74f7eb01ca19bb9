#pragma once

#include <cstdint>
#include <optional>

// A start line or load address as typed: what the tape keeps (the low 16 bits
// of the exact value, two's complement) and whether the value is below zero.
struct StartValue {
  std::uint16_t low16 = 0;
  bool negative = false;
};

// Optional white space, an optional sign, one or more decimal digits of any
// number, optional white space; nothing else. No value for any other text.
std::optional<StartValue> parseStartValue(const char* text);
