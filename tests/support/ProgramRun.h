#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct ProgramResult {
  int status = -1;
  std::string out;
  std::string err;
  // A signal asked for by ProgramRunOptions::atEachSystemCall was sent.
  bool signalled = false;
};

// The status of a run that was to be traced when the system does not let the
// test trace its own child.
inline constexpr int cannotTraceStatus = 124;

struct ProgramRunOptions {
  std::string directory = ".";
  // Fed through a pipe as standard input; without it standard input is the
  // null device.
  std::optional<std::string> input;
  // A program still running after this long is ended (by SIGALRM on POSIX),
  // so that a program that hangs fails the test instead of stopping it.
  unsigned timeLimitSeconds = 30;

  // The rest only POSIX can honour; on Windows runProgram refuses them.

  // When run by the superuser, run the program as nobody, so that file
  // permissions bind it.
  bool asUnprivilegedUser = false;
  // The largest file the program may write, as `ulimit -f` sets it, in bytes.
  std::optional<std::uint64_t> fileSizeLimit;
  // The program's umask.
  std::optional<unsigned> fileCreationMask;
  // Written to standard output before the program starts, which then writes
  // on after it; with appendOutput the program finds its standard output
  // opened for appending.
  std::string outputBefore;
  bool appendOutput = false;
  // A signal the program starts with blocked and already pending.
  int blockedPendingSignal = 0;
  // A signal the program starts with ignored, as under nohup.
  int ignoredSignal = 0;
  // Standard descriptors (0, 1, 2) the program finds closed when it starts;
  // such a run is never wrapped (see REELMAKE_TEST_WRAPPER in runProgram).
  std::vector<int> closedDescriptors;
  // For a test that must act at an exact moment, never by timing: the program
  // is stopped at each of its system calls and this is called; once it
  // returns a signal (not 0), that signal is sent and the program runs on
  // untraced, as it does without a signal after letGo. Not for runs whose
  // input fills a pipe.
  std::function<int()> atEachSystemCall;
};

// Returned by atEachSystemCall to stop tracing without a signal: a program
// traced to its end could not be checked for leaks by the sanitizers.
inline constexpr int letGo = -1;

// The emulator that runs a cross build's programs (qemu-user), which the
// POSIX runs start the program through; null in a native build.
#ifdef REELMAKE_EMULATOR
inline constexpr const char* programEmulator = REELMAKE_EMULATOR;
#else
inline constexpr const char* programEmulator = nullptr;
#endif

// Runs the program with arguments (UTF-8) and waits for it; captures both
// outputs. The status is the exit status, or 128 plus the signal that ended
// the program; on Windows it is the exit code, and a program out of time is
// ended with 128 + 14, as SIGALRM would end it. Safe to call from several
// threads at once, and from atEachSystemCall.
ProgramResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const ProgramRunOptions& options = {});
