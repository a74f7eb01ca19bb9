#pragma once

#include <cstdint>
#include <span>

#include "app/FileSystem.h"

// The output of one conversion, written so that a failure never damages what
// was there before.
//
// - A regular file, new or existing, is written to a temporary file that only
//   its owner may read, beside the file the path finally names, which then
//   takes its place in one step with the owner, group and permissions of the
//   file it replaces (or those of any new file).
// - An existing file with other names (hard links) is written in place, so
//   that every name sees the new tape, as is one whose directory refuses a
//   new file, whose owner the replacement could not keep, or that is a mount
//   point. One run at a time writes such a file; if writing fails it is
//   emptied, and its name removed unless it is a mount point.
// - A name that cannot be looked at although something has it (a dangling
//   symbolic link, say) is refused rather than replaced.
// - A descriptor the program holds (/dev/stdout and the like) is written
//   through, at its position and with its flags; anything else (a FIFO, a
//   terminal, a device) is written in place. Neither is ever emptied or removed.
// Only the very file opened for writing is ever truncated or removed, and
// every file is reached through the directory that held it at the first look.
class OutputFile {
 public:
  using Pieces = std::span<const std::span<const std::uint8_t>>;

  explicit OutputFile(FileSystem& files) noexcept : files(files) {}
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // False when the output cannot be created or may not be written.
  bool open(const char* path);
  // Writes the pieces in order and puts the tape in place; false, with the
  // output as it was (or emptied, in place), on failure.
  bool store(Pieces pieces);

 private:
  enum class Placement { None, Replacing, InPlace, Special };
  enum class Attempt { Opened, Refused, Failed };

  bool openSpecial(const char* path);
  bool adopt(int opened);
  bool openDirectory(const char* path);
  bool openNewFile(const char* path);
  bool openExistingFile(const char* path);
  Attempt openReplacement(int original);
  bool openInPlace(int opened, bool removable);
  bool storeInMountPoint(Pieces pieces);
  void writeAll(Pieces pieces);
  Placing commit();
  Placing putInPlace();
  void guard(const char* guardedName, bool inPlace, bool removable);
  void emptyAndRemove();
  void abandon();

  FileSystem& files;
  Placement placement = Placement::None;
  int directory = -1;
  int descriptor = -1;
  bool failed = false;
  bool replacing = false;
  bool removeName = true;
  PathBuffer name;
  PathBuffer temporary;
  FileIdentity replaced;
  FileIdentity written;
  PartialOutput partial;
};
