// Runs the three conversions on fuzzed input files, tape names and start
// values, through a file system in memory that can fail, shorten or split
// any operation, and judges every tape with the independent reader.
//
// Input layout: mode, scenario, fault parameter, read chunk, write chunk and
// size selector (one byte each), then the tape name and the start value text
// (each ended by a NUL), then the input file's bytes.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "FuzzCheck.h"
#include "TapReader.h"
#include "app/FileSystem.h"
#include "app/StartValue.h"
#include "app/TapeWriter.h"
#include "support/ExpectedOutput.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

enum class Mode { Framed, Raw, BasicWithoutStart, BasicWithStart, Code };

enum class InputKind { Regular, Fifo, CharacterDevice, Missing, Directory, Unmeasurable };

enum class OutputKind { New, Existing, SamePath, HardLink };

enum class Fault { None, ReadFails, Shrinks, CreateFails, WriteFails, CloseFails };

struct Scenario {
  Mode mode = Mode::Framed;
  InputKind input = InputKind::Regular;
  OutputKind output = OutputKind::New;
  Fault fault = Fault::None;
  std::size_t faultParameter = 0;
  std::size_t readChunk = 0;  // 0: as much as asked for
  std::size_t writeChunk = 0;
};

constexpr const char* inputPath = "in.bin";
constexpr const char* outputPath = "out.tap";
constexpr const char* linkPath = "link.tap";

struct MemoryFile {
  FileKind kind = FileKind::Regular;
  Bytes data;
};

// The files of one run, addressed by path and inode, with the faults of the
// scenario. It keeps track of what the conversion did, for the checks after it.
class MemoryFileSystem final : public FileSystem {
 public:
  explicit MemoryFileSystem(const Scenario& scenario) : scenario(scenario) {}

  std::uint64_t addFile(const std::string& path, FileKind kind, Bytes data) {
    const std::uint64_t inode = nextInode++;
    files[inode] = MemoryFile{kind, std::move(data)};
    paths[path] = inode;
    return inode;
  }
  void addLink(const std::string& path, std::uint64_t inode) { paths[path] = inode; }

  const MemoryFile* fileAt(const std::string& path) const {
    const auto found = paths.find(path);
    return found == paths.end() ? nullptr : &files.at(found->second);
  }

  int openInput(const char* path) override {
    const auto found = paths.find(path);
    if (found == paths.end()) {
      return -1;
    }
    return openDescriptor(found->second, false);
  }

  bool identify(int descriptor, FileIdentity& identity) override {
    const std::uint64_t inode = openFile(descriptor).inode;
    describe(inode, identity);
    return true;
  }

  bool identifyPath(const char* path, FileIdentity& identity) override {
    const auto found = paths.find(path);
    if (found == paths.end()) {
      return false;
    }
    describe(found->second, identity);
    return true;
  }

  bool measure(int descriptor, std::uint64_t& size) override {
    Descriptor& open = openFile(descriptor);
    const MemoryFile& file = files.at(open.inode);
    // Pipes and terminals cannot seek.
    if (file.kind != FileKind::Regular || scenario.input == InputKind::Unmeasurable) {
      return false;
    }
    size = file.data.size();
    if (scenario.fault == Fault::Shrinks) {
      size += scenario.faultParameter + 1;
    }
    open.position = 0;
    return true;
  }

  std::int64_t read(int descriptor, void* buffer, std::size_t count) override {
    Descriptor& open = openFile(descriptor);
    require(!open.forWriting, "read from the output");
    require(!outputCreated, "input read after the output was created");
    ++readCalls;
    if (scenario.fault == Fault::ReadFails && readCalls == scenario.faultParameter + 1) {
      readFailureDelivered = true;
      return -1;
    }
    const Bytes& data = files.at(open.inode).data;
    std::size_t got = std::min(count, data.size() - std::min(open.position, data.size()));
    if (scenario.readChunk > 0) {
      got = std::min(got, scenario.readChunk);
    }
    if (got > 0) {
      std::memcpy(buffer, data.data() + open.position, got);
    }
    open.position += got;
    return static_cast<std::int64_t>(got);
  }

  int createOutput(const char* path) override {
    require(!outputCreated, "the output was created twice");
    outputCreated = true;
    if (scenario.fault == Fault::CreateFails) {
      return -1;
    }
    auto found = paths.find(path);
    if (found == paths.end()) {
      found = paths.emplace(path, addFile(path, FileKind::Regular, {})).first;
    }
    MemoryFile& file = files.at(found->second);
    if (file.kind == FileKind::Directory) {
      return -1;
    }
    file.data.clear();
    return openDescriptor(found->second, true);
  }

