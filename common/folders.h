#pragma once
// Folder trees on disk.

#include <string>

// `path` made absolute against the current folder (GetFullPathNameW);
// unchanged when that fails. The UTF-8 form takes and gives UTF-8.
std::wstring fullPath(const std::wstring& path);
std::string fullPath(const std::string& path);

// Deletes `folder` with everything in it, read-only files too. A link to a
// folder inside it goes as a link: what it points to is never touched.
// Whatever cannot be deleted (held open, no permission) stays, with the
// folders above it; a missing folder is no error.
void removeTree(const std::wstring& folder);
