#include "app/OutputFile.h"

#include <cstring>

OutputFile::~OutputFile() {
  if (placement != Placement::None) {
    abandon();
  }
}

// Between creating or emptying a file and arming its clean-up, an
// interruption would leave it behind: it waits until the clean-up is armed.
bool OutputFile::open(const char* path) {
  files.holdInterruptions(true);
  const bool opened = openHeld(path);
  files.holdInterruptions(false);
  return opened;
}

bool OutputFile::openHeld(const char* path) {
  FileIdentity existing;
  if (!files.identifyPath(path, existing)) {
    return isNew(path) && target.assign(path) && openReplacement(path, nullptr);
  }
  if (existing.kind == FileKind::Directory) {
    return false;
  }
  if (existing.kind != FileKind::Regular) {
    descriptor = files.createOutput(path);
    placement = descriptor >= 0 ? Placement::Special : Placement::None;
    return descriptor >= 0;
  }
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
  if (existing.linkCount == 1 && openReplacement(target.c_str(), &existing.permissions)) {
    files.close(existingDescriptor);
    return true;
  }
  return openInPlace(existingDescriptor);
}

// A path that cannot be looked at but can be opened is there after all:
// replacing what could not be identified might replace the input itself.
bool OutputFile::isNew(const char* path) {
  const int probe = files.openExisting(path);
  if (probe < 0) {
    return true;
  }
  files.close(probe);
  return false;
}

bool OutputFile::openReplacement(const char* path, const std::uint32_t* permissions) {
  descriptor = files.createTemporary(path, temporary);
  if (descriptor < 0) {
    return false;
  }
  placement = Placement::Replacing;
  // One that cannot be identified is left behind on failure: removing it by
  // its name alone could remove another file.
  if (!files.identify(descriptor, written) ||
      (permissions != nullptr && !files.setPermissions(descriptor, *permissions))) {
    abandon();
    return false;
  }
  guard(temporary.c_str(), false);
  return true;
}

bool OutputFile::openInPlace(int existingDescriptor) {
  descriptor = existingDescriptor;
  if (!files.identify(descriptor, written) || !files.truncate(descriptor)) {
    files.close(descriptor);
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
  if (failed) {
    abandon();
    return false;
  }
  if (placement == Placement::InPlace) {
    // Every byte is written: from here an interruption leaves a whole tape.
    files.guardPartialOutput(nullptr);
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
