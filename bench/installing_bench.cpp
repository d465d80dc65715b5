// Times whole installing runs under Wine, as processes started from here
// (bench/installing.sh runs it): launcher-java18.exe, whose children end at
// once, alternating with a series of five trivial child programs (as many as
// the run starts: the runtime archive, the probe's interpreter and java,
// javaw, the clean-up's interpreter). Prints each sample and the medians,
// and how long the launcher lives on after its javaw has started (javaw
// ends at once): the wait before the clean-up and the clean-up itself.
// usage: installing_bench.exe BIN_DIR RUNS

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/timing.h"

namespace {

PROCESS_INFORMATION start(const std::wstring& program, bool windowless) {
  std::wstring line = L"\"" + program + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, windowless ? CREATE_NO_WINDOW : 0,
                      nullptr, nullptr, &startup, &info)) {
    std::fprintf(stderr, "cannot start %ls (error %lu)\n", program.c_str(), GetLastError());
    std::exit(1);
  }
  return info;
}

void finish(PROCESS_INFORMATION& info) {
  WaitForSingleObject(info.hProcess, INFINITE);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
}

double timeWhole(const std::wstring& program, bool windowless, int times) {
  const double begin = nowMs();
  for (int i = 0; i < times; ++i) {
    PROCESS_INFORMATION info = start(program, windowless);
    finish(info);
  }
  return nowMs() - begin;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: installing_bench.exe BIN_DIR RUNS\n");
    return 2;
  }
  const std::string binNarrow = argv[1];
  const std::wstring bin(binNarrow.begin(), binNarrow.end());
  const int runs = std::atoi(argv[2]);
  const std::wstring launcher = bin + L"\\launcher-java18.exe";
  const std::wstring child = bin + L"\\fixture_program.exe";

  // The installing runs work in a scratch TMP; the recording javaw records
  // nothing without FIXTURE_RECORD_DIR.
  wchar_t temp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, temp);
  const std::wstring scratch = std::wstring(temp) + L"installing-bench";
  CreateDirectoryW(scratch.c_str(), nullptr);
  SetEnvironmentVariableW(L"TMP", scratch.c_str());
  SetEnvironmentVariableW(L"JAVA_HOME", nullptr);
  SetEnvironmentVariableW(L"JRE_HOME", nullptr);
  SetEnvironmentVariableW(L"FIXTURE_RECORD_DIR", nullptr);
  // javaw appends the moment it started (the same clock as nowMs) here.
  const std::wstring stamps = std::wstring(temp) + L"installing-bench-javaw.txt";
  SetEnvironmentVariableW(L"FIXTURE_JAVAW_STAMP", stamps.c_str());

  std::vector<double> whole, children, tail;
  timeWhole(launcher, false, 1);  // warm-up
  for (int i = 0; i < runs; ++i) {
    DeleteFileW(stamps.c_str());
    whole.push_back(timeWhole(launcher, false, 1));
    const double ended = nowMs();
    double javawStarted = 0;
    std::ifstream(stamps.c_str()) >> javawStarted;
    if (javawStarted > 0) tail.push_back(ended - javawStarted);
    children.push_back(timeWhole(child, true, 5));
  }
  RemoveDirectoryW(scratch.c_str());
  DeleteFileW(stamps.c_str());

  report("whole installing run", whole);
  report("five trivial children", children);
  report("javaw's start to the launcher's end", tail);
  const double overhead = median(whole) - 2970.0 - median(children);
  std::printf("launcher overhead (whole - 2970 ms of animation sleeps - children): %.1f ms\n", overhead);
  return 0;
}
