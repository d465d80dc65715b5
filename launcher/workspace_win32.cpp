#include "launcher/workspace.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>

#include "common/folders.h"
#include "common/system.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "launcher/installing_plan.h"
#include "process/run_command.h"

namespace {

// About two seconds in all.
const int kRemovalAttempts = 40;
const DWORD kRemovalPauseMs = 50;

// The running workspace, held open without FILE_SHARE_DELETE until the
// clean-up: another launcher's removal of stale workspaces cannot take it.
UniqueFileHandle heldWorkspace;

UniqueFileHandle openFolder(const std::wstring& path, DWORD access, DWORD share) {
  return UniqueFileHandle(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// TMP, or empty when it is not set.
std::string tmpFolder() {
  std::string tmp;
  environmentVariable("TMP", tmp);
  return tmp;
}

uint64_t secondsSince1970(const FILETIME& time) {
  const uint64_t ticks = static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
  const uint64_t epoch = 116444736000000000ull;  // 1970-01-01 in 100 ns ticks since 1601
  return ticks > epoch ? (ticks - epoch) / 10000000ull : 0;
}

}  // namespace

std::string fullPath(const std::string& path) {
  const std::wstring wide = widen(path);
  DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return path;
  full.resize(length);
  return narrow(full);
}

std::string recordStartFolder() {
  DWORD needed = GetCurrentDirectoryW(0, nullptr);
  if (needed == 0) return {};
  std::wstring folder(needed, L'\0');
  DWORD length = GetCurrentDirectoryW(needed, folder.data());
  if (length == 0 || length >= needed) return {};
  folder.resize(length);
  return startFolderText(narrow(folder));
}

void removeStaleWorkspaces() {
  const std::wstring tmp = widen(tmpFolder());
  if (tmp.empty()) return;
  const std::wstring base = tmp.back() == L'\\' ? tmp : tmp + L"\\";
  FILETIME nowTime;
  GetSystemTimeAsFileTime(&nowTime);
  const uint64_t now = secondsSince1970(nowTime);
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((base + L"Brackenhue-*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !isWorkspaceName(narrow(entry.cFileName)) ||
        !isStaleWorkspace(secondsSince1970(entry.ftLastWriteTime), now)) {
      continue;
    }
    const std::wstring folder = base + entry.cFileName;
    // Opening it for deletion fails while a running launcher holds it.
    if (!openFolder(folder, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) continue;
    removeTree(folder);
  } while (FindNextFileW(search, &entry));
  FindClose(search);
}

WorkspaceResult prepareWorkspace(std::string& workspace, std::string& absolute,
                                 const std::function<bool(const std::wstring&)>& enter) {
  const std::string tmp = tmpFolder();
  if (tmp.empty()) return WorkspaceResult::kNoTmp;

  const bool created = createWorkspace(
      tmp, [] { return std::rand(); },
      [](const std::string& path) {
        if (CreateDirectoryW(widen(path).c_str(), nullptr)) return FolderCreation::kCreated;
        return GetLastError() == ERROR_ALREADY_EXISTS ? FolderCreation::kExists : FolderCreation::kFailed;
      },
      workspace);
  if (!created) return WorkspaceResult::kNotCreated;

  // Taken while the start folder is still current, so a relative TMP names
  // the same folder when the clean-up removes it from elsewhere.
  const std::wstring wide = widen(workspace);
  absolute = fullPath(workspace);
  if (!(enter ? enter(wide) : SetCurrentDirectoryW(wide.c_str()) != FALSE)) {
    RemoveDirectoryW(widen(absolute).c_str());
    return WorkspaceResult::kNotEntered;
  }
  heldWorkspace = openFolder(widen(absolute), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE);
  return WorkspaceResult::kEntered;
}

std::string systemInterpreter() { return systemFolder() + "\\cmd.exe"; }

void cleanUpWorkspace(const std::string& absolute) {
  heldWorkspace.reset();
  // A virus scanner may hold a freshly written program open for a moment:
  // while one of the entries removed here stays because of that, try again
  // for about two seconds. Other files the installer left cost no waiting.
  const ULONGLONG deadline = GetTickCount64() + kRemovalAttempts * kRemovalPauseMs;
  for (;;) {
    bool held = false;
    for (const char* name : kCleanedFiles) {
      if (!DeleteFileW(widen(name).c_str())) {
        const DWORD error = GetLastError();
        held = held || error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
      }
    }
    if (GetFileAttributesW(L"jre") != INVALID_FILE_ATTRIBUTES) {
      // By full path: a cmd.exe beside the launcher must never be the one run.
      runProgram(systemInterpreter(), kRemoveRuntimeCommand, false);
      held = held || GetFileAttributesW(L"jre") != INVALID_FILE_ATTRIBUTES;
    }
    if (!held || GetTickCount64() >= deadline) break;
    Sleep(kRemovalPauseMs);
  }
  SetCurrentDirectoryW(L"..");
  // A program that has just ended can still hold the folder for a moment
  // (under Wine, the console host of a hidden console child): try again
  // briefly. A folder that still has content stays at once.
  const std::wstring folder = widen(absolute);
  for (int attempt = 0; !RemoveDirectoryW(folder.c_str()); ++attempt) {
    const DWORD error = GetLastError();
    if (attempt >= kRemovalAttempts || error == ERROR_DIR_NOT_EMPTY || error == ERROR_FILE_NOT_FOUND ||
        error == ERROR_PATH_NOT_FOUND) {
      break;
    }
    Sleep(kRemovalPauseMs);
  }
}
