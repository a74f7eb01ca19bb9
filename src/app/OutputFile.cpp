#include "app/OutputFile.h"

namespace {

// From creating or emptying a file until its clean-up is armed, and while a
// finished tape takes its place, an interruption would leave debris behind:
// it waits until the hold ends. Nothing inside a hold may wait for anybody.
class InterruptionHold {
 public:
  explicit InterruptionHold(ProcessControl& process) : process(process) {
    process.holdInterruptions(true);
  }
  ~InterruptionHold() { process.holdInterruptions(false); }
  InterruptionHold(const InterruptionHold&) = delete;
  InterruptionHold& operator=(const InterruptionHold&) = delete;

 private:
  ProcessControl& process;
};

constexpr int standardOutput = 1;

}  // namespace

OutputFile::~OutputFile() {
  if (placement != Placement::None) {
    const InterruptionHold hold(process);
    abandon();
  }
  closeOriginal();
  if (directory >= 0) {
    files.close(directory);
  }
}

bool OutputFile::open(const char* path) {
  if (*path == '\0') {
    return false;
  }
  // Opening a device or a FIFO waits for its other end, outside any hold,
  // interruptible.
  if (files.namesSpecialFile(path)) {
    return openSpecial(path);
  }
  int held = -1;
  directory = files.openDirectoryOf(path, name, held);
  if (held >= 0) {
    return adopt(files.duplicate(held));
  }
  FileIdentity found;
  if (directory < 0) {
    return false;
  }
  if (!files.identifyAt(directory, name.c_str(), found)) {
    return openNewFile();
  }
  foundKeptApart = keepsApart && found.isSameFileAs(kept);
  if (foundKeptApart) {
    return false;
  }
  switch (found.kind) {
    case FileKind::Regular:
      return openExistingFile(found);
    case FileKind::Directory:
      return false;
    default:
      return openSpecialHere();
  }
}

bool OutputFile::openSpecial(const char* path) { return adoptSpecial(files.openSpecial(path)); }

bool OutputFile::openSpecialHere() {
  return adoptSpecial(files.openExisting(directory, name.c_str(), true));
}

