// Times whole installing runs under Wine (bench/whole_run.sh runs it): the
// launcher against the reference program, alternating, as whole processes.
// Both carry the same payloads, whose java appends the moment of its probe to
// the file BENCH_PROBE_STAMP names and whose javaw appends its start to
// FIXTURE_JAVAW_STAMP, so the stretch from the probe to javaw's start (the
// installer's extraction and the last animation) is timed as well.
// usage: whole_run_bench.exe LAUNCHER REFERENCE SCRATCH RUNS

#include <windows.h>

#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/timing.h"

namespace {

double lastStamp(const std::wstring& file) {
  std::ifstream in(file.c_str());
  double value = -1, read = 0;
  while (in >> read) value = read;
  return value;
}

struct Sample {
  double whole;
  double probeToJavaw;
};

Sample runOnce(const std::wstring& program, const std::wstring& probeStamp, const std::wstring& javawStamp) {
  DeleteFileW(probeStamp.c_str());
  DeleteFileW(javawStamp.c_str());
  std::wstring line = L"\"" + program + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  const double begin = nowMs();
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    std::fprintf(stderr, "cannot start %ls\n", program.c_str());
    std::exit(1);
  }
  WaitForSingleObject(info.hProcess, INFINITE);
  const double whole = nowMs() - begin;
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  const double probe = lastStamp(probeStamp), javaw = lastStamp(javawStamp);
  if (probe < 0 || javaw < 0) {
    std::fprintf(stderr, "%ls: no probe or javaw stamp\n", program.c_str());
    std::exit(1);
  }
  return {whole, javaw - probe};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: whole_run_bench.exe LAUNCHER REFERENCE SCRATCH RUNS\n");
    return 2;
  }
  auto wide = [](const char* text) { return std::wstring(text, text + std::strlen(text)); };
  const std::wstring launcher = wide(argv[1]), reference = wide(argv[2]), scratch = wide(argv[3]);
  const int runs = std::atoi(argv[4]);
  CreateDirectoryW(scratch.c_str(), nullptr);
  const std::wstring tmp = scratch + L"\\tmp", start = scratch + L"\\start";
  CreateDirectoryW(tmp.c_str(), nullptr);
  CreateDirectoryW(start.c_str(), nullptr);
  SetCurrentDirectoryW(start.c_str());
  const std::wstring probeStamp = scratch + L"\\probe.txt", javawStamp = scratch + L"\\javaw.txt";
  SetEnvironmentVariableW(L"TMP", tmp.c_str());
  SetEnvironmentVariableW(L"JAVA_HOME", nullptr);
  SetEnvironmentVariableW(L"JRE_HOME", nullptr);
  SetEnvironmentVariableW(L"FIXTURE_RECORD_DIR", nullptr);
  SetEnvironmentVariableW(L"BENCH_PROBE_STAMP", probeStamp.c_str());
  SetEnvironmentVariableW(L"FIXTURE_JAVAW_STAMP", javawStamp.c_str());

  runOnce(launcher, probeStamp, javawStamp);  // warm-up
  runOnce(reference, probeStamp, javawStamp);
  std::vector<double> launcherWhole, referenceWhole, launcherStretch, referenceStretch;
  for (int i = 0; i < runs; ++i) {
    const Sample a = runOnce(launcher, probeStamp, javawStamp);
    const Sample b = runOnce(reference, probeStamp, javawStamp);
    launcherWhole.push_back(a.whole);
    launcherStretch.push_back(a.probeToJavaw);
    referenceWhole.push_back(b.whole);
    referenceStretch.push_back(b.probeToJavaw);
  }
  report("launcher: whole run", launcherWhole);
  report("reference: whole run", referenceWhole);
  report("launcher: probe to javaw's start", launcherStretch);
  report("reference: probe to javaw's start", referenceStretch);
  std::printf("ratio whole run: %.3f\n", median(launcherWhole) / median(referenceWhole));
  std::printf("ratio whole run less the launcher's 2,000 ms second look: %.3f\n",
              (median(launcherWhole) - 2000.0) / median(referenceWhole));
  std::printf("ratio probe to javaw: %.3f\n", median(launcherStretch) / median(referenceStretch));
  return 0;
}