  std::int64_t write(int descriptor, const void* data, std::size_t count) override {
    Descriptor& open = openFile(descriptor);
    require(open.forWriting, "write to the input");
    Bytes& target = files.at(open.inode).data;
    if (scenario.fault == Fault::WriteFails && target.size() >= scenario.faultParameter) {
      writeFailureDelivered = true;
      return -1;
    }
    std::size_t put = count;
    if (scenario.writeChunk > 0) {
      put = std::min(put, scenario.writeChunk);
    }
    if (scenario.fault == Fault::WriteFails) {
      put = std::min(put, scenario.faultParameter - target.size());
      if (put == 0) {
        writeFailureDelivered = true;
        return -1;
      }
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    target.insert(target.end(), bytes, bytes + put);
    return static_cast<std::int64_t>(put);
  }

  bool close(int descriptor) override {
    Descriptor& open = openFile(descriptor);
    open.closed = true;
    if (open.forWriting && scenario.fault == Fault::CloseFails) {
      closeFailureDelivered = true;
      return false;
    }
    return true;
  }

  bool remove(const char* path) override {
    const auto found = paths.find(path);
    require(found != paths.end(), "removal of a file that does not exist");
    require(files.at(found->second).kind == FileKind::Regular, "removal of a non-regular file");
    paths.erase(found);
    ++removals;
    return true;
  }

  bool allClosed() const {
    for (const Descriptor& open : descriptors) {
      if (!open.closed) {
        return false;
      }
    }
    return true;
  }

  bool outputCreated = false;
  bool readFailureDelivered = false;
  bool writeFailureDelivered = false;
  bool closeFailureDelivered = false;
  int removals = 0;

 private:
  struct Descriptor {
    std::uint64_t inode;
    bool forWriting;
    std::size_t position = 0;
    bool closed = false;
  };
  static constexpr int firstDescriptor = 3;

  int openDescriptor(std::uint64_t inode, bool forWriting) {
    descriptors.push_back(Descriptor{inode, forWriting});
    return static_cast<int>(descriptors.size() - 1) + firstDescriptor;
  }

  Descriptor& openFile(int descriptor) {
    require(descriptor >= firstDescriptor &&
                static_cast<std::size_t>(descriptor - firstDescriptor) < descriptors.size(),
            "unknown descriptor");
    Descriptor& open = descriptors[static_cast<std::size_t>(descriptor - firstDescriptor)];
    require(!open.closed, "descriptor used after close");
    return open;
  }

  void describe(std::uint64_t inode, FileIdentity& identity) const {
    identity.kind = files.at(inode).kind;
    identity.device = 1;
    identity.inode = inode;
  }

  const Scenario& scenario;
  std::map<std::uint64_t, MemoryFile> files;
  std::map<std::string, std::uint64_t> paths;
  std::vector<Descriptor> descriptors;
  std::uint64_t nextInode = 1;
  std::size_t readCalls = 0;
};

// Start values as the tape keeps them, worked out on the text directly:
// the value modulo 65536, with two's complement for a minus sign.
StartValue expectedStartValue(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
    ++i;
  }
  const bool minus = i < text.size() && text[i] == '-';
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    ++i;
  }
  unsigned long remainder = 0;
  bool nonZero = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const auto digit = static_cast<unsigned long>(text[i] - '0');
    remainder = (remainder * 10 + digit) % 65536;
    nonZero = nonZero || digit != 0;
  }
  if (minus) {
    remainder = (65536 - remainder) % 65536;
  }
  return StartValue{static_cast<std::uint16_t>(remainder), minus && nonZero};
}

std::array<std::uint8_t, 10> expectedName(const std::string& name) {
  std::array<std::uint8_t, 10> padded{};
  padded.fill(' ');
  for (std::size_t i = 0; i < padded.size() && i < name.size(); ++i) {
    padded[i] = static_cast<std::uint8_t>(name[i]);
  }
  return padded;
}

enum class Outcome {
  Converted,
  CannotOpen,
  TooLong,
  CannotRead,
  SameFile,
  CannotCreate,
  CannotWrite
};

// Every run ends in exactly one of these console texts.
constexpr std::array<std::pair<Outcome, const char*>, 7> messages = {{
    {Outcome::Converted, ""},
    {Outcome::CannotOpen, errorOpen},
    {Outcome::TooLong, errorTooLong},
    {Outcome::CannotRead, errorRead},
    {Outcome::SameFile, errorSame},
    {Outcome::CannotCreate, errorCreate},
    {Outcome::CannotWrite, errorWrite},
}};

Outcome outcomeOfMessage(const std::string& console) {
  for (const auto& [outcome, message] : messages) {
    if (console == message) {
      return outcome;
    }
  }
  violated("the console holds something other than one known message");
}

