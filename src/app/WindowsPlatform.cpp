// The file system and the process set-up on the Win32 API. Paths arrive as
// UTF-8 and go to the API as UTF-16; nothing here uses the ANSI code page.
// Files beside an output are opened, created, renamed and deleted relative to
// a handle on their folder, which only the native calls take.
#include <windows.h>
// Must come after windows.h.
#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <winternl.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "app/FileSystem.h"
#include "app/Platform.h"
#include "app/ProcessControl.h"

// Exported by ntdll.dll but not declared in winternl.h: case is folded as
// the file systems fold it.
extern "C" NTSYSAPI WCHAR NTAPI RtlUpcaseUnicodeChar(WCHAR character);

namespace {

// Paths are converted into fixed buffers, so that no conversion needs the
// heap; a UTF-8 path that fits a PathBuffer fits here in UTF-16.
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
// The attributes a replacement keeps.
constexpr DWORD keptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool isPipePath(const char* path) {
  return isSeparator(path[0]) && isSeparator(path[1]) && path[2] == '.' && isSeparator(path[3]) &&
         ::_strnicmp(path + 4, "pipe", 4) == 0 && isSeparator(path[8]);
}

// The last component of path: after the last separator, or after the drive
// of a path such as C:name.
const char* lastComponent(const char* path) {
  const char* last = path;
  for (const char* c = path; *c != '\0'; ++c) {
    if (isSeparator(*c)) last = c + 1;
  }
  const bool driveLetter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
  return last == path && driveLetter && path[1] == ':' ? path + 2 : last;
}

// The stream part of a path (":s" in x.tap:s), or null.
const char* streamPart(const char* path) {
  return isPipePath(path) ? nullptr : std::strchr(lastComponent(path), ':');
}

// Whether the last component of path is one of the names that Windows takes
// for a device in any folder: CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9,
// CONIN$ and CONOUT$, in any case, whatever follows a dot or a colon, and
// with blanks before that. Decided here rather than asked of the system,
// whose answer differs between versions (and Wine): such a name is never
// created as a file. COM and LPT with a superscript digit are left out; no
// program could create a file of that name through the system anyway.
bool namesDevice(const char* path) {
  const char* last = lastComponent(path);
  std::size_t length = std::strcspn(last, ".:");
  while (length > 0 && last[length - 1] == ' ') --length;
  const auto is = [&](const char* device) {
    return std::strlen(device) == length && ::_strnicmp(last, device, length) == 0;
  };
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (is(device)) return true;
  }
  const bool numbered = length == 4 && last[3] >= '1' && last[3] <= '9';
  return numbered && (::_strnicmp(last, "COM", 3) == 0 || ::_strnicmp(last, "LPT", 3) == 0);
}

// FNV-1a, one 16-bit unit at a time.
std::uint64_t hashStep(std::uint64_t hash, unsigned unit) { return (hash ^ unit) * 1099511628211U; }
constexpr std::uint64_t hashStart = 14695981039346656037U;

// Named pipes are never opened just to look at them: that would take one of
// the server's instances away from the real reader. They are told apart by
// their names, in which neither case nor the kind of separator counts.
FileIdentity pipeIdentity(const char* path) {
  FileIdentity identity;
  identity.kind = FileKind::Fifo;
  // Beyond any volume serial number, which has 32 bits.
  identity.device = std::uint64_t{1} << 32U;
  std::uint64_t hash = hashStart;
  for (const char* c = path + 9; *c != '\0'; ++c) {
    const bool upper = *c >= 'A' && *c <= 'Z';
    const char folded = isSeparator(*c) ? '\\' : upper ? static_cast<char>(*c - 'A' + 'a') : *c;
    hash = hashStep(hash, static_cast<unsigned char>(folded));
  }
  identity.inode = hash;
  return identity;
}

