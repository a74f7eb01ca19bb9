// The file system and the process set-up on the Win32 API. Paths arrive as
// UTF-8 and go to the API as UTF-16; nothing here uses the ANSI code page.
#include <windows.h>
// Must come after windows.h.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/FileSystem.h"
#include "app/Platform.h"

namespace {

// Paths are converted into fixed buffers, so that no conversion needs the heap.
using WidePath = std::array<wchar_t, PathBuffer::capacity>;

bool widen(const char* text, WidePath& wide) {
  const int length =
      ::MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), static_cast<int>(wide.size()));
  return length > 0;
}

bool narrow(const wchar_t* text, char* out, std::size_t capacity) {
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out, static_cast<int>(capacity),
                                           nullptr, nullptr);
  return length > 0;
}

constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool isPipePath(const char* path) {
  return isSeparator(path[0]) && isSeparator(path[1]) && path[2] == '.' && isSeparator(path[3]) &&
         ::_strnicmp(path + 4, "pipe", 4) == 0 && isSeparator(path[8]);
}

// Named pipes are never opened just to look at them: that would take one of
// the server's instances away from the real reader. They are told apart by
// their names, in which neither case nor the kind of separator counts.
FileIdentity pipeIdentity(const char* path) {
  FileIdentity identity;
  identity.kind = FileKind::Fifo;
  // Beyond any volume serial number, which has 32 bits.
  identity.device = std::uint64_t{1} << 32U;
  std::uint64_t hash = 14695981039346656037U;  // FNV-1a
  for (const char* c = path + 9; *c != '\0'; ++c) {
    const bool upper = *c >= 'A' && *c <= 'Z';
    const char folded = isSeparator(*c) ? '\\' : upper ? static_cast<char>(*c - 'A' + 'a') : *c;
    hash = (hash ^ static_cast<unsigned char>(folded)) * 1099511628211U;
  }
  identity.inode = hash;
  return identity;
}

