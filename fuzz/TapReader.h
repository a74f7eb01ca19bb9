#pragma once

// A reader for TAP tape images that shares no code with the program's tape
// writer, so that it can be used to judge what the writer produced.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tapreader {

using ByteView = std::span<const std::uint8_t>;

constexpr std::uint8_t headerFlag = 0x00;
constexpr std::uint8_t dataFlag = 0xFF;
constexpr std::size_t headerBlockLength = 19;

inline std::uint16_t readLittleEndian(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8U));
}

// The block bytes of every block in order, without their length fields; no
// value when a length field or a block runs past the end of the tape.
inline std::optional<std::vector<ByteView>> splitBlocks(ByteView tape) {
  std::vector<ByteView> blocks;
  std::size_t position = 0;
  while (position < tape.size()) {
    if (tape.size() - position < 2) {
      return std::nullopt;
    }
    const std::size_t length = readLittleEndian(tape.data() + position);
    position += 2;
    if (tape.size() - position < length) {
      return std::nullopt;
    }
    blocks.push_back(tape.subspan(position, length));
    position += length;
  }
  return blocks;
}

inline std::uint8_t xorOfBytes(ByteView bytes) {
  std::uint8_t sum = 0;
  for (const std::uint8_t byte : bytes) {
    sum = static_cast<std::uint8_t>(sum ^ byte);
  }
  return sum;
}

// A framed block is flag, payload and a checksum byte that makes the XOR of
// the whole block zero.
inline bool isFramed(ByteView block, std::uint8_t flag) {
  return block.size() >= 2 && block[0] == flag && xorOfBytes(block) == 0;
}

inline ByteView payloadOf(ByteView framedBlock) {
  return framedBlock.subspan(1, framedBlock.size() - 2);
}

// The header fields that depend on the data: its length, and parameter 2,
// which a BASIC program's header sets to the same.
struct HeaderFields {
  std::uint16_t dataLength = 0;
  std::uint16_t parameter2 = 0;
};

// No value unless the block is a correctly framed 19-byte block with the
// header flag.
inline std::optional<HeaderFields> readHeader(ByteView block) {
  if (block.size() != headerBlockLength || !isFramed(block, headerFlag)) {
    return std::nullopt;
  }
  return HeaderFields{readLittleEndian(block.data() + 12), readLittleEndian(block.data() + 16)};
}

}  // namespace tapreader
