#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
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
#include "app/ProcessControl.h"

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

// Every catchable signal whose default action ends the process, whether
// another process (or the terminal, or a timer, or a watchdog) sends it or
// the program brings it on itself. SIGPIPE and SIGXFSZ are ignored instead,
// so that a write fails with a message.
sigset_t terminatingSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signalNumber :
       {SIGHUP,    SIGINT,  SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF,
        SIGXCPU,   SIGPOLL, SIGABRT, SIGTRAP, SIGSYS,  SIGBUS,  SIGILL,  SIGFPE,    SIGSEGV,
#ifdef SIGEMT
        SIGEMT,
#endif
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

// The standard descriptors that were closed when the program started: the
// null device that takes their place is no output the user named.
unsigned closedAtStart = 0;

void keepStandardDescriptorsOpen() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (::fcntl(descriptor, F_GETFD) == -1 && errno == EBADF) {
      closedAtStart |= 1U << static_cast<unsigned>(descriptor);
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

// The number a name such as 12 spells, as the system reads it (no leading
// zero), or -1.
int descriptorNumber(const char* text) {
  const std::size_t length = std::strlen(text);
  if (length == 0 || length >= 10 || (length > 1 && *text == '0')) return -1;
  for (const char* digit = text; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9') return -1;
  }
  return std::atoi(text);
}

bool isSameFile(const struct stat& one, const struct stat& other) {
  return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

enum class Listing { Own, Other, Unknown };

// Whether directory lists this program's own descriptors, under whatever
// name or mount of the process file system it was reached (/dev/fd,
// /proc/self/fd, /proc/PID/fd, a thread's): a pipe made just now is listed
// there under its number, and nowhere else. Unknown when no pipe can be made
// (with too many files open, say).
Listing descriptorsListedIn(int directory) {
  constexpr decltype(statfs::f_type) processFileSystem = 0x9FA0;
  struct statfs fileSystem {};
  int probe[2] = {-1, -1};
  if (::fstatfs(directory, &fileSystem) != 0 || fileSystem.f_type != processFileSystem) {
    return Listing::Other;
  }
  if (::pipe2(probe, O_CLOEXEC) != 0) return Listing::Unknown;
  std::array<char, 16> number{};
  std::snprintf(number.data(), number.size(), "%d", probe[0]);
  struct stat listed {};
  struct stat made {};
  const bool own = ::fstatat(directory, number.data(), &listed, 0) == 0 &&
                   ::fstat(probe[0], &made) == 0 && isSameFile(listed, made);
  ::close(probe[0]);
  ::close(probe[1]);
  return own ? Listing::Own : Listing::Other;
}

bool isClosedAtStart(int descriptor) {
  return descriptor >= 0 && descriptor <= 2 &&
         (closedAtStart & (1U << static_cast<unsigned>(descriptor))) != 0;
}

// Where the system itself takes name in directory, links followed: false
// where it would not follow them, or they lead nowhere.
bool followedBySystem(int directory, const char* name, struct stat& target) {
  const int probe = ::openat(directory, name, O_PATH | O_CLOEXEC);
  const bool followed = probe >= 0 && ::fstat(probe, &target) == 0;
  if (probe >= 0) ::close(probe);
  return followed;
}

// Opens the directory part of path, relative to base, and copies its last
// component into name. Opened for reading where it may be, so that its
// default access list can be read; a directory this user may only search is
// opened as a place.
int openParent(int base, const char* path, PathBuffer& name) {
  const char* slash = std::strrchr(path, '/');
  const char* last = slash == nullptr ? path : slash + 1;
  if (*last == '\0' || std::strcmp(last, ".") == 0 || std::strcmp(last, "..") == 0 ||
      !name.assign(last)) {
    return -1;
  }
  PathBuffer directory;
  if (!directory.assign(slash == nullptr ? "." : slash == path ? "/" : path)) return -1;
  if (slash != nullptr && slash != path) {
    directory.text[static_cast<std::size_t>(slash - path)] = '\0';
  }
  int opened = retryInterrupted(
      [&] { return ::openat(base, directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (opened < 0 && errno == EACCES) {
    opened = ::openat(base, directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  return opened;
}

bool fitsDirectory(int directory, const char* name) {
  const long longest = ::fpathconf(directory, _PC_NAME_MAX);
  return longest <= 0 || std::strlen(name) <= static_cast<std::size_t>(longest);
}

// Access lists in the kernel's own format: a 4-byte version, then 8-byte
// entries of a 16-bit tag, 16-bit permissions and a 32-bit id. The buffer
// holds the largest list any file system keeps.
constexpr const char* accessListName = "system.posix_acl_access";
constexpr const char* defaultListName = "system.posix_acl_default";
std::array<unsigned char, 65536> accessList;

bool hasNoList(int error) { return error == ENODATA || error == ENOTSUP || error == EOPNOTSUPP; }

std::uint16_t entryField(std::size_t at) {
  return static_cast<std::uint16_t>(unsigned{accessList[at]} |
                                    (unsigned{accessList[at + 1]} << 8U));
}

// Applies a directory's default list, held in accessList, to a file created
// with 0666, as the kernel does: the owner's, the others' and the mask's (or,
// without a mask, the group's) permissions lose execute; named entries stay.
// Tells the mode, and whether the file keeps a list beyond it; false for a
// list without the three entries every list has.
bool applyDefaultList(std::size_t length, mode_t& mode, bool& keepsList) {
  constexpr unsigned userObject = 0x01, namedUser = 0x02, groupObject = 0x04, namedGroup = 0x08,
                     maskEntry = 0x10, other = 0x20;
  std::size_t owner = 0, group = 0, mask = 0, others = 0;
  bool named = false;
  for (std::size_t at = 4; at + 8 <= length; at += 8) {
    const unsigned tag = entryField(at);
    if (tag == userObject) owner = at;
    if (tag == groupObject) group = at;
    if (tag == maskEntry) mask = at;
    if (tag == other) others = at;
    named = named || tag == namedUser || tag == namedGroup;
  }
  const std::size_t groupClass = mask != 0 ? mask : group;
  mode_t bits[3] = {};
  const std::size_t classes[3] = {owner, groupClass, others};
  for (std::size_t i = 0; i < 3; ++i) {
    if (classes[i] == 0) return false;
    accessList[classes[i] + 2] &= 06U;
    bits[i] = static_cast<mode_t>(accessList[classes[i] + 2]);
  }
  mode = (bits[0] << 6U) | (bits[1] << 3U) | bits[2];
  keepsList = named || mask != 0;
  return true;
}

// What a file created in directory with 0666 gets: the mode, and the length
// of the access list left in accessList (0: none). False when it cannot be
// worked out.
bool newFileAccess(int directory, mode_t& mode, std::size_t& listLength) {
  listLength = 0;
  const ssize_t length =
      ::fgetxattr(directory, defaultListName, accessList.data(), accessList.size());
  if (length >= 0) {
    const auto size = static_cast<std::size_t>(length);
    bool keepsList = false;
    if (size < 4 || (size - 4) % 8 != 0 || !applyDefaultList(size, mode, keepsList)) return false;
    listLength = keepsList ? size : 0;
    return true;
  }
  if (hasNoList(errno)) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
    return true;
  }
#ifdef O_TMPFILE
  // A directory this user may not read: a nameless file made there shows
  // what the system gives a new one, and leaves nothing behind.
  const int probe = ::openat(directory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  struct stat status {};
  if (probe < 0 || ::fstat(probe, &status) != 0) {
    if (probe >= 0) ::close(probe);
    return false;
  }
  const ssize_t probed = ::fgetxattr(probe, accessListName, accessList.data(), accessList.size());
  const bool known = probed >= 0 || hasNoList(errno);
  ::close(probe);
  mode = status.st_mode & 07777;
  listLength = probed > 0 ? static_cast<std::size_t>(probed) : 0;
  return known;
#else
  return false;
#endif
}

// Sets the access list held in accessList (or, with a length of 0, takes
// away any the file has), then the mode.
bool giveAccess(int descriptor, mode_t mode, std::size_t listLength) {
  const bool listed =
      listLength > 0
          ? ::fsetxattr(descriptor, accessListName, accessList.data(), listLength, 0) == 0
          : ::fremovexattr(descriptor, accessListName) == 0 || hasNoList(errno);
  return listed && ::fchmod(descriptor, mode) == 0;
}

// Whether name in directory (or directory itself, for an empty name) has
// one of the attributes, where the system tells.
bool hasAttribute(int directory, const char* name, std::uint64_t attributes) {
  struct statx status {};
  const int flags = AT_SYMLINK_NOFOLLOW | (*name == '\0' ? AT_EMPTY_PATH : 0);
  return ::statx(directory, name, flags, 0, &status) == 0 &&
         (status.stx_attributes & status.stx_attributes_mask & attributes) != 0;
}

class PosixFileSystem final : public FileSystem {
 public:
  // A name of a standard descriptor closed at the start names no input: the
  // null device in its place is not what the user meant. A name that cannot
  // be told apart from one is refused too.
  int openInput(const char* path) override {
    if (closedAtStart != 0) {
      PathBuffer name;
      int held = -1;
      const int directory = openDirectoryOf(path, name, held);
      if (directory >= 0) ::close(directory);
      if ((directory < 0 && held < 0) || isClosedAtStart(held)) return -1;
    }
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

  // Names are resolved by the system only through directories.
  bool namesSpecialFile(const char* /*path*/) override { return false; }

  int openSpecial(const char* path) override {
    return retryInterrupted([&] { return ::open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC); });
  }

  // The path is followed one symbolic link at a time, each relative to the
  // directory that holds it, so that no name is ever looked up twice: the
  // directory returned is the one the last look went through. The system
  // follows the first link too, as it would for any program (refusing a link
  // that another user planted in a shared directory, reaching the very file
  // another process's descriptor is open on): what the links lead to here
  // must be that file.
  int openDirectoryOf(const char* path, PathBuffer& name, int& held) override {
    constexpr int mostLinks = 40;
    held = -1;
    PathBuffer current;
    if (!current.assign(path)) return -1;
    int base = AT_FDCWD;
    struct stat target {};
    for (int links = 0;; ++links) {
      const int directory = openParent(base, current.c_str(), name);
      if (base != AT_FDCWD) ::close(base);
      if (directory < 0) return -1;
      const int number = descriptorNumber(name.c_str());
      const Listing listing = number >= 0 ? descriptorsListedIn(directory) : Listing::Other;
      struct stat status {};
      const bool found = ::fstatat(directory, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
      const bool link = found && S_ISLNK(status.st_mode);
      if (listing != Listing::Other || !link) {
        // A link that leads nowhere may be meant for a file elsewhere.
        const bool reached = links == 0 || (found && isSameFile(status, target));
        if (listing == Listing::Own) held = number;
        if (listing != Listing::Other || !reached || !fitsDirectory(directory, name.c_str())) {
          ::close(directory);
          return -1;
        }
        return directory;
      }
      const bool followed = links > 0 || followedBySystem(directory, name.c_str(), target);
      const ssize_t length =
          links < mostLinks && followed
              ? ::readlinkat(directory, name.c_str(), current.text.data(), PathBuffer::capacity - 1)
              : -1;
      if (length <= 0 || static_cast<std::size_t>(length) >= PathBuffer::capacity - 1) {
        ::close(directory);
        return -1;
      }
      current.text[static_cast<std::size_t>(length)] = '\0';
      base = directory;
    }
  }

  int duplicate(int held) override {
    if (isClosedAtStart(held)) {
      errno = EBADF;
      return -1;
    }
    return ::fcntl(held, F_DUPFD_CLOEXEC, 0);
  }

  // Something that cannot be looked at, for a reason other than not being
  // there, is taken to be there, of no known kind.
  bool identifyAt(int directory, const char* name, FileIdentity& identity) override {
    struct stat status {};
    if (::fstatat(directory, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
      identity = FileIdentity{};
      return errno != ENOENT;
    }
    identity = describe(status);
    return true;
  }

  // Read-only and without waiting (for a lease to be broken, say); a file
  // this user may write but not read is looked at as a place.
  int lookAt(int directory, const char* name) override {
    const int descriptor = retryInterrupted([&] {
      return ::openat(directory, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    });
    if (descriptor >= 0) return descriptor;
    if (errno == EWOULDBLOCK) return busyDescriptor;
    return errno == EACCES ? ::openat(directory, name, O_PATH | O_NOFOLLOW | O_CLOEXEC) : -1;
  }

  // A file that may only be appended to, or not changed at all, binds the
  // superuser too.
  bool mayWrite(int directory, const char* name) override {
    return ::faccessat(directory, name, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0 &&
           !hasAttribute(directory, name, STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE);
  }

  int openExisting(int directory, const char* name, bool wait) override {
    const int flags = O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | (wait ? 0 : O_NONBLOCK);
    const int descriptor = retryInterrupted([&] { return ::openat(directory, name, flags); });
    if (descriptor < 0) return !wait && errno == EWOULDBLOCK ? busyDescriptor : -1;
    struct stat status {};
    if (!wait && ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode)) {
      ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    }
    return descriptor;
  }

  Locking tryLock(int descriptor) override {
    if (retryInterrupted([&] { return ::flock(descriptor, LOCK_EX | LOCK_NB); }) == 0) {
      return Locking::Locked;
    }
    if (errno == EWOULDBLOCK) return Locking::Busy;
    return errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL ? Locking::Locked
                                                                     : Locking::Failed;
  }

  // A directory that lets no file be renamed or removed would keep the
  // temporary file under its stray name.
  int createTemporary(int directory, PathBuffer& name, bool& refused) override {
    if (hasAttribute(directory, "", STATX_ATTR_APPEND)) {
      refused = true;
      return -1;
    }
    std::uint64_t seed = nameSeed();
    for (int attempt = 0; attempt < 100; ++attempt, seed = seed * 6364136223846793005U + 1) {
      temporaryName(seed, name);
      const int descriptor = createNew(directory, name.c_str());
      if (descriptor >= 0) return descriptor;
      if (errno != EEXIST) {
        refused = errno == EACCES || errno == EPERM || errno == EROFS;
        break;
      }
    }
    return -1;
  }

  int createNew(int directory, const char* name) override {
    return retryInterrupted([&] {
      return ::openat(directory, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    });
  }

  // The access list is carried over only once the tape is complete; here it
  // must merely be readable.
  bool copyOwner(int descriptor, int original) override {
    struct stat status {};
    return ::fstat(original, &status) == 0 &&
           ::fchown(descriptor, status.st_uid, status.st_gid) == 0 &&
           (::fgetxattr(original, accessListName, nullptr, 0) >= 0 || hasNoList(errno));
  }

  // After the owner: changing the owner clears the set-user and set-group
  // bits. What a new file would get but cannot be worked out leaves the tape
  // its owner's alone.
  bool setFinalPermissions(int descriptor, int directory, int original) override {
    if (original < 0) {
      mode_t mode = 0;
      std::size_t listLength = 0;
      return newFileAccess(directory, mode, listLength) ? giveAccess(descriptor, mode, listLength)
                                                        : ::fchmod(descriptor, 0600) == 0;
    }
    struct stat status {};
    if (::fstat(original, &status) != 0) return false;
    const ssize_t length =
        ::fgetxattr(original, accessListName, accessList.data(), accessList.size());
    if (length < 0 && !hasNoList(errno)) return false;
    return giveAccess(descriptor, status.st_mode & 07777,
                      length > 0 ? static_cast<std::size_t>(length) : 0);
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
               : errno == EPERM                                ? Placing::Refused
                                                               : Placing::Failed;
    }
    if (placed == Placing::Failed || placed == Placing::MountPoint) {
      removeIfSame(directory, from, identity);
    }
    return placed;
  }

  // Nothing on POSIX removes a file but its name.
  bool removeOpen(int /*descriptor*/) override { return false; }

  bool removeIfSame(int directory, const char* name, const FileIdentity& identity) override {
    return isStillAt(directory, name, identity) && ::unlinkat(directory, name, 0) == 0;
  }
};

class PosixProcess final : public ProcessControl {
 public:
  void pauseBriefly() override {
    const struct timespec pause { 0, 50'000'000 };
    ::nanosleep(&pause, nullptr);
  }

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
    static const sigset_t held = terminatingSignals();
    ::sigprocmask(hold ? SIG_BLOCK : SIG_SETMASK, hold ? &held : &startMask(), nullptr);
  }
};

}  // namespace

FileSystem& systemFileSystem() {
  static PosixFileSystem instance;
  return instance;
}

ProcessControl& systemProcess() {
  static PosixProcess instance;
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