HANDLE openPath(const char* path, DWORD access, DWORD disposition, DWORD flags = 0) {
  WidePath wide;
  if (!widen(path, wide)) return INVALID_HANDLE_VALUE;
  return ::CreateFileW(wide.data(), access, shareAll, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

// Devices and pipes opened by handle have no file index: each gets an
// identity of its own, so that NUL and COM1 are never taken for one file.
FileIdentity deviceIdentity(FileKind kind) {
  static std::uint64_t devicesSeen = 0;
  FileIdentity identity;
  identity.kind = kind;
  identity.device = std::uint64_t{2} << 32U;
  identity.inode = ++devicesSeen;
  return identity;
}

bool describe(HANDLE handle, FileIdentity& identity) {
  identity = FileIdentity{};
  switch (::GetFileType(handle)) {
    case FILE_TYPE_CHAR:
      identity = deviceIdentity(FileKind::CharacterDevice);
      return true;
    case FILE_TYPE_PIPE:
      identity = deviceIdentity(FileKind::Fifo);
      return true;
    case FILE_TYPE_DISK:
      break;
    default:
      return false;
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(handle, &information)) return false;
  const bool directory = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  identity.kind = directory ? FileKind::Directory : FileKind::Regular;
  identity.device = information.dwVolumeSerialNumber;
  identity.inode =
      (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32U) | information.nFileIndexLow;
  identity.linkCount = information.nNumberOfLinks;
  const bool readOnly = (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  identity.permissions = readOnly ? 0444U : 0666U;
  return true;
}

// The partial output a Ctrl+C or a closing console must remove. The handler
// runs on a thread of its own, so it reads a copy made before arming.
struct InterruptCleanup {
  PathBuffer path;
  FileIdentity identity;
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool truncateFirst = false;
};
InterruptCleanup cleanup;
volatile LONG cleanupArmed = 0;
// Taken by the handler before it cleans up, and by the program while it
// creates a file whose clean-up is not armed yet or puts a finished tape in
// place.
SRWLOCK interruptionHold = SRWLOCK_INIT;
// The handler runs on a thread of its own: it stops the program's thread
// before it touches the file that thread writes.
HANDLE programThread = nullptr;

bool removeIfStill(const char* path, const FileIdentity& identity) {
  // Opened without following a link, checked, then deleted through the very
  // handle checked, so no other file can be removed in between.
  const HANDLE handle = openPath(path, DELETE | FILE_READ_ATTRIBUTES, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FileIdentity found;
  bool removed = false;
  if (describe(handle, found) && found.isSameFileAs(identity)) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    removed = ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                           sizeof disposition) != 0;
  }
  ::CloseHandle(handle);
  return removed;
}

BOOL WINAPI removePartialAndDie(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  ::AcquireSRWLockExclusive(&interruptionHold);
  if (programThread != nullptr && ::SuspendThread(programThread) != static_cast<DWORD>(-1)) {
    // Suspension is asynchronous; asking for the thread's context waits for it.
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    ::GetThreadContext(programThread, &context);
  }
  if (::InterlockedExchange(&cleanupArmed, 0) != 0) {
    if (cleanup.truncateFirst) {
      FILE_END_OF_FILE_INFO empty{};
      ::SetFileInformationByHandle(cleanup.handle, FileEndOfFileInfo, &empty, sizeof empty);
    }
    removeIfStill(cleanup.path.c_str(), cleanup.identity);
  }
  // The status a console program ends with when Ctrl+C ends it.
  ::ExitProcess(STATUS_CONTROL_C_EXIT);
}

class WindowsFileSystem final : public FileSystem {
 public:
  int openInput(const char* path) override {
    return adopt(openPath(path, GENERIC_READ, OPEN_EXISTING));
  }

  bool identify(int descriptor, FileIdentity& identity) override {
    return describe(handleOf(descriptor), identity);
  }

  bool identifyPath(const char* path, FileIdentity& identity) override {
    if (isPipePath(path)) {
      identity = pipeIdentity(path);
      return true;
    }
    const HANDLE handle =
        openPath(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool described = describe(handle, identity);
    ::CloseHandle(handle);
    return described;
  }

  bool measure(int descriptor, std::uint64_t& size) override {
    const HANDLE handle = handleOf(descriptor);
    LARGE_INTEGER length{};
    const LARGE_INTEGER start{};
    if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileSizeEx(handle, &length) ||
        !::SetFilePointerEx(handle, start, nullptr, FILE_BEGIN)) {
      return false;
    }
    size = static_cast<std::uint64_t>(length.QuadPart);
    return true;
  }

  std::int64_t read(int descriptor, void* buffer, std::size_t count) override {
    DWORD got = 0;
    const DWORD asked = count > 0x40000000U ? 0x40000000U : static_cast<DWORD>(count);
    if (::ReadFile(handleOf(descriptor), buffer, asked, &got, nullptr)) return got;
    // A pipe whose writer has closed has simply ended.
    return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  }

  bool resolve(const char* path, PathBuffer& resolved) override {
    const HANDLE handle =
        openPath(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == INVALID_HANDLE_VALUE) return false;
    WidePath wide;
    const DWORD length =
        ::GetFinalPathNameByHandleW(handle, wide.data(), static_cast<DWORD>(wide.size()), 0);
    ::CloseHandle(handle);
    if (length == 0 || length >= wide.size()) {
      // Without a final name the path as given still names the file.
      return resolved.assign(path);
    }
    return narrow(wide.data(), resolved.text.data(), PathBuffer::capacity);
  }

  // The read-only attribute binds every user, but Wine run by root opens such
  // a file for writing all the same; refused here, it is refused everywhere.
  int openExisting(const char* path) override {
    const HANDLE handle = openPath(path, GENERIC_WRITE, OPEN_EXISTING);
    BY_HANDLE_FILE_INFORMATION information{};
    if (handle != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(handle, &information) &&
        (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
      ::CloseHandle(handle);
      return -1;
    }
    return adopt(handle);
  }

  int openSpecial(const char* path) override {
    return adopt(openPath(path, GENERIC_WRITE, OPEN_EXISTING));
  }

  // Attributes are those of the name itself: a link is not followed.
  bool exists(const char* path) override {
    WidePath wide;
    return widen(path, wide) && ::GetFileAttributesW(wide.data()) != INVALID_FILE_ATTRIBUTES;
  }

  int createTemporary(const char* path, PathBuffer& name, bool& refused) override {
    std::uint64_t seed = (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 32U) ^
                         ::GetTickCount64() ^ reinterpret_cast<std::uintptr_t>(&name);
    for (int attempt = 0; attempt < 100; ++attempt, seed = seed * 6364136223846793005U + 1) {
      if (!temporaryNameNear(path, "/\\:", seed, name)) break;
      const HANDLE handle = openPath(name.c_str(), GENERIC_WRITE, CREATE_NEW);
      if (handle != INVALID_HANDLE_VALUE) return adopt(handle);
      const DWORD error = ::GetLastError();
      if (error != ERROR_FILE_EXISTS) {
        refused = error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT;
        break;
      }
    }
    return -1;
  }

  // The replacement inherits the folder's access control, as any new file
  // does; the read-only attribute, the one permission bit here, is never set
  // on a file that is replaced.
  bool copyAttributes(int /*descriptor*/, const FileIdentity& /*from*/) override { return true; }

  bool truncate(int descriptor) override {
    const HANDLE handle = handleOf(descriptor);
    const LARGE_INTEGER start{};
    return ::SetFilePointerEx(handle, start, nullptr, FILE_BEGIN) && ::SetEndOfFile(handle);
  }

  std::int64_t write(int descriptor, const void* data, std::size_t count) override {
    DWORD done = 0;
    const DWORD asked = count > 0x40000000U ? 0x40000000U : static_cast<DWORD>(count);
    if (!::WriteFile(handleOf(descriptor), data, asked, &done, nullptr)) return -1;
    return done;
  }

  bool close(int descriptor) override {
    const HANDLE handle = handleOf(descriptor);
    if (handle == INVALID_HANDLE_VALUE) return false;
    handles[static_cast<std::size_t>(descriptor)] = INVALID_HANDLE_VALUE;
    return ::CloseHandle(handle) != 0;
  }

  bool replace(const char* from, const char* to) override {
    WidePath wideFrom;
    WidePath wideTo;
    return widen(from, wideFrom) && widen(to, wideTo) &&
           ::MoveFileExW(wideFrom.data(), wideTo.data(), MOVEFILE_REPLACE_EXISTING) != 0;
  }

  bool removeIfSame(const char* path, const FileIdentity& identity) override {
    return removeIfStill(path, identity);
  }

  void guardPartialOutput(const PartialOutput* partial) override {
    ::InterlockedExchange(&cleanupArmed, 0);
    if (partial == nullptr || !cleanup.path.assign(partial->path)) return;
    cleanup.identity = partial->identity;
    cleanup.handle = handleOf(partial->descriptor);
    cleanup.truncateFirst = partial->truncateFirst;
    ::InterlockedExchange(&cleanupArmed, 1);
  }

  void holdInterruptions(bool hold) override {
    if (hold) {
      ::AcquireSRWLockExclusive(&interruptionHold);
    } else {
      ::ReleaseSRWLockExclusive(&interruptionHold);
    }
  }

 private:
  // A conversion holds at most two files open at once.
  static constexpr std::size_t handleSlots = 8;

  int adopt(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) return -1;
    for (std::size_t slot = 0; slot < handleSlots; ++slot) {
      if (handles[slot] == INVALID_HANDLE_VALUE) {
        handles[slot] = handle;
        return static_cast<int>(slot);
      }
    }
    ::CloseHandle(handle);
    return -1;
  }

  HANDLE handleOf(int descriptor) const {
    const auto slot = static_cast<std::size_t>(descriptor);
    return descriptor >= 0 && slot < handleSlots ? handles[slot] : INVALID_HANDLE_VALUE;
  }

  std::array<HANDLE, handleSlots> handles = [] {
    std::array<HANDLE, handleSlots> empty{};
    empty.fill(INVALID_HANDLE_VALUE);
    return empty;
  }();
};

}  // namespace

FileSystem& systemFileSystem() {
  static WindowsFileSystem instance;
  return instance;
}

void prepareProcess() {
  // The same bytes as on every other platform: no line feed becomes CR LF.
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                    &programThread, THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, 0);
  ::SetConsoleCtrlHandler(removePartialAndDie, TRUE);
}

ProgramArguments programArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return {argc, argv};
  // Kept for the whole run: the parser's records point into these texts.
  static std::vector<std::string> texts;
  static std::vector<const char*> vector;
  texts.resize(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string& text = texts[static_cast<std::size_t>(i)];
    text.assign(static_cast<std::size_t>(bytes > 0 ? bytes - 1 : 0), '\0');
    if (bytes > 1) {
      ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, text.data(), bytes, nullptr, nullptr);
    }
  }
  ::LocalFree(wide);
  vector.resize(texts.size() + 1, nullptr);
  std::transform(texts.begin(), texts.end(), vector.begin(),
                 [](const std::string& text) { return text.c_str(); });
  return {count, vector.data()};
}
