#include "app/FileSystem.h"

#include <cstring>

bool PathBuffer::assign(const char* path) {
  const std::size_t length = std::strlen(path);
  if (length >= capacity) return false;
  std::memcpy(text.data(), path, length + 1);
  return true;
}

void temporaryName(std::uint64_t seed, PathBuffer& name) {
  // Letters that are safe in a file name on every file system.
  static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  static constexpr char prefix[] = ".reelmake-";
  constexpr std::size_t randomLetters = 6;
  char* out = name.text.data();
  std::memcpy(out, prefix, sizeof prefix - 1);
  out += sizeof prefix - 1;
  for (std::size_t i = 0; i < randomLetters; ++i) {
    *out++ = letters[seed % (sizeof letters - 1)];
    seed /= sizeof letters - 1;
  }
  *out = '\0';
}

void FileSystem::discardTemporary(int descriptor, int directory, const char* name,
                                  const FileIdentity& identity) {
  const bool removed = descriptor >= 0 && removeOpen(descriptor);
  if (descriptor >= 0) close(descriptor);
  if (!removed) removeIfSame(directory, name, identity);
}
