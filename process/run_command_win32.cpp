#include <windows.h>

#include "common/text.h"
#include "common/unique_handle.h"
#include "process/interpreter.h"
#include "process/run_command.h"

namespace {

std::string variable(const wchar_t* name, bool* set) {
  DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
  *set = needed > 0;
  if (needed == 0) return {};
  std::wstring value(needed, L'\0');
  DWORD length = GetEnvironmentVariableW(name, value.data(), needed);
  value.resize(length < needed ? length : 0);
  return narrow(value);
}

// COMSPEC's interpreter, looked for in the system folder and on PATH, never
// beside the launcher or in the current folder.
Interpreter currentInterpreter() {
  wchar_t folder[MAX_PATH + 1];
  UINT length = GetSystemDirectoryW(folder, MAX_PATH + 1);
  const std::string systemFolder =
      length > 0 && length <= MAX_PATH ? narrow(std::wstring(folder, length)) : "C:\\Windows\\System32";
  bool hasComspec = false, hasPath = false;
  const std::string comspec = variable(L"COMSPEC", &hasComspec);
  const std::string path = variable(L"PATH", &hasPath);
  return chooseInterpreter(hasComspec ? &comspec : nullptr, systemFolder, splitSearchPath(path),
                           [](const std::string& file) {
                             DWORD attributes = GetFileAttributesW(widen(file).c_str());
                             return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
                           });
}

struct PipeReader {
  HANDLE pipe;
  std::string text;
};

DWORD WINAPI drainPipe(void* context) {
  PipeReader& reader = *static_cast<PipeReader*>(context);
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(reader.pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) reader.text.append(buffer, got);
  return 0;
}

// The null device, inheritable; empty when it cannot be opened.
UniqueHandle inheritableNul() {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);
  return UniqueHandle(nul == INVALID_HANDLE_VALUE ? nullptr : nul);
}

// An inheritable copy of one of our standard handles, or NUL when there is
// none, for a child's start-up information.
UniqueHandle inheritableStdHandle(DWORD which) {
  HANDLE own = GetStdHandle(which);
  HANDLE copy = nullptr;
  if (own && own != INVALID_HANDLE_VALUE &&
      DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
    return UniqueHandle(copy);
  }
  return inheritableNul();
}

void appendTextMode(std::string& output, const std::string& raw) {
  output.reserve(output.size() + raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    output += raw[i];
  }
}

}  // namespace

int runCommand(const std::string& command, bool showWindow) { return runProgram("", command, showWindow); }

int runProgram(const std::string& program, const std::string& command, bool showWindow) {
  const std::wstring application = widen(program);
  std::wstring line = widen(command);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  // A hidden child gets the null device for all three streams: one that asks
  // a question (overwrite? retry?) reads end-of-file at once instead of
  // waiting for a key nobody can press.
  UniqueHandle nul;
  if (!showWindow) {
    nul = inheritableNul();
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.get();
  }
  PROCESS_INFORMATION info{};
  DWORD exitCode = 0xFFFFFFFF;
  if (CreateProcessW(application.empty() ? nullptr : application.c_str(), line.data(), nullptr, nullptr, TRUE,
                     showWindow ? 0 : CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info)) {
    UniqueHandle thread(info.hThread), process(info.hProcess);
    WaitForSingleObject(process.get(), INFINITE);
    GetExitCodeProcess(process.get(), &exitCode);
  }
  return static_cast<int>(exitCode);
}

int runInterpreter(const std::string& command, std::string& output, unsigned long timeoutMs) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return -1;
  UniqueHandle pipeRead(readEnd), pipeWrite(writeEnd);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  // Standard input is NUL rather than ours: a probed program must never sit
  // waiting for the user.
  UniqueHandle input = inheritableNul();
  UniqueHandle error = inheritableStdHandle(STD_ERROR_HANDLE);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.get();
  startup.hStdOutput = pipeWrite.get();
  startup.hStdError = error.get();

  // "/s /c" with the command in one more pair of quotes: the interpreter
  // then drops exactly that pair and runs the command as written. Without
  // it, a quoted program path holding "(" or "&" (C:\Program Files (x86)\...)
  // or a line with more than two quotes would lose its own quotes.
  const Interpreter chosen = currentInterpreter();
  const std::wstring interpreter = widen(chosen.path);
  std::wstring line = widen(interpreterCommandLine(chosen, command));
  PROCESS_INFORMATION info{};
  // Started suspended and put into a job first, so that ending it on time-out
  // also ends the programs it started (the java being probed).
  if (!CreateProcessW(interpreter.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW | CREATE_SUSPENDED,
                      nullptr, nullptr, &startup, &info)) {
    return -1;
  }
  UniqueHandle thread(info.hThread), process(info.hProcess);
  UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
  const bool inJob = job && AssignProcessToJobObject(job.get(), process.get());
  ResumeThread(thread.get());
  // Only the children hold the write end now: the reads end when they are done.
  pipeWrite.reset();
  input.reset();
  error.reset();

  PipeReader pipeReader{pipeRead.get(), {}};
  UniqueHandle reader(CreateThread(nullptr, 0, drainPipe, &pipeReader, 0, nullptr));
  if (!reader) drainPipe(&pipeReader);  // no thread: read here, without a deadline

  const ULONGLONG started = GetTickCount64();
  auto remaining = [&]() -> DWORD {
    if (timeoutMs == kWaitForever) return INFINITE;
    ULONGLONG spent = GetTickCount64() - started;
    return spent >= timeoutMs ? 0 : static_cast<DWORD>(timeoutMs - spent);
  };
  int result = -1;
  const bool ended = WaitForSingleObject(process.get(), remaining()) == WAIT_OBJECT_0;
  if (ended) {
    DWORD status = 0;
    if (GetExitCodeProcess(process.get(), &status)) result = static_cast<int>(status);
  }
  // The output is complete once every writer has closed the pipe; something
  // the command left running may hold it open. At the deadline the whole job
  // goes, which also ends the reads; without a job, the blocked read is
  // cancelled instead, since the command's children may live on.
  if (reader && (!ended || WaitForSingleObject(reader.get(), remaining()) != WAIT_OBJECT_0)) {
    if (inJob) TerminateJobObject(job.get(), 1);
    TerminateProcess(process.get(), 1);
    if (WaitForSingleObject(reader.get(), 1000) != WAIT_OBJECT_0) {
      do {
        CancelSynchronousIo(reader.get());
      } while (WaitForSingleObject(reader.get(), 100) != WAIT_OBJECT_0);
    }
  }
  if (reader) WaitForSingleObject(reader.get(), INFINITE);
  appendTextMode(output, pipeReader.text);
  return result;
}
int runCommandCaptured(const std::string& command, std::string& output, unsigned long timeoutMs) {
  return runInterpreter(command + " 2>&1", output, timeoutMs);
}
