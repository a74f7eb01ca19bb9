// Runs the three conversions on fuzzed inputs, tape names and start values,
// through the in-memory file system of the tests with one of its operations
// failing, and judges the outcome by what must hold whatever happened: a
// success leaves a tape that reads back block by block with the independent
// reader and holds the whole input, a failure leaves every file as it was
// (or, for an output written in place, empty), and nothing stays open or
// armed. The header fields that follow from the command line alone (name,
// type, start value) are the unit tests' business.
//
// Input layout (one byte each unless said): mode, input kind, output kind,
// failing operation, successful calls before it fails, read chunk, write
// chunk, size selector, start value (sign, blanks, leading zeros, then 8
// bytes of magnitude), the tape name ended by a NUL, then the input's bytes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "TapReader.h"
#include "app/StartValue.h"
#include "app/TapeWriter.h"
#include "support/ExpectedOutput.h"
#include "support/VirtualFileSystem.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Op = VirtualFileSystem::Operation;

enum class Mode { Framed, Raw, BasicWithoutStart, BasicWithStart, Code, count };
enum class InputKind { Regular, Fifo, CharacterDevice, Missing, Directory, count };
enum class OutputKind {
  New,
  Existing,
  SamePath,
  HardLinkToInput,
  HardLinked,
  SymbolicLink,
  ReadOnly,
  InLockedDirectory,
  NewInLockedDirectory,
  Fifo,
  Directory,
  DanglingLink,
  MountPoint,
  HeldDescriptor,
  count
};

template <typename Enum>
Enum pick(std::uint8_t byte) {
  return static_cast<Enum>(byte % static_cast<unsigned>(Enum::count));
}

struct Case {
  Mode mode = Mode::Framed;
  InputKind input = InputKind::Regular;
  OutputKind output = OutputKind::New;
  std::optional<Op> failing;
  std::size_t succeeding = 0;
  std::size_t readChunk = 0;
  std::size_t writeChunk = 0;
  std::string start;
  std::string name;
  Bytes data;
};

