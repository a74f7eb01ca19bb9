#pragma once

#include <cstddef>
#include <cstdint>

// The few file operations the conversions need, as an interface so that tests
// can make any one of them fail. Descriptors are plain POSIX descriptors.
enum class FileKind { Regular, Directory, Fifo, CharacterDevice, BlockDevice, Other };

struct FileIdentity {
  FileKind kind = FileKind::Other;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Each returns -1 (or false) on failure, like the system calls behind it.
  virtual int openInput(const char* path) = 0;
  virtual bool identify(int descriptor, FileIdentity& identity) = 0;
  virtual bool identifyPath(const char* path, FileIdentity& identity) = 0;
  // Seeks to the end to learn the size, then back to the start.
  virtual bool measure(int descriptor, std::uint64_t& size) = 0;
  virtual std::int64_t read(int descriptor, void* buffer, std::size_t count) = 0;
  virtual int createOutput(const char* path) = 0;
  virtual std::int64_t write(int descriptor, const void* data, std::size_t count) = 0;
  virtual bool close(int descriptor) = 0;
  // Removes the regular file that path names, through a symbolic link too.
  virtual bool remove(const char* path) = 0;
};

class SystemFileSystem : public FileSystem {
 public:
  int openInput(const char* path) override;
  bool identify(int descriptor, FileIdentity& identity) override;
  bool identifyPath(const char* path, FileIdentity& identity) override;
  bool measure(int descriptor, std::uint64_t& size) override;
  std::int64_t read(int descriptor, void* buffer, std::size_t count) override;
  int createOutput(const char* path) override;
  std::int64_t write(int descriptor, const void* data, std::size_t count) override;
  bool close(int descriptor) override;
  bool remove(const char* path) override;
};

SystemFileSystem& systemFileSystem();
