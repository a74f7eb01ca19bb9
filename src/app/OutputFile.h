#pragma once

#include <cstdint>
#include <span>

#include "app/FileSystem.h"

// The output of one conversion, written so that a failure never damages what
// was there before.
//
// - A regular file, new or existing, is written to a temporary file beside
//   the file the path finally names, which then takes its place in one step
//   and keeps the permissions of the file it replaces.
// - An existing file with other names (hard links) is written in place, so
//   that every name sees the new tape, as is one whose directory cannot take
//   a new file; such a file is emptied and removed if writing fails.
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

  bool openHeld(const char* path);
  bool isNew(const char* path);
  bool openReplacement(const char* path, const std::uint32_t* permissions);
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
