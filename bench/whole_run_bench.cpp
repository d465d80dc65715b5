// Times whole installing runs under Wine (bench/whole_run.sh runs it): the
// launcher against the reference program, alternating, as whole processes.
// Both carry the same payloads, whose java appends the moment of its probe to
// the file BENCH_PROBE_STAMP names and whose javaw appends its start to
// FIXTURE_JAVAW_STAMP, so the run is cut into three stretches: the start to
// the probe (splash, workspace, runtime archive written and run, two
// animations), the probe to javaw's start (the installer's extraction and
// the last animation), and javaw's start to the end (javaw ends at once:
// the wait before the clean-up and the clean-up).
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
  double startToProbe;
  double probeToJavaw;
  double javawToEnd;
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
  const double end = nowMs();
  const double whole = end - begin;
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  const double probe = lastStamp(probeStamp), javaw = lastStamp(javawStamp);
  if (probe < 0 || javaw < 0) {
    std::fprintf(stderr, "%ls: no probe or javaw stamp\n", program.c_str());
    std::exit(1);
  }
  return {whole, probe - begin, javaw - probe, end - javaw};
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
  const char* const names[] = {"whole run", "start to the probe", "probe to javaw's start", "javaw's start to the end"};
  std::vector<double> launcherSamples[4], referenceSamples[4];
  for (int i = 0; i < runs; ++i) {
    const Sample a = runOnce(launcher, probeStamp, javawStamp);
    const Sample b = runOnce(reference, probeStamp, javawStamp);
    const double as[] = {a.whole, a.startToProbe, a.probeToJavaw, a.javawToEnd};
    const double bs[] = {b.whole, b.startToProbe, b.probeToJavaw, b.javawToEnd};
    for (int k = 0; k < 4; ++k) {
      launcherSamples[k].push_back(as[k]);
      referenceSamples[k].push_back(bs[k]);
    }
  }
  for (int k = 0; k < 4; ++k) {
    const std::string launcherName = std::string("launcher: ") + names[k];
    const std::string referenceName = std::string("reference: ") + names[k];
    report(launcherName.c_str(), launcherSamples[k]);
    report(referenceName.c_str(), referenceSamples[k]);
    std::printf("%-40s %+8.1f ms, ratio %.3f\n", (std::string("difference: ") + names[k]).c_str(),
                median(launcherSamples[k]) - median(referenceSamples[k]),
                median(launcherSamples[k]) / median(referenceSamples[k]));
  }
  return 0;
}
