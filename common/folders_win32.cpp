#include "common/folders.h"

#include <windows.h>

#include "common/text.h"
#include "common/unique_handle.h"

namespace {

// Deletes one entry through a single handle: read-only is cleared for the
// deletion and put back through the same handle before it closes. A hard
// link's attributes belong to the file it shares with every other name, so
// clearing them by name would change a file outside the tree for good.
// A link (reparse point) is opened as itself, never followed.
void deleteEntry(const std::wstring& path, bool folder) {
  UniqueFileHandle entry(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0),
                                     nullptr));
  if (!entry) return;
  FILE_BASIC_INFO basic{};
  const bool known = GetFileInformationByHandleEx(entry.get(), FileBasicInfo, &basic, sizeof basic) != FALSE;
  const bool readOnly = known && (basic.FileAttributes & FILE_ATTRIBUTE_READONLY);
  if (readOnly) {
    FILE_BASIC_INFO writable = basic;
    writable.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
    if (writable.FileAttributes == 0) writable.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    // Zero times leave them unchanged.
    writable.CreationTime.QuadPart = writable.LastAccessTime.QuadPart = 0;
    writable.LastWriteTime.QuadPart = writable.ChangeTime.QuadPart = 0;
    if (!SetFileInformationByHandle(entry.get(), FileBasicInfo, &writable, sizeof writable)) return;
  }
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  SetFileInformationByHandle(entry.get(), FileDispositionInfo, &disposition, sizeof disposition);
  if (readOnly) {
    FILE_BASIC_INFO restored{};
    restored.FileAttributes = basic.FileAttributes;
    SetFileInformationByHandle(entry.get(), FileBasicInfo, &restored, sizeof restored);
  }
}

}  // namespace

std::wstring fullPath(const std::wstring& path) {
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return path;
  full.resize(length);
  return full;
}

std::string fullPath(const std::string& path) { return narrow(fullPath(widen(path))); }

void removeTree(const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (isFolder && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        removeTree(path);
      } else {
        // A link to a folder goes as a link, not what it points to.
        deleteEntry(path, isFolder);
      }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
  }
  deleteEntry(folder, true);
}
