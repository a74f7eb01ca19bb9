#pragma once

#include <cstdint>
#include <span>

#include "app/FileSystem.h"

// The output of one conversion, written so that a failure never damages what
// was there before.
//
// - A regular file, new or existing, is written to a temporary file beside
//   the file the path finally names, which then takes its place in one step
//   and keeps the owner, group and permissions of the file it replaces.
// - An existing file with other names (hard links) is written in place, so
//   that every name sees the new tape, as is one whose directory refuses a
//   new file or whose owner the replacement could not keep; such a file is
//   emptied and removed if writing fails.
// - A name that cannot be looked at although something has it (a dangling
//   symbolic link, say) is refused rather than replaced.
// - Anything else (a FIFO, a terminal, a device) is written in place and
//   never removed.
// Only the very file opened for writing is ever truncated or removed.
class OutputFile {
 public:
  explicit OutputFile(FileSystem& files) noexcept : files(files) {}
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // False when the output cannot be created or may not be written.
  bool open(const char* path);
  // Writes all the bytes; false once any write has failed.
  bool write(std::span<const std::uint8_t> bytes);
  // Puts the tape in place; false, with the output as it was, on failure.
  bool commit();

 private:
  enum class Placement { None, Replacing, InPlace, Special };
  enum class Attempt { Opened, Refused, Failed };

  bool openSpecial(const char* path);
  bool openNewFile(const char* path);
  bool openExistingFile(const char* path);
  Attempt openReplacement(const char* path, const FileIdentity* replaced);
  bool openInPlace(int descriptor);
  void guard(const char* path, bool truncateFirst);
  void emptyAndRemove();
  void abandon();

  FileSystem& files;
  Placement placement = Placement::None;
  int descriptor = -1;
  bool failed = false;
  PathBuffer target;
  PathBuffer temporary;
  FileIdentity written;
  PartialOutput partial;
};
