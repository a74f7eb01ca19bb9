#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/FileSystem.h"
#include "app/ProcessControl.h"

// Files in memory, for tests and fuzzers: paths name inodes (so hard links
// and symbolic links can be made), every operation is counted, and any one of
// them can be made to fail on demand. Directories are not modelled beyond
// the ones made with makeDirectory; every other directory exists. An open
// directory follows its directory when moveDirectory moves it. Descriptors
// count from 0, as the Windows platform's do; /dev/fd lists the ones the
// program holds. It stands for the process too: its pauses, holds and
// clean-ups are recorded.
// Operations that may wait (opening with wait, locking, opening a special
// file) must not run while interruptions are held, and a temporary file must
// not be made while they pass: either throws.
class VirtualFileSystem final : public FileSystem, public ProcessControl {
 public:
  using Bytes = std::vector<std::uint8_t>;

  enum Operation {
    OpenInput,
    Identify,
    IdentifyPath,
    Measure,
    Read,
    Duplicate,
    OpenDirectory,
    IdentifyAt,
    LookAt,
    MayWrite,
    OpenExisting,
    OpenSpecial,
    Lock,
    CreateTemporary,
    CreateNew,
    CopyOwner,
    SetFinalPermissions,
    Truncate,
    Write,
    Close,
    PutInPlace,
    RemoveIfSame,
    operationCount
  };

  struct File {
    FileKind kind = FileKind::Regular;
    Bytes data;
    std::uint32_t permissions = 0644;
    std::uint32_t owner = 0;
  };

  VirtualFileSystem() { failAfter.fill(SIZE_MAX); }

  // Making files.
  void create(const std::string& path, const Bytes& data, FileKind kind = FileKind::Regular);
  void makeDirectory(const std::string& path, bool writable = true);
  void link(const std::string& existing, const std::string& path);
  void symlink(const std::string& target, const std::string& path);
  void setPermissions(const std::string& path, std::uint32_t permissions);
  // Owned by another user, whom this one cannot give a file.
  void giveAway(const std::string& path);
  // Descriptor number held open by the program on the file at path.
  void holdOpen(int number, const std::string& path) { held[number] = path; }
  // A directory whose files can be added but neither renamed nor removed,
  // and that does not say so beforehand.
  void makeAppendOnly(const std::string& path) { appendOnly.push_back(path); }
  // Moves a directory and everything in it, as another user might.
  void moveDirectory(const std::string& from, const std::string& to);

  // Looking at them afterwards.
  bool holds(const std::string& path) const;
  const Bytes& contents(const std::string& path) const;
  std::uint32_t permissionsOf(const std::string& path) const;
  // Every path present, symbolic links included, in order.
  std::vector<std::string> paths() const;
  std::size_t calls(Operation operation) const { return callCounts[operation]; }
  // How often the file at path was opened for writing.
  std::size_t writeOpens(const std::string& path) const;
  bool allClosed() const;
  const PartialOutput* guarded() const { return guardedPartial; }

  // Faults: the call after `succeeding` successful ones fails, and all after it.
  void failOn(Operation operation, std::size_t succeeding = 0) {
    failAfter[operation] = succeeding;
  }
  std::size_t readChunk = 0;       // most bytes one read delivers (0: no limit)
  std::size_t writeChunk = 0;      // most bytes one write takes (0: no limit)
  std::int64_t writeLimit = -1;    // bytes written in all before writes fail (-1: none)
  std::uint64_t measureExtra = 0;  // measured size exceeds the data by this much
  bool measureOnlyRegular = true;  // pipes and devices cannot seek
  std::uint32_t umask = 022;
  std::size_t longestName = 255;
  std::size_t busyPlacings = 0;  // placings that find the target busy first
  std::size_t busyLocks = 0;     // tries for a lock that find it taken first
  std::size_t busyOpens = 0;     // opens without waiting that find a lease first
  std::vector<std::string> mountPoints;

  // FileSystem.
  int openInput(const char* path) override;
  bool identify(int descriptor, FileIdentity& identity) override;
  bool identifyPath(const char* path, FileIdentity& identity) override;
  bool measure(int descriptor, std::uint64_t& size) override;
  std::int64_t read(int descriptor, void* buffer, std::size_t count) override;
  bool namesSpecialFile(const char* /*path*/) override { return false; }
  int openSpecial(const char* path) override;
  int openDirectoryOf(const char* path, PathBuffer& name, int& held) override;
  int duplicate(int number) override;
  bool identifyAt(int directory, const char* name, FileIdentity& identity) override;
  int lookAt(int directory, const char* name) override;
  bool mayWrite(int directory, const char* name) override;
  int openExisting(int directory, const char* name, bool wait) override;
  Locking tryLock(int descriptor) override;
  int createTemporary(int directory, PathBuffer& name, bool& refused) override;
  int createNew(int directory, const char* name) override;
  bool copyOwner(int descriptor, int original) override;
  bool setFinalPermissions(int descriptor, int directory, int original) override;
  bool truncate(int descriptor) override;
  std::int64_t write(int descriptor, const void* data, std::size_t count) override;
  bool close(int descriptor) override;
  Placing putInPlace(int descriptor, int directory, const char* from, const FileIdentity& identity,
                     const char* to) override;
  bool removeOpen(int /*descriptor*/) override { return false; }
  bool removeIfSame(int directory, const char* name, const FileIdentity& identity) override;

  // ProcessControl.
  void pauseBriefly() override { ++pauses; }
  void guardPartialOutput(const PartialOutput* partial) override { guardedPartial = partial; }
  void holdInterruptions(bool hold) override { interruptionsHeld = hold; }
  std::size_t pauses = 0;
  // Runs as each operation is made, as another process might act meanwhile.
  std::function<void(Operation)> beforeEach;
  bool holdsInterruptions() const { return interruptionsHeld; }

 private:
  struct Descriptor {
    std::uint64_t inode = 0;
    bool forWriting = false;
    std::size_t position = 0;
    bool open = true;
    std::string directory;  // for an open directory, its path
  };

  bool fails(Operation operation);
  std::string follow(const std::string& path) const;
  const std::uint64_t* inodeAt(const std::string& path) const;
  std::uint64_t newInode(FileKind kind, const Bytes& data);
  // An open directory has inode 0 and its path.
  int openDescriptor(std::uint64_t inode, bool forWriting, const std::string& directory = {});
  Descriptor* find(int descriptor);
  FileIdentity identityOf(std::uint64_t inode) const;
  bool mayCreateIn(const std::string& path) const;
  bool isAppendOnly(const std::string& path) const;
  std::string pathAt(int directory, const char* name);
  void mustNotWait() const;

  std::map<std::uint64_t, File> files;
  std::map<std::string, std::uint64_t> names;
  std::map<std::string, std::string> links;
  std::map<std::string, bool> directories;
  std::map<int, std::string> held;
  std::vector<std::string> appendOnly;
  std::vector<Descriptor> descriptors;
  std::uint64_t nextInode = 1;
  std::size_t temporaryCount = 0;
  std::int64_t bytesWritten = 0;
  std::size_t callCounts[operationCount] = {};
  std::size_t successCounts[operationCount] = {};
  std::array<std::size_t, operationCount> failAfter{};
  const PartialOutput* guardedPartial = nullptr;
  bool interruptionsHeld = false;
};
