#pragma once

#include <cstdint>
#include <span>

#include "app/FileSystem.h"
#include "app/ProcessControl.h"

// The output of one conversion, written so that a failure never damages what
// was there before.
//
// - A regular file, new or existing, is written to a temporary file that only
//   its owner may read, beside the file the path finally names, which then
//   takes its place in one step with the owner, group, permissions and access
//   list of the file it replaces (or those of any new file). The old file is
//   only ever looked at, never opened for writing.
// - An existing file with other names (hard links) is written in place, so
//   that every name sees the new tape, as is one whose directory refuses a
//   new file or lets none be renamed, whose owner or access list the
//   replacement could not keep, or that is a mount point. Such a file is
//   locked against other runs, for about ten seconds at most; if writing
//   fails it is emptied, and its name removed unless it is a mount point.
//   A new file in a directory that lets none be renamed is made under its
//   own name, private until it is complete.
// - A name that cannot be looked at although something has it (a dangling
//   symbolic link, say) is refused rather than replaced.
// - A descriptor the program holds (/dev/stdout and every other name of one)
//   is written through, at its position and with its flags; anything else (a
//   FIFO, a terminal, a device) is written in place. Neither is ever emptied
//   or removed.
// Only the very file opened for writing is ever truncated or removed, and
// every file is reached through the directory that held it at the first look.
class OutputFile {
 public:
  using Pieces = std::span<const std::span<const std::uint8_t>>;

  OutputFile(FileSystem& files, ProcessControl& process) noexcept
      : files(files), process(process) {}
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // The file that must never be written: the input, which a hard link or a
  // file system that cannot be looked at by name may hide from a comparison
  // of names.
  void keepApart(const FileIdentity& input) {
    kept = input;
    keepsApart = true;
  }
  // False when the output cannot be created or may not be written.
  bool open(const char* path);
  // After open failed: whether the output is the file kept apart.
  bool isKeptApart() const { return foundKeptApart; }
  // After open failed: whether another process kept the output locked, or
  // otherwise held it, for too long.
  bool lockedOut() const { return heldTooLong; }
  // Writes the pieces in order and puts the tape in place; false, with the
  // output as it was (or emptied, in place), on failure.
  bool store(Pieces pieces);

 private:
  enum class Placement { None, Replacing, InPlace, Special };
  enum class Attempt { Opened, Refused, Failed };

  bool openSpecial(const char* path);
  bool openSpecialHere();
  bool adoptSpecial(int opened);
  bool adopt(int opened);
  bool openNewFile();
  bool createInPlace();
  bool openExistingFile(const FileIdentity& found);
  bool reopenInPlace(bool removable);
  Attempt openReplacement();
  bool openInPlace(int opened, bool removable);
  bool lock();
  template <typename Open>
  int openWithinBound(Open open);
  bool storeAnotherWay(Pieces pieces);
  void writeAll(Pieces pieces);
  Placing commit();
  Placing putInPlace();
  void emptyStrayTemporary();
  void guard(const char* guardedName, bool inPlace, bool removable);
  void emptyAndRemove();
  void abandon();
  void closeOriginal();

  FileSystem& files;
  ProcessControl& process;
  Placement placement = Placement::None;
  int directory = -1;
  int descriptor = -1;
  // The file replaced, opened only to be looked at.
  int original = -1;
  bool failed = false;
  bool replacing = false;
  bool created = false;
  bool removeName = true;
  bool heldTooLong = false;
  bool keepsApart = false;
  bool foundKeptApart = false;
  FileIdentity kept;
  // Pauses left for waiting on other processes, about ten seconds in all.
  int pausesLeft = 199;
  PathBuffer name;
  PathBuffer temporary;
  FileIdentity replaced;
  FileIdentity written;
  PartialOutput partial;
};

// Whether path leads to the file standard output writes to, by any name.
bool leadsToStandardOutput(FileSystem& files, const char* path);
