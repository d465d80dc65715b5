#include "launcher/workspace.h"

#include <windows.h>
#include <ntsecapi.h>
#include <sddl.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "common/folders.h"
#include "common/system.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "launcher/installing_plan.h"
#include "launcher/release_wait.h"
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

// Who this process runs as: its user's SID, and whether it is elevated with
// the Administrators group in force.
LauncherAccount launcherAccount() {
  LauncherAccount account;
  HANDLE rawToken = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return account;
  UniqueHandle token(rawToken);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size);
  wchar_t* sidText = nullptr;
  if (size > 0 && GetTokenInformation(token.get(), TokenUser, user.data(), size, &size) &&
      ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sidText)) {
    account.userSid = narrow(sidText);
    LocalFree(sidText);
  }
  TOKEN_ELEVATION elevation{};
  DWORD got = 0;
  const bool elevated = GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &got) &&
                        elevation.TokenIsElevated != 0;
  // Without the group in force the launcher could not enter a workspace
  // that grants only SYSTEM and Administrators.
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  BOOL member = FALSE;
  if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                               &administrators)) {
    if (!CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
    FreeSid(administrators);
  }
  account.elevatedAdmin = elevated && member;
  return account;
}

// Creates the folder with the descriptor in SDDL (none: as any folder).
// Where the system refuses the owner it names, the token's own default
// owner serves instead; the entries stay as they are.
FolderCreation createProtectedFolder(const std::string& path, const std::string& sddl) {
  const std::wstring wide = widen(path);
  std::string descriptor = sddl;
  for (int attempt = 0; attempt < 2; ++attempt) {
    PSECURITY_DESCRIPTOR security = nullptr;
    if (!descriptor.empty() && !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                                   widen(descriptor).c_str(), SDDL_REVISION_1, &security, nullptr)) {
      return FolderCreation::kFailed;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, security, FALSE};
    const BOOL created = CreateDirectoryW(wide.c_str(), security ? &attributes : nullptr);
    const DWORD error = GetLastError();
    if (security) LocalFree(security);
    if (created) return FolderCreation::kCreated;
    if (error == ERROR_ALREADY_EXISTS) return FolderCreation::kExists;
    if (error != ERROR_INVALID_OWNER || descriptor.compare(0, 2, "O:") != 0) return FolderCreation::kFailed;
    descriptor = descriptor.substr(descriptor.find("D:"));
  }
  return FolderCreation::kFailed;
}

// A number from 0 to 32767 from the system's random source: workspace names
// must not be foreseeable by another user of the machine.
int randomDraw() {
  uint16_t number = 0;
  if (!RtlGenRandom(&number, sizeof number)) {
    // Never seen to fail; the clock is better than a fixed name.
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    number = static_cast<uint16_t>(counter.QuadPart ^ (counter.QuadPart >> 16) ^ GetCurrentProcessId());
  }
  return number & 0x7FFF;
}

// Whether everything directly inside `folder` is what the launcher writes
// (isLauncherEntry): then a killed run left it. An entry that cannot be
// listed counts as someone else's.
bool holdsOnlyLauncherEntries(const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  bool only = true;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                          !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (!isLauncherEntry(narrow(name), isFolder)) only = false;
  } while (only && FindNextFileW(search, &entry));
  FindClose(search);
  return only;
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
    // Something the installer left on purpose (anything a launcher does not
    // write itself) keeps it.
    if (!holdsOnlyLauncherEntries(folder)) continue;
    // Opening it for deletion fails while a running launcher holds it.
    if (!openFolder(folder, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) continue;
    // An installer relaunched from it may outlive its launcher.
    if (workspaceInUse(narrow(folder))) continue;
    removeTree(folder);
  } while (FindNextFileW(search, &entry));
  FindClose(search);
}

WorkspaceResult prepareWorkspace(std::string& workspace, std::string& absolute, const WorkspaceHooks& hooks) {
  const std::string tmp = tmpFolder();
  if (tmp.empty()) return WorkspaceResult::kNoTmp;

  const std::string security = workspaceSecurity(launcherAccount());
  for (int attempt = 0; attempt < kWorkspaceHoldAttempts; ++attempt) {
    const bool created = createWorkspace(
        tmp, randomDraw, [&security](const std::string& path) { return createProtectedFolder(path, security); },
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
    // cmd only for a folder "jre": it removes nothing else.
    const auto runtimeThere = [] {
      const DWORD attributes = GetFileAttributesW(L"jre");
      return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    };
    if (runtimeThere()) {
      // By full path: a cmd.exe beside the launcher must never be the one run.
      runProgram(systemInterpreter(), removeRuntimeCommand(absolute), false);
      held = held || runtimeThere();
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
