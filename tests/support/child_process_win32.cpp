#include "tests/support/child_process.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <map>
#include <thread>

#include "common/unique_handle.h"
#include "tests/support/box_watcher.h"

namespace {

void drain(HANDLE pipe, std::string* sink) {
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) sink->append(buffer, got);
}

bool makePipe(UniqueHandle* readEnd, UniqueHandle* writeEnd) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE r = nullptr, w = nullptr;
  if (!CreatePipe(&r, &w, &inherit, 0)) return false;
  readEnd->reset(r);
  writeEnd->reset(w);
  return SetHandleInformation(r, HANDLE_FLAG_INHERIT, 0) != FALSE;
}

struct NoCase {
  bool operator()(const std::wstring& a, const std::wstring& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](wchar_t x, wchar_t y) {
      return std::towupper(x) < std::towupper(y);
    });
  }
};

// This process's environment with `changes` applied, as a sorted block.
std::wstring environmentBlock(const EnvironmentChanges& changes) {
  std::map<std::wstring, std::wstring, NoCase> variables;
  if (wchar_t* own = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = own; *entry; entry += wcslen(entry) + 1) {
      std::wstring text(entry);
      size_t equals = text.find(L'=', 1);  // "=C:=C:\..." entries start with '='
      if (equals != std::wstring::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    FreeEnvironmentStringsW(own);
  }
  for (const auto& [name, value] : changes) {
    if (value) {
      variables[name] = *value;
    } else {
      variables.erase(name);
    }
  }
  std::wstring block;
  for (const auto& [name, value] : variables) block += name + L"=" + value + L'\0';
  block += L'\0';
  return block;
}

}  // namespace

ChildResult runChild(const std::wstring& application, const std::wstring& commandLine,
                     const std::wstring& workingDirectory, unsigned long timeoutMs) {
  ChildOptions options;
  options.timeoutMs = timeoutMs;
  return runChild(application, commandLine, workingDirectory, options);
}

ChildResult runChild(const std::wstring& application, const std::wstring& commandLine,
                     const std::wstring& workingDirectory, const ChildOptions& options) {
  const unsigned long timeoutMs = options.timeoutMs;
  std::wstring environment;
  if (!options.environment.empty()) environment = environmentBlock(options.environment);
  ChildResult result;
  // Under Wine, the first program that needs the desktop starts Wine's
  // desktop process and hands it its own standard error, which that process
  // keeps for good. Started by a child, it would hold the child's pipe open,
  // and the reads below would never end; so this process starts it first.
  GetDesktopWindow();
  UniqueHandle outRead, outWrite, errRead, errWrite;
  if (!makePipe(&outRead, &outWrite) || !makePipe(&errRead, &errWrite)) return result;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  UniqueFileHandle nul(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                   OPEN_EXISTING, 0, nullptr));

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul.get();
  startup.hStdOutput = outWrite.get();
  startup.hStdError = errWrite.get();
  if (options.showCommand >= 0) {
    startup.dwFlags |= STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(options.showCommand);
  }

  std::wstring line = commandLine;  // CreateProcessW may write into it
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE,
                      environment.empty() ? 0 : CREATE_UNICODE_ENVIRONMENT,
                      environment.empty() ? nullptr : environment.data(), workingDirectory.c_str(), &startup, &info)) {
    return result;
  }
  UniqueHandle process(info.hProcess), thread(info.hThread);
  result.started = true;
  if (options.watcher) options.watcher->start(info.dwProcessId);
  if (options.onStarted) options.onStarted(info.dwProcessId);
  // Our copies of the write ends must go, or the reads never see the end.
  outWrite.reset();
  errWrite.reset();
  nul.reset();

  std::thread outReader(drain, outRead.get(), &result.out);
  std::thread errReader(drain, errRead.get(), &result.err);
  if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
    result.timedOut = true;
    TerminateProcess(process.get(), 0xDEAD);
    WaitForSingleObject(process.get(), INFINITE);
  }
  outReader.join();
  errReader.join();
  if (options.watcher) options.watcher->stop();
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  result.exitCode = code;
  return result;
}

UniqueHandle startChild(const std::wstring& application, const std::wstring& commandLine) {
  std::wstring line = commandLine;  // CreateProcessW may write into it
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &startup, &info)) {
    return UniqueHandle();
  }
  CloseHandle(info.hThread);
  return UniqueHandle(info.hProcess);
}