// What sets a stream apart from the file that holds it and from its other
// streams, put above the volume serial number: the same for one stream under
// any case, with or without its type, and none for the file's own data
// (x.tap::$DATA).
std::uint64_t streamTag(const char* stream) {
  WidePath wide;
  if (!widen(stream + 1, wide)) return 0;
  std::size_t length = std::wcslen(wide.data());
  constexpr std::size_t typeLength = 6;
  if (length >= typeLength && ::_wcsicmp(wide.data() + length - typeLength, L":$DATA") == 0) {
    length -= typeLength;
  }
  if (length == 0) return 0;
  std::uint64_t hash = hashStart;
  for (std::size_t i = 0; i < length; ++i) hash = hashStep(hash, ::RtlUpcaseUnicodeChar(wide[i]));
  // The top bit keeps it clear of the pipes' and devices' marks.
  return static_cast<std::uint64_t>(static_cast<std::uint32_t>(hash) | 0x80000000U) << 32U;
}

HANDLE openPath(const char* path, DWORD access, DWORD disposition, DWORD flags = 0) {
  WidePath wide;
  if (!widen(path, wide)) return INVALID_HANDLE_VALUE;
  return ::CreateFileW(wide.data(), access, shareAll, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

// Opens or creates name, a bare name, in the folder open at directory. Fails
// as CreateFileW does, with the reason in GetLastError.
HANDLE openAt(HANDLE directory, const char* name, ACCESS_MASK access, ULONG sharing,
              ULONG disposition, ULONG options) {
  WidePath wide;
  const std::size_t length = widen(name, wide) ? std::wcslen(wide.data()) : 0;
  if (length == 0 || length * sizeof(wchar_t) > 0xFFFEU) {
    ::SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  UNICODE_STRING text{};
  text.Length = static_cast<USHORT>(length * sizeof(wchar_t));
  text.MaximumLength = text.Length;
  text.Buffer = wide.data();
  OBJECT_ATTRIBUTES attributes{};
  // Names without case, as the Win32 calls take them.
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, directory, nullptr);
  IO_STATUS_BLOCK status{};
  HANDLE handle = INVALID_HANDLE_VALUE;
  const NTSTATUS result = ::NtCreateFile(&handle, access | SYNCHRONIZE, &attributes, &status,
                                         nullptr, FILE_ATTRIBUTE_NORMAL, sharing, disposition,
                                         options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (result < 0) {
    ::SetLastError(::RtlNtStatusToDosError(result));
    return INVALID_HANDLE_VALUE;
  }
  return handle;
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
  identity.attributes = information.dwFileAttributes & keptAttributes;
  return true;
}

// A stream is written where it is, never replaced: no stream can be renamed
// over another.
void markStream(FileIdentity& identity, std::uint64_t tag) {
  if (identity.kind == FileKind::Regular) {
    identity.kind = FileKind::Other;
    identity.device |= tag;
  }
}

bool deleteThrough(HANDLE handle) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

bool removeAt(HANDLE directory, const char* name, const FileIdentity& identity) {
  // Opened without following a link, checked, then deleted through the very
  // handle checked, so no other file can be removed in between.
  const HANDLE handle = openAt(directory, name, DELETE | FILE_READ_ATTRIBUTES, shareAll, FILE_OPEN,
                               FILE_OPEN_REPARSE_POINT);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FileIdentity found;
  const bool removed =
      describe(handle, found) && found.isSameFileAs(identity) && deleteThrough(handle);
  ::CloseHandle(handle);
  return removed;
}

// Opens the file name in the folder open at directory without following a
// link there, and tells its attributes. A link (any name surrogate) is
// refused; another kind of reparse point (a file kept in the cloud, say) is
// opened through its filter, if that leads to the same file.
HANDLE openUnfollowed(HANDLE directory, const char* name, ACCESS_MASK access, DWORD& attributes) {
  const auto open = [&](ULONG options) {
    return openAt(directory, name, access | FILE_READ_ATTRIBUTES, shareAll, FILE_OPEN,
                  FILE_NON_DIRECTORY_FILE | options);
  };
  HANDLE handle = open(FILE_OPEN_REPARSE_POINT);
  if (handle == INVALID_HANDLE_VALUE) return handle;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  const bool looked =
      ::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) != 0;
  attributes = tag.FileAttributes;
  const bool reparse = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (!looked || (reparse && IsReparseTagNameSurrogate(tag.ReparseTag))) {
    ::CloseHandle(handle);
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
    return INVALID_HANDLE_VALUE;
  }
  if (!reparse) return handle;
  const HANDLE through = open(0);
  FileIdentity marked;
  FileIdentity opened;
  const bool same = through != INVALID_HANDLE_VALUE && describe(handle, marked) &&
                    describe(through, opened) && opened.isSameFileAs(marked);
  ::CloseHandle(handle);
  if (!same && through != INVALID_HANDLE_VALUE) ::CloseHandle(through);
  return same ? through : INVALID_HANDLE_VALUE;
}

// Renames the file open at handle to name in the folder open at directory,
// replacing what has that name. SetFileInformationByHandle would pass the
// same request on unchanged on Windows, but Wine turns the name into a whole
// path first and then refuses the folder handle.
DWORD renameAt(HANDLE handle, HANDLE directory, const char* name) {
  WidePath wide;
  if (!widen(name, wide)) return ERROR_INVALID_NAME;
  const std::size_t bytes = std::wcslen(wide.data()) * sizeof(wchar_t);
  alignas(FILE_RENAME_INFO) std::array<unsigned char, sizeof(FILE_RENAME_INFO) + sizeof wide>
      buffer{};
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = directory;
  rename->FileNameLength = static_cast<DWORD>(bytes);
  std::memcpy(rename->FileName, wide.data(), bytes);
  IO_STATUS_BLOCK status{};
  const NTSTATUS result = ::NtSetInformationFile(
      handle, &status, rename, static_cast<ULONG>(sizeof(FILE_RENAME_INFO) + bytes),
      FileRenameInformation);
  return result < 0 ? ::RtlNtStatusToDosError(result) : ERROR_SUCCESS;
}

bool emptyThrough(HANDLE handle) {
  const LARGE_INTEGER start{};
  return ::SetFilePointerEx(handle, start, nullptr, FILE_BEGIN) && ::SetEndOfFile(handle);
}

// Whether the file's access list is its own (explicit entries, or protected
// from inheritance) rather than only what its folder hands down, which a new
// file there gets anyway.
bool hasOwnAccessList(PSECURITY_DESCRIPTOR security, PACL list) {
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!::GetSecurityDescriptorControl(security, &control, &revision) ||
      (control & SE_DACL_PROTECTED) != 0 || list == nullptr) {
    return true;
  }
  for (DWORD index = 0; index < list->AceCount; ++index) {
    void* entry = nullptr;
    if (!::GetAce(list, index, &entry) ||
        (static_cast<const ACE_HEADER*>(entry)->AceFlags & INHERITED_ACE) == 0) {
      return true;
    }
  }
  return false;
}

// The partial output a Ctrl+C or a closing console must remove. The handler
// runs on a thread of its own, so it reads a copy made before arming.
struct InterruptCleanup {
  HANDLE directory = INVALID_HANDLE_VALUE;
  PathBuffer name;
  FileIdentity identity;
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool truncateFirst = false;
  bool removeName = false;
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
    // A temporary file is shared with nobody: only its own handle can delete it.
    if (cleanup.removeName && (cleanup.truncateFirst || !deleteThrough(cleanup.handle))) {
      removeAt(cleanup.directory, cleanup.name.c_str(), cleanup.identity);
    }
  }
  // The status a console program ends with when Ctrl+C ends it.
  ::ExitProcess(STATUS_CONTROL_C_EXIT);
}

