#include "tests/support/child_process.h"

#include <windows.h>

#include <thread>

#include "common/unique_handle.h"

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

}  // namespace

ChildResult runChild(const std::wstring& application, const std::wstring& commandLine,
                     const std::wstring& workingDirectory, unsigned long timeoutMs) {
  ChildResult result;
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

  std::wstring line = commandLine;  // CreateProcessW may write into it
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      workingDirectory.c_str(), &startup, &info)) {
    return result;
  }
  UniqueHandle process(info.hProcess), thread(info.hThread);
  result.started = true;
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
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  result.exitCode = code;
  return result;
}
