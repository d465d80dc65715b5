#include <windows.h>

#include <algorithm>
#include <vector>

#include "common/system.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "process/interpreter.h"
#include "process/run_command.h"

namespace {

// COMSPEC's interpreter, looked for in the system folder and on PATH, never
// beside the launcher or in the current folder.
Interpreter currentInterpreter() {
  std::string comspec, path;
  const bool hasComspec = environmentVariable("COMSPEC", comspec);
  environmentVariable("PATH", path);
  return chooseInterpreter(hasComspec ? &comspec : nullptr, systemFolder(), splitSearchPath(path),
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

// CreateProcessW that lets the child inherit the three standard handles of
// `startup` and no other handle of this process (a handle list), so nothing
// the launcher holds open, a workspace file or a pipe, leaks into a child.
// Without attribute lists (very old systems) the child inherits as before.
BOOL createProcess(const wchar_t* application, std::wstring& line, DWORD flags, STARTUPINFOW& startup,
                   PROCESS_INFORMATION& info) {
  std::vector<HANDLE> inherited;
  for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
    if (handle && handle != INVALID_HANDLE_VALUE &&
        std::find(inherited.begin(), inherited.end(), handle) == inherited.end()) {
      inherited.push_back(handle);
    }
  }
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> storage(size);
  auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
  if (inherited.empty() || size == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &size)) {
    return CreateProcessW(application, line.data(), nullptr, nullptr, !inherited.empty(), flags, nullptr, nullptr,
                          &startup, &info);
  }
  BOOL started = FALSE;
  if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                                inherited.size() * sizeof(HANDLE), nullptr, nullptr)) {
    STARTUPINFOEXW extended{};
    extended.StartupInfo = startup;
    extended.StartupInfo.cb = sizeof extended;
    extended.lpAttributeList = list;
    started = CreateProcessW(application, line.data(), nullptr, nullptr, TRUE, flags | EXTENDED_STARTUPINFO_PRESENT,
                             nullptr, nullptr, &extended.StartupInfo, &info);
  }
  // The caller asks why a start failed: keep the error past the clean-up.
  const DWORD error = GetLastError();
  DeleteProcThreadAttributeList(list);
  SetLastError(error);
  return started;
}

}  // namespace

ProcessTree::~ProcessTree() {
  if (job_) CloseHandle(job_);
}

bool ProcessTree::startedOthers() const {
  if (!job_) return started_;
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
  if (!QueryInformationJobObject(job_, JobObjectBasicAccountingInformation, &accounting, sizeof accounting,
                                 nullptr)) {
    return true;
  }
  return accounting.TotalProcesses > 1;
}

int runCommand(const std::string& command, bool showWindow) { return runProgram("", command, showWindow); }

namespace {

// Errors of a start that may pass: another program has the file open for a
// moment. Some scanners deny access while they read a new file, so a program
// that is really forbidden costs the two seconds before it is given up.
bool startMayPass(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

}  // namespace

int runProgram(const std::string& program, const std::string& command, bool showWindow, ProcessTree* tree,
               ProgramRun* run) {
  const std::wstring application = widen(program);
  std::wstring line;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  // A hidden child gets the null device for all three streams: one that asks
  // a question (overwrite? retry?) reads end-of-file at once instead of
  // waiting for a key nobody can press. A shown one (the installer) gets
  // copies of ours.
  UniqueHandle input = showWindow ? inheritableStdHandle(STD_INPUT_HANDLE) : inheritableNul();
  UniqueHandle output = showWindow ? inheritableStdHandle(STD_OUTPUT_HANDLE) : inheritableNul();
  UniqueHandle error = showWindow ? inheritableStdHandle(STD_ERROR_HANDLE) : inheritableNul();
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.get();
  startup.hStdOutput = output.get();
  startup.hStdError = error.get();
  PROCESS_INFORMATION info{};
  DWORD exitCode = 0xFFFFFFFF;
  UniqueHandle job(tree ? CreateJobObjectW(nullptr, nullptr) : nullptr);
  if (job) {
    // No kill on close: should the launcher die, the installer goes on.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }
  const DWORD flags = (showWindow ? 0 : CREATE_NO_WINDOW) | (job ? CREATE_SUSPENDED : 0);
  bool created = false;
  for (int attempt = 1;; ++attempt) {
    // CreateProcessW may write into the command line: each try gets it anew.
    line = widen(command);
    created = createProcess(application.empty() ? nullptr : application.c_str(), line, flags, startup, info);
    if (created) break;
    const DWORD reason = GetLastError();
    if (run) run->startError = reason;
    if (!startMayPass(reason) || attempt >= kStartAttempts) break;
    Sleep(kStartPauseMs);
  }
  if (created) {
    if (run) run->startError = 0;
    UniqueHandle thread(info.hThread), process(info.hProcess);
    if (tree) {
      tree->started_ = true;
      tree->processId_ = info.dwProcessId;
    }
    if (job) {
      // In the job before its first instruction: nothing it starts escapes.
      if (AssignProcessToJobObject(job.get(), process.get())) {
        if (tree->job_) CloseHandle(tree->job_);
        tree->job_ = job.release();
      }
      ResumeThread(thread.get());
    }
    if (run && run->started) run->started();
    WaitForSingleObject(process.get(), INFINITE);
    GetExitCodeProcess(process.get(), &exitCode);
  }
  return static_cast<int>(exitCode);
}

int runInterpreter(const std::string& command, std::string& output, unsigned long timeoutMs) {
  const InterpreterRun run = runInterpreterRun(command, output, timeoutMs);
  return run.outcome == InterpreterRun::kEnded ? static_cast<int>(run.exitCode) : -1;
}

InterpreterRun runInterpreterRun(const std::string& command, std::string& output, unsigned long timeoutMs) {
  InterpreterRun run;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return run;
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
  if (!createProcess(interpreter.c_str(), line, CREATE_NO_WINDOW | CREATE_SUSPENDED, startup, info)) {
    return run;
  }
  UniqueHandle thread(info.hThread), process(info.hProcess);
  UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
  if (job) {
    // Should the launcher die mid-probe, the system ends the whole job with
    // its last handle: no interpreter or java is left running.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }
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
  const bool ended = WaitForSingleObject(process.get(), remaining()) == WAIT_OBJECT_0;
  run.outcome = InterpreterRun::kTimedOut;
  if (ended) {
    DWORD status = 0;
    if (GetExitCodeProcess(process.get(), &status)) {
      run.outcome = InterpreterRun::kEnded;
      run.exitCode = status;
    }
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
  return run;
}
int runCommandCaptured(const std::string& command, std::string& output, unsigned long timeoutMs) {
  return runInterpreter(command + " 2>&1", output, timeoutMs);
}
