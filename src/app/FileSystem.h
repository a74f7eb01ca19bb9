#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The file operations the conversions need, as an interface so that tests can
// make any one of them fail and so that each platform supplies its own.
// Paths are UTF-8 byte strings; descriptors are small integers handed out by
// the implementation.
enum class FileKind { Regular, Directory, Fifo, CharacterDevice, BlockDevice, Other };

struct FileIdentity {
  FileKind kind = FileKind::Other;
  // Device and inode on POSIX; volume serial number and file index on Windows.
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t linkCount = 1;
  // Permission bits as the platform keeps them (the mode's low 12 bits on POSIX).
  std::uint32_t permissions = 0;
  // The owning user and group where the platform has them.
  std::uint32_t owner = 0;
  std::uint32_t group = 0;

  bool isSameFileAs(const FileIdentity& other) const {
    return device == other.device && inode == other.inode;
  }
};

// A path the file system worked out, kept in a fixed buffer so that no
// conversion needs the heap. Always NUL-terminated.
struct PathBuffer {
  static constexpr std::size_t capacity = 4096;
  std::array<char, capacity> text{};

  const char* c_str() const { return text.data(); }
  // Copies path in whole; false, changing nothing, when it does not fit.
  bool assign(const char* path);
};

// What must be undone if the process is interrupted while it writes: the
// partial file at path is removed (after being truncated through descriptor
// when it is written in place), provided it is still the file identified.
struct PartialOutput {
  const char* path = nullptr;
  FileIdentity identity;
  int descriptor = -1;
  bool truncateFirst = false;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Each returns -1 (or false) on failure, like the system calls behind it.
  virtual int openInput(const char* path) = 0;
  virtual bool identify(int descriptor, FileIdentity& identity) = 0;
  // Follows symbolic links.
  virtual bool identifyPath(const char* path, FileIdentity& identity) = 0;
  // Seeks to the end to learn the size, then back to the start.
  virtual bool measure(int descriptor, std::uint64_t& size) = 0;
  virtual std::int64_t read(int descriptor, void* buffer, std::size_t count) = 0;

  // Whether anything at all has the name path, a dangling symbolic link too.
  virtual bool exists(const char* path) = 0;
  // The file that path finally names, symbolic links followed, for an
  // existing path; false when it cannot be worked out.
  virtual bool resolve(const char* path, PathBuffer& resolved) = 0;
  // Opens an existing file for writing without changing it.
  virtual int openExisting(const char* path) = 0;
  // Opens a special file (a FIFO, a device) for writing.
  virtual int openSpecial(const char* path) = 0;
  // Creates a new file with default permissions and a name of its own,
  // starting with ".reelmake-", in the directory of path, and tells its
  // name. On failure, refused says whether the directory does not let this
  // user add a file (rather than, say, being full), which is when writing in
  // place is the way out.
  virtual int createTemporary(const char* path, PathBuffer& name, bool& refused) = 0;
  // Gives the file open at descriptor the owner, group and permission bits
  // of the file identified; false when the platform or the user cannot.
  virtual bool copyAttributes(int descriptor, const FileIdentity& from) = 0;
  virtual bool truncate(int descriptor) = 0;
  virtual std::int64_t write(int descriptor, const void* data, std::size_t count) = 0;
  virtual bool close(int descriptor) = 0;
  // Puts the file at from in the place of to, in one step.
  virtual bool replace(const char* from, const char* to) = 0;
  // Removes path only if it still names the file identified.
  virtual bool removeIfSame(const char* path, const FileIdentity& identity) = 0;

  // Arms (or, with null, disarms) the clean-up that an interruption runs.
  virtual void guardPartialOutput(const PartialOutput* partial) = 0;
  // Holds interruptions back (or lets them through again) while a partial
  // output comes into being and before its clean-up is armed.
  virtual void holdInterruptions(bool hold) = 0;
};

// The platform's own file system.
FileSystem& systemFileSystem();

// Writes into name a file name, ".reelmake-" and six letters chosen
// by seed, in the directory of path; the directory ends at the last of the
// separators in path. False when it does not fit.
bool temporaryNameNear(const char* path, const char* separators, std::uint64_t seed,
                       PathBuffer& name);
