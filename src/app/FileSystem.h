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
  std::array<char, capacity> text{};

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
// trying again shortly may succeed.
enum class Placing { Done, Busy, MountPoint, Failed };

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

  // Whether path names a descriptor the program already holds (/dev/stdout,
  // /dev/fd/N and the like), and which.
  virtual bool namesDescriptor(const char* path, int& held) = 0;
  // A descriptor of its own for the open file held, sharing its position and
  // flags.
  virtual int duplicate(int held) = 0;
  // The file that path finally names, symbolic links followed, for an
  // existing path; false when it cannot be worked out.
  virtual bool resolve(const char* path, PathBuffer& resolved) = 0;
  // Opens the directory that holds the last component of path, following
  // links on the way, and tells that component. Fails when there is none,
  // or when the directory would not take a name that long.
  virtual int openDirectoryOf(const char* path, PathBuffer& name) = 0;
  // Whether anything at all has name in directory, a dangling symbolic link too.
  virtual bool existsAt(int directory, const char* name) = 0;
  // Opens the existing file name in directory for writing without changing
  // it; a symbolic link there is not followed. Without wait, it fails rather
  // than wait for anything (the reader of a FIFO, a lease to be broken).
  virtual int openExisting(int directory, const char* name, bool wait) = 0;
  // Opens a special file (a FIFO, a device) for writing.
  virtual int openSpecial(const char* path) = 0;
  // Waits until no other run writes the file in place, and keeps the others
  // out until it is closed. True where the platform cannot lock.
  virtual bool lock(int descriptor) = 0;
  // Creates a new file in directory that only its owner may use, with a
  // name of its own starting with ".reelmake-", and tells the name. On
  // failure, refused says whether the directory does not let this user add
  // a file (rather than, say, being full), which is when writing in place is
  // the way out.
  virtual int createTemporary(int directory, PathBuffer& name, bool& refused) = 0;
  // Gives the file open at descriptor the owner and group (on Windows the
  // security settings) of the file open at original; false when the platform
  // or the user cannot.
  virtual bool copyOwner(int descriptor, int original) = 0;
  // Gives a finished file the permissions and attributes of the file it
  // replaces, or those of a new file in directory when it replaces none.
  virtual bool setFinalPermissions(int descriptor, int directory, const FileIdentity* replaced) = 0;
  virtual bool truncate(int descriptor) = 0;
  virtual std::int64_t write(int descriptor, const void* data, std::size_t count) = 0;
  virtual bool close(int descriptor) = 0;
  // Puts the temporary file open at descriptor, called from in directory,
  // in the place of to, in one step. Unless Busy, the descriptor is closed,
  // and a temporary file that did not take the place is removed.
  virtual Placing putInPlace(int descriptor, int directory, const char* from,
                             const FileIdentity& identity, const char* to) = 0;
  // Closes the temporary file open at descriptor, called name in directory,
  // and removes it if the name still leads to it.
  virtual void discardTemporary(int descriptor, int directory, const char* name,
                                const FileIdentity& identity) = 0;
  // Removes name from directory only if it still names the file identified.
  virtual bool removeIfSame(int directory, const char* name, const FileIdentity& identity) = 0;

  // Waits a little before the next try of a Busy placing.
  virtual void pauseBriefly() = 0;

  // Arms (or, with null, disarms) the clean-up that an interruption runs.
  virtual void guardPartialOutput(const PartialOutput* partial) = 0;
  // Holds interruptions back (or lets them through again) while a partial
  // output comes into being and before its clean-up is armed.
  virtual void holdInterruptions(bool hold) = 0;
};

// The platform's own file system.
FileSystem& systemFileSystem();

// Writes into name ".reelmake-" and six letters chosen by seed.
void temporaryName(std::uint64_t seed, PathBuffer& name);
