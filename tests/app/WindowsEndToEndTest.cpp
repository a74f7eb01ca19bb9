// End-to-end runs of what only Windows has: UTF-16 paths and arguments,
// either separator, names without case, long paths, files held open or locked
// by another process, the read-only, hidden and system attributes, access
// lists, streams, device names and named pipes.
#include <windows.h>
// Must come after windows.h.
#include <aclapi.h>
#include <sddl.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <set>
#include <thread>

#include "EndToEnd.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const Bytes newTape = {0x03, 0x00, 0x01, 0x02, 0x03};
constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A run on a thread of its own, for a test that acts while the program runs.
class BackgroundRun {
 public:
  BackgroundRun(const std::string& directory, const Arguments& arguments)
      : thread([this, directory, arguments] {
          ProgramRunOptions options;
          options.directory = directory;
          outcome = runProgram(REELMAKE_BINARY, arguments, options);
          ended = true;
        }) {}
  ~BackgroundRun() {
    if (thread.joinable()) thread.join();
  }
  BackgroundRun(const BackgroundRun&) = delete;
  BackgroundRun& operator=(const BackgroundRun&) = delete;

  bool hasEnded() const { return ended; }
  const ProgramResult& result() {
    thread.join();
    return outcome;
  }

 private:
  ProgramResult outcome;
  std::atomic<bool> ended = false;
  std::thread thread;
};

// Whether the program's manifest lets it take paths over 260 characters.
bool declaresLongPaths(const std::string& program) {
  const HMODULE image = ::LoadLibraryExW(pathOf(program).wstring().c_str(), nullptr,
                                         LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (image == nullptr) return false;
  const HRSRC found = ::FindResourceA(image, MAKEINTRESOURCEA(1), RT_MANIFEST);
  const HGLOBAL loaded = found != nullptr ? ::LoadResource(image, found) : nullptr;
  const void* text = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  const std::string manifest =
      text != nullptr ? std::string(static_cast<const char*>(text), ::SizeofResource(image, found))
                      : std::string();
  ::FreeLibrary(image);
  return manifest.find("longPathAware>true<") != std::string::npos;
}

class WindowsEndToEnd : public EndToEnd {
 protected:
  std::wstring widePath(const std::string& name) { return pathOf(dir / name).wstring(); }
  std::set<std::string> namesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(pathOf(dir / folder))) {
      names.insert(utf8Of(entry.path().filename()));
    }
    return names;
  }
  std::optional<std::uint64_t> fileIndexOf(const std::string& name) {
    const HANDLE handle = ::CreateFileW(widePath(name).c_str(), FILE_READ_ATTRIBUTES, shareAll,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION information{};
    const bool found =
        handle != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(handle, &information);
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    if (!found) return std::nullopt;
    return (std::uint64_t{information.nFileIndexHigh} << 32U) | information.nFileIndexLow;
  }
  void expectBackgroundRun(BackgroundRun& background, int status, const std::string& message) {
    const ProgramResult& result = background.result();
    EXPECT_EQ(result.err, "") << "nothing may go to standard error";
    expectRun(result, status, message);
  }
};

// The access list of a file in the system's own notation.
std::wstring accessListOf(const std::wstring& path) {
  PSECURITY_DESCRIPTOR security = nullptr;
  if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &security) != ERROR_SUCCESS) {
    return L"(unreadable)";
  }
  wchar_t* text = nullptr;
  const bool converted = ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
      security, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr);
  std::wstring list = converted ? text : L"(unconvertible)";
  ::LocalFree(text);
  ::LocalFree(security);
  return list;
}

// Converted through the ANSI code page, テープ would become question marks.
TEST_F(WindowsEndToEnd, UnicodePathsWithEitherSeparator) {
  fs::create_directory(pathOf(dir / "Ünïcode"));
  input({1, 2, 3}, "Ünïcode\\テープ.bin");
  expectRun(run({"-r", "Ünïcode\\テープ.bin", "Ünïcode\\テープ.tap"}), 0, "");
  expectRun(run({"-r", ".\\Ünïcode/テープ.bin", "./Ünïcode\\Tëst.tap"}), 0, "");
  EXPECT_EQ(namesIn("Ünïcode"), (std::set<std::string>{"テープ.bin", "テープ.tap", "Tëst.tap"}));
  EXPECT_EQ(tape("Ünïcode\\テープ.tap"), newTape);
  EXPECT_EQ(tape("Ünïcode\\Tëst.tap"), newTape);
}

