#include "app/StartValue.h"

namespace {

bool isWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

const char* skipWhiteSpace(const char* text) {
  while (isWhiteSpace(*text)) {
    ++text;
  }
  return text;
}

}  // namespace

std::optional<StartValue> parseStartValue(const char* text) {
  text = skipWhiteSpace(text);
  const bool minus = *text == '-';
  if (*text == '-' || *text == '+') {
    ++text;
  }
  if (!isDigit(*text)) {
    return std::nullopt;
  }
  // Arithmetic modulo 2^16 keeps exactly the low 16 bits of any length of digits.
  std::uint32_t low = 0;
  bool nonZero = false;
  for (; isDigit(*text); ++text) {
    const auto digit = static_cast<std::uint32_t>(*text - '0');
    low = (low * 10U + digit) & 0xFFFFU;
    nonZero = nonZero || digit != 0;
  }
  if (*skipWhiteSpace(text) != '\0') {
    return std::nullopt;
  }
  if (minus) {
    low = (0x10000U - low) & 0xFFFFU;
  }
  return StartValue{static_cast<std::uint16_t>(low), minus && nonZero};
}