// A regular file found where a special one was looked at is not written:
// it would be neither emptied first nor replaced.
bool OutputFile::adoptSpecial(int opened) {
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

// A directory that takes a new file but lets none be renamed gets the tape
// under its own name straight away.
bool OutputFile::openNewFile() {
  const InterruptionHold hold(process);
  const Attempt replacement = openReplacement();
  return replacement == Attempt::Refused ? createInPlace() : replacement == Attempt::Opened;
}

bool OutputFile::createInPlace() {
  descriptor = files.createNew(directory, name.c_str());
  if (descriptor < 0 || !files.identify(descriptor, written)) {
    if (descriptor >= 0) files.close(descriptor);
    descriptor = -1;
    return false;
  }
  placement = Placement::InPlace;
  created = true;
  guard(name.c_str(), true, true);
  return true;
}

// Write permission is asked of the system rather than tried by opening the
// file for writing, which would tell anyone watching it that it changed.
bool OutputFile::openExistingFile(const FileIdentity& found) {
  replaced = found;
  replacing = true;
  if (!files.mayWrite(directory, name.c_str())) {
    return false;
  }
  if (found.linkCount == 1) {
    original = openWithinBound([&] { return files.lookAt(directory, name.c_str()); });
    if (original == busyDescriptor) {
      original = -1;
      return false;
    }
    FileIdentity looked;
    if (original >= 0 && files.identify(original, looked) && looked.isSameFileAs(found) &&
        looked.kind == FileKind::Regular) {
      const InterruptionHold hold(process);
      const Attempt replacement = openReplacement();
      if (replacement != Attempt::Refused) {
        return replacement == Attempt::Opened;
      }
    }
    closeOriginal();
  }
  return reopenInPlace(true);
}

// Opened without waiting (for a lease to be broken, for the reader of a FIFO
// put there since the first look); what it opened must be the file looked at.
bool OutputFile::reopenInPlace(bool removable) {
  const int opened =
      openWithinBound([&] { return files.openExisting(directory, name.c_str(), false); });
  FileIdentity found;
  if (opened < 0 || !files.identify(opened, found) || !found.isSameFileAs(replaced)) {
    if (opened >= 0) files.close(opened);
    return false;
  }
  return openInPlace(opened, removable);
}

OutputFile::Attempt OutputFile::openReplacement() {
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
  // A replacement that would change who owns the tape, or who may read it,
  // is not made: the file is written in place instead, as cp does.
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
  const bool locked = lock();
  const InterruptionHold hold(process);
  if (!locked || !files.identify(descriptor, written) || !files.truncate(descriptor)) {
    files.close(descriptor);
    descriptor = -1;
    return false;
  }
  placement = Placement::InPlace;
  guard(name.c_str(), true, removable);
  return true;
}

// Another run of this program holds the lock for as long as it writes a
// tape, which is a moment; anyone else who holds it longer (a reader's
// shared lock, say) must not keep this run waiting for ever.
bool OutputFile::lock() {
  Locking locking = files.tryLock(descriptor);
  for (; locking == Locking::Busy && pausesLeft > 0; --pausesLeft) {
    process.pauseBriefly();
    locking = files.tryLock(descriptor);
  }
  heldTooLong = locking == Locking::Busy;
  return locking == Locking::Locked;
}

// The same bound holds for a file another process holds open (a lease).
template <typename Open>
int OutputFile::openWithinBound(Open open) {
  int opened = open();
  for (; opened == busyDescriptor && pausesLeft > 0; --pausesLeft) {
    process.pauseBriefly();
    opened = open();
  }
  heldTooLong = opened == busyDescriptor;
  return opened;
}

void OutputFile::guard(const char* guardedName, bool inPlace, bool removable) {
  partial = PartialOutput{directory, guardedName, written, descriptor, inPlace, removable};
  process.guardPartialOutput(&partial);
}

bool OutputFile::store(Pieces pieces) {
  writeAll(pieces);
  const Placing placed = commit();
  return placed == Placing::MountPoint || placed == Placing::Refused ? storeAnotherWay(pieces)
                                                                     : placed == Placing::Done;
}

// A file mounted on its name, or one in a directory that lets no file be
// renamed, cannot be replaced, only written; the temporary file is gone or
// emptied by now. Its name cannot be removed either.
bool OutputFile::storeAnotherWay(Pieces pieces) {
  if (!replacing) {
    const InterruptionHold hold(process);
    if (!createInPlace()) return false;
  } else if (!reopenInPlace(false)) {
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
  const InterruptionHold hold(process);
  const bool setsPermissions = placement == Placement::Replacing || created;
  if (failed || (setsPermissions &&
                 !files.setFinalPermissions(descriptor, directory, replacing ? original : -1))) {
    abandon();
    return Placing::Failed;
  }
  // Nothing may hold the old file open while it is replaced: Windows refuses
  // to rename over an open file.
  closeOriginal();
  Placing placed = Placing::Done;
  if (placement == Placement::Replacing) {
    placed = putInPlace();
  } else if (!files.close(descriptor)) {
    descriptor = -1;
    abandon();
    return Placing::Failed;
  }
  process.guardPartialOutput(nullptr);
  descriptor = -1;
  placement = Placement::None;
  created = false;
  return placed;
}

// A scanner or indexer that opens the new file for a moment makes placing it
// fail; about two seconds of tries outlast it.
Placing OutputFile::putInPlace() {
  constexpr int tries = 40;
  Placing placed = Placing::Busy;
  for (int attempt = 0; placed == Placing::Busy && attempt < tries; ++attempt) {
    if (attempt > 0) process.pauseBriefly();
    placed = files.putInPlace(descriptor, directory, temporary.c_str(), written, name.c_str());
  }
  if (placed == Placing::Busy) {
    files.discardTemporary(descriptor, directory, temporary.c_str(), written);
    placed = Placing::Failed;
  }
  if (placed == Placing::Refused) {
    emptyStrayTemporary();
  }
  return placed;
}

// A temporary file that could be neither renamed nor removed keeps no tape.
void OutputFile::emptyStrayTemporary() {
  const int reopened = files.openExisting(directory, temporary.c_str(), false);
  FileIdentity found;
  if (reopened >= 0 && files.identify(reopened, found) && found.isSameFileAs(written)) {
    files.truncate(reopened);
  }
  if (reopened >= 0) files.close(reopened);
  files.removeIfSame(directory, temporary.c_str(), written);
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
    // Where its name cannot go, a new file stays, empty, as any new file is.
    if (created) files.setFinalPermissions(reopened, directory, -1);
  }
  if (reopened >= 0) {
    files.close(reopened);
  }
  descriptor = -1;
  if (removeName) {
    files.removeIfSame(directory, name.c_str(), written);
  }
  created = false;
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
  process.guardPartialOutput(nullptr);
  descriptor = -1;
  placement = Placement::None;
  closeOriginal();
}

void OutputFile::closeOriginal() {
  if (original >= 0) files.close(original);
  original = -1;
}

// Compared as files, not as names: a tape written through another
// descriptor on the same file, or by the name of the FIFO or terminal that
// standard output is, would still be mixed with what is printed.
bool leadsToStandardOutput(FileSystem& files, const char* path) {
  if (*path == '\0' || files.namesSpecialFile(path)) return false;
  PathBuffer name;
  int held = -1;
  FileIdentity tapeFile;
  const int directory = files.openDirectoryOf(path, name, held);
  bool known = directory >= 0 && files.identifyAt(directory, name.c_str(), tapeFile) &&
               tapeFile.kind != FileKind::Other;
  if (directory >= 0) files.close(directory);
  const int tape = held >= 0 ? files.duplicate(held) : -1;
  known = known || (tape >= 0 && files.identify(tape, tapeFile));
  const int console = files.duplicate(standardOutput);
  FileIdentity consoleFile;
  const bool same = known && console >= 0 && files.identify(console, consoleFile) &&
                    tapeFile.isSameFileAs(consoleFile);
  if (tape >= 0) files.close(tape);
  if (console >= 0) files.close(console);
  return same;
}
