#pragma once

#include <cstdint>

#include "option/OptionSpec.h"

namespace option {

// One parsed occurrence of an option. Occurrences of one index form a
// circular doubly linked list; the lowest bit of a link flags the wrap-around
// (set on the last record's forward link and the first record's backward link).
struct ParsedOption {
  std::uintptr_t nextLink = 0;
  std::uintptr_t prevLink = 0;
  const OptionSpec* spec = nullptr;
  const char* nameText = nullptr;
  const char* argText = nullptr;
  std::int32_t nameLength = 0;

  ParsedOption() noexcept;
  ~ParsedOption() = default;
  // Records link to their own address, so a copy would link to the original.
  ParsedOption(const ParsedOption&) = delete;
  ParsedOption& operator=(const ParsedOption&) = delete;

  void assign(const OptionSpec* row, const char* name, const char* argument) noexcept;
  void linkAtEnd(ParsedOption* record) noexcept;

  bool isSet() const noexcept { return spec != nullptr; }

  ParsedOption* next() const noexcept;
  ParsedOption* prev() const noexcept;
  bool isFirst() const noexcept { return (prevLink & 1U) != 0; }
  bool isLast() const noexcept { return (nextLink & 1U) != 0; }
  ParsedOption* first() noexcept;

 private:
  void makeListOfOne() noexcept;
};

// The flag lives in the lowest bit of a record's address.
static_assert(alignof(ParsedOption) >= 2);

}  // namespace option