// The last component as the Win32 calls would take it, which drop trailing
// dots and blanks except after the \\?\ prefix; false for one that no file
// can have.
bool takeLastName(const char* path, const char* last, PathBuffer& name) {
  if (!name.assign(last)) return false;
  std::size_t length = std::strlen(name.c_str());
  if (std::strncmp(path, "\\\\?\\", 4) != 0) {
    while (length > 0 && (name.text[length - 1] == '.' || name.text[length - 1] == ' ')) {
      name.text[--length] = '\0';
    }
  }
  if (length == 0 || std::strcmp(name.c_str(), ".") == 0 || std::strcmp(name.c_str(), "..") == 0) {
    return false;
  }
  return std::none_of(
      name.text.begin(), name.text.begin() + static_cast<std::ptrdiff_t>(length), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || std::strchr("<>:\"/\\|?*", c) != nullptr;
      });
}

// How long a name the volume under the folder open at directory takes.
bool fitsVolume(HANDLE directory, const char* name) {
  DWORD longest = 0;
  WidePath wide;
  if (!::GetVolumeInformationByHandleW(directory, nullptr, 0, nullptr, &longest, nullptr, nullptr,
                                       0)) {
    return true;  // Left to the system to refuse.
  }
  return widen(name, wide) && std::wcslen(wide.data()) <= longest;
}

