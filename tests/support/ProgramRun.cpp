#include "support/ProgramRun.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
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

[[noreturn]] void runChild(const std::string& program, const std::vector<std::string>& arguments,
                           const ProgramRunOptions& options, const char* wrapper, int inputFd,
                           int outFd, int errFd) {
  constexpr uid_t nobody = 65534;
  if (options.asUnprivilegedUser && ::geteuid() == 0 &&
      (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)) {
    ::_exit(125);
  }
  if (::chdir(options.directory.c_str()) != 0) ::_exit(126);
  ::dup2(inputFd, 0);
  ::dup2(outFd, 1);
  ::dup2(errFd, 2);
  std::vector<char*> vector;
  if (wrapper != nullptr) {
    vector.push_back(const_cast<char*>(wrapper));
  }
  if (!options.withoutProgramName) {
    vector.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
      vector.push_back(const_cast<char*>(argument.c_str()));
    }
  }
  vector.push_back(nullptr);
  ::execv(wrapper != nullptr ? wrapper : program.c_str(), vector.data());
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

}  // namespace

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const ProgramRunOptions& options) {
  // A program that stops reading its input must not take the test down with it.
  std::signal(SIGPIPE, SIG_IGN);
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  int pipeFds[2] = {-1, -1};
  if (out == nullptr || err == nullptr || ::pipe(pipeFds) != 0) {
    throw std::runtime_error("cannot prepare the program's outputs");
  }
  // REELMAKE_TEST_WRAPPER names a program that runs the one under test (a
  // memory checker, say) and gets its path and arguments. A run without even
  // the program's name has nothing to hand over, so it is never wrapped.
  const char* wrapper = std::getenv("REELMAKE_TEST_WRAPPER");
  if (wrapper != nullptr && (*wrapper == '\0' || options.withoutProgramName)) {
    wrapper = nullptr;
  }
  const int nullFd = ::open("/dev/null", O_RDONLY);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[1]);
    runChild(program, arguments, options, wrapper, options.input ? pipeFds[0] : nullFd,
             ::fileno(out), ::fileno(err));
  }
  ::close(pipeFds[0]);
  ::close(nullFd);
  if (options.input) feed(pipeFds[1], *options.input);
  ::close(pipeFds[1]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ProgramResult result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = slurp(out);
  result.err = slurp(err);
  std::fclose(out);
  std::fclose(err);
  return result;
}
