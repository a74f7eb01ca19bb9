#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// The pieces one after another, as blocks follow each other on a tape.
inline Bytes join(std::initializer_list<Bytes> pieces) {
  Bytes joined;
  for (const Bytes& piece : pieces) joined.insert(joined.end(), piece.begin(), piece.end());
  return joined;
}

// XOR of every byte, worked out one byte at a time to judge the program's own.
inline std::uint8_t xorOf(const Bytes& bytes) {
  std::uint8_t checksum = 0;
  for (const std::uint8_t byte : bytes) checksum = static_cast<std::uint8_t>(checksum ^ byte);
  return checksum;
}
