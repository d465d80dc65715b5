#include "launcher/workspace.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <utility>
#include <vector>

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

// The folder in the forms a running program may name it: long and short,
// upper case, each with one trailing backslash.
struct FolderForms {
  std::string longForm, shortForm;
};

FolderForms folderForms(const std::wstring& folder) {
  FolderForms forms;
  forms.longForm = comparable(folder);
  wchar_t shortForm[MAX_PATH * 4];
  const DWORD length = GetShortPathNameW(widen(forms.longForm).c_str(), shortForm, MAX_PATH * 4);
  if (length > 0 && length < MAX_PATH * 4) {
    CharUpperBuffW(shortForm, length);
    forms.shortForm = narrow(std::wstring(shortForm, length));
  }
  return forms;
}

// Whether a full path names something inside the folder. Most paths match
// one of the two forms as they are; only one that mixes long and short parts
// is put into its long form first, which costs a file-system lookup.
bool liesInside(const std::wstring& path, const FolderForms& forms) {
  std::wstring upper = path;
  if (!upper.empty()) CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
  const std::string text = narrow(upper);
  if (isInsideFolder(text, forms.longForm) || (!forms.shortForm.empty() && isInsideFolder(text, forms.shortForm))) {
    return true;
  }
  return text.find('~') != std::string::npos && isInsideFolder(comparable(path), forms.longForm);
}

// Whether the process has a module (its program, a DLL) loaded from inside
// the folder. A process whose modules cannot be listed (another user's, an
// elevated one) is judged by its program file alone.
bool modulesInside(DWORD processId, const FolderForms& forms) {
  // 32-bit modules too; the system refuses for a moment while the process
  // loads one (ERROR_BAD_LENGTH).
  UniqueFileHandle snapshot;
  for (int attempt = 0; attempt < 5 && !snapshot; ++attempt) {
    snapshot.reset(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, processId));
    if (!snapshot && GetLastError() != ERROR_BAD_LENGTH) break;
  }
  if (!snapshot) return false;
  MODULEENTRY32W module{};
  module.dwSize = sizeof module;
  for (BOOL more = Module32FirstW(snapshot.get(), &module); more; more = Module32NextW(snapshot.get(), &module)) {
    if (liesInside(module.szExePath, forms)) return true;
  }
  return false;
}

// The programs other than this one that run from the folder: their program
// file or a DLL they have loaded lies inside it, so deleting the folder
// would pull files from under them. Each comes as a handle to wait on; one
// that cannot be waited on (no SYNCHRONIZE right) only sets `unwaitable`.
struct ProgramsInside {
  std::vector<UniqueHandle> waitable;
  bool unwaitable = false;
  bool childOfParent = false;  // some process was started by `parentId`
  bool any() const { return unwaitable || !waitable.empty(); }
};

// A process as one wait knows it: its id with the moment it started, since
// ids are reused.
using ProcessKey = std::pair<DWORD, uint64_t>;

// The moment a process started, as a FILETIME count; 0 when it cannot be
// asked.
uint64_t startedAt(HANDLE process) {
  FILETIME created{}, ended, kernel, user;
  if (!GetProcessTimes(process, &created, &ended, &kernel, &user)) return 0;
  return static_cast<uint64_t>(created.dwHighDateTime) << 32 | created.dwLowDateTime;
}

// `judged`, when given, holds the processes found not to use the folder in an
// earlier look of the same wait; they are not looked into again (their
// modules are the costly part), nor are those started before `notBefore`
// (a FILETIME count; 0: none skipped), such as every program older than the
// launcher that made the folder. One that loads a DLL from the workspace only
// later is missed: programs load the runtime's DLLs as they start.
ProgramsInside programsInside(const FolderForms& forms, DWORD parentId = 0, std::set<ProcessKey>* judged = nullptr,
                              uint64_t notBefore = 0) {
  ProgramsInside found;
  UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return found;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId() || entry.th32ProcessID == 0) continue;
    if (parentId != 0 && entry.th32ParentProcessID == parentId) found.childOfParent = true;
    bool waitable = true;
    UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    if (!process) {
      waitable = false;
      process.reset(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
      if (!process) continue;
    }
    const ProcessKey key{entry.th32ProcessID, startedAt(process.get())};
    if ((judged && judged->count(key)) || key.second < notBefore) continue;
    wchar_t image[MAX_PATH * 4];
    DWORD size = MAX_PATH * 4;
    const bool inside = (QueryFullProcessImageNameW(process.get(), 0, image, &size) &&
                         liesInside(std::wstring(image, size), forms)) ||
                        modulesInside(entry.th32ProcessID, forms);
    if (!inside) {
      if (judged) judged->insert(key);
      continue;
    }
    // Ended, but not yet gone from the list: nothing to wait for.
    if (waitable && WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) continue;
    if (waitable) {
      found.waitable.push_back(std::move(process));
    } else {
      found.unwaitable = true;
    }
  }
  return found;
}

