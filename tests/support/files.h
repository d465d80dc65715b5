#pragma once
// File helpers for tests that run under Wine. Paths are UTF-16.

#include <string>
#include <vector>

#include "common/folders.h"  // removeTree, for the tests too

// The folder holding the running test executable; the launcher builds and
// fixture files are placed beside it.
std::wstring executableDir();

// A new empty folder under the temporary folder whose name starts with
// `prefix`; removed again, with its content, when the object goes.
class TempDir {
 public:
  explicit TempDir(const std::wstring& prefix = L"bh");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// Whole-file reads and writes; readFile returns false when the file cannot
// be opened.
bool readFile(const std::wstring& path, std::string* bytes);
bool writeFile(const std::wstring& path, const std::string& bytes);
bool fileExists(const std::wstring& path);
bool isDirectory(const std::wstring& path);
// The names in a folder, "." and ".." left out; none when it cannot be read.
std::vector<std::wstring> folderEntries(const std::wstring& folder);
