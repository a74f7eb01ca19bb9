#pragma once

#include <cstdint>

// A start line or load address as typed: what the tape keeps (the low 16 bits
// of the exact value, two's complement) and whether the value is below zero.
struct StartValue {
  std::uint16_t low16 = 0;
  bool negative = false;
};

// Optional leading white space, an optional sign, then decimal digits up to
// the first non-digit, of any length; no digits gives 0.
StartValue parseStartValue(const char* text);
