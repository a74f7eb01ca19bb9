#include "app/TapeWriter.h"

#include <algorithm>
#include <numeric>
#include <ostream>
#include <string_view>

#include "app/OutputFile.h"

namespace {

// The one working buffer: the whole input is read into it (behind the flag
// byte of a framed block) before the output is created.
std::array<std::uint8_t, largestBlock> workingBuffer;

constexpr std::uint8_t headerFlag = 0x00;
constexpr std::uint8_t dataFlag = 0xFF;
constexpr std::uint8_t padding = 0x20;
constexpr std::size_t headerBlockLength = 19;

enum class Failure { None, CannotOpen, TooLong, CannotRead, SameFile, CannotCreate, CannotWrite };

std::string_view messageFor(Failure failure) {
  switch (failure) {
    case Failure::CannotOpen:
      return "cannot open the input file.";
    case Failure::TooLong:
      return "the input file is too long.";
    case Failure::CannotRead:
      return "cannot read the input file.";
    case Failure::SameFile:
      return "the input and output are the same file.";
    case Failure::CannotCreate:
      return "cannot create the output file.";
    case Failure::CannotWrite:
      return "cannot write the output file.";
    case Failure::None:
      break;
  }
  return {};
}

int report(Failure failure, std::ostream& console) {
  return failure == Failure::None ? 0 : reportError(console, messageFor(failure));
}

void storeLittleEndian(std::uint8_t* target, std::uint16_t value) {
  target[0] = static_cast<std::uint8_t>(value & 0xFFU);
  target[1] = static_cast<std::uint8_t>(value >> 8U);
}

bool isSameFile(FileSystem& files, const char* first, const char* second) {
  FileIdentity a;
  FileIdentity b;
  return files.identifyPath(first, a) && files.identifyPath(second, b) && a.isSameFileAs(b);
}

bool isSeekable(FileKind kind) {
  return kind == FileKind::Regular || kind == FileKind::BlockDevice;
}

// Reads a stream to its end, at most limit bytes plus one to detect excess.
Failure readStream(FileSystem& files, int descriptor, std::uint8_t* target, std::size_t limit,
                   std::size_t& size) {
  size = 0;
  for (;;) {
    if (size == limit) {
      std::uint8_t excess = 0;
      const std::int64_t got = files.read(descriptor, &excess, 1);
      if (got < 0) return Failure::CannotRead;
      return got == 0 ? Failure::None : Failure::TooLong;
    }
    const std::int64_t got = files.read(descriptor, target + size, limit - size);
    if (got < 0) return Failure::CannotRead;
    if (got == 0) return Failure::None;
    size += static_cast<std::size_t>(got);
  }
}

// A size found by seeking rejects an over-long file without reading it, but
// the data are always read to their end: some files (under /proc, say) report
// a size that is not what they hold. Ending before the measured size means the
// file shrank or failed while read.
Failure readOpenInput(FileSystem& files, int descriptor, const FileIdentity& input,
                      std::size_t offset, std::size_t limit, std::size_t& size) {
  std::uint64_t measured = 0;
  const bool isMeasured = isSeekable(input.kind) && files.measure(descriptor, measured);
  if (isMeasured && measured > limit) {
    return Failure::TooLong;
  }
  const Failure failure = readStream(files, descriptor, workingBuffer.data() + offset, limit, size);
  if (failure == Failure::None && isMeasured && size < measured) {
    return Failure::CannotRead;
  }
  return failure;
}

// Reads the whole input into the working buffer at offset, and tells which
// file it is.
Failure loadInput(FileSystem& files, const char* inputPath, const char* outputPath,
                  std::size_t offset, std::size_t limit, std::size_t& size, FileIdentity& input) {
  // Compared before opening: opening a FIFO waits for its other end.
  if (isSameFile(files, inputPath, outputPath)) {
    return Failure::SameFile;
  }
  const int descriptor = files.openInput(inputPath);
  if (descriptor < 0) {
    return Failure::CannotOpen;
  }
  const Failure failure = !files.identify(descriptor, input) || input.kind == FileKind::Directory
                              ? Failure::CannotOpen
                              : readOpenInput(files, descriptor, input, offset, limit, size);
  files.close(descriptor);
  return failure;
}

// Writes the pieces in order through an output that a failure leaves as it
// was before.
// An output that another process kept locked exists and could not be
// written.
Failure writeTape(const ConversionChannels& channels, const char* outputPath,
                  const FileIdentity& input,
                  std::initializer_list<std::span<const std::uint8_t>> pieces) {
  OutputFile output(channels.files, channels.process);
  output.keepApart(input);
  if (!output.open(outputPath)) {
    return output.isKeptApart() ? Failure::SameFile
           : output.lockedOut() ? Failure::CannotWrite
                                : Failure::CannotCreate;
  }
  return output.store({pieces.begin(), pieces.size()}) ? Failure::None : Failure::CannotWrite;
}

// Frames the input that sits behind the flag byte: flag, data, checksum.
std::span<const std::uint8_t> frameDataBlock(std::size_t size) {
  workingBuffer[0] = dataFlag;
  workingBuffer[size + 1] = xorChecksum({workingBuffer.data(), size + 1});
  return {workingBuffer.data(), size + 2};
}

std::array<std::uint8_t, 2> lengthField(std::size_t length) {
  std::array<std::uint8_t, 2> field{};
  storeLittleEndian(field.data(), static_cast<std::uint16_t>(length));
  return field;
}

// A header block with its length field, ready to write.
std::array<std::uint8_t, 2 + headerBlockLength> encodeHeaderBlock(const TapeHeader& header) {
  std::array<std::uint8_t, 2 + headerBlockLength> bytes{};
  storeLittleEndian(bytes.data(), headerBlockLength);
  std::uint8_t* block = bytes.data() + 2;
  block[0] = headerFlag;
  block[1] = header.type;
  std::copy(header.name.begin(), header.name.end(), block + 2);
  storeLittleEndian(block + 12, header.dataLength);
  storeLittleEndian(block + 14, header.parameter1);
  storeLittleEndian(block + 16, header.parameter2);
  block[18] = xorChecksum({block, headerBlockLength - 1});
  return bytes;
}

std::array<std::uint8_t, 10> paddedName(const char* tapeName) {
  std::array<std::uint8_t, 10> name{};
  name.fill(padding);
  for (std::size_t i = 0; i < name.size() && tapeName[i] != '\0'; ++i) {
    name[i] = static_cast<std::uint8_t>(tapeName[i]);
  }
  return name;
}

Failure convertWithHeader(const char* inputPath, const char* outputPath, TapeHeader header,
                          const ConversionChannels& channels) {
  std::size_t size = 0;
  FileIdentity input;
  const Failure failure =
      loadInput(channels.files, inputPath, outputPath, 1, largestFramedInput, size, input);
  if (failure != Failure::None) {
    return failure;
  }
  header.dataLength = static_cast<std::uint16_t>(size);
  if (header.type == basicProgramType) {
    header.parameter2 = header.dataLength;
  }
  const auto headerBlock = encodeHeaderBlock(header);
  const auto block = frameDataBlock(size);
  const auto length = lengthField(block.size());
  return writeTape(channels, outputPath, input, {headerBlock, length, block});
}

}  // namespace

