#include "launcher/workspace.h"

#include <windows.h>

#include <cstdlib>

#include "common/text.h"
#include "launcher/installing_plan.h"
#include "process/run_command.h"

namespace {

// About two seconds in all.
const int kRemovalAttempts = 40;
const DWORD kRemovalPauseMs = 50;

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

WorkspaceResult prepareWorkspace(std::string& workspace, std::string& absolute,
                                 const std::function<bool(const std::wstring&)>& enter) {
  DWORD needed = GetEnvironmentVariableW(L"TMP", nullptr, 0);
  if (needed == 0) return WorkspaceResult::kNoTmp;
  std::wstring tmp(needed, L'\0');
  DWORD length = GetEnvironmentVariableW(L"TMP", tmp.data(), needed);
  if (length >= needed) return WorkspaceResult::kNoTmp;
  tmp.resize(length);

  const bool created = createWorkspace(
      narrow(tmp), [] { return std::rand(); },
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
  return WorkspaceResult::kEntered;
}

std::string systemInterpreter() {
  wchar_t folder[MAX_PATH + 1];
  UINT length = GetSystemDirectoryW(folder, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return "C:\\Windows\\System32\\cmd.exe";
  return narrow(std::wstring(folder, length)) + "\\cmd.exe";
}

void cleanUpWorkspace(const std::string& absolute) {
  for (const char* name : kCleanedFiles) DeleteFileW(widen(name).c_str());
  // By full path: a cmd.exe beside the launcher must never be the one run.
  runProgram(systemInterpreter(), kRemoveRuntimeCommand, false);
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