// What the run must end in, given what the file system actually delivered.
// Two cases may go either way: a directory that is also the output may be
// refused as either, and a regular input that cannot be measured may be
// refused or read as a pipe is.
bool isAcceptable(Outcome outcome, const Scenario& scenario, const MemoryFileSystem& files,
                  std::size_t inputSize, std::size_t limit) {
  const bool sameFile =
      scenario.output == OutputKind::SamePath || scenario.output == OutputKind::HardLink;
  if (scenario.input == InputKind::Directory && sameFile) {
    return outcome == Outcome::CannotOpen || outcome == Outcome::SameFile;
  }
  if (scenario.input == InputKind::Unmeasurable && outcome == Outcome::CannotRead && !sameFile) {
    return true;
  }
  Outcome expected = Outcome::Converted;
  if (scenario.input == InputKind::Missing || scenario.input == InputKind::Directory) {
    expected = Outcome::CannotOpen;
  } else if (sameFile) {
    expected = Outcome::SameFile;
  } else if (scenario.input == InputKind::Regular) {
    const std::size_t measured =
        inputSize + (scenario.fault == Fault::Shrinks ? scenario.faultParameter + 1 : 0);
    if (measured > limit) {
      expected = Outcome::TooLong;
    } else if (files.readFailureDelivered || scenario.fault == Fault::Shrinks) {
      expected = Outcome::CannotRead;
    }
  } else if (files.readFailureDelivered) {
    expected = Outcome::CannotRead;
  } else if (inputSize > limit) {
    expected = Outcome::TooLong;
  }
  if (expected == Outcome::Converted) {
    if (scenario.fault == Fault::CreateFails) {
      expected = Outcome::CannotCreate;
    } else if (files.writeFailureDelivered || files.closeFailureDelivered) {
      expected = Outcome::CannotWrite;
    }
  }
  return outcome == expected;
}

void checkTape(const Bytes& tape, const Scenario& scenario, const Bytes& input,
               const std::string& name, const std::string& startText) {
  const auto blocks = tapreader::splitBlocks(tape);
  require(blocks.has_value(), "the tape ends inside a block");
  if (scenario.mode == Mode::Raw) {
    require(blocks->size() == 1, "a raw tape holds one block");
    const tapreader::ByteView block = (*blocks)[0];
    require(Bytes(block.begin(), block.end()) == input, "a raw block holds the input unchanged");
    return;
  }
  const bool withHeader = scenario.mode != Mode::Framed;
  require(blocks->size() == (withHeader ? 2U : 1U), "wrong number of blocks");
  const tapreader::ByteView data = blocks->back();
  require(tapreader::isFramed(data, tapreader::dataFlag), "data block flag or checksum");
  const tapreader::ByteView payload = tapreader::payloadOf(data);
  require(Bytes(payload.begin(), payload.end()) == input, "the data block holds the input");
  if (!withHeader) {
    return;
  }
  const auto header = tapreader::readHeader((*blocks)[0]);
  require(header.has_value(), "header block length, flag or checksum");
  require(header->name == expectedName(name), "header name");
  require(header->dataLength == input.size(), "header data length");
  const StartValue start = expectedStartValue(startText);
  if (scenario.mode == Mode::Code) {
    require(header->type == 3, "code header type");
    require(header->parameter1 == start.low16, "code load address");
    require(header->parameter2 == 0x8000, "code parameter 2");
  } else {
    require(header->type == 0, "BASIC header type");
    const bool autoStarts = scenario.mode == Mode::BasicWithStart && !start.negative;
    require(header->parameter1 == (autoStarts ? start.low16 : 0x8000), "BASIC start line");
    require(header->parameter2 == input.size(), "BASIC program length");
  }
}

class InputCursor {
 public:
  InputCursor(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}

  std::uint8_t byte() { return position < size ? data[position++] : 0; }
  std::string text() {
    std::string result;
    while (position < size && data[position] != 0) {
      result.push_back(static_cast<char>(data[position++]));
    }
    ++position;
    return result;
  }
  Bytes rest() const { return position < size ? Bytes(data + position, data + size) : Bytes(); }

 private:
  const std::uint8_t* data;
  std::size_t size;
  std::size_t position = 0;
};

Scenario readScenario(InputCursor& cursor) {
  Scenario scenario;
  scenario.mode = static_cast<Mode>(cursor.byte() % 5);
  const std::uint8_t situation = cursor.byte();
  static constexpr InputKind inputs[8] = {InputKind::Regular,         InputKind::Regular,
                                          InputKind::Regular,         InputKind::Fifo,
                                          InputKind::CharacterDevice, InputKind::Missing,
                                          InputKind::Directory,       InputKind::Unmeasurable};
  static constexpr Fault faults[8] = {Fault::None,       Fault::None,        Fault::ReadFails,
                                      Fault::Shrinks,    Fault::CreateFails, Fault::WriteFails,
                                      Fault::CloseFails, Fault::None};
  scenario.input = inputs[situation & 7U];
  scenario.output = static_cast<OutputKind>((situation >> 3U) & 3U);
  scenario.fault = faults[(situation >> 5U) & 7U];
  scenario.faultParameter = cursor.byte();
  scenario.readChunk = cursor.byte();
  scenario.writeChunk = cursor.byte();
  return scenario;
}

