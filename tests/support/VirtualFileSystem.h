#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/FileSystem.h"

// Files in memory, for tests and fuzzers: paths name inodes (so hard links
// and symbolic links can be made), every operation is counted, and any one of
// them can be made to fail on demand. Directories are not modelled beyond
// the ones made with makeDirectory; every other directory exists.
class VirtualFileSystem final : public FileSystem {
 public:
  using Bytes = std::vector<std::uint8_t>;

  enum Operation {
    OpenInput,
    Identify,
    IdentifyPath,
    Measure,
    Read,
    Resolve,
    Exists,
    OpenExisting,
    OpenSpecial,
    CreateTemporary,
    CopyAttributes,
    Truncate,
    Write,
    Close,
    Replace,
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

  // Looking at them afterwards.
  bool holds(const std::string& path) const;
  const Bytes& contents(const std::string& path) const;
  std::uint32_t permissionsOf(const std::string& path) const;
  // Every path present, symbolic links included, in order.
  std::vector<std::string> paths() const;
  std::size_t calls(Operation operation) const { return callCounts[operation]; }
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

  // FileSystem.
  int openInput(const char* path) override;
  bool identify(int descriptor, FileIdentity& identity) override;
  bool identifyPath(const char* path, FileIdentity& identity) override;
  bool measure(int descriptor, std::uint64_t& size) override;
  std::int64_t read(int descriptor, void* buffer, std::size_t count) override;
  bool exists(const char* path) override;
  bool resolve(const char* path, PathBuffer& resolved) override;
  int openExisting(const char* path) override;
  int openSpecial(const char* path) override;
  int createTemporary(const char* path, PathBuffer& name, bool& refused) override;
  bool copyAttributes(int descriptor, const FileIdentity& from) override;
  bool truncate(int descriptor) override;
  std::int64_t write(int descriptor, const void* data, std::size_t count) override;
  bool close(int descriptor) override;
  bool replace(const char* from, const char* to) override;
  bool removeIfSame(const char* path, const FileIdentity& identity) override;
  void guardPartialOutput(const PartialOutput* partial) override { guardedPartial = partial; }
  void holdInterruptions(bool hold) override { interruptionsHeld = hold; }
  bool holdsInterruptions() const { return interruptionsHeld; }

 private:
  struct Descriptor {
    std::uint64_t inode = 0;
    bool forWriting = false;
    std::size_t position = 0;
    bool open = true;
  };

  bool fails(Operation operation);
  std::string follow(const std::string& path) const;
  const std::uint64_t* inodeAt(const std::string& path) const;
  std::uint64_t newInode(FileKind kind, const Bytes& data);
  int openDescriptor(std::uint64_t inode, bool forWriting);
  Descriptor* find(int descriptor);
  FileIdentity identityOf(std::uint64_t inode) const;
  bool mayCreateIn(const std::string& path) const;

  std::map<std::uint64_t, File> files;
  std::map<std::string, std::uint64_t> names;
  std::map<std::string, std::string> links;
  std::map<std::string, bool> directories;
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