// A decimal start value with blanks, a sign and leading zeros as the form
// byte says.
std::string readStartValue(InputCursor& cursor) {
  const std::uint8_t form = cursor.byte();
  std::uint64_t magnitude = 0;
  for (int i = 0; i < 8; ++i) {
    magnitude = (magnitude << 8U) | cursor.byte();
  }
  const std::string blanks((form >> 1U) & 3U, ' ');
  return blanks + ((form & 1U) != 0 ? "-" : ((form & 8U) != 0 ? "+" : "")) +
         std::string((form >> 4U) & 7U, '0') + std::to_string(magnitude) + blanks;
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

Case readCase(InputCursor& cursor) {
  Case c;
  c.mode = pick<Mode>(cursor.byte());
  c.input = pick<InputKind>(cursor.byte());
  c.output = pick<OutputKind>(cursor.byte());
  const std::uint8_t failing = cursor.byte();
  if (failing < Op::operationCount) {
    c.failing = static_cast<Op>(failing);
  }
  c.succeeding = cursor.byte() % 4U;
  c.readChunk = cursor.byte();
  c.writeChunk = cursor.byte();
  const std::uint8_t sizeSelector = cursor.byte();
  c.start = readStartValue(cursor);
  c.name = cursor.text();
  c.data = makeInput(sizeSelector, cursor.rest());
  return c;
}

constexpr const char* inputPath = "in.bin";
// The file behind a descriptor the program holds, written through.
constexpr const char* heldPath = "held.tap";
const Bytes oldTape = {0x13, 0x00, 0x42};

// The files before the run, and the output path to hand to the conversion.
const char* setUp(const Case& c, VirtualFileSystem& files) {
  const FileKind inputKinds[] = {FileKind::Regular, FileKind::Fifo, FileKind::CharacterDevice,
                                 FileKind::Regular, FileKind::Directory};
  if (c.input != InputKind::Missing) {
    files.create(inputPath, c.data, inputKinds[static_cast<int>(c.input)]);
  }
  files.measureOnlyRegular = true;
  files.readChunk = c.readChunk;
  files.writeChunk = c.writeChunk;
  switch (c.output) {
    case OutputKind::New:
      return "out.tap";
    case OutputKind::Existing:
      files.create("out.tap", oldTape);
      return "out.tap";
    case OutputKind::SamePath:
      return inputPath;
    case OutputKind::HardLinkToInput:
      if (c.input != InputKind::Missing) files.link(inputPath, "link.tap");
      return "link.tap";
    case OutputKind::HardLinked:
      files.create("out.tap", oldTape);
      files.link("out.tap", "other.tap");
      return "out.tap";
    case OutputKind::SymbolicLink:
      files.create("dir/target.tap", oldTape);
      files.symlink("dir/target.tap", "link.tap");
      return "link.tap";
    case OutputKind::ReadOnly:
      files.create("out.tap", oldTape);
      files.setPermissions("out.tap", 0444);
      return "out.tap";
    case OutputKind::InLockedDirectory:
      files.makeDirectory("locked", false);
      files.create("locked/out.tap", oldTape);
      return "locked/out.tap";
    case OutputKind::NewInLockedDirectory:
      files.makeDirectory("locked", false);
      return "locked/out.tap";
    case OutputKind::Fifo:
      files.create("fifo", {}, FileKind::Fifo);
      return "fifo";
    case OutputKind::Directory:
      files.makeDirectory("out.tap");
      return "out.tap";
    case OutputKind::DanglingLink:
      files.symlink("nowhere/target.tap", "link.tap");
      return "link.tap";
    case OutputKind::MountPoint:
      files.create("out.tap", oldTape);
      files.mountPoints = {"out.tap"};
      return "out.tap";
    case OutputKind::HeldDescriptor:
      files.create(heldPath, oldTape);
      files.holdOpen(5, heldPath);
      return "/dev/fd/5";
    case OutputKind::count:
      break;
  }
  return "out.tap";
}

int convert(const Case& c, const char* output, VirtualFileSystem& files, std::ostream& console) {
  if (c.failing) {
    files.failOn(*c.failing, c.succeeding);
  }
  const ConversionChannels channels{files, files, console};
  std::optional<StartValue> start;
  if (c.mode == Mode::BasicWithStart || c.mode == Mode::Code) {
    start = parseStartValue(c.start.c_str());
    require(start.has_value(), "a decimal start value was refused");
  }
  switch (c.mode) {
    case Mode::Framed:
    case Mode::Raw:
      return convertHeaderless(inputPath, output, c.mode == Mode::Raw, channels);
    case Mode::BasicWithoutStart:
    case Mode::BasicWithStart:
      return convertBasic(inputPath, output, c.name.c_str(), start, channels);
    case Mode::Code:
      return convertCode(inputPath, output, c.name.c_str(), *start, channels);
    case Mode::count:
      break;
  }
  return 0;
}

bool startsWithOldTape(const Bytes& bytes) {
  return bytes.size() >= oldTape.size() &&
         std::equal(oldTape.begin(), oldTape.end(), bytes.begin());
}

using Snapshot = std::map<std::string, Bytes>;

Snapshot snapshot(const VirtualFileSystem& files) {
  Snapshot all;
  for (const std::string& path : files.paths()) {
    if (files.holds(path)) all[path] = files.contents(path);
  }
  return all;
}

void judgeTape(const Case& c, const Bytes& tape) {
  const auto blocks = tapreader::splitBlocks(tape);
  require(blocks.has_value(), "the tape ends inside a block");
  if (c.mode == Mode::Raw) {
    require(blocks->size() == 1 && Bytes((*blocks)[0].begin(), (*blocks)[0].end()) == c.data,
            "a raw tape is not one block of the input");
    return;
  }
  const bool withHeader = c.mode != Mode::Framed;
  require(blocks->size() == (withHeader ? 2U : 1U), "wrong number of blocks");
  const tapreader::ByteView data = blocks->back();
  require(tapreader::isFramed(data, tapreader::dataFlag), "data block flag or checksum");
  const tapreader::ByteView payload = tapreader::payloadOf(data);
  require(Bytes(payload.begin(), payload.end()) == c.data, "the data block holds the input");
  if (!withHeader) {
    return;
  }
  const auto header = tapreader::readHeader((*blocks)[0]);
  require(header.has_value(), "header block length, flag or checksum");
  require(header->dataLength == c.data.size(), "header data length");
  require(c.mode == Mode::Code || header->parameter2 == c.data.size(), "BASIC program length");
}

// After a failure no name holds part of a tape: every file is as it was,
// emptied (an output written in place), or gone; a new file is left only if
// it is an empty temporary one. A FIFO may have taken part of the tape, and
// so may the file behind a held descriptor, after what it held.
void judgeFailure(const Snapshot& before, const Snapshot& after, const char* output) {
  for (const auto& [path, bytes] : after) {
    const auto old = before.find(path);
    if (old == before.end()) {
      require(path.find(".reelmake-") != std::string::npos && bytes.empty(),
              "a failed run left a new file");
    } else if (path == heldPath) {
      require(startsWithOldTape(bytes), "a held descriptor's file lost what it held");
    } else if (path != "fifo") {
      require(bytes == old->second || bytes.empty(), "a failed run left part of a tape");
    }
  }
  for (const auto& [path, bytes] : before) {
    require(after.count(path) != 0 || path == output || bytes.empty() || path == "dir/target.tap",
            "a failed run removed a file that was not its output");
  }
}

// Without a fault the outcome follows from the files alone.
std::string expectedMessage(const Case& c) {
  const std::size_t limit = c.mode == Mode::Raw ? 65535 : 65533;
  const bool sameFile = c.output == OutputKind::SamePath ||
                        (c.output == OutputKind::HardLinkToInput && c.input != InputKind::Missing);
  if (c.input == InputKind::Missing || (c.input == InputKind::Directory && !sameFile)) {
    return errorOpen;
  }
  if (sameFile) return errorSame;
  if (c.data.size() > limit) return errorTooLong;
  const bool refused = c.output == OutputKind::ReadOnly ||
                       c.output == OutputKind::NewInLockedDirectory ||
                       c.output == OutputKind::Directory || c.output == OutputKind::DanglingLink;
  return refused ? errorCreate : "";
}

void judge(const Case& c, const char* output, int status, const std::string& console,
           const VirtualFileSystem& files, const Snapshot& before) {
  require(console.empty() || console.rfind("  error: ", 0) == 0, "an unknown line was printed");
  require(console.empty() || console.find('\n') == console.size() - 1, "more than one line");
  require(status == (console.empty() ? 0 : 1), "the status does not match the message");
  require(files.allClosed(), "a descriptor was left open");
  require(files.guarded() == nullptr, "a clean-up is still armed");
  require(!files.holdsInterruptions(), "interruptions are still held back");
  const Snapshot after = snapshot(files);
  if (c.input != InputKind::Missing) {
    require(after.count(inputPath) != 0 && after.at(inputPath) == c.data, "the input changed");
  }
  if (!c.failing) {
    require(console == expectedMessage(c), "unexpected outcome without a fault");
  }
  if (status != 0) {
    judgeFailure(before, after, output);
    return;
  }
  if (c.output == OutputKind::HeldDescriptor) {
    const Bytes& held = files.contents(heldPath);
    require(startsWithOldTape(held), "the tape did not go after what the held file held");
    judgeTape(c, Bytes(held.begin() + static_cast<std::ptrdiff_t>(oldTape.size()), held.end()));
  } else if (c.output != OutputKind::Fifo) {
    judgeTape(c, files.contents(output));
  }
  if (c.output == OutputKind::HardLinked) {
    require(files.contents("other.tap") == files.contents(output), "a hard link kept the old tape");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputCursor cursor(data, size);
  const Case c = readCase(cursor);
  VirtualFileSystem files;
  const char* output = setUp(c, files);
  const Snapshot before = snapshot(files);
  std::ostringstream console;
  const int status = convert(c, output, files, console);
  judge(c, output, status, console.str(), files, before);
  return 0;
}