TEST_F(WindowsEndToEnd, TheSameFileUnderAnotherCaseOrSeparatorIsRefused) {
  const Bytes original = {1, 2, 3};
  input(original);
  const std::u8string absolute = (dir.path() / "IN.bin").generic_u8string();
  const std::string outputs[] = {"IN.BIN", "In.Bin", ".\\in.bin",
                                 std::string(absolute.begin(), absolute.end())};
  for (const std::string& output : outputs) {
    expectRun(run({"in.bin", output}), 1, errorSame);
    EXPECT_EQ(tape("in.bin"), original) << output;
  }
  EXPECT_EQ(namesIn("."), std::set<std::string>{"in.bin"});
}

// Held open by the test itself, which is another process to the program: a
// file that may not be written cannot be the output, and one that may not be
// deleted cannot be replaced once the tape is written beside it. The
// read-only attribute binds every user, administrators included.
TEST_F(WindowsEndToEnd, AnOutputHeldOpenOrReadOnlyKeepsItsTape) {
  input({1, 2, 3});
  const struct {
    const char* what;
    std::optional<DWORD> heldWithSharing;
    DWORD attributes;
    const char* message;
  } cases[] = {
      {"held without sharing", 0, FILE_ATTRIBUTE_NORMAL, errorCreate},
      {"held without sharing its deletion", FILE_SHARE_READ | FILE_SHARE_WRITE,
       FILE_ATTRIBUTE_NORMAL, errorWrite},
      {"read-only", std::nullopt, FILE_ATTRIBUTE_READONLY, errorCreate},
  };
  const std::wstring output = widePath("out.tap");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    input(earlierTape, "out.tap");
    ASSERT_TRUE(::SetFileAttributesW(output.c_str(), c.attributes));
    const HANDLE holder =
        c.heldWithSharing ? ::CreateFileW(output.c_str(), GENERIC_READ, *c.heldWithSharing, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                          : nullptr;
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const ProgramResult result = run({"in.bin", "out.tap"});
    if (holder != nullptr) ::CloseHandle(holder);
    expectRun(result, 1, c.message);
    EXPECT_EQ(::GetFileAttributesW(output.c_str()) & FILE_ATTRIBUTE_READONLY,
              c.attributes & FILE_ATTRIBUTE_READONLY);
    ::SetFileAttributesW(output.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(tape(), earlierTape);
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
  }
}

// What a virus scanner or an indexer does to a tape it sees replaced: it holds
// the old one open for a moment without letting it be deleted. The new tape
// waits beside it, shared with nobody, and takes its place once it is let go.
TEST_F(WindowsEndToEnd, AnOutputHeldForAMomentTakesTheTapeOnceLetGo) {
  input({1, 2, 3});
  input(earlierTape, "out.tap");
  const HANDLE holder =
      ::CreateFileW(widePath("out.tap").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  BackgroundRun program(utf8Of(dir.path()), {"-r", "in.bin", "out.tap"});
  std::vector<std::string> waiting;
  for (int poll = 0; poll < 2000 && waiting.empty() && !program.hasEnded(); ++poll) {
    std::this_thread::sleep_for(10ms);
    waiting = leftovers();
  }
  ASSERT_EQ(waiting.size(), 1U);
  const HANDLE peek = ::CreateFileW(pathOf(waiting.front()).c_str(), GENERIC_READ, shareAll,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  const DWORD peekError = ::GetLastError();
  if (peek != INVALID_HANDLE_VALUE) ::CloseHandle(peek);
  EXPECT_EQ(peek, INVALID_HANDLE_VALUE) << "another process opened the unfinished tape";
  EXPECT_EQ(peekError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(program.hasEnded()) << "gave up at once";
  ::CloseHandle(holder);
  expectBackgroundRun(program, 0, "");
  EXPECT_EQ(tape(), newTape);
  EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

// Another run writing a hard-linked tape in place locks it for the whole
// write; this one waits instead of writing into the same bytes.
TEST_F(WindowsEndToEnd, AnOutputWrittenInPlaceWaitsForTheWriterBeforeIt) {
  input({1, 2, 3});
  input(earlierTape, "out.tap");
  ASSERT_TRUE(
      ::CreateHardLinkW(widePath("link.tap").c_str(), widePath("out.tap").c_str(), nullptr));
  const HANDLE writer = ::CreateFileW(widePath("out.tap").c_str(), GENERIC_WRITE, shareAll, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  OVERLAPPED whole{};
  ASSERT_TRUE(::LockFileEx(writer, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole));
  BackgroundRun program(utf8Of(dir.path()), {"-r", "in.bin", "out.tap"});
  std::this_thread::sleep_for(2s);
  EXPECT_FALSE(program.hasEnded()) << "wrote while another writer held the file";
  ::UnlockFileEx(writer, 0, MAXDWORD, MAXDWORD, &whole);
  ::CloseHandle(writer);
  expectBackgroundRun(program, 0, "");
  EXPECT_EQ(tape("link.tap"), newTape);
}

// Hidden and system attributes, and an access list of the tape's own that
// lets only its owner in, outlive the replacement; the folder's would let
// more users read the tape.
TEST_F(WindowsEndToEnd, AReplacedTapeKeepsItsHiddenAndSystemAttributesAndItsAccessList) {
  input({1, 2, 3});
  input(earlierTape, "out.tap");
  const std::wstring output = widePath("out.tap");
  PSECURITY_DESCRIPTOR security = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:P(A;;FA;;;OW)", SDDL_REVISION_1, &security, nullptr));
  ASSERT_TRUE(::SetFileSecurityW(output.c_str(), DACL_SECURITY_INFORMATION, security));
  ::LocalFree(security);
  constexpr DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  ASSERT_TRUE(::SetFileAttributesW(output.c_str(), hiddenSystem));
  const std::wstring accessList = accessListOf(output);
  input({}, "new.tap");
  ASSERT_NE(accessList, accessListOf(widePath("new.tap"))) << "the folder's own would do";
  expectRun(run({"-r", "in.bin", "out.tap"}), 0, "");
  EXPECT_EQ(tape(), newTape);
  EXPECT_EQ(::GetFileAttributesW(output.c_str()) & hiddenSystem, hiddenSystem);
  EXPECT_EQ(accessListOf(output), accessList);
  EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

// x.tap:s names the stream s of x.tap (under Wine, a file of that name). No
// stream can be renamed over another, so it is emptied and written where it is.
TEST_F(WindowsEndToEnd, AStreamIsEmptiedAndWrittenWhereItIs) {
  input({1, 2, 3});
  input(earlierTape, "out.tap");
  input(earlierTape, "out.tap:s");
  const std::optional<std::uint64_t> stream = fileIndexOf("out.tap:s");
  ASSERT_TRUE(stream);
  expectRun(run({"-r", "in.bin", "out.tap:s"}), 0, "");
  EXPECT_EQ(tape("out.tap:s"), newTape);
  EXPECT_EQ(fileIndexOf("out.tap:s"), stream);
  EXPECT_EQ(tape(), earlierTape);
}

// Over 260 characters, a path works only for a program whose manifest says
// it can take one, and only where the system has long paths enabled (Wine
// always has). The test reaches such paths through the \\?\ prefix instead.
TEST_F(WindowsEndToEnd, APathOverTwoHundredSixtyCharactersIsWrittenAndReplaced) {
  DWORD enabled = 1;
  DWORD size = sizeof enabled;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\FileSystem",
                     L"LongPathsEnabled", RRF_RT_REG_DWORD, nullptr, &enabled,
                     &size) == ERROR_SUCCESS &&
      enabled == 0) {
    GTEST_SKIP() << "long paths are not enabled on this system";
  }
  EXPECT_TRUE(declaresLongPaths(REELMAKE_BINARY));
  const std::wstring prefixed = L"\\\\?\\" + fs::path(dir.path()).make_preferred().wstring();
  const std::string folders[] = {std::string(120, 'd'),
                                 std::string(120, 'd') + "\\" + std::string(120, 'e')};
  for (const std::string& folder : folders) {
    ASSERT_TRUE(::CreateDirectoryW((prefixed + L"\\" + pathOf(folder).wstring()).c_str(), nullptr));
  }
  const std::string output = folders[1] + "\\" + std::string(40, 't') + ".tap";
  const std::string whole = utf8Of(prefixed + L"\\" + pathOf(output).wstring());
  input({1, 2, 3});
  expectRun(run({"-r", "in.bin", output}), 0, "");
  EXPECT_EQ(readFile(whole), newTape);
  input({4, 5});
  expectRun(run({"-r", "in.bin", output}), 0, "");
  EXPECT_EQ(readFile(whole), (Bytes{0x02, 0x00, 0x04, 0x05}));
  // Removed here: the test's own clean-up takes no path that long.
  EXPECT_TRUE(::DeleteFileW(pathOf(whole).c_str()));
  for (auto folder = std::rbegin(folders); folder != std::rend(folders); ++folder) {
    EXPECT_TRUE(::RemoveDirectoryW((prefixed + L"\\" + pathOf(*folder).wstring()).c_str()));
  }
}

// No file named NUL may come into being beside the input.
TEST_F(WindowsEndToEnd, TheNullDeviceIsAnInputAndAnOutput) {
  input({1, 2, 3});
  for (const char* device : {"NUL", "nul"}) {
    expectRun(run({"-b", "in.bin", device, "n"}), 0, "");
  }
  EXPECT_EQ(namesIn("."), std::set<std::string>{"in.bin"});
  expectRun(run({"NUL", "out.tap"}), 0, "");
  EXPECT_EQ(tape(), (Bytes{0x02, 0x00, 0xFF, 0xFF}));
}

// A device name is the device in any folder, whatever its case, extension,
// trailing dots or blanks: never a file made or replaced. A device that
// cannot be written here (no console, no printer) fails the run like any
// output that cannot be opened. Only \\?\ makes a file of such a name, which
// is left as it is. No serial port is named: Wine puts COM1 (and AUX) on the
// machine's first serial line, which may be its console.
TEST_F(WindowsEndToEnd, ADeviceNameNeverBecomesAFile) {
  input({1, 2, 3});
  fs::create_directory(pathOf(dir / "sub"));
  const std::wstring prefixed = L"\\\\?\\" + fs::path(dir.path()).make_preferred().wstring();
  const std::string literal = utf8Of(prefixed + L"\\sub\\prn.tap");
  writeFile(literal, earlierTape);
  ProgramRunOptions quick;
  quick.timeLimitSeconds = 20;
  const std::string ran = std::string("\n").append(banner()).append("\n");
  for (const std::string device :
       {"CON", "con.tap", "PRN", "LPT1.tap", "CONOUT$", "NUL", "nul.txt. .", "Prn ", "lpt9.tap",
        "sub\\NUL", "sub\\Con.tap", "sub\\prn.tap"}) {
    SCOPED_TRACE(device);
    const ProgramResult result = run({"-r", "in.bin", device}, quick);
    if (device.ends_with("NUL")) {
      EXPECT_EQ(result.status, 0);
    }
    const bool written = result.status == 0 && result.out == ran;
    const bool refused =
        result.status == 1 && (result.out == ran + errorCreate || result.out == ran + errorWrite);
    EXPECT_TRUE(written || refused) << result.status << ": " << result.out;
  }
  EXPECT_EQ(namesIn("."), (std::set<std::string>{"in.bin", "sub"}));
  EXPECT_EQ(namesIn("sub"), std::set<std::string>{"prn.tap"});
  EXPECT_EQ(readFile(literal), earlierTape);
  // Through \\?\ here: by these names alone the clean-up would meet devices.
  for (const char* folder : {"", "sub\\"}) {
    for (const std::string& name : namesIn(folder)) {
      ::DeleteFileW((prefixed + L"\\" + pathOf(folder + name).wstring()).c_str());
    }
  }
}

// Like a FIFO elsewhere, a named pipe is written in place; looking at it
// first would take the one instance the reader offers.
TEST_F(WindowsEndToEnd, ANamedPipeTakesTheTape) {
  input({1, 2, 3});
  const std::string number = std::to_string(::GetCurrentProcessId());
  const std::string pipe = "\\\\.\\pipe\\reelmake-test-" + number;
  // Refused before either is opened, which would wait for a server.
  expectRun(run({pipe, "//./PIPE/REELMAKE-TEST-" + number}), 1, errorSame);
  const HANDLE server = ::CreateNamedPipeW(pathOf(pipe).c_str(), PIPE_ACCESS_INBOUND,
                                           PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  std::string received;
  std::thread reader([&] {
    char chunk[256];
    DWORD got = 0;
    if (::ConnectNamedPipe(server, nullptr) || ::GetLastError() == ERROR_PIPE_CONNECTED) {
      while (::ReadFile(server, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        received.append(chunk, got);
      }
    }
  });
  const ProgramResult result = run({"-r", "in.bin", pipe});
  // A reader still waiting, for a program that never came, sees an empty pipe.
  ::CloseHandle(
      ::CreateFileW(pathOf(pipe).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  reader.join();
  ::CloseHandle(server);
  expectRun(result, 0, "");
  EXPECT_EQ(received, std::string("\x03\x00\x01\x02\x03", 5));
}

// A named pipe as the input is read until its writer closes it, like a pipe
// elsewhere, and the run ends then instead of waiting for more.
TEST_F(WindowsEndToEnd, ANamedPipeIsReadToItsEnd) {
  const std::string pipe = "\\\\.\\pipe\\reelmake-input-" + std::to_string(::GetCurrentProcessId());
  const HANDLE server = ::CreateNamedPipeW(pathOf(pipe).c_str(), PIPE_ACCESS_OUTBOUND,
                                           PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  std::thread writer([&] {
    DWORD written = 0;
    if (::ConnectNamedPipe(server, nullptr) || ::GetLastError() == ERROR_PIPE_CONNECTED) {
      ::WriteFile(server, "\x01\x02\x03", 3, &written, nullptr);
      ::FlushFileBuffers(server);
    }
    ::CloseHandle(server);
  });
  const ProgramResult result = run({"-r", pipe, "out.tap"});
  writer.join();
  expectRun(result, 0, "");
  EXPECT_EQ(tape(), newTape);
}

}  // namespace
