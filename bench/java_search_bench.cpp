// Java search benchmark, run under Wine:
//   java_search_bench.exe          timings (see bench/README.md)
//   java_search_bench.exe slow     one verbose search whose only Java, found
//                                  on PATH, takes 3 s to answer: for looking
//                                  at the screen while a probe runs
// A windowed program like the launcher, so probes start the way they do
// there. It builds its fixtures (copies of fixture_program.exe playing
// java.exe and where.exe) in a temporary folder and removes them again.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "common/console.h"
#include "common/text.h"
#include "javafind/java_platform_win32.h"
#include "javafind/java_search.h"
#include "process/run_command.h"

namespace {

std::wstring here() {
  wchar_t path[MAX_PATH * 4];
  std::wstring full(path, GetModuleFileNameW(nullptr, path, MAX_PATH * 4));
  return full.substr(0, full.find_last_of(L'\\'));
}

void put(const std::wstring& folder, const wchar_t* name, const std::string& answer) {
  CreateDirectoryW(folder.c_str(), nullptr);
  CopyFileW((here() + L"\\fixture_program.exe").c_str(), (folder + L"\\" + name + L".exe").c_str(), FALSE);
  std::wstring answerPath = folder + L"\\" + name + L".answer";
  HANDLE file = CreateFileW(answerPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, answer.data(), static_cast<DWORD>(answer.size()), &written, nullptr);
  CloseHandle(file);
}

double milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <typename Work>
double medianMs(int runs, Work work) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    work();
    QueryPerformanceCounter(&end);
    times.push_back(milliseconds(start, end));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void removeFixtures(const std::wstring& root) {
  for (const wchar_t* file : {L"\\jdk\\bin\\java.exe", L"\\jdk\\bin\\java.answer", L"\\where\\where.exe",
                              L"\\where\\where.answer"}) {
    DeleteFileW((root + file).c_str());
  }
  for (const wchar_t* folder : {L"\\jdk\\bin", L"\\jdk", L"\\where", L""}) RemoveDirectoryW((root + folder).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const bool slow = argc > 1 && std::string(argv[1]) == "slow";
  wchar_t temp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, temp);
  const std::wstring root = std::wstring(temp) + L"java-search-bench-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(root.c_str(), nullptr);
  CreateDirectoryW((root + L"\\jdk").c_str(), nullptr);
  put(root + L"\\jdk\\bin", L"java", std::string(slow ? "sleep 3000\n" : "") + "err java version \"1.8.0_281\"\n");
  put(root + L"\\where", L"where", "out " + narrow(root) + "\\jdk\\bin\\java.exe\n");

  // Only the PATH source may find anything.
  SetEnvironmentVariableW(L"JAVA_HOME", nullptr);
  SetEnvironmentVariableW(L"JRE_HOME", nullptr);
  wchar_t path[32768];
  std::wstring oldPath(path, GetEnvironmentVariableW(L"PATH", path, 32768));
  SetEnvironmentVariableW(L"PATH", (root + L"\\where;" + oldPath).c_str());

  Win32JavaPlatform platform;
  JavaInstall minimum, result;
  minimum.setVersion("1.8.0_00");
  if (slow) {
    bool found = findJava(result, true, minimum, false, false, "jre", "", true, platform);
    removeFixtures(root);
    return found ? 0 : 1;
  }

  const int runs = 20;
  const std::string java = "\"" + narrow(root) + "\\jdk\\bin\\java.exe\"";
  const double direct = medianMs(runs, [&] { runCommand(java + " -version", false); });
  const double probe = medianMs(runs, [&] {
    std::string output;
    runCommandCaptured(java + " -version", output, kProbeTimeoutMs);
  });
  const double search = medianMs(5, [&] {
    // The trace goes to a string: the timing is of the search, not the console.
    struct Quiet : Win32JavaPlatform {
      void writeOut(std::string_view) override {}
      void writeErr(std::string_view) override {}
    } quiet;
    findJava(result, true, minimum, false, false, "jre", "", true, quiet);
  });
  char report[512];
  std::snprintf(report, sizeof report,
                "fixture java started directly (median of %d):    %7.1f ms\n"
                "one probe through the interpreter (median of %d): %7.1f ms\n"
                "verbose search accepting on PATH (median of 5):  %7.1f ms\n",
                runs, direct, runs, probe, search);
  writeOut(report);
  removeFixtures(root);
  return 0;
}
