// What the wait before the clean-up costs while a program runs from the
// workspace: the launcher's own processor time over a stretch of waiting,
// with a given number of processes on the system. One mode per run:
//   handles  waitUntilWorkspaceIsFree, as the launcher waits now
//   poll     the processes looked through four times a second, as before
// (bench/wait_cpu.sh runs both and adds wineserver's share).
// usage: wait_cpu_bench.exe handles|poll STAND_IN_PROGRAM PROCESSES SECONDS

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/timing.h"
#include "common/text.h"
#include "launcher/release_wait.h"
#include "launcher/workspace.h"
#include "process/run_command.h"

namespace {

double cpuMs() {
  FILETIME created, ended, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
  auto ms = [](const FILETIME& t) {
    return static_cast<double>(static_cast<ULONGLONG>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000.0;
  };
  return ms(kernel) + ms(user);
}

HANDLE startSleeping(const std::wstring& program, unsigned long ms) {
  std::wstring line = L"\"" + program + L"\" sleep " + std::to_wstring(ms);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &startup, &info)) {
    std::fprintf(stderr, "cannot start %ls\n", program.c_str());
    std::exit(1);
  }
  CloseHandle(info.hThread);
  return info.hProcess;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: wait_cpu_bench.exe handles|poll STAND_IN_PROGRAM PROCESSES SECONDS\n");
    return 2;
  }
  const std::string mode = argv[1];
  const std::wstring standIn = widen(argv[2]);
  const int processes = std::atoi(argv[3]);
  const unsigned long ms = static_cast<unsigned long>(std::atoi(argv[4])) * 1000;

  wchar_t temp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, temp);
  const std::wstring workspace = std::wstring(temp) + L"wait-cpu-bench";
  CreateDirectoryW(workspace.c_str(), nullptr);
  CreateDirectoryW((workspace + L"\\jre").c_str(), nullptr);
  CreateDirectoryW((workspace + L"\\jre\\bin").c_str(), nullptr);
  const std::wstring inside = workspace + L"\\jre\\bin\\javaw.exe";
  const std::wstring outside = std::wstring(temp) + L"wait-cpu-bench-other.exe";
  CopyFileW(standIn.c_str(), inside.c_str(), FALSE);
  CopyFileW(standIn.c_str(), outside.c_str(), FALSE);

  // One program from the workspace, the rest elsewhere; all outlast the wait.
  std::vector<HANDLE> started{startSleeping(inside, ms + 60000)};
  for (int i = 1; i < processes; ++i) started.push_back(startSleeping(outside, ms + 60000));
  Sleep(2000);  // all up

  const std::string absolute = narrow(workspace);
  const double cpuBefore = cpuMs(), wallBefore = nowMs();
  if (mode == "handles") {
    const ProcessTree noInstaller;
    waitUntilWorkspaceIsFree(absolute, noInstaller, ms);
  } else {
    while (nowMs() - wallBefore < ms) {
      workspaceInUse(absolute);
      Sleep(250);
    }
  }
  const double cpu = cpuMs() - cpuBefore, wall = nowMs() - wallBefore;
  std::printf("%s, %d processes: %.0f ms of processor time in %.0f ms: %.2f %% of a core\n", mode.c_str(), processes,
              cpu, wall, 100.0 * cpu / wall);

  for (HANDLE process : started) {
    TerminateProcess(process, 0);
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);
  }
  DeleteFileW(inside.c_str());
  DeleteFileW(outside.c_str());
  RemoveDirectoryW((workspace + L"\\jre\\bin").c_str());
  RemoveDirectoryW((workspace + L"\\jre").c_str());
  RemoveDirectoryW(workspace.c_str());
  return 0;
}