// What a replacement keeps of the file it replaces, read through a handle
// that is closed again at once.
struct FileLook {
  bool taken = false;
  FileIdentity identity;
  // Whether the volume keeps security settings at all.
  bool secured = true;
  // The owner, the group, and the access list where the file has one of its
  // own (not only what its folder hands down, which a new file there gets
  // anyway); null when they could not be read.
  PSECURITY_DESCRIPTOR security = nullptr;
  SECURITY_INFORMATION kept = 0;

  bool take(HANDLE handle) {
    taken = true;
    DWORD volumeFlags = 0;
    secured = !::GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &volumeFlags,
                                               nullptr, 0) ||
              (volumeFlags & FILE_PERSISTENT_ACLS) != 0;
    constexpr SECURITY_INFORMATION parts =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    PACL list = nullptr;
    if (secured && ::GetSecurityInfo(handle, SE_FILE_OBJECT, parts, nullptr, nullptr, &list,
                                     nullptr, &security) == ERROR_SUCCESS) {
      kept = hasOwnAccessList(security, list) ? parts : parts & ~DACL_SECURITY_INFORMATION;
    }
    return describe(handle, identity);
  }

  void release() {
    if (security != nullptr) ::LocalFree(security);
    *this = FileLook{};
  }
};

// The path that an existing file finally has, links followed, or, for one
// that cannot be opened or has no such path, the path as given.
void takeFinalPath(const char* path, PathBuffer& target) {
  target.assign(path);
  const HANDLE handle =
      openPath(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (handle == INVALID_HANDLE_VALUE) return;
  WidePath wide;
  const DWORD length =
      ::GetFinalPathNameByHandleW(handle, wide.data(), static_cast<DWORD>(wide.size()), 0);
  ::CloseHandle(handle);
  if (length > 0 && length < wide.size()) {
    PathBuffer found;
    if (narrow(wide.data(), found.text.data(), PathBuffer::capacity)) target = found;
  }
}

class WindowsFileSystem final : public FileSystem {
 public:
  int openInput(const char* path) override {
    return adopt(openPath(path, GENERIC_READ, OPEN_EXISTING));
  }

  bool identify(int descriptor, FileIdentity& identity) override {
    if (descriptor == lookDescriptor && look.taken) {
      identity = look.identity;
      return true;
    }
    if (!describe(handleOf(descriptor), identity)) return false;
    if (isStream(descriptor))
      markStream(identity, slots[static_cast<std::size_t>(descriptor)].streamTag);
    return true;
  }

  // A stream is told apart even before it exists, so that it is written
  // where it is.
  bool identifyPath(const char* path, FileIdentity& identity) override {
    if (isPipePath(path)) {
      identity = pipeIdentity(path);
      return true;
    }
    const char* stream = streamPart(path);
    const HANDLE handle =
        openPath(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == INVALID_HANDLE_VALUE) {
      if (stream != nullptr) identity = deviceIdentity(FileKind::Other);
      return stream != nullptr;
    }
    const bool described = describe(handle, identity);
    ::CloseHandle(handle);
    if (stream != nullptr) markStream(identity, streamTag(stream));
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

  // Pipes, streams and devices are names the system resolves itself, never
  // files of a folder that could be replaced.
  bool namesSpecialFile(const char* path) override {
    return isPipePath(path) || streamPart(path) != nullptr || namesDevice(path);
  }

  // A stream is emptied and written where it is, created if need be; a
  // device is only ever opened, even with a stream part.
  int openSpecial(const char* path) override {
    const char* stream = streamPart(path);
    if (stream == nullptr || namesDevice(path)) {
      return adopt(openPath(path, GENERIC_WRITE, OPEN_EXISTING));
    }
    constexpr DWORD access = GENERIC_WRITE | FILE_READ_ATTRIBUTES;
    HANDLE handle = openPath(path, access, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
      handle = openPath(path, access, CREATE_NEW);
    }
    if (handle != INVALID_HANDLE_VALUE && ::GetFileType(handle) == FILE_TYPE_DISK &&
        !emptyThrough(handle)) {
      ::CloseHandle(handle);
      return -1;
    }
    const int descriptor = adopt(handle);
    if (descriptor >= 0)
      slots[static_cast<std::size_t>(descriptor)] = Slot{handle, true, streamTag(stream)};
    return descriptor;
  }

  // No file name here stands for a handle the program holds. An existing
  // file is reached through the folder of its final path, links followed;
  // a new one through the folder the path names. The folder keeps its
  // separator: C:\ is the root, C: the drive's current folder. A name the
  // volume would refuse is refused before anything is written.
  int openDirectoryOf(const char* path, PathBuffer& name, int& held) override {
    held = -1;
    PathBuffer target;
    takeFinalPath(path, target);
    const char* last = lastComponent(target.c_str());
    PathBuffer folder;
    if (!takeLastName(target.c_str(), last, name) ||
        !folder.assign(last == target.c_str() ? "." : target.c_str())) {
      return -1;
    }
    if (last != target.c_str()) folder.text[static_cast<std::size_t>(last - target.c_str())] = '\0';
    const HANDLE handle =
        openPath(folder.c_str(), FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    FileIdentity identity;
    if (handle != INVALID_HANDLE_VALUE &&
        (!describe(handle, identity) || identity.kind != FileKind::Directory ||
         !fitsVolume(handle, name.c_str()))) {
      ::CloseHandle(handle);
      return -1;
    }
    return adopt(handle);
  }

  int duplicate(int /*held*/) override { return -1; }

  // Anything that cannot be looked at, for a reason other than not being
  // there, counts as there, of no known kind.
  bool identifyAt(int directory, const char* name, FileIdentity& identity) override {
    identity = FileIdentity{};
    const HANDLE handle = openAt(handleOf(directory), name, FILE_READ_ATTRIBUTES, shareAll,
                                 FILE_OPEN, FILE_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    }
    if (!describe(handle, identity)) identity = FileIdentity{};
    ::CloseHandle(handle);
    return true;
  }

  // What a replacement keeps is read at once and the file closed again: no
  // file can be renamed over one that is open, whatever the handle shares.
  // A file whose security settings this user may not read is looked at all
  // the same, and then written in place.
  int lookAt(int directory, const char* name) override {
    DWORD attributes = 0;
    const HANDLE folder = handleOf(directory);
    HANDLE handle = openUnfollowed(folder, name, READ_CONTROL, attributes);
    if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
      handle = openUnfollowed(folder, name, 0, attributes);
    }
    if (handle == INVALID_HANDLE_VALUE || look.taken) {
      if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
      return -1;
    }
    const bool described = look.take(handle);
    ::CloseHandle(handle);
    if (!described) {
      look.release();
      return -1;
    }
    return lookDescriptor;
  }

  // The read-only attribute binds every user, but Wine run by root opens such
  // a file for writing all the same; refused here, it is refused everywhere.
  // Otherwise the file is opened for writing and closed at once: that changes
  // nothing, and Windows tells no watcher of a file that was only opened.
  bool mayWrite(int directory, const char* name) override {
    DWORD attributes = 0;
    const HANDLE folder = handleOf(directory);
    const HANDLE looked = openUnfollowed(folder, name, 0, attributes);
    if (looked == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(looked);
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return false;
    const HANDLE tried = openUnfollowed(folder, name, GENERIC_WRITE, attributes);
    if (tried == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(tried);
    return true;
  }

  // Nothing here waits: a file is opened or refused at once.
  int openExisting(int directory, const char* name, bool /*wait*/) override {
    DWORD attributes = 0;
    const HANDLE handle = openUnfollowed(handleOf(directory), name, GENERIC_WRITE, attributes);
    if (handle != INVALID_HANDLE_VALUE && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      ::CloseHandle(handle);
      return -1;
    }
    return adopt(handle);
  }

  // Locks are per handle and bind every other handle, the same program's too.
  Locking tryLock(int descriptor) override {
    OVERLAPPED whole{};
    if (::LockFileEx(handleOf(descriptor), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                     MAXDWORD, MAXDWORD, &whole)) {
      return Locking::Locked;
    }
    switch (::GetLastError()) {
      case ERROR_LOCK_VIOLATION:
      case ERROR_IO_PENDING:
        return Locking::Busy;
      case ERROR_NOT_SUPPORTED:
      case ERROR_INVALID_FUNCTION:
        return Locking::Locked;
      default:
        return Locking::Failed;
    }
  }

  // Shared with nobody, so that no other process can open it before it is
  // in place; it is renamed and deleted through its own handle. Its security
  // settings are those any new file there gets, until copyOwner.
  int createTemporary(int directory, PathBuffer& name, bool& refused) override {
    constexpr ACCESS_MASK needed = GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES;
    constexpr ACCESS_MASK security = READ_CONTROL | WRITE_DAC | WRITE_OWNER;
    std::uint64_t seed = (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 32U) ^
                         ::GetTickCount64() ^ reinterpret_cast<std::uintptr_t>(&name);
    for (int attempt = 0; attempt < 100; ++attempt, seed = seed * 6364136223846793005U + 1) {
      temporaryName(seed, name);
      const auto create = [&](ACCESS_MASK access) {
        return openAt(handleOf(directory), name.c_str(), access, 0, FILE_CREATE,
                      FILE_NON_DIRECTORY_FILE);
      };
      HANDLE handle = create(needed | security);
      if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
        handle = create(needed);
      }
      if (handle != INVALID_HANDLE_VALUE) return adopt(handle);
      const DWORD error = ::GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
        refused = error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT;
        break;
      }
    }
    return -1;
  }

  // Nobody else may read or write it until it is complete; deleting it is
  // shared, so that an interruption can remove it by its name.
  int createNew(int directory, const char* name) override {
    return adopt(openAt(handleOf(directory), name, GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES,
                        FILE_SHARE_DELETE, FILE_CREATE, FILE_NON_DIRECTORY_FILE));
  }

  // The security settings the look read, set exactly as they were. A volume
  // without security settings has none to keep.
  bool copyOwner(int descriptor, int original) override {
    if (original != lookDescriptor || !look.taken) return false;
    if (!look.secured) return true;
    return look.security != nullptr &&
           ::SetKernelObjectSecurity(handleOf(descriptor), look.kept, look.security) != 0;
  }

  // The archive attribute marks a file changed, as it marks any new one; a
  // new file keeps none of the others.
  bool setFinalPermissions(int descriptor, int /*directory*/, int original) override {
    if (original >= 0 && (original != lookDescriptor || !look.taken)) return false;
    const DWORD replaced = original >= 0 ? look.identity.attributes : 0;
    FILE_BASIC_INFO basic{};  // Times of zero are left as they are.
    basic.FileAttributes = FILE_ATTRIBUTE_ARCHIVE | (replaced & keptAttributes);
    return ::SetFileInformationByHandle(handleOf(descriptor), FileBasicInfo, &basic,
                                        sizeof basic) != 0;
  }

  bool truncate(int descriptor) override { return emptyThrough(handleOf(descriptor)); }

  std::int64_t write(int descriptor, const void* data, std::size_t count) override {
    DWORD done = 0;
    const DWORD asked = count > 0x40000000U ? 0x40000000U : static_cast<DWORD>(count);
    if (!::WriteFile(handleOf(descriptor), data, asked, &done, nullptr)) return -1;
    return done;
  }

  bool close(int descriptor) override {
    if (descriptor == lookDescriptor && look.taken) {
      look.release();
      return true;
    }
    const HANDLE handle = handleOf(descriptor);
    if (handle == INVALID_HANDLE_VALUE) return false;
    slots[static_cast<std::size_t>(descriptor)] = Slot{};
    return ::CloseHandle(handle) != 0;
  }

  // What another process holding the name open causes, a virus scanner, an
  // indexer or a sync client, is Busy: the tape waits, still open, for the
  // next try. Nothing is Refused: no Windows folder takes a new file but
  // refuses to let it be renamed.
  Placing putInPlace(int descriptor, int directory, const char* from, const FileIdentity& identity,
                     const char* to) override {
    const DWORD error = renameAt(handleOf(descriptor), handleOf(directory), to);
    if (error == ERROR_SUCCESS) {
      close(descriptor);
      return Placing::Done;
    }
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) return Placing::Busy;
    discardTemporary(descriptor, directory, from, identity);
    return Placing::Failed;
  }

  // A temporary file is shared with nobody, so it is deleted through its own
  // handle: a handle opened afresh might also meet a scanner's.
  bool removeOpen(int descriptor) override { return deleteThrough(handleOf(descriptor)); }

  bool removeIfSame(int directory, const char* name, const FileIdentity& identity) override {
    return removeAt(handleOf(directory), name, identity);
  }

  HANDLE handleOf(int descriptor) const {
    const auto slot = static_cast<std::size_t>(descriptor);
    return descriptor >= 0 && slot < handleSlots ? slots[slot].handle : INVALID_HANDLE_VALUE;
  }

 private:
  struct Slot {
    HANDLE handle = INVALID_HANDLE_VALUE;
    // Opened by a name with a stream part, and which stream (see streamTag).
    bool stream = false;
    std::uint64_t streamTag = 0;
  };
  // A conversion holds at most three handles at once: the output's folder,
  // the file it replaces and the new one.
  static constexpr std::size_t handleSlots = 8;
  // The one look a conversion takes, past the handles.
  static constexpr int lookDescriptor = static_cast<int>(handleSlots);

  int adopt(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) return -1;
    for (std::size_t slot = 0; slot < handleSlots; ++slot) {
      if (slots[slot].handle == INVALID_HANDLE_VALUE) {
        slots[slot].handle = handle;
        return static_cast<int>(slot);
      }
    }
    ::CloseHandle(handle);
    return -1;
  }

  bool isStream(int descriptor) const {
    return handleOf(descriptor) != INVALID_HANDLE_VALUE &&
           slots[static_cast<std::size_t>(descriptor)].stream;
  }

  std::array<Slot, handleSlots> slots{};
  FileLook look;
};

