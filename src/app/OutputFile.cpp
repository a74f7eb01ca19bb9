#include "app/OutputFile.h"

namespace {

// From creating or emptying a file until its clean-up is armed, and while a
// finished tape takes its place, an interruption would leave debris behind:
// it waits until the hold ends. Nothing inside a hold may wait for anybody.
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
  if (directory >= 0) {
    files.close(directory);
  }
}

bool OutputFile::open(const char* path) {
  if (*path == '\0') {
    return false;
  }
  int held = -1;
  if (files.namesDescriptor(path, held)) {
    return adopt(files.duplicate(held));
  }
  FileIdentity existing;
  const bool found = files.identifyPath(path, existing);
  if (found && existing.kind == FileKind::Directory) {
    return false;
  }
  // Opening a FIFO waits for its reader, outside any hold, interruptible.
  if (found && existing.kind != FileKind::Regular) {
    return openSpecial(path);
  }
  return found ? openExistingFile(path) : openNewFile(path);
}

bool OutputFile::openSpecial(const char* path) {
  const int opened = files.openSpecial(path);
  // A regular file found where a special one was looked at is not written:
  // it would be neither emptied first nor replaced.
  FileIdentity identity;
  if (opened >= 0 && files.identify(opened, identity) && identity.kind == FileKind::Regular) {
    files.close(opened);
    return false;
  }
  return adopt(opened);
}

bool OutputFile::adopt(int opened) {
  descriptor = opened;
  placement = opened >= 0 ? Placement::Special : Placement::None;
  return opened >= 0;
}

bool OutputFile::openDirectory(const char* path) {
  directory = files.openDirectoryOf(path, name);
  return directory >= 0;
}

// A name that cannot be looked at but is taken (a dangling symbolic link, a
// file that cannot be examined) is not replaced: it might be the input, or
// a link whose target the user meant to be written.
bool OutputFile::openNewFile(const char* path) {
  if (!openDirectory(path) || files.existsAt(directory, name.c_str())) {
    return false;
  }
  const InterruptionHold hold(files);
  return openReplacement(-1) == Attempt::Opened;
}

bool OutputFile::openExistingFile(const char* path) {
  // Resolved once: a symbolic link re-pointed while the tape is written
  // cannot redirect the replacement or the clean-up to another file.
  PathBuffer target;
  if (!files.resolve(path, target) || !openDirectory(target.c_str())) {
    return false;
  }
  // Opening it is the one test of write permission that holds for everyone,
  // the superuser included. It may wait (for a lease to be broken, for the
  // reader of a FIFO put there since the first look), so it is not held.
  const int original = files.openExisting(directory, name.c_str(), true);
  // Decided on the file opened, not on what the name meant a moment before.
  if (original < 0 || !files.identify(original, replaced)) {
    if (original >= 0) files.close(original);
    return false;
  }
  if (replaced.kind != FileKind::Regular) {
    return adopt(original);
  }
  if (replaced.linkCount == 1) {
    replacing = true;
    const InterruptionHold hold(files);
    const Attempt replacement = openReplacement(original);
    if (replacement != Attempt::Refused) {
      files.close(original);
      return replacement == Attempt::Opened;
    }
  }
  replacing = false;
  return openInPlace(original, true);
}

OutputFile::Attempt OutputFile::openReplacement(int original) {
  bool refused = false;
  descriptor = files.createTemporary(directory, temporary, refused);
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
  // A replacement that would change who owns the tape is not made: the file
  // is written in place instead, as cp does.
  if (original >= 0 && !files.copyOwner(descriptor, original)) {
    abandon();
    return Attempt::Refused;
  }
  guard(temporary.c_str(), false, true);
  return Attempt::Opened;
}

bool OutputFile::openInPlace(int opened, bool removable) {
  descriptor = opened;
  removeName = removable;
  // Another run writing this file is waited for before anything is held.
  const bool locked = files.lock(descriptor);
  const InterruptionHold hold(files);
  if (!locked || !files.identify(descriptor, written) || !files.truncate(descriptor)) {
    files.close(descriptor);
    descriptor = -1;
    return false;
  }
  placement = Placement::InPlace;
  guard(name.c_str(), true, removable);
  return true;
}

void OutputFile::guard(const char* guardedName, bool inPlace, bool removable) {
  partial = PartialOutput{directory, guardedName, written, descriptor, inPlace, removable};
  files.guardPartialOutput(&partial);
}

bool OutputFile::store(Pieces pieces) {
  writeAll(pieces);
  const Placing placed = commit();
  return placed == Placing::MountPoint ? storeInMountPoint(pieces) : placed == Placing::Done;
}

// A file mounted on its name cannot be replaced, only written; the
// temporary file is gone by now.
bool OutputFile::storeInMountPoint(Pieces pieces) {
  const int original = files.openExisting(directory, name.c_str(), true);
  FileIdentity found;
  if (original < 0 || !files.identify(original, found) || !found.isSameFileAs(replaced)) {
    if (original >= 0) files.close(original);
    return false;
  }
  if (!openInPlace(original, false)) {
    return false;
  }
  writeAll(pieces);
  return commit() == Placing::Done;
}

void OutputFile::writeAll(Pieces pieces) {
  for (const auto piece : pieces) {
    const std::uint8_t* data = piece.data();
    std::size_t count = piece.size();
    while (!failed && count > 0) {
      const std::int64_t done = files.write(descriptor, data, count);
      failed = done <= 0;
      if (!failed) {
        data += done;
        count -= static_cast<std::size_t>(done);
      }
    }
  }
}

Placing OutputFile::commit() {
  const InterruptionHold hold(files);
  if (failed ||
      (placement == Placement::Replacing &&
       !files.setFinalPermissions(descriptor, directory, replacing ? &replaced : nullptr))) {
    abandon();
    return Placing::Failed;
  }
  Placing placed = Placing::Done;
  if (placement == Placement::Replacing) {
    placed = putInPlace();
  } else if (!files.close(descriptor)) {
    descriptor = -1;
    abandon();
    return Placing::Failed;
  }
  files.guardPartialOutput(nullptr);
  descriptor = -1;
  placement = Placement::None;
  return placed;
}

// A scanner or indexer that opens the new file for a moment makes placing it
// fail; about two seconds of tries outlast it.
Placing OutputFile::putInPlace() {
  constexpr int tries = 40;
  Placing placed = Placing::Busy;
  for (int attempt = 0; placed == Placing::Busy && attempt < tries; ++attempt) {
    if (attempt > 0) files.pauseBriefly();
    placed = files.putInPlace(descriptor, directory, temporary.c_str(), written, name.c_str());
  }
  if (placed == Placing::Busy) {
    files.discardTemporary(descriptor, directory, temporary.c_str(), written);
    placed = Placing::Failed;
  }
  return placed;
}

// A closed in-place output is opened again to empty it: removing one of its
// names would leave the partial tape under the others.
void OutputFile::emptyAndRemove() {
  const int reopened =
      descriptor >= 0 ? descriptor : files.openExisting(directory, name.c_str(), false);
  FileIdentity reopenedIdentity;
  if (reopened >= 0 && files.identify(reopened, reopenedIdentity) &&
      reopenedIdentity.isSameFileAs(written)) {
    files.truncate(reopened);
  }
  if (reopened >= 0) {
    files.close(reopened);
  }
  descriptor = -1;
  if (removeName) {
    files.removeIfSame(directory, name.c_str(), written);
  }
}

void OutputFile::abandon() {
  switch (placement) {
    case Placement::Replacing:
      files.discardTemporary(descriptor, directory, temporary.c_str(), written);
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
