#include "option/ParsedOption.h"

#include <cstring>

namespace option {
namespace {

constexpr std::uintptr_t wrapFlag = 1;

std::uintptr_t plainLink(const ParsedOption* record) {
  return reinterpret_cast<std::uintptr_t>(record);
}

std::uintptr_t wrapLink(const ParsedOption* record) { return plainLink(record) | wrapFlag; }

ParsedOption* follow(std::uintptr_t link) {
  return reinterpret_cast<ParsedOption*>(link & ~wrapFlag);
}

std::int32_t computeNameLength(const char* name) {
  if (name == nullptr) {
    return 0;
  }
  // A record knows where its name starts, not whether that is a whole
  // argument or a letter of a cluster. Text that starts with a dash and goes
  // on is named as a long option, up to '=': so is a dash inside a cluster
  // with more letters behind it.
  if (name[0] != '-' || name[1] == '\0') {
    return 1;
  }
  const char* equals = std::strchr(name + 1, '=');
  const std::size_t length =
      equals != nullptr ? static_cast<std::size_t>(equals - name) : std::strlen(name);
  return static_cast<std::int32_t>(length);
}

}  // namespace

ArgVerdict takesNoArgument(const ParsedOption& /*occurrence*/, bool /*reportErrors*/) {
  return NoArgument;
}

ParsedOption::ParsedOption() noexcept { makeListOfOne(); }

void ParsedOption::makeListOfOne() noexcept {
  nextLink = wrapLink(this);
  prevLink = wrapLink(this);
}

void ParsedOption::assign(const OptionSpec* row, const char* name, const char* argument) noexcept {
  spec = row;
  nameText = name;
  argText = argument;
  nameLength = computeNameLength(name);
  makeListOfOne();
}

ParsedOption* ParsedOption::next() const noexcept { return follow(nextLink); }

ParsedOption* ParsedOption::prev() const noexcept { return follow(prevLink); }

ParsedOption* ParsedOption::first() noexcept {
  ParsedOption* record = this;
  while (!record->isFirst()) {
    record = record->prev();
  }
  return record;
}

void ParsedOption::linkAtEnd(ParsedOption* record) noexcept {
  ParsedOption* head = first();
  ParsedOption* last = head->prev();
  last->nextLink = plainLink(record);
  record->prevLink = plainLink(last);
  record->nextLink = wrapLink(head);
  head->prevLink = wrapLink(record);
}

}  // namespace option
