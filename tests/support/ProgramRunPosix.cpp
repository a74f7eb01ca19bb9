// Runs the program with fork and exec, with everything POSIX lets a test
// set up: user, umask, file-size limit, closed descriptors, tracing.
#include "support/ProgramRun.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/ptrace.h>
#endif

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace {

std::string slurp(std::FILE* file) {
  std::string text;
  std::rewind(file);
  char chunk[4096];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    text.append(chunk, got);
  }
  return text;
}

// A temporary file no other run started meanwhile inherits.
std::FILE* privateTemporaryFile() {
  std::FILE* file = std::tmpfile();
  if (file != nullptr) ::fcntl(::fileno(file), F_SETFD, FD_CLOEXEC);
  return file;
}

// Built before the fork: a child of a process with threads may not allocate.
std::vector<char*> argumentVector(const std::string& program,
                                  const std::vector<std::string>& arguments, const char* wrapper) {
  std::vector<char*> vector;
  if (wrapper != nullptr) {
    vector.push_back(const_cast<char*>(wrapper));
  }
  vector.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) {
    vector.push_back(const_cast<char*>(argument.c_str()));
  }
  vector.push_back(nullptr);
  return vector;
}

bool startTraced() {
#ifdef __linux__
  return ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) == 0;
#else
  return false;
#endif
}

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void runChild(const char* path, char* const* vector, const ProgramRunOptions& options,
                           int inputFd, int outFd, int errFd) {
  if (options.fileSizeLimit) {
    const auto limit = static_cast<rlim_t>(*options.fileSizeLimit);
    const struct rlimit fileSize { limit, limit };
    if (::setrlimit(RLIMIT_FSIZE, &fileSize) != 0) ::_exit(125);
  }
  constexpr uid_t nobody = 65534;
  if (options.asUnprivilegedUser && ::geteuid() == 0 &&
      (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)) {
    ::_exit(125);
  }
  if (::chdir(options.directory.c_str()) != 0) ::_exit(126);
  ::dup2(inputFd, 0);
  ::dup2(outFd, 1);
  ::dup2(errFd, 2);
  if (options.fileCreationMask) ::umask(static_cast<mode_t>(*options.fileCreationMask));
  if (options.appendOutput) ::fcntl(1, F_SETFL, O_APPEND);
  if (options.blockedPendingSignal != 0) {
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, options.blockedPendingSignal);
    ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
    ::raise(options.blockedPendingSignal);
  }
  // The test ignores SIGPIPE, and an ignored signal stays ignored across exec:
  // the program must show that it copes on its own.
  std::signal(SIGPIPE, SIG_DFL);
  if (options.ignoredSignal != 0) std::signal(options.ignoredSignal, SIG_IGN);
  for (const int descriptor : options.closedDescriptors) ::close(descriptor);
  if (options.atEachSystemCall && !startTraced()) ::_exit(cannotTraceStatus);
  // A pending alarm survives exec.
  ::alarm(options.timeLimitSeconds);
  ::execv(path, vector);
  ::_exit(127);
}

void feed(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t written = ::write(fd, data.data() + done, data.size() - done);
    if (written <= 0) break;  // the program stopped reading; that is its business
    done += static_cast<std::size_t>(written);
  }
}

bool hasEnded(int status) { return WIFEXITED(status) || WIFSIGNALED(status); }

#ifdef __linux__
// The request's type differs between C libraries, hence the template.
template <typename Request>
long trace(Request request, pid_t child, long data = 0) {
  return ::ptrace(request, child, nullptr,
                  reinterpret_cast<void*>(static_cast<std::intptr_t>(data)));
}

// Follows the traced child from one system call to the next until a signal
// is asked for, then sends it and lets the child go. True once sent; status is
// the child's last wait status either way.
bool followUntilSignalled(pid_t child, const std::function<int()>& atEachSystemCall, int& status) {
  // The child stops first when it starts the program.
  if (::waitpid(child, &status, 0) != child || !WIFSTOPPED(status)) return false;
  trace(PTRACE_SETOPTIONS, child, PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL);
  int signalToPass = 0;
  while (trace(PTRACE_SYSCALL, child, signalToPass) == 0 && ::waitpid(child, &status, 0) == child &&
         WIFSTOPPED(status)) {
    const bool atSystemCall = WSTOPSIG(status) == (SIGTRAP | 0x80);
    const bool atTraceEvent = (status >> 16) != 0;
    // Any other stop is a signal on its way to the program: it goes on to it.
    signalToPass = atSystemCall || atTraceEvent ? 0 : WSTOPSIG(status);
    const int signal = atSystemCall ? atEachSystemCall() : 0;
    if (signal != 0) {
      // Sent while the program is stopped, so it arrives before the program
      // makes another system call.
      if (signal != letGo) ::kill(child, signal);
      trace(PTRACE_DETACH, child);
      return signal != letGo;
    }
  }
  return false;
}
#else
bool followUntilSignalled(pid_t child, const std::function<int()>&, int& status) {
  ::waitpid(child, &status, 0);
  return false;
}
#endif

}  // namespace

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const ProgramRunOptions& options) {
  // A program that stops reading its input must not take the test down with it.
  std::signal(SIGPIPE, SIG_IGN);
  std::FILE* out = privateTemporaryFile();
  std::FILE* err = privateTemporaryFile();
  int pipeFds[2] = {-1, -1};
  if (out == nullptr || err == nullptr || ::pipe2(pipeFds, O_CLOEXEC) != 0) {
    throw std::runtime_error("cannot prepare the program's outputs");
  }
  // REELMAKE_TEST_WRAPPER names a program that runs the one under test (a
  // memory checker, say) and gets its path and arguments; in a cross build
  // the emulator does. In a run with closed standard descriptors the
  // wrapper's own files would take them: such runs are never wrapped.
  const char* wrapper =
      programEmulator != nullptr ? programEmulator : std::getenv("REELMAKE_TEST_WRAPPER");
  if (wrapper != nullptr && (*wrapper == '\0' || !options.closedDescriptors.empty())) {
    wrapper = nullptr;
  }
  const std::vector<char*> vector = argumentVector(program, arguments, wrapper);
  const int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int outFd = ::fileno(out);
  const int errFd = ::fileno(err);
  if (std::fwrite(options.outputBefore.data(), 1, options.outputBefore.size(), out) !=
          options.outputBefore.size() ||
      std::fflush(out) != 0) {
    throw std::runtime_error("cannot prepare the program's output");
  }
  const pid_t child = ::fork();
  if (child == 0) {
    runChild(wrapper != nullptr ? wrapper : program.c_str(), vector.data(), options,
             options.input ? pipeFds[0] : nullFd, outFd, errFd);
  }
  ::close(pipeFds[0]);
  ::close(nullFd);
  if (options.input) feed(pipeFds[1], *options.input);
  ::close(pipeFds[1]);
  ProgramResult result;
  int status = 0;
  bool ended = false;
  if (options.atEachSystemCall) {
    result.signalled = followUntilSignalled(child, options.atEachSystemCall, status);
    ended = hasEnded(status);
  }
  if (!ended) ::waitpid(child, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = slurp(out);
  result.err = slurp(err);
  std::fclose(out);
  std::fclose(err);
  return result;
}