WindowsFileSystem& windowsFileSystem() {
  static WindowsFileSystem instance;
  return instance;
}

// Its descriptors are those of the file system, whose handles the clean-up
// takes.
class WindowsProcess final : public ProcessControl {
 public:
  // Forty of these outlast a scanner's look at a new file.
  void pauseBriefly() override { ::Sleep(50); }

  void guardPartialOutput(const PartialOutput* partial) override {
    ::InterlockedExchange(&cleanupArmed, 0);
    if (partial == nullptr || !cleanup.name.assign(partial->name)) return;
    const WindowsFileSystem& files = windowsFileSystem();
    cleanup.directory = files.handleOf(partial->directory);
    cleanup.identity = partial->identity;
    cleanup.handle = files.handleOf(partial->descriptor);
    cleanup.truncateFirst = partial->truncateFirst;
    cleanup.removeName = partial->removeName;
    ::InterlockedExchange(&cleanupArmed, 1);
  }

  void holdInterruptions(bool hold) override {
    if (hold) {
      ::AcquireSRWLockExclusive(&interruptionHold);
    } else {
      ::ReleaseSRWLockExclusive(&interruptionHold);
    }
  }
};

}  // namespace

FileSystem& systemFileSystem() { return windowsFileSystem(); }

ProcessControl& systemProcess() {
  static WindowsProcess instance;
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
