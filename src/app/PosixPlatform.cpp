#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

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

bool isStillAt(int directory, const char* name, const FileIdentity& identity) {
  struct stat status {};
  return ::fstatat(directory, name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
         describe(status).isSameFileAs(identity);
}

// Every catchable signal whose default action ends the process and that
// another process (or the terminal, or a timer) can send.
sigset_t terminatingSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signalNumber : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2,
                                 SIGVTALRM, SIGPROF, SIGXCPU, SIGPOLL,
#ifdef SIGPWR
                                 SIGPWR,
#endif
#ifdef SIGSTKFLT
                                 SIGSTKFLT,
#endif
                                 0}) {
    if (signalNumber != 0) sigaddset(&signals, signalNumber);
  }
  for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber) {
    sigaddset(&signals, signalNumber);
  }
  return signals;
}

// The signal mask the program was started with, which every hold restores.
const sigset_t& startMask() {
  static const sigset_t mask = [] {
    sigset_t current;
    ::sigprocmask(SIG_SETMASK, nullptr, &current);
    return current;
  }();
  return mask;
}

// The partial output an interruption must remove. Written only while no
// clean-up is armed, read by the signal handler only while one is.
struct InterruptCleanup {
  int directory = -1;
  PathBuffer name;
  FileIdentity identity;
  int descriptor = -1;
  bool truncateFirst = false;
  bool removeName = false;
};
InterruptCleanup cleanup;
volatile std::sig_atomic_t cleanupArmed = 0;

