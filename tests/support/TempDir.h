#pragma once

#include <filesystem>
#include <string>

#include "support/Bytes.h"

// Paths as the program takes them: UTF-8 on every platform.
std::filesystem::path pathOf(const std::string& utf8);
std::string utf8Of(const std::filesystem::path& path);

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return root; }
  // The path of name inside the directory, as UTF-8.
  std::string operator/(const std::string& name) const { return utf8Of(root / pathOf(name)); }

 private:
  std::filesystem::path root;
};

void writeFile(const std::string& path, const Bytes& bytes);
Bytes readFile(const std::string& path);
bool fileExists(const std::string& path);
