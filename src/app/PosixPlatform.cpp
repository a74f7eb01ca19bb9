#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/FileSystem.h"
#include "app/Platform.h"

namespace {

FileKind kindOf(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::Regular;
  if (S_ISDIR(mode)) return FileKind::Directory;
  if (S_ISFIFO(mode)) return FileKind::Fifo;
  if (S_ISCHR(mode)) return FileKind::CharacterDevice;
  if (S_ISBLK(mode)) return FileKind::BlockDevice;
  return FileKind::Other;
}

FileIdentity describe(const struct stat& status) {
  FileIdentity identity;
  identity.kind = kindOf(status.st_mode);
  identity.device = static_cast<std::uint64_t>(status.st_dev);
  identity.inode = static_cast<std::uint64_t>(status.st_ino);
  identity.linkCount = static_cast<std::uint64_t>(status.st_nlink);
  identity.permissions = static_cast<std::uint32_t>(status.st_mode & 07777);
  return identity;
}

bool isStill(const char* path, const FileIdentity& identity) {
  struct stat status {};
  return ::lstat(path, &status) == 0 && describe(status).isSameFileAs(identity);
}

// The partial output an interruption must remove. Written only while no
// clean-up is armed, read by the signal handler only while one is.
struct InterruptCleanup {
  PathBuffer path;
  FileIdentity identity;
  int descriptor = -1;
  bool truncateFirst = false;
};
InterruptCleanup cleanup;
volatile std::sig_atomic_t cleanupArmed = 0;

// Only async-signal-safe calls: ftruncate, lstat, unlink, signal, raise.
extern "C" void removePartialAndDie(int signalNumber) {
  if (cleanupArmed != 0) {
    cleanupArmed = 0;
    if (isStill(cleanup.path.c_str(), cleanup.identity)) {
      if (cleanup.truncateFirst) {
        static_cast<void>(::ftruncate(cleanup.descriptor, 0));
      }
      ::unlink(cleanup.path.c_str());
    }
  }
  std::signal(signalNumber, SIG_DFL);
  std::raise(signalNumber);
}

void keepStandardDescriptorsOpen() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (::fcntl(descriptor, F_GETFD) == -1 && errno == EBADF) {
      // open takes the lowest free descriptor, which is this one.
      static_cast<void>(::open("/dev/null", O_RDWR));
    }
  }
}

template <typename Call>
auto retryInterrupted(Call call) {
  auto result = call();
  while (result < 0 && errno == EINTR) {
    result = call();
  }
  return result;
}

std::uint64_t nameSeed() {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(now.tv_sec) << 20U) ^
         (static_cast<std::uint64_t>(::getpid()) << 40U);
}

class PosixFileSystem final : public FileSystem {
 public:
  int openInput(const char* path) override {
    return retryInterrupted([&] { return ::open(path, O_RDONLY | O_CLOEXEC); });
  }

  bool identify(int descriptor, FileIdentity& identity) override {
    struct stat status {};
    if (::fstat(descriptor, &status) != 0) return false;
    identity = describe(status);
    return true;
  }

  bool identifyPath(const char* path, FileIdentity& identity) override {
    struct stat status {};
    if (::stat(path, &status) != 0) return false;
    identity = describe(status);
    return true;
  }

  bool measure(int descriptor, std::uint64_t& size) override {
    const off_t end = ::lseek(descriptor, 0, SEEK_END);
    if (end < 0 || ::lseek(descriptor, 0, SEEK_SET) != 0) return false;
    size = static_cast<std::uint64_t>(end);
    return true;
  }

  std::int64_t read(int descriptor, void* buffer, std::size_t count) override {
    return retryInterrupted([&] { return ::read(descriptor, buffer, count); });
  }

  bool resolve(const char* path, PathBuffer& resolved) override {
    static_assert(PathBuffer::capacity >= PATH_MAX);
    return ::realpath(path, resolved.text.data()) != nullptr;
  }

  int openExisting(const char* path) override {
    return retryInterrupted([&] { return ::open(path, O_WRONLY | O_CLOEXEC); });
  }

  int createOutput(const char* path) override {
    return retryInterrupted(
        [&] { return ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); });
  }

  // 0666 at creation lets the umask and any default access list of the
  // directory apply, as they would to a file created by any other program.
  int createTemporary(const char* path, PathBuffer& name) override {
    std::uint64_t seed = nameSeed();
    for (int attempt = 0; attempt < 100; ++attempt, seed = seed * 6364136223846793005U + 1) {
      if (!temporaryNameNear(path, "/", seed, name)) return -1;
      const int descriptor = retryInterrupted(
          [&] { return ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
      if (descriptor >= 0 || errno != EEXIST) return descriptor;
    }
    return -1;
  }

  bool setPermissions(int descriptor, std::uint32_t permissions) override {
    return ::fchmod(descriptor, static_cast<mode_t>(permissions)) == 0;
  }

  bool truncate(int descriptor) override { return ::ftruncate(descriptor, 0) == 0; }

  std::int64_t write(int descriptor, const void* data, std::size_t count) override {
    return retryInterrupted([&] { return ::write(descriptor, data, count); });
  }

  bool close(int descriptor) override { return ::close(descriptor) == 0; }

  bool replace(const char* from, const char* to) override { return ::rename(from, to) == 0; }

  bool removeIfSame(const char* path, const FileIdentity& identity) override {
    return isStill(path, identity) && ::unlink(path) == 0;
  }

  void guardPartialOutput(const PartialOutput* partial) override {
    cleanupArmed = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (partial == nullptr || !cleanup.path.assign(partial->path)) {
      return;
    }
    cleanup.identity = partial->identity;
    cleanup.descriptor = partial->descriptor;
    cleanup.truncateFirst = partial->truncateFirst;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    cleanupArmed = 1;
  }

  void holdInterruptions(bool hold) override {
    sigset_t interruptions;
    sigemptyset(&interruptions);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
      sigaddset(&interruptions, signalNumber);
    }
    ::sigprocmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &interruptions, nullptr);
  }
};

}  // namespace

FileSystem& systemFileSystem() {
  static PosixFileSystem instance;
  return instance;
}

void prepareProcess() {
  keepStandardDescriptorsOpen();
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal ignored by whoever started the program stays ignored.
    if (std::signal(signalNumber, removePartialAndDie) == SIG_IGN) {
      std::signal(signalNumber, SIG_IGN);
    }
  }
}

ProgramArguments programArguments(int argc, char** argv) { return {argc, argv}; }