// Only async-signal-safe calls: ftruncate, fstatat, unlinkat, sigaction,
// raise. The descriptor is the file written in place whatever its name now
// leads to, so it is emptied in any case; the name is removed only while it
// still leads to that file.
extern "C" void removePartialAndDie(int signalNumber) {
  if (cleanupArmed != 0) {
    cleanupArmed = 0;
    if (cleanup.truncateFirst) {
      static_cast<void>(::ftruncate(cleanup.descriptor, 0));
    }
    if (cleanup.removeName &&
        isStillAt(cleanup.directory, cleanup.name.c_str(), cleanup.identity)) {
      ::unlinkat(cleanup.directory, cleanup.name.c_str(), 0);
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

bool isDecimal(const char* text) {
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

// The number N of a name such as /dev/fd/N, or -1.
int descriptorNamed(const char* path) {
  static constexpr std::pair<const char*, int> fixed[] = {
      {"/dev/stdin", 0}, {"/dev/stdout", 1}, {"/dev/stderr", 2}};
  for (const auto& [name, number] : fixed) {
    if (std::strcmp(path, name) == 0) return number;
  }
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    const std::size_t length = std::strlen(prefix);
    const char* number = path + length;
    if (std::strncmp(path, prefix, length) == 0 && isDecimal(number) && std::strlen(number) < 10) {
      return std::atoi(number);
    }
  }
  return -1;
}

// The permission bits the system gives a file created with 0666: those of
// the directory's default access list where it has one, or else 0666 less
// the umask. The list is read in the kernel's own format: a 4-byte version,
// then 8-byte entries of a 16-bit tag, 16-bit permissions and a 32-bit id.
mode_t newFileMode(int directory) {
  std::array<unsigned char, 8 * 64 + 4> list{};
  const ssize_t length =
      ::fgetxattr(directory, "system.posix_acl_default", list.data(), list.size());
  if (length < 4 || (length - 4) % 8 != 0) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
  }
  constexpr unsigned userObject = 0x01, groupObject = 0x04, maskEntry = 0x10, other = 0x20;
  mode_t owner = 0, group = 0, others = 0;
  bool masked = false;
  for (auto at = static_cast<std::size_t>(4); at + 8 <= static_cast<std::size_t>(length); at += 8) {
    const unsigned tag = unsigned{list[at]} | (unsigned{list[at + 1]} << 8U);
    const auto bits = static_cast<mode_t>(unsigned{list[at + 2]} & 06U);
    if (tag == userObject) owner = bits;
    if (tag == other) others = bits;
    if (tag == maskEntry || (tag == groupObject && !masked)) group = bits;
    masked = masked || tag == maskEntry;
  }
  return (owner << 6U) | (group << 3U) | others;
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

  bool namesDescriptor(const char* path, int& held) override {
    held = descriptorNamed(path);
    return held >= 0;
  }

  int duplicate(int held) override { return ::fcntl(held, F_DUPFD_CLOEXEC, 0); }

  bool resolve(const char* path, PathBuffer& resolved) override {
    static_assert(PathBuffer::capacity >= PATH_MAX);
    return ::realpath(path, resolved.text.data()) != nullptr;
  }

  // Opened for reading where it may be, so that its default access list can
  // be read; a directory this user may only search is opened as a place.
  int openDirectoryOf(const char* path, PathBuffer& name) override {
    const char* slash = std::strrchr(path, '/');
    const char* last = slash == nullptr ? path : slash + 1;
    if (*last == '\0' || std::strcmp(last, ".") == 0 || std::strcmp(last, "..") == 0 ||
        !name.assign(last)) {
      return -1;
    }
    PathBuffer directory;
    if (!directory.assign(slash == nullptr ? "." : slash == path ? "/" : path)) return -1;
    if (slash != nullptr && slash != path)
      directory.text[static_cast<std::size_t>(slash - path)] = '\0';
    int opened = retryInterrupted(
        [&] { return ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (opened < 0 && errno == EACCES) {
      opened = ::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    const long longest = opened >= 0 ? ::fpathconf(opened, _PC_NAME_MAX) : -1;
    if (longest > 0 && std::strlen(last) > static_cast<std::size_t>(longest)) {
      ::close(opened);
      return -1;
    }
    return opened;
  }

  bool existsAt(int directory, const char* name) override {
    struct stat status {};
    return ::fstatat(directory, name, &status, AT_SYMLINK_NOFOLLOW) == 0;
  }

  int openExisting(int directory, const char* name, bool wait) override {
    const int flags = O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | (wait ? 0 : O_NONBLOCK);
    const int descriptor = retryInterrupted([&] { return ::openat(directory, name, flags); });
    struct stat status {};
    if (!wait && descriptor >= 0 && ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode)) {
      ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    }
    return descriptor;
  }

  int openSpecial(const char* path) override {
    return retryInterrupted([&] { return ::open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC); });
  }

  bool lock(int descriptor) override {
    if (retryInterrupted([&] { return ::flock(descriptor, LOCK_EX); }) == 0) return true;
    return errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL;
  }

  int createTemporary(int directory, PathBuffer& name, bool& refused) override {
    std::uint64_t seed = nameSeed();
    for (int attempt = 0; attempt < 100; ++attempt, seed = seed * 6364136223846793005U + 1) {
      temporaryName(seed, name);
      const int descriptor = retryInterrupted([&] {
        return ::openat(directory, name.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      });
      if (descriptor >= 0) return descriptor;
      if (errno != EEXIST) {
        refused = errno == EACCES || errno == EPERM || errno == EROFS;
        break;
      }
    }
    return -1;
  }

  bool copyOwner(int descriptor, int original) override {
    struct stat status {};
    return ::fstat(original, &status) == 0 &&
           ::fchown(descriptor, status.st_uid, status.st_gid) == 0;
  }

  // After the owner: changing the owner clears the set-user and set-group bits.
  bool setFinalPermissions(int descriptor, int directory, const FileIdentity* replaced) override {
    const mode_t mode =
        replaced != nullptr ? static_cast<mode_t>(replaced->permissions) : newFileMode(directory);
    return ::fchmod(descriptor, mode) == 0;
  }

  bool truncate(int descriptor) override { return ::ftruncate(descriptor, 0) == 0; }

  std::int64_t write(int descriptor, const void* data, std::size_t count) override {
    return retryInterrupted([&] { return ::write(descriptor, data, count); });
  }

  bool close(int descriptor) override { return ::close(descriptor) == 0; }

  Placing putInPlace(int descriptor, int directory, const char* from, const FileIdentity& identity,
                     const char* to) override {
    Placing placed = Placing::Failed;
    if (::close(descriptor) == 0) {
      placed = ::renameat(directory, from, directory, to) == 0 ? Placing::Done
               : errno == EBUSY                                ? Placing::MountPoint
                                                               : Placing::Failed;
    }
    if (placed != Placing::Done) removeIfSame(directory, from, identity);
    return placed;
  }

  void discardTemporary(int descriptor, int directory, const char* name,
                        const FileIdentity& identity) override {
    if (descriptor >= 0) ::close(descriptor);
    removeIfSame(directory, name, identity);
  }

  bool removeIfSame(int directory, const char* name, const FileIdentity& identity) override {
    return isStillAt(directory, name, identity) && ::unlinkat(directory, name, 0) == 0;
  }

  // Nothing on POSIX makes a placing Busy.
  void pauseBriefly() override {}

  void guardPartialOutput(const PartialOutput* partial) override {
    cleanupArmed = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (partial == nullptr || !cleanup.name.assign(partial->name)) {
      return;
    }
    cleanup.directory = partial->directory;
    cleanup.identity = partial->identity;
    cleanup.descriptor = partial->descriptor;
    cleanup.truncateFirst = partial->truncateFirst;
    cleanup.removeName = partial->removeName;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    cleanupArmed = 1;
  }

  // Released by going back to the mask the program started with, so that a
  // signal blocked by whoever started it is never let through.
  void holdInterruptions(bool hold) override {
    const sigset_t held = terminatingSignals();
    ::sigprocmask(hold ? SIG_BLOCK : SIG_SETMASK, hold ? &held : &startMask(), nullptr);
  }
};

}  // namespace

FileSystem& systemFileSystem() {
  static PosixFileSystem instance;
  return instance;
}

void prepareProcess() {
  keepStandardDescriptorsOpen();
  static_cast<void>(startMask());
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  struct sigaction cleanUp {};
  cleanUp.sa_handler = removePartialAndDie;
  // A second interruption waits until the first has cleaned up.
  cleanUp.sa_mask = terminatingSignals();
  for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
    struct sigaction inherited {};
    // A signal ignored by whoever started the program stays ignored.
    if (sigismember(&cleanUp.sa_mask, signalNumber) == 1 &&
        ::sigaction(signalNumber, nullptr, &inherited) == 0 && inherited.sa_handler != SIG_IGN) {
      ::sigaction(signalNumber, &cleanUp, nullptr);
    }
  }
}

ProgramArguments programArguments(int argc, char** argv) { return {argc, argv}; }
