// The command runners with real child programs under Wine: the fixture
// program (fixture_program.exe beside this test) does what its arguments say.

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "common/text.h"
#include "process/run_command.h"
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
  auto done = std::make_shared<std::promise<int>>();
  std::future<int> status = done->get_future();
  std::thread([done] { done->set_value(runCommand("cmd /c pause", false)); }).detach();
  ASSERT_EQ(status.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "pause is still waiting";
  EXPECT_EQ(status.get(), 0);
}

// A bounded run ends the command and what it started once its time is up.
TEST(RunCommandCaptured, TimeLimitEndsTheCommand) {
  TempDir dir;
  const std::string flag = narrow(dir.file(L"finished"));
  std::string output;
  ULONGLONG start = GetTickCount64();
  int status = runCommandCaptured(fixture() + " out started sleep 2000 touch \"" + flag + "\"", output, 300);
  ULONGLONG spent = GetTickCount64() - start;
  EXPECT_EQ(status, -1);
  EXPECT_LT(spent, 1500u);
  EXPECT_EQ(output, "started\n");
  Sleep(2500);
  EXPECT_FALSE(fileExists(widen(flag))) << "the command went on after its time was up";
}

TEST(RunInterpreter, LeavesStandardErrorAlone) {
  std::string output;
  EXPECT_EQ(runInterpreter(fixture() + " out seen err unseen", output), 0);
  EXPECT_EQ(output, "seen\n");
}

}  // namespace
