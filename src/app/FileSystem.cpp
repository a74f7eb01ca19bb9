#include "app/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

FileKind kindOf(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::Regular;
  if (S_ISDIR(mode)) return FileKind::Directory;
  if (S_ISFIFO(mode)) return FileKind::Fifo;
  if (S_ISCHR(mode)) return FileKind::CharacterDevice;
  if (S_ISBLK(mode)) return FileKind::BlockDevice;
  return FileKind::Other;
}

void describe(const struct stat& status, FileIdentity& identity) {
  identity.kind = kindOf(status.st_mode);
  identity.device = static_cast<std::uint64_t>(status.st_dev);
  identity.inode = static_cast<std::uint64_t>(status.st_ino);
}

}  // namespace

int SystemFileSystem::openInput(const char* path) { return ::open(path, O_RDONLY | O_CLOEXEC); }

bool SystemFileSystem::identify(int descriptor, FileIdentity& identity) {
  struct stat status {};
  if (::fstat(descriptor, &status) != 0) return false;
  describe(status, identity);
  return true;
}

bool SystemFileSystem::identifyPath(const char* path, FileIdentity& identity) {
  struct stat status {};
  if (::stat(path, &status) != 0) return false;
  describe(status, identity);
  return true;
}

bool SystemFileSystem::measure(int descriptor, std::uint64_t& size) {
  const off_t end = ::lseek(descriptor, 0, SEEK_END);
  if (end < 0 || ::lseek(descriptor, 0, SEEK_SET) != 0) return false;
  size = static_cast<std::uint64_t>(end);
  return true;
}

std::int64_t SystemFileSystem::read(int descriptor, void* buffer, std::size_t count) {
  ssize_t result = 0;
  do {
    result = ::read(descriptor, buffer, count);
  } while (result < 0 && errno == EINTR);
  return result;
}

int SystemFileSystem::createOutput(const char* path) {
  return ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

std::int64_t SystemFileSystem::write(int descriptor, const void* data, std::size_t count) {
  ssize_t result = 0;
  do {
    result = ::write(descriptor, data, count);
  } while (result < 0 && errno == EINTR);
  return result;
}

bool SystemFileSystem::close(int descriptor) { return ::close(descriptor) == 0; }

bool SystemFileSystem::remove(const char* path) {
  char resolved[PATH_MAX];
  const char* target = ::realpath(path, resolved) != nullptr ? resolved : path;
  return ::unlink(target) == 0;
}

SystemFileSystem& systemFileSystem() {
  static SystemFileSystem instance;
  return instance;
}
