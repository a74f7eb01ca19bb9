#pragma once

// What the end-to-end tests share: the built program run in a temporary
// directory, and the files it reads and writes there.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/Bytes.h"
#include "support/ExpectedOutput.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

using Arguments = std::vector<std::string>;

constexpr std::filesystem::perms mode(unsigned bits) {
  return static_cast<std::filesystem::perms>(bits);
}

// The banner line carries the build date, which the test cannot know.
inline std::string banner() {
  static const std::string line = [] {
    const ProgramResult result = runProgram(REELMAKE_BINARY, {"--help"});
    return result.out.substr(1, result.out.find('\n', 1));
  }();
  return line;
}

// Larger than any new tape, so that it is never taken for part of one.
inline const Bytes earlierTape(3000, 'o');

class EndToEnd : public ::testing::Test {
 protected:
  TempDir dir;

  ProgramResult run(const Arguments& arguments, ProgramRunOptions options = {},
                    const std::string& program = REELMAKE_BINARY) {
    options.directory = utf8Of(dir.path());
    ProgramResult result = runProgram(program, arguments, options);
    EXPECT_EQ(result.err, "") << "nothing may go to standard error";
    return result;
  }

  // A run that printed an empty line, the banner, an empty line, then message.
  void expectRun(const ProgramResult& result, int status, const std::string& message) {
    EXPECT_EQ(result.status, status);
    // Appended, not "\n" + ...: GCC 12 at -O3 takes that for an overlapping copy.
    EXPECT_EQ(result.out, std::string("\n").append(banner()).append("\n").append(message));
  }

  void input(const Bytes& bytes, const std::string& name = "in.bin") {
    writeFile(dir / name, bytes);
    std::filesystem::permissions(pathOf(dir / name), mode(0644));
  }
  Bytes tape(const std::string& name = "out.tap") { return readFile(dir / name); }
  bool exists(const std::string& name) { return fileExists(dir / name); }

  // Temporary files the program left anywhere in the directory.
  std::vector<std::string> leftovers() {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
      if (utf8Of(entry.path().filename()).starts_with(".reelmake-")) {
        found.push_back(utf8Of(entry.path()));
      }
    }
    return found;
  }
};