bool jarHeld(const std::wstring& folder) {
  const std::wstring jar = folder + L"\\brackenhue.jar";
  UniqueFileHandle exclusive(CreateFileW(jar.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  return !exclusive && GetLastError() == ERROR_SHARING_VIOLATION;
}

// The hold on a new workspace: listing rights without sharing deletion.
// Tried for about two seconds while something else has it open; at once
// given up when it is gone (another launcher took it for a leftover).
UniqueFileHandle holdWorkspace(const std::wstring& folder) {
  for (int attempt = 0;; ++attempt) {
    UniqueFileHandle hold = openFolder(folder, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (hold || attempt + 1 >= kRemovalAttempts || GetLastError() == ERROR_FILE_NOT_FOUND) return hold;
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
        (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !isWorkspaceName(narrow(entry.cFileName))) {
      continue;
    }
    const std::wstring folder = base + entry.cFileName;
    // Empty: only a launcher's hold or a program's current folder keeps it,
    // and either makes the removal fail. (A launcher that loses its new
    // folder before it could hold it just draws another name.)
    if (RemoveDirectoryW(folder.c_str())) continue;
    if (!isStaleWorkspace(secondsSince1970(entry.ftLastWriteTime), now)) continue;
    // Opening it for deletion fails while a running launcher holds it.
    if (!openFolder(folder, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) continue;
    // An installer relaunched from it may outlive its launcher.
    if (workspaceInUse(narrow(folder))) continue;
    removeTree(folder);
  } while (FindNextFileW(search, &entry));
  FindClose(search);
}

bool workspaceInUse(const std::string& absolute) {
  return programsInside(folderForms(widen(absolute))).any() || jarHeld(widen(absolute));
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
  const std::wstring folder = widen(absolute);
  const FolderForms forms = folderForms(folder);
  const ULONGLONG deadline = GetTickCount64() + limitMs;
  // The installer used the workspace until it ended, just now.
  ULONGLONG lastUse = GetTickCount64();
  bool seenUse = false;
  std::set<ProcessKey> judged;
  // Nothing older than this launcher runs from the workspace it made.
  const uint64_t launcherStarted = startedAt(GetCurrentProcess());
  for (;;) {
    ProgramsInside programs = programsInside(forms, installer.processId(), &judged, launcherStarted);
    const bool held = jarHeld(folder);
    // A program the installer started outside its job (an elevated copy:
    // the system starts it outside any job) may not have opened the jar yet.
    if (programs.childOfParent) seenUse = true;
    ULONGLONG now = GetTickCount64();
    if (programs.any() || held) {
      seenUse = true;
      if (now >= deadline) return false;
      // Woken by the end of a program found; new ones are looked for now
      // and then, and a held jar is tried more often, since that is cheap.
      const DWORD rescan = static_cast<DWORD>(std::min<ULONGLONG>(kReleaseRescanMs, deadline - now));
      if (!programs.waitable.empty()) {
        std::vector<HANDLE> handles;
        for (const UniqueHandle& program : programs.waitable) {
          if (handles.size() < MAXIMUM_WAIT_OBJECTS) handles.push_back(program.get());
        }
        WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, rescan);
      } else {
        const ULONGLONG until = now + rescan;
        do {
          Sleep(kJarPollMs);
        } while (GetTickCount64() < until && (!held || jarHeld(folder)));
      }
      // In use until now, or until the moment just past that ended it.
      lastUse = GetTickCount64();
      continue;
    }
    // Nothing uses it. Only a run that showed something able to come back,
    // the installer starting other programs, inside its job or out, or a
    // program from outside its job using the workspace, is looked at once
    // more a moment after the last use: a copy the installer started may
    // take that long to take hold of it.
    if (!seenUse && !installer.startedOthers()) return true;
    if (now - lastUse >= kReleaseRecheckMs) return true;
    Sleep(static_cast<DWORD>(lastUse + kReleaseRecheckMs - now));
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
