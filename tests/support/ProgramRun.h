#pragma once

#include <optional>
#include <string>
#include <vector>

struct ProgramResult {
  int status = -1;
  std::string out;
  std::string err;
};

struct ProgramRunOptions {
  std::string directory = ".";
  // Fed through a pipe as standard input; without it standard input is /dev/null.
  std::optional<std::string> input;
  // An empty argument vector: not even the program's name.
  bool withoutProgramName = false;
  // When run by the superuser, run the program as nobody, so that file
  // permissions bind it.
  bool asUnprivilegedUser = false;
};

// Runs the program with arguments and waits for it; captures both outputs.
ProgramResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const ProgramRunOptions& options = {});
