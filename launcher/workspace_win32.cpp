#include "launcher/workspace.h"

#include <windows.h>
#include <tlhelp32.h>

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

// A full path in its long form and upper case, for comparing: TMP often
// holds 8.3 forms, and the file system ignores letter case.
std::string comparable(const std::wstring& path) {
  std::wstring full = fullPath(path);
  const DWORD needed = GetLongPathNameW(full.c_str(), nullptr, 0);
  if (needed > 0) {
    std::wstring longForm(needed, L'\0');
    const DWORD length = GetLongPathNameW(full.c_str(), longForm.data(), needed);
    if (length > 0 && length < needed) full.assign(longForm.data(), length);
  }
  if (!full.empty()) CharUpperBuffW(full.data(), static_cast<DWORD>(full.size()));
  return narrow(full);
}

bool programRunsInside(const std::string& comparableFolder) {
  UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId() || entry.th32ProcessID == 0) continue;
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    if (!process) continue;
    wchar_t image[MAX_PATH * 4];
    DWORD size = MAX_PATH * 4;
    if (!QueryFullProcessImageNameW(process.get(), 0, image, &size)) continue;
    if (isInsideFolder(comparable(std::wstring(image, size)), comparableFolder)) return true;
  }
  return false;
}

bool jarHeld(const std::wstring& folder) {
  const std::wstring jar = folder + L"\\brackenhue.jar";
  UniqueFileHandle exclusive(CreateFileW(jar.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  return !exclusive && GetLastError() == ERROR_SHARING_VIOLATION;
}

// The hold on a new workspace: listing rights without sharing deletion.
// Tried for about two seconds while something else has it open.
UniqueFileHandle holdWorkspace(const std::wstring& folder) {
  for (int attempt = 0;; ++attempt) {
    UniqueFileHandle hold = openFolder(folder, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (hold || attempt + 1 >= kRemovalAttempts) return hold;
    Sleep(kRemovalPauseMs);
  }
}

uint64_t secondsSince1970(const FILETIME& time) {
  const uint64_t ticks = static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
  const uint64_t epoch = 116444736000000000ull;  // 1970-01-01 in 100 ns ticks since 1601
  return ticks > epoch ? (ticks - epoch) / 10000000ull : 0;
}

}  // namespace

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
    // An installer relaunched from it may outlive its launcher.
    if (workspaceInUse(narrow(folder))) continue;
    removeTree(folder);
  } while (FindNextFileW(search, &entry));
  FindClose(search);
}

bool workspaceInUse(const std::string& absolute) {
  return programRunsInside(comparable(widen(absolute))) || jarHeld(widen(absolute));
}

WorkspaceResult prepareWorkspace(std::string& workspace, std::string& absolute, const WorkspaceHooks& hooks) {
  const std::string tmp = tmpFolder();
  if (tmp.empty()) return WorkspaceResult::kNoTmp;

  for (int attempt = 0; attempt < kWorkspaceHoldAttempts; ++attempt) {
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
    if (hooks.created) hooks.created(wide);
    UniqueFileHandle hold = holdWorkspace(widen(absolute));
    if (!hold) {
      // Unheld, another launcher could take it for stale: use another.
      RemoveDirectoryW(widen(absolute).c_str());
      continue;
    }
    if (!(hooks.enter ? hooks.enter(wide) : SetCurrentDirectoryW(wide.c_str()) != FALSE)) {
      hold.reset();
      RemoveDirectoryW(widen(absolute).c_str());
      return WorkspaceResult::kNotEntered;
    }
    heldWorkspace = std::move(hold);
    return WorkspaceResult::kEntered;
  }
  return WorkspaceResult::kNotCreated;
}

bool waitUntilWorkspaceIsFree(const std::string& absolute, const ProcessTree& installer,
                              unsigned long long limitMs) {
  const ULONGLONG deadline = GetTickCount64() + limitMs;
  auto free = [&] { return !installer.running() && !workspaceInUse(absolute); };
  for (;;) {
    if (free()) {
      if (!installer.started()) return true;
      Sleep(kReleaseRecheckMs);
      if (free()) return true;
    }
    if (GetTickCount64() >= deadline) return false;
    Sleep(250);
  }
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
      runProgram(systemInterpreter(), removeRuntimeCommand(absolute), false);
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
