// The command runners with real child programs under Wine: the fixture
// program (fixture_program.exe beside this test) does what its arguments say.

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/unique_handle.h"
#include "process/run_command.h"
#include "tests/support/bounded_call.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"

namespace {

std::string fixture() { return "\"" + narrow(executableDir()) + "\\fixture_program.exe\""; }

TEST(RunCommand, ReturnsTheExitCode) {
  const struct {
    const char* arguments;
    bool showWindow;
    int expected;
  } cases[] = {
      {" exit 0", false, 0},
      {" exit 3", false, 3},
      {" exit 3", true, 3},
      {" exit 4294967295", false, -1},
      {" exit 2147483648", false, static_cast<int>(0x80000000u)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(runCommand(fixture() + c.arguments, c.showWindow), c.expected) << c.arguments;
  }
}

TEST(RunCommand, WaitsForAProgramWithoutAWindow) {
  ULONGLONG start = GetTickCount64();
  EXPECT_EQ(runCommand(fixture() + " sleep 400 exit 5", false), 5);
  EXPECT_GE(GetTickCount64() - start, 390u);
}

TEST(RunCommand, MissingProgramGivesMinusOne) {
  EXPECT_EQ(runCommand("\"C:\\no such folder\\nothing.exe\" -x", false), -1);
  EXPECT_EQ(runCommand("", false), -1);
}

struct CapturedCase {
  const char* tag;
  std::string arguments;
  std::string before;
  std::string expectedOutput;
  int expectedStatus;
};

// A program file held by another program without sharing, as a virus
// scanner holds a new file while it reads it: the start is tried again for
// about two seconds. A hold that outlasts that ends with -1 and the
// system's reason; a program that is no program is not waited for.
TEST(RunProgram, StartHeldByAScannerIsTriedAgainAndSaysWhy) {
  TempDir dir;
  const std::wstring program = dir.file(L"jre_x64.exe");
  ASSERT_TRUE(CopyFileW((executableDir() + L"\\fixture_program.exe").c_str(), program.c_str(), FALSE));
  const std::wstring notProgram = dir.file(L"broken.exe");
  ASSERT_TRUE(writeFile(notProgram, "not a program"));
  const struct {
    const char* tag;
    const std::wstring& file;
    DWORD holdMs;  // 0: not held
    int exitCode;
    DWORD startError;
    ULONGLONG atLeastMs, belowMs;
  } cases[] = {
      {"not held", program, 0, 5, 0, 0, 1500},
      {"held for a moment", program, 700, 5, 0, 400, 2500},
      {"held throughout", program, 6000, -1, ERROR_SHARING_VIOLATION, 1500, 4000},
      {"no program at all", notProgram, 0, -1, ERROR_BAD_EXE_FORMAT, 0, 1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    // Held by another program, since a scanner is one.
    UniqueHandle holder;
    if (c.holdMs > 0) {
      holder = startChild(executableDir() + L"\\fixture_program.exe",
                          L"fixture_program.exe hold \"" + c.file + L"\" sleep " + std::to_wstring(c.holdMs));
      ASSERT_TRUE(holder.valid());
      // Until the hold is in place.
      for (int i = 0; i < 200; ++i) {
        UniqueFileHandle probe(CreateFileW(c.file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
        if (!probe && GetLastError() == ERROR_SHARING_VIOLATION) break;
        probe.reset();
        Sleep(10);
      }
    }
    ProgramRun run;
    bool toldStarted = false;
    run.started = [&] { toldStarted = true; };
    const ULONGLONG started = GetTickCount64();
    const int exitCode = runProgram(narrow(c.file), "jre_x64.exe exit 5", false, nullptr, &run);
    const ULONGLONG took = GetTickCount64() - started;
    EXPECT_EQ(exitCode, c.exitCode);
    EXPECT_EQ(run.startError, c.startError) << systemErrorText(run.startError);
    EXPECT_EQ(toldStarted, c.exitCode != -1);
    EXPECT_GE(took, c.atLeastMs);
    EXPECT_LT(took, c.belowMs);
    if (holder) {
      TerminateProcess(holder.get(), 0);
      WaitForSingleObject(holder.get(), INFINITE);
    }
  }
}

TEST(RunCommandCaptured, JoinsBothStreamsInOrderWithLineFeeds) {
  const std::string x2000(2000, 'x');
  const std::string word1100(1100, 'w');
  const CapturedCase cases[] = {
      {"one line on each stream", " out first err second exit 7", "", "first\nsecond\n", 7},
      {"streams interleaved", " err a out b err c", "", "a\nb\nc\n", 0},
      {"a 2,000-character line", " long 2000", "", x2000 + "\n", 0},
      {"no output", " exit 4", "kept", "kept", 4},
      {"appends to what is there", " out new", "old\n", "old\nnew\n", 0},
      {"a command longer than 1,018 characters", " out " + word1100, "", word1100 + "\n", 0},
  };
  for (const CapturedCase& c : cases) {
    std::string output = c.before;
    EXPECT_EQ(runCommandCaptured(fixture() + c.arguments, output), c.expectedStatus) << c.tag;
    EXPECT_EQ(output, c.expectedOutput) << c.tag;
  }
}

// Quoted paths with blanks and parentheses, and lines with several quoted
// parts, reach the program as written.
TEST(RunCommandCaptured, QuotedPathsSurviveTheInterpreter) {
  TempDir dir;
  const std::wstring folder = dir.file(L"Program Files (x86)");
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  ASSERT_TRUE(CopyFileW((executableDir() + L"\\fixture_program.exe").c_str(), (folder + L"\\java.exe").c_str(),
                        FALSE));
  const std::string java = "\"" + narrow(folder) + "\\java.exe\"";
  std::string output;
  EXPECT_EQ(runCommandCaptured(java + " out \"two words\" exit 6", output), 6);
  EXPECT_EQ(output, "two words\n");
}

TEST(RunCommandCaptured, InterpreterComplaintsArriveInTheOutput) {
  std::string output;
  EXPECT_NE(runCommandCaptured("\"C:\\no such folder\\java.exe\" -version", output), 0);
  EXPECT_FALSE(output.empty());
}

// COMSPEC names the interpreter; one that cannot start gives -1.
TEST(RunCommandCaptured, InterpreterThatCannotStart) {
  wchar_t saved[MAX_PATH * 4];
  DWORD length = GetEnvironmentVariableW(L"COMSPEC", saved, MAX_PATH * 4);
  SetEnvironmentVariableW(L"COMSPEC", L"C:\\no such folder\\cmd.exe");
  std::string output = "untouched";
  int status = runCommandCaptured(fixture() + " out hello", output);
  SetEnvironmentVariableW(L"COMSPEC", length ? saved : nullptr);
  EXPECT_EQ(status, -1);
  EXPECT_EQ(output, "untouched");
}

TEST(RunCommandCaptured, UnsetOrBareCOMSPECStillFindsTheInterpreter) {
  wchar_t saved[MAX_PATH * 4];
  DWORD length = GetEnvironmentVariableW(L"COMSPEC", saved, MAX_PATH * 4);
  wchar_t system[MAX_PATH];
  const std::wstring quoted = L"\"" + std::wstring(system, GetSystemDirectoryW(system, MAX_PATH)) + L"\\cmd.exe\"";
  for (const wchar_t* comspec : {static_cast<const wchar_t*>(nullptr), L"cmd.exe", L"CMD", quoted.c_str()}) {
    const std::string tag = comspec ? narrow(comspec) : "unset";
    SetEnvironmentVariableW(L"COMSPEC", comspec);
    std::string output;
    EXPECT_EQ(runCommandCaptured(fixture() + " out hello exit 2", output), 2) << tag;
    EXPECT_EQ(output, "hello\n") << tag;
  }
  SetEnvironmentVariableW(L"COMSPEC", length ? saved : nullptr);
}

// A bare COMSPEC is never taken from the current folder.
TEST(RunCommandCaptured, InterpreterPlantedInTheCurrentFolderNeverRuns) {
  TempDir dir(L"planted");
  std::string program;
  ASSERT_TRUE(readFile(executableDir() + L"\\fixture_program.exe", &program));
  ASSERT_TRUE(writeFile(dir.file(L"cmd.exe"), program));
  const std::string marker = narrow(dir.file(L"ran"));
  ASSERT_TRUE(writeFile(dir.file(L"cmd.answer"), "touch " + marker + "\nexit 0\n"));
  wchar_t savedComspec[MAX_PATH * 4], savedFolder[MAX_PATH * 4];
  DWORD comspecLength = GetEnvironmentVariableW(L"COMSPEC", savedComspec, MAX_PATH * 4);
  GetCurrentDirectoryW(MAX_PATH * 4, savedFolder);
  SetEnvironmentVariableW(L"COMSPEC", L"cmd.exe");
  SetCurrentDirectoryW(dir.path().c_str());
  std::string output;
  const int status = runCommandCaptured(fixture() + " out hello", output);
  SetCurrentDirectoryW(savedFolder);
  SetEnvironmentVariableW(L"COMSPEC", comspecLength ? savedComspec : nullptr);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output, "hello\n");
  EXPECT_FALSE(fileExists(widen(marker))) << "the planted cmd.exe ran";
}

// A hidden child that asks for a key gets end-of-file, not a wait for ever.
TEST(RunCommand, HiddenChildThatWaitsForAKeyEnds) {
  const std::optional<int> status =
      callWithin(std::chrono::seconds(20), [] { return runCommand("cmd /c pause", false); });
  ASSERT_TRUE(status) << "pause is still waiting";
  EXPECT_EQ(*status, 0);
}

// An inheritable handle of this process, and the fixture command that ends
// with 7 when it finds that handle open in itself.
struct InheritanceCheck {
  UniqueHandle event;
  std::string command;
  InheritanceCheck() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    event.reset(CreateEventW(&inherit, TRUE, FALSE, nullptr));
    command = fixture() + " handle " + std::to_string(reinterpret_cast<uintptr_t>(event.get())) + " out checked";
  }
  // Starts the check directly, inheriting either everything or only the
  // three standard handles named in a handle list; returns its status.
  DWORD startDirectly(DWORD flags, bool handleList) const {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    UniqueFileHandle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inherit, OPEN_EXISTING, 0, nullptr));
    HANDLE handles[] = {nul.get()};
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> storage(size);
    auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    InitializeProcThreadAttributeList(list, 1, 0, &size);
    UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles, sizeof handles, nullptr, nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = startup.StartupInfo.hStdOutput = startup.StartupInfo.hStdError = nul.get();
    startup.lpAttributeList = handleList ? list : nullptr;
    std::wstring line = widen(command);
    PROCESS_INFORMATION info{};
    DWORD status = 0xFFFFFFFF;
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                       flags | (handleList ? EXTENDED_STARTUPINFO_PRESENT : 0), nullptr, nullptr,
                       &startup.StartupInfo, &info)) {
      WaitForSingleObject(info.hProcess, INFINITE);
      GetExitCodeProcess(info.hProcess, &status);
      CloseHandle(info.hThread);
      CloseHandle(info.hProcess);
    }
    DeleteProcThreadAttributeList(list);
    return status;
  }
};

