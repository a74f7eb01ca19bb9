#pragma once

// What every fuzz target shares: reading its input piece by piece and
// stopping at the first broken invariant.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

// A broken invariant stops the fuzzer at once, so that it keeps the input.
[[noreturn]] inline void violated(const char* what) {
  std::printf("invariant broken: %s\n", what);
  std::fflush(stdout);
  std::abort();
}

inline void require(bool condition, const char* what) {
  if (!condition) {
    violated(what);
  }
}

// Pointers into unrelated objects are compared through std::less, which is
// a total order where the built-in operators are not.
inline bool isWithin(const void* pointer, const void* begin, const void* end) {
  const std::less<const void*> before;
  return !before(pointer, begin) && before(pointer, end);
}

// Reads a fuzz input front to back. Past its end every read gives zeros or
// nothing, so a target never has to check how long its input was.
class InputCursor {
 public:
  InputCursor(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}

  std::uint8_t byte() { return atEnd() ? 0 : data[position++]; }

  // A text ended by a NUL or by the input's end. Bytes past longest are
  // passed over, so the next read starts behind the NUL all the same.
  std::string text(std::size_t longest = std::numeric_limits<std::size_t>::max()) {
    std::string result;
    for (; !atEnd() && data[position] != 0; ++position) {
      if (result.size() < longest) {
        result.push_back(static_cast<char>(data[position]));
      }
    }
    ++position;
    return result;
  }

  // All that is left, cut at NULs into at most most texts; nothing at all
  // when nothing is left, and one empty text after a trailing NUL.
  std::vector<std::string> pieces(std::size_t most) {
    std::vector<std::string> result;
    if (atEnd()) {
      return result;
    }
    do {
      std::string piece = text();
      if (result.size() < most) {
        result.push_back(std::move(piece));
      }
    } while (position <= size);
    return result;
  }

  std::vector<std::uint8_t> rest() const {
    return atEnd() ? std::vector<std::uint8_t>()
                   : std::vector<std::uint8_t>(data + position, data + size);
  }

 private:
  bool atEnd() const { return position >= size; }

  const std::uint8_t* data;
  std::size_t size;
  std::size_t position = 0;
};