int reportError(std::ostream& console, std::string_view message) {
  constexpr std::string_view lead = "  error: ";
  console.write(lead.data(), static_cast<std::streamsize>(lead.size()));
  console.write(message.data(), static_cast<std::streamsize>(message.size()));
  console.put('\n');
  console.flush();
  return 1;
}

std::uint8_t xorChecksum(std::span<const std::uint8_t> bytes) {
  return std::accumulate(
      bytes.begin(), bytes.end(), std::uint8_t{0},
      [](std::uint8_t sum, std::uint8_t byte) { return static_cast<std::uint8_t>(sum ^ byte); });
}

int convertHeaderless(const char* inputPath, const char* outputPath, bool raw,
                      const ConversionChannels& channels) {
  const std::size_t offset = raw ? 0 : 1;
  const std::size_t limit = raw ? largestRawInput : largestFramedInput;
  std::size_t size = 0;
  FileIdentity input;
  Failure failure = loadInput(channels.files, inputPath, outputPath, offset, limit, size, input);
  if (failure == Failure::None) {
    const auto block =
        raw ? std::span<const std::uint8_t>(workingBuffer.data(), size) : frameDataBlock(size);
    const auto length = lengthField(block.size());
    failure = writeTape(channels, outputPath, input, {length, block});
  }
  return report(failure, channels.console);
}

int convertBasic(const char* inputPath, const char* outputPath, const char* tapeName,
                 std::optional<StartValue> startLine, const ConversionChannels& channels) {
  TapeHeader header;
  header.type = basicProgramType;
  header.name = paddedName(tapeName);
  const bool autoStarts = startLine.has_value() && !startLine->negative;
  header.parameter1 = autoStarts ? startLine->low16 : noAutoStart;
  return report(convertWithHeader(inputPath, outputPath, header, channels), channels.console);
}

int convertCode(const char* inputPath, const char* outputPath, const char* tapeName,
                StartValue startAddress, const ConversionChannels& channels) {
  TapeHeader header;
  header.type = codeFileType;
  header.name = paddedName(tapeName);
  header.parameter1 = startAddress.low16;
  header.parameter2 = noAutoStart;
  return report(convertWithHeader(inputPath, outputPath, header, channels), channels.console);
}
