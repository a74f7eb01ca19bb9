// End-to-end runs of what only Windows has: UTF-16 paths and arguments,
// either separator, names without case, files held open by another process,
// the read-only attribute, the NUL device and named pipes.
#include <windows.h>

#include <optional>
#include <set>
#include <thread>

#include "EndToEnd.h"

namespace {

namespace fs = std::filesystem;

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
};

// Converted through the ANSI code page, テープ would become question marks.
TEST_F(WindowsEndToEnd, UnicodePathsWithEitherSeparator) {
  fs::create_directory(pathOf(dir / "Ünïcode"));
  input({1, 2, 3}, "Ünïcode\\テープ.bin");
  expectRun(run({"-r", "Ünïcode\\テープ.bin", "Ünïcode\\テープ.tap"}), 0, "");
  expectRun(run({"-r", ".\\Ünïcode/テープ.bin", "./Ünïcode\\Tëst.tap"}), 0, "");
  EXPECT_EQ(namesIn("Ünïcode"), (std::set<std::string>{"テープ.bin", "テープ.tap", "Tëst.tap"}));
  EXPECT_EQ(tape("Ünïcode\\テープ.tap"), (Bytes{0x03, 0x00, 0x01, 0x02, 0x03}));
  EXPECT_EQ(tape("Ünïcode\\Tëst.tap"), (Bytes{0x03, 0x00, 0x01, 0x02, 0x03}));
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
  EXPECT_EQ(tape(), (Bytes{0x03, 0x00, 0x01, 0x02, 0x03}));
}

}  // namespace