// Children inherit their three standard handles and nothing else of ours.
TEST(RunCommand, ChildrenInheritNoOtherHandle) {
  InheritanceCheck check;
  ASSERT_TRUE(check.event.valid());
  // Control: started plainly with inheritance on, the child sees it.
  ASSERT_EQ(check.startDirectly(0, false), 7u) << "the check cannot see an inherited handle";

  EXPECT_EQ(runCommand(check.command, true), 0) << "shown";
  std::string output;
  EXPECT_EQ(runCommandCaptured(check.command, output), 0) << "through the interpreter";
  EXPECT_EQ(output, "checked\n");
}

TEST(RunCommand, HiddenChildrenInheritNoOtherHandle) {
  InheritanceCheck check;
  ASSERT_EQ(check.startDirectly(CREATE_NO_WINDOW, false), 7u) << "the check cannot see an inherited handle";
  if (check.startDirectly(CREATE_NO_WINDOW, true) == 7u) {
    GTEST_SKIP() << "this system lets inheritable handles through a handle list for a process created with "
                    "CREATE_NO_WINDOW (Wine 8 does), so a hidden child cannot be checked here";
  }
  EXPECT_EQ(runCommand(check.command, false), 0);
}

// A launcher ended from outside mid-probe leaves nothing of the probe running.
TEST(RunCommandCaptured, ProbeEndsWithTheLauncher) {
  TempDir dir;
  const std::string marker = narrow(dir.file(L"finished"));
  const std::wstring runner = executableDir() + L"\\probe_runner.exe";
  UniqueHandle process =
      startChild(runner, L"\"" + runner + L"\" " + widen(fixture() + " sleep 2500 touch \"" + marker + "\""));
  ASSERT_TRUE(process.valid());
  Sleep(1000);
  TerminateProcess(process.get(), 1);
  WaitForSingleObject(process.get(), INFINITE);
  Sleep(3500);
  EXPECT_FALSE(fileExists(widen(marker))) << "the probed program went on after the launcher had gone";
}

// A bounded run ends the command and what it started once its time is up.
TEST(RunCommandCaptured, TimeLimitEndsTheCommand) {
  TempDir dir;
  const std::string flag = narrow(dir.file(L"finished"));
  std::string output;
  ULONGLONG start = GetTickCount64();
  // The limit leaves the interpreter and the program time to start and say
  // so even on a busy machine (the suite runs tests side by side).
  int status = runCommandCaptured(fixture() + " out started sleep 4000 touch \"" + flag + "\"", output, 1500);
  ULONGLONG spent = GetTickCount64() - start;
  EXPECT_EQ(status, -1);
  EXPECT_LT(spent, 3000u);
  EXPECT_EQ(output, "started\n");
  Sleep(4000);
  EXPECT_FALSE(fileExists(widen(flag))) << "the command went on after its time was up";
}

TEST(RunInterpreter, LeavesStandardErrorAlone) {
  std::string output;
  EXPECT_EQ(runInterpreter(fixture() + " out seen err unseen", output), 0);
  EXPECT_EQ(output, "seen\n");
}

}  // namespace
