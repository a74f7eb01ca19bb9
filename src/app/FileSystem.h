#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The file operations the conversions need, as an interface so that tests can
// make any one of them fail and so that each platform supplies its own.
// Paths are UTF-8 byte strings; descriptors are small integers handed out by
// the implementation. An output is reached through the directory that held
// it at the first look: once that directory is open, what anybody does to the
// components of the path cannot send the tape, or a clean-up, anywhere else.
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
  // Attributes a replacement keeps where the platform has them (hidden and
  // system on Windows).
  std::uint32_t attributes = 0;

  bool isSameFileAs(const FileIdentity& other) const {
    return device == other.device && inode == other.inode;
  }
};

// A path the file system worked out, kept in a fixed buffer so that no
// conversion needs the heap. Always NUL-terminated.
struct PathBuffer {
  static constexpr std::size_t capacity = 4096;
  // Only the end of the empty text is set: filling the rest would cost more
  // than the whole conversion's own work.
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-member-init)
  PathBuffer() { text[0] = '\0'; }
  std::array<char, capacity> text;

  const char* c_str() const { return text.data(); }
  // Copies path in whole; false, changing nothing, when it does not fit.
  bool assign(const char* path);
};

// What must be undone if the process is interrupted while it writes: the
// partial file called name in directory is emptied through descriptor when it
// is written in place, and the name is removed, provided it still names the
// file identified.
struct PartialOutput {
  int directory = -1;
  const char* name = nullptr;
  FileIdentity identity;
  int descriptor = -1;
  bool truncateFirst = false;
  bool removeName = true;
};

// How putting a finished temporary file in place ended: Busy when another
// process has the file open for a moment (a virus scanner on Windows), and
// trying again shortly may succeed; Refused when the directory lets no file
// be renamed or removed (an append-only directory), which leaves the
// temporary file where it is.
enum class Placing { Done, Busy, MountPoint, Refused, Failed };

// How a try for the lock on an output written in place ended.
enum class Locking { Locked, Busy, Failed };

// What lookAt and openExisting without wait return, instead of a descriptor,
// when another process holds the file for a moment (while a lease on it is
// broken, say): trying again shortly may succeed.
constexpr int busyDescriptor = -2;

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

  // Whether path is a name the system itself resolves to a device or a
  // stream, never to a file of a directory (on Windows CON, NUL, a pipe, a
  // stream of a file): such a name is only ever opened with openSpecial.
  virtual bool namesSpecialFile(const char* path) = 0;
  // Opens a special file (a device, a pipe, a stream) by its name for writing.
  virtual int openSpecial(const char* path) = 0;
  // Follows path from the working directory to the directory that holds what
  // it finally names, symbolic links in its last component followed there,
  // and tells its name in that directory. Fails for a last component that is
  // none (., .., empty), that the directory would not take, or that is a
  // symbolic link leading nowhere. When path leads to a descriptor the program
  // holds (/dev/stdout, /dev/fd/N and every other way of naming one), opens
  // nothing, returns -1 and tells the descriptor in held.
  virtual int openDirectoryOf(const char* path, PathBuffer& name, int& held) = 0;
  // A descriptor of its own for the open file held, sharing its position and
  // flags; fails for one the program did not hold when it started.
  virtual int duplicate(int held) = 0;
  // What has name in directory, a symbolic link not followed; false when
  // there is nothing. Something that cannot be looked at is of kind Other.
  virtual bool identifyAt(int directory, const char* name, FileIdentity& identity) = 0;
  // Opens the regular file name in directory to learn about it (owner, access
  // list), never for writing, without waiting and without following a link.
  virtual int lookAt(int directory, const char* name) = 0;
  // Whether this user may write the file name in directory, and replace it,
  // asked of the system without opening it.
  virtual bool mayWrite(int directory, const char* name) = 0;
  // Opens the existing file name in directory for writing without changing
  // it; a symbolic link there is not followed. Without wait, it fails rather
  // than wait for anything (the reader of a FIFO, a lease to be broken).
  virtual int openExisting(int directory, const char* name, bool wait) = 0;
  // Tries, without waiting, to keep other runs from writing the file in
  // place until it is closed. Locked where the platform cannot lock.
  virtual Locking tryLock(int descriptor) = 0;
  // Creates a new file in directory that only its owner may use, with a
  // name of its own starting with ".reelmake-", and tells the name. On
  // failure, refused says whether the directory does not let this user add
  // a file, or lets no file there be renamed or removed (rather than, say,
  // being full), which is when writing in place is the way out.
  virtual int createTemporary(int directory, PathBuffer& name, bool& refused) = 0;
  // Creates the new file name in directory, which only its owner may use.
  virtual int createNew(int directory, const char* name) = 0;
  // Gives the file open at descriptor the owner and group (on Windows the
  // security settings) of the file open at original; false when the platform
  // or the user cannot, or when what setFinalPermissions would carry over
  // cannot be read.
  virtual bool copyOwner(int descriptor, int original) = 0;
  // Gives a finished file the permissions, access list and attributes of the
  // file open at original, or, without one (-1), those that a file created
  // in directory with the widest ordinary permissions would get.
  virtual bool setFinalPermissions(int descriptor, int directory, int original) = 0;
  virtual bool truncate(int descriptor) = 0;
  virtual std::int64_t write(int descriptor, const void* data, std::size_t count) = 0;
  virtual bool close(int descriptor) = 0;
  // Puts the temporary file open at descriptor, called from in directory,
  // in the place of to, in one step. Unless Busy, the descriptor is closed;
  // unless Refused, a temporary file that did not take the place is removed.
  virtual Placing putInPlace(int descriptor, int directory, const char* from,
                             const FileIdentity& identity, const char* to) = 0;
  // Removes the file open at descriptor through it, where the platform can.
  virtual bool removeOpen(int descriptor) = 0;
  // Removes name from directory only if it still names the file identified.
  virtual bool removeIfSame(int directory, const char* name, const FileIdentity& identity) = 0;

  // Closes the temporary file open at descriptor (if any), called name in
  // directory, and removes it, through the descriptor or else by its name if
  // that still leads to it.
  void discardTemporary(int descriptor, int directory, const char* name,
                        const FileIdentity& identity);
};

// The platform's own file system.
FileSystem& systemFileSystem();

// Writes into name ".reelmake-" and six letters chosen by seed.
void temporaryName(std::uint64_t seed, PathBuffer& name);
