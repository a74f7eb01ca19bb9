#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <span>
#include <string_view>

#include "app/FileSystem.h"
#include "app/ProcessControl.h"
#include "app/StartValue.h"

// Where a conversion reads and writes files, and where it reports failure.
struct ConversionChannels {
  FileSystem& files;
  ProcessControl& process;
  std::ostream& console;
};

// The 17 bytes that follow the flag byte of a header block.
struct TapeHeader {
  std::uint8_t type = 0;
  std::array<std::uint8_t, 10> name{};
  std::uint16_t dataLength = 0;
  std::uint16_t parameter1 = 0;
  std::uint16_t parameter2 = 0;
};

constexpr std::uint8_t basicProgramType = 0;
constexpr std::uint8_t codeFileType = 3;
constexpr std::uint16_t noAutoStart = 0x8000;

// Largest block a 16-bit length field can hold, and so the working buffer's size.
constexpr std::size_t largestBlock = 0xFFFF;
constexpr std::size_t largestFramedInput = largestBlock - 2;
constexpr std::size_t largestRawInput = largestBlock;

std::uint8_t xorChecksum(std::span<const std::uint8_t> bytes);

// Prints "  error: ", the message and a line break, flushed; returns the
// exit status of a failed run, 1.
int reportError(std::ostream& console, std::string_view message);

// Each returns 0 on success, or 1 after printing one error line.
int convertHeaderless(const char* inputPath, const char* outputPath, bool raw,
                      const ConversionChannels& channels);
int convertBasic(const char* inputPath, const char* outputPath, const char* tapeName,
                 std::optional<StartValue> startLine, const ConversionChannels& channels);
int convertCode(const char* inputPath, const char* outputPath, const char* tapeName,
                StartValue startAddress, const ConversionChannels& channels);
