// Runs the program with CreateProcessW: its arguments quoted so that the C
// runtime and CommandLineToArgvW split them back unchanged, standard input
// from a pipe or the null device, both outputs drained by threads. No
// REELMAKE_TEST_WRAPPER here: the memory checkers it is for are POSIX tools.
#include "support/ProgramRun.h"

#include <windows.h>

#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

namespace {

class Handle {
 public:
  Handle() = default;
  ~Handle() { reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE get() const { return value; }
  HANDLE* receive() {
    reset();
    return &value;
  }
  HANDLE release() { return std::exchange(value, nullptr); }
  void reset(HANDLE handle = nullptr) {
    if (value != nullptr && value != INVALID_HANDLE_VALUE) ::CloseHandle(value);
    value = handle;
  }

 private:
  HANDLE value = nullptr;
};

std::wstring wide(const std::string& utf8) {
  const auto convert = [&](wchar_t* out, int capacity) {
    return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                 static_cast<int>(utf8.size()), out, capacity);
  };
  const int length = convert(nullptr, 0);
  if (length <= 0 && !utf8.empty()) throw std::invalid_argument("not UTF-8: " + utf8);
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  convert(text.data(), length);
  return text;
}

// Backslashes are literal except before a quote, where each pair stands for
// one backslash; the quotes themselves group blanks.
void appendArgument(std::wstring& line, const std::wstring& argument) {
  line += L' ';
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    line += c;
    backslashes = 0;
  }
  line.append(2 * backslashes, L'\\');
  line += L'"';
}

// The program's own name is taken up to the next quote, backslashes and all.
std::wstring commandLine(const std::string& program, const std::vector<std::string>& arguments) {
  std::wstring line = L"\"" + wide(program) + L"\"";
  for (const std::string& argument : arguments) appendArgument(line, wide(argument));
  return line;
}

// Resolved here, so that it does not depend on the program's directory.
std::wstring fullPath(const std::string& program) {
  const std::wstring path = wide(program);
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) throw std::runtime_error("no full path for " + program);
    const bool fits = length < full.size();
    full.resize(length);
    if (fits) return full;
  }
}

void refusePosixOnly(const ProgramRunOptions& options) {
  if (options.asUnprivilegedUser || options.fileSizeLimit || options.fileCreationMask ||
      !options.closedDescriptors.empty() || options.atEachSystemCall ||
      !options.outputBefore.empty() || options.appendOutput || options.blockedPendingSignal != 0 ||
      options.ignoredSignal != 0) {
    throw std::invalid_argument("a run option that only POSIX can honour");
  }
}

std::thread drain(HANDLE pipe, std::string& text) {
  return std::thread([pipe, &text] {
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  });
}

// Closes the pipe once done, so that the program sees the end of its input.
std::thread feed(HANDLE pipe, const std::string& data) {
  return std::thread([pipe, &data] {
    std::size_t done = 0;
    DWORD written = 0;
    // A program that stops reading ends the feeding; that is its business.
    while (done < data.size() &&
           ::WriteFile(pipe, data.data() + done, static_cast<DWORD>(data.size() - done), &written,
                       nullptr)) {
      done += written;
    }
    ::CloseHandle(pipe);
  });
}

void makePipe(Handle& reader, Handle& writer) {
  if (!::CreatePipe(reader.receive(), writer.receive(), nullptr, 0)) {
    throw std::runtime_error("cannot make a pipe for the program");
  }
}

// The ends the program gets, which it alone must inherit.
struct ChildEnds {
  Handle input;
  Handle out;
  Handle err;
};

// Taken while one run's handles are inheritable: a program started meanwhile
// would inherit them and keep the other run's pipes open.
std::mutex startingProgram;

PROCESS_INFORMATION start(const std::wstring& application, std::wstring& line,
                          const std::wstring& directory, ChildEnds& ends) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ends.input.get();
  startup.hStdOutput = ends.out.get();
  startup.hStdError = ends.err.get();
  for (const HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
    ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  }
  PROCESS_INFORMATION process{};
  const bool started = ::CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, directory.c_str(), &startup, &process) != 0;
  // Closed before another run may start: the program holds its own copies.
  ends.input.reset();
  ends.out.reset();
  ends.err.reset();
  if (!started) throw std::runtime_error("cannot start the program");
  return process;
}

}  // namespace

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const ProgramRunOptions& options) {
  refusePosixOnly(options);
  const std::wstring application = fullPath(program);
  std::wstring line = commandLine(program, arguments);
  const std::wstring directory = wide(options.directory);
  Handle inputWriter;
  Handle outReader;
  Handle errReader;
  Handle process;
  {
    const std::lock_guard lock(startingProgram);
    ChildEnds ends;
    if (options.input) {
      makePipe(ends.input, inputWriter);
    } else {
      ends.input.reset(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
      if (ends.input.get() == INVALID_HANDLE_VALUE) throw std::runtime_error("no null device");
    }
    makePipe(outReader, ends.out);
    makePipe(errReader, ends.err);
    const PROCESS_INFORMATION started = start(application, line, directory, ends);
    ::CloseHandle(started.hThread);
    process.reset(started.hProcess);
  }
  ProgramResult result;
  std::thread outDrain = drain(outReader.get(), result.out);
  std::thread errDrain = drain(errReader.get(), result.err);
  std::thread feeder = options.input ? feed(inputWriter.release(), *options.input) : std::thread();
  if (::WaitForSingleObject(process.get(), options.timeLimitSeconds * 1000U) != WAIT_OBJECT_0) {
    constexpr UINT endedByAlarm = 128 + 14;
    ::TerminateProcess(process.get(), endedByAlarm);
    ::WaitForSingleObject(process.get(), INFINITE);
  }
  if (feeder.joinable()) feeder.join();
  outDrain.join();
  errDrain.join();
  DWORD code = 0;
  ::GetExitCodeProcess(process.get(), &code);
  result.status = static_cast<int>(code);
  return result;
}
