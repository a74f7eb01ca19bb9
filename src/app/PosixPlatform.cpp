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
  identity.owner = static_cast<std::uint32_t>(status.st_uid);
  identity.group = static_cast<std::uint32_t>(status.st_gid);
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

// Only async-signal-safe calls: ftruncate, lstat, unlink, sigaction, raise.
// The descriptor is the file written in place whatever its name now leads
// to, so it is emptied in any case; the name is removed only while it still
// leads to that file.
extern "C" void removePartialAndDie(int signalNumber) {
  if (cleanupArmed != 0) {
    cleanupArmed = 0;
    if (cleanup.truncateFirst) {
      static_cast<void>(::ftruncate(cleanup.descriptor, 0));
    }
    if (isStill(cleanup.path.c_str(), cleanup.identity)) {
      ::unlink(cleanup.path.c_str());
    }
  }
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  ::sigaction(signalNumber, &fallback, nullptr);
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

  int openSpecial(const char* path) override {
    return retryInterrupted([&] { return ::open(path, O_WRONLY | O_CLOEXEC); });
  }

  bool exists(const char* path) override {
    struct stat status {};
    return ::lstat(path, &status) == 0;
  }

  // 0666 at creation lets the umask and any default access list of the
  // directory apply, as they would to a file created by any other program.
  int createTemporary(const char* path, PathBuffer& name, bool& refused) override {
    std::uint64_t seed = nameSeed();
    for (int attempt = 0; attempt < 100; ++attempt, seed = seed * 6364136223846793005U + 1) {
      if (!temporaryNameNear(path, "/", seed, name)) break;
      const int descriptor = retryInterrupted(
          [&] { return ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
      if (descriptor >= 0) return descriptor;
      if (errno != EEXIST) {
        refused = errno == EACCES || errno == EPERM || errno == EROFS;
        break;
      }
    }
    return -1;
  }

  // The owner first: changing it clears the set-user and set-group bits.
  bool copyAttributes(int descriptor, const FileIdentity& from) override {
    return ::fchown(descriptor, static_cast<uid_t>(from.owner), static_cast<gid_t>(from.group)) ==
               0 &&
           ::fchmod(descriptor, static_cast<mode_t>(from.permissions)) == 0;
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
  struct sigaction cleanUp {};
  cleanUp.sa_handler = removePartialAndDie;
  // A second interruption waits until the first has cleaned up.
  sigemptyset(&cleanUp.sa_mask);
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    sigaddset(&cleanUp.sa_mask, signalNumber);
  }
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction inherited {};
    // A signal ignored by whoever started the program stays ignored.
    if (::sigaction(signalNumber, nullptr, &inherited) == 0 && inherited.sa_handler != SIG_IGN) {
      ::sigaction(signalNumber, &cleanUp, nullptr);
    }
  }
}

ProgramArguments programArguments(int argc, char** argv) { return {argc, argv}; }
