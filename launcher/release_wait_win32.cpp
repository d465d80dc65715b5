#include "launcher/release_wait.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
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

// The consent prompt of the system's elevation, as this session shows it:
// the system folder's consent.exe (its full path in upper case).
struct ConsentPrompt {
  std::string image;
  DWORD session = 0;
};

ConsentPrompt consentPrompt() {
  ConsentPrompt prompt;
  std::wstring image = widen(systemFolder() + "\\consent.exe");
  CharUpperBuffW(image.data(), static_cast<DWORD>(image.size()));
  prompt.image = narrow(image);
  ProcessIdToSessionId(GetCurrentProcessId(), &prompt.session);
  return prompt;
}

// Whether the process `entry` is that prompt. It runs as SYSTEM, so an
// unelevated launcher may be refused its session and its program file: then
// its name alone tells. (A program that only takes the name delays the
// clean-up, nothing more.)
bool isConsentPrompt(const PROCESSENTRY32W& entry, const ConsentPrompt& prompt) {
  if (_wcsicmp(entry.szExeFile, L"consent.exe") != 0) return false;
  DWORD session = 0;
  if (ProcessIdToSessionId(entry.th32ProcessID, &session) && session != prompt.session) return false;
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
  wchar_t image[MAX_PATH * 4];
  DWORD size = MAX_PATH * 4;
  if (!process || !QueryFullProcessImageNameW(process.get(), 0, image, &size)) return true;
  CharUpperBuffW(image, size);
  return narrow(std::wstring(image, size)) == prompt.image;
}

// `judged`, when given, holds the processes found not to use the folder in an
// earlier look of the same wait; they are not looked into again (their
// modules are the costly part), nor are those started before `notBefore`
// (a FILETIME count; 0: none skipped), such as every program older than the
// launcher that made the folder. The caller empties `judged` for its second
// look, which catches a program that loaded a DLL of the workspace later.
// With `consent`, a consent prompt on the screen counts as a program inside.
ProgramsInside programsInside(const FolderForms& forms, DWORD parentId = 0, std::set<ProcessKey>* judged = nullptr,
                              uint64_t notBefore = 0, const ConsentPrompt* consent = nullptr) {
  ProgramsInside found;
  UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return found;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId() || entry.th32ProcessID == 0) continue;
    if (parentId != 0 && entry.th32ParentProcessID == parentId) found.childOfParent = true;
    if (consent && isConsentPrompt(entry, *consent)) {
      // Its end is waited for where the system lets this program wait.
      UniqueHandle prompt(OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID));
      if (prompt && WaitForSingleObject(prompt.get(), 0) == WAIT_OBJECT_0) continue;
      if (prompt) {
        found.waitable.push_back(std::move(prompt));
      } else {
        found.unwaitable = true;
      }
      continue;
    }
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

}  // namespace

bool workspaceInUse(const std::string& absolute) {
  return programsInside(folderForms(widen(absolute))).any() || jarHeld(widen(absolute));
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
  const ConsentPrompt consent = consentPrompt();
  for (;;) {
    // Nothing judged yet: this look examines every program afresh.
    const bool fresh = judged.empty();
    const ULONGLONG lookStarted = GetTickCount64();
    ProgramsInside programs = programsInside(forms, installer.processId(), &judged, launcherStarted, &consent);
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
    // take that long to take hold of it, and a program it started may load a
    // DLL of the workspace only after it was first looked at.
    if (!seenUse && !installer.startedOthers()) return true;
    if (fresh && lookStarted >= lastUse + kReleaseRecheckMs) return true;
    // Never past the bound: a look that finds a use there gives up.
    const ULONGLONG recheck = std::min<ULONGLONG>(lastUse + kReleaseRecheckMs, deadline);
    if (now < recheck) Sleep(static_cast<DWORD>(recheck - now));
    judged.clear();
  }
}
