#include "app/OutputFile.h"

namespace {

// From creating or emptying a file until its clean-up is armed, and while a
// finished tape takes its place, an interruption would leave debris behind:
// it waits until the hold ends.
class InterruptionHold {
 public:
  explicit InterruptionHold(FileSystem& files) : files(files) { files.holdInterruptions(true); }
  ~InterruptionHold() { files.holdInterruptions(false); }
  InterruptionHold(const InterruptionHold&) = delete;
  InterruptionHold& operator=(const InterruptionHold&) = delete;

 private:
  FileSystem& files;
};

}  // namespace

OutputFile::~OutputFile() {
  if (placement != Placement::None) {
    const InterruptionHold hold(files);
    abandon();
  }
}

bool OutputFile::open(const char* path) {
  if (*path == '\0') {
    return false;
  }
  FileIdentity existing;
  const bool found = files.identifyPath(path, existing);
  if (found && existing.kind == FileKind::Directory) {
    return false;
  }
  // Not held: opening a FIFO waits for its reader, and must stay interruptible.
  if (found && existing.kind != FileKind::Regular) {
    return openSpecial(path);
  }
  const InterruptionHold hold(files);
  return found ? openExistingFile(path) : openNewFile(path);
}

bool OutputFile::openSpecial(const char* path) {
  descriptor = files.openSpecial(path);
  placement = descriptor >= 0 ? Placement::Special : Placement::None;
  return descriptor >= 0;
}

// A name that cannot be looked at but is taken (a dangling symbolic link, a
// file that cannot be examined) is not replaced: it might be the input, or
// a link whose target the user meant to be written.
bool OutputFile::openNewFile(const char* path) {
  return !files.exists(path) && target.assign(path) &&
         openReplacement(path, nullptr) == Attempt::Opened;
}

bool OutputFile::openExistingFile(const char* path) {
  // Resolved once: a symbolic link re-pointed while the tape is written
  // cannot redirect the replacement or the clean-up to another file.
  if (!files.resolve(path, target)) {
    return false;
  }
  // Opening it is the one test of write permission that holds for everyone,
  // the superuser included.
  const int existingDescriptor = files.openExisting(target.c_str());
  if (existingDescriptor < 0) {
    return false;
  }
  // Decided on the file opened, not on what the name meant a moment before.
  FileIdentity existing;
  if (!files.identify(existingDescriptor, existing) || existing.kind != FileKind::Regular) {
    files.close(existingDescriptor);
    return false;
  }
  const Attempt replacement =
      existing.linkCount == 1 ? openReplacement(target.c_str(), &existing) : Attempt::Refused;
  if (replacement != Attempt::Refused) {
    files.close(existingDescriptor);
    return replacement == Attempt::Opened;
  }
  return openInPlace(existingDescriptor);
}

OutputFile::Attempt OutputFile::openReplacement(const char* path, const FileIdentity* replaced) {
  bool refused = false;
  descriptor = files.createTemporary(path, temporary, refused);
  if (descriptor < 0) {
    return refused ? Attempt::Refused : Attempt::Failed;
  }
  placement = Placement::Replacing;
  // One that cannot be identified is left behind on failure: removing it by
  // its name alone could remove another file.
  if (!files.identify(descriptor, written)) {
    abandon();
    return Attempt::Failed;
  }
  // A replacement that would change who owns the tape, or who may use it, is
  // not made: the file is written in place instead, as cp does.
  if (replaced != nullptr && !files.copyAttributes(descriptor, *replaced)) {
    abandon();
    return Attempt::Refused;
  }
  guard(temporary.c_str(), false);
  return Attempt::Opened;
}

bool OutputFile::openInPlace(int existingDescriptor) {
  descriptor = existingDescriptor;
  if (!files.identify(descriptor, written) || !files.truncate(descriptor)) {
    files.close(descriptor);
    descriptor = -1;
    return false;
  }
  placement = Placement::InPlace;
  guard(target.c_str(), true);
  return true;
}

void OutputFile::guard(const char* path, bool truncateFirst) {
  partial = PartialOutput{path, written, descriptor, truncateFirst};
  files.guardPartialOutput(&partial);
}

bool OutputFile::write(std::span<const std::uint8_t> bytes) {
  const std::uint8_t* data = bytes.data();
  std::size_t count = bytes.size();
  while (!failed && count > 0) {
    const std::int64_t done = files.write(descriptor, data, count);
    failed = done <= 0;
    if (!failed) {
      data += done;
      count -= static_cast<std::size_t>(done);
    }
  }
  return !failed;
}

bool OutputFile::commit() {
  const InterruptionHold hold(files);
  if (failed) {
    abandon();
    return false;
  }
  const bool closed = files.close(descriptor);
  descriptor = -1;
  if (!closed ||
      (placement == Placement::Replacing && !files.replace(temporary.c_str(), target.c_str()))) {
    abandon();
    return false;
  }
  files.guardPartialOutput(nullptr);
  placement = Placement::None;
  return true;
}

// A closed in-place output is opened again to empty it: removing one of its
// names would leave the partial tape under the others.
void OutputFile::emptyAndRemove() {
  const int reopened = descriptor >= 0 ? descriptor : files.openExisting(target.c_str());
  FileIdentity reopenedIdentity;
  if (reopened >= 0 && files.identify(reopened, reopenedIdentity) &&
      reopenedIdentity.isSameFileAs(written)) {
    files.truncate(reopened);
  }
  if (reopened >= 0) {
    files.close(reopened);
  }
  descriptor = -1;
  files.removeIfSame(target.c_str(), written);
}

void OutputFile::abandon() {
  switch (placement) {
    case Placement::Replacing:
      if (descriptor >= 0) files.close(descriptor);
      files.removeIfSame(temporary.c_str(), written);
      break;
    case Placement::InPlace:
      emptyAndRemove();
      break;
    case Placement::Special:
      if (descriptor >= 0) files.close(descriptor);
      break;
    case Placement::None:
      break;
  }
  files.guardPartialOutput(nullptr);
  descriptor = -1;
  placement = Placement::None;
}