// Small inputs come from the fuzz input itself; large ones, around the size
// limits, repeat it, so that the limits are reached from short inputs.
Bytes makeInput(std::uint8_t sizeSelector, const Bytes& rest) {
  if (sizeSelector < 0xC0) {
    return rest;
  }
  const std::size_t size = 65520 + (sizeSelector & 0x1FU);
  Bytes input(size);
  for (std::size_t i = 0; i < size; ++i) {
    input[i] = rest.empty() ? static_cast<std::uint8_t>(i * 7 + 3) : rest[i % rest.size()];
  }
  return input;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputCursor cursor(data, size);
  const Scenario scenario = readScenario(cursor);
  const std::uint8_t sizeSelector = cursor.byte();
  const std::string name = cursor.text();
  const std::string startText = cursor.text();
  const Bytes input = makeInput(sizeSelector, cursor.rest());

  MemoryFileSystem files(scenario);
  static const Bytes previousOutput = {0x13, 0x00, 0x42};
  FileKind inputKind = FileKind::Regular;
  if (scenario.input == InputKind::Fifo) inputKind = FileKind::Fifo;
  if (scenario.input == InputKind::CharacterDevice) inputKind = FileKind::CharacterDevice;
  if (scenario.input == InputKind::Directory) inputKind = FileKind::Directory;
  std::uint64_t inputInode = 0;
  if (scenario.input != InputKind::Missing) {
    inputInode = files.addFile(inputPath, inputKind, input);
  }
  const char* output = outputPath;
  if (scenario.output == OutputKind::Existing) {
    files.addFile(outputPath, FileKind::Regular, previousOutput);
  } else if (scenario.output == OutputKind::SamePath) {
    output = inputPath;
  } else if (scenario.output == OutputKind::HardLink && inputInode != 0) {
    files.addLink(linkPath, inputInode);
    output = linkPath;
  }

  std::ostringstream console;
  const ConversionChannels channels{files, console};
  int status = 0;
  switch (scenario.mode) {
    case Mode::Framed:
    case Mode::Raw:
      status = convertHeaderless(inputPath, output, scenario.mode == Mode::Raw, channels);
      break;
    case Mode::BasicWithoutStart:
      status = convertBasic(inputPath, output, name.c_str(), std::nullopt, channels);
      break;
    case Mode::BasicWithStart:
      status = convertBasic(inputPath, output, name.c_str(), parseStartValue(startText.c_str()),
                            channels);
      break;
    case Mode::Code:
      status = convertCode(inputPath, output, name.c_str(), parseStartValue(startText.c_str()),
                           channels);
      break;
  }

  const Outcome outcome = outcomeOfMessage(console.str());
  require(status == (outcome == Outcome::Converted ? 0 : 1), "exit status and message disagree");
  require(files.allClosed(), "a descriptor was left open");
  const std::size_t limit = scenario.mode == Mode::Raw ? 65535 : 65533;
  require(isAcceptable(outcome, scenario, files, input.size(), limit), "unexpected outcome");

  if (scenario.input != InputKind::Missing) {
    const MemoryFile* inputFile = files.fileAt(inputPath);
    require(inputFile != nullptr && inputFile->data == input, "the input was changed");
  }
  const MemoryFile* written = files.fileAt(outputPath);
  switch (outcome) {
    case Outcome::Converted:
      require(written != nullptr, "no output after success");
      require(files.removals == 0, "a file was removed after success");
      checkTape(written->data, scenario, input, name, startText);
      break;
    case Outcome::CannotOpen:
    case Outcome::TooLong:
    case Outcome::CannotRead:
    case Outcome::SameFile:
    case Outcome::CannotCreate:
      require(!files.outputCreated || outcome == Outcome::CannotCreate,
              "output created after an input failure");
      require(files.removals == 0, "a file was removed before any was written");
      if (scenario.output == OutputKind::Existing) {
        require(written != nullptr && written->data == previousOutput,
                "an existing output was touched by a failed run");
      } else if (scenario.output == OutputKind::New) {
        require(written == nullptr, "an output was left by a failed run");
      }
      break;
    case Outcome::CannotWrite:
      require(written == nullptr, "a half-written output was left behind");
      break;
  }
  return 0;
}
