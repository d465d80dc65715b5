// The Java search on the real system under Wine: java programs in fixture
// folders (copies of fixture_program.exe with an answer file), environment
// variables, JavaSoft keys written with Wine's own reg, and a working
// "where" put ahead of Wine's stub on PATH. The trace is recorded from the
// platform's stream calls and compared byte for byte.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "javafind/java_platform_win32.h"
#include "javafind/java_search.h"
#include "process/run_command.h"
#include "tests/support/files.h"

namespace {

class RecordingPlatform : public Win32JavaPlatform {
 public:
  using Win32JavaPlatform::Win32JavaPlatform;
  void writeOut(std::string_view text) override { out += text; }
  void writeErr(std::string_view text) override { err += text; }
  std::string out, err;
};

const char kJava8[] =
    "err java version \"1.8.0_281\"\n"
    "err Java(TM) SE Runtime Environment (build 1.8.0_281-b09)\n"
    "err Java HotSpot(TM) 64-Bit Server VM (build 25.281-b09, mixed mode)\n";
const char kJava7[] = "err java version \"1.7.0_80\"\n";

const char kHeader[] = "Searching for a JVM\n";
const char kPathHeader[] =
    " - Looking on PATH (possibly yielding a pseudo, but passable, JAVA_HOME such as /usr): ";

class JavaSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    // These tests rewrite HKLM\SOFTWARE\JavaSoft and C:\Java: only ever in
    // a private Wine prefix, never on a real machine.
    underWine_ = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    if (!underWine_) GTEST_SKIP() << "runs under Wine only";
    for (const wchar_t* name : {L"JAVA_HOME", L"JRE_HOME", L"PATH", L"COMSPEC"}) {
      wchar_t value[32768];
      DWORD length = GetEnvironmentVariableW(name, value, 32768);
      saved_.push_back({name, length ? std::wstring(value, length) : std::wstring(), length > 0});
    }
    SetEnvironmentVariableW(L"JAVA_HOME", nullptr);
    SetEnvironmentVariableW(L"JRE_HOME", nullptr);
    GetCurrentDirectoryW(MAX_PATH * 4, previousDir_);
    SetCurrentDirectoryW(dir.path().c_str());
    clearRegistry();
    minimum.setVersion("1.8.0_00");
  }

  void TearDown() override {
    if (!underWine_) return;
    SetCurrentDirectoryW(previousDir_);
    for (const auto& [name, value, set] : saved_) SetEnvironmentVariableW(name.c_str(), set ? value.c_str() : nullptr);
    clearRegistry();
    removeTree(L"C:\\Java");
  }

  static void clearRegistry() { runCommand("reg delete \"HKLM\\SOFTWARE\\JavaSoft\" /f", false); }

  static void regAdd(const std::string& key, const std::string& javaHome) {
    std::string command = "reg add \"HKLM\\" + key + "\" /f";
    if (!javaHome.empty()) command += " /v JavaHome /d \"" + javaHome + "\"";
    ASSERT_EQ(runCommand(command, false), 0) << command;
  }

  // A Java home at `folder` whose java.exe follows `script`; with `jdk`, a
  // javac.exe beside it.
  static void makeJava(const std::wstring& folder, const std::string& script, bool jdk = false) {
    const std::wstring bin = folder + L"\\bin";
    SHCreate(bin);
    ASSERT_TRUE(CopyFileW((executableDir() + L"\\fixture_program.exe").c_str(), (bin + L"\\java.exe").c_str(), FALSE));
    ASSERT_TRUE(writeFile(bin + L"\\java.answer", script));
    if (jdk) {
      ASSERT_TRUE(writeFile(bin + L"\\javac.exe", "MZ"));
    }
  }

  static void SHCreate(const std::wstring& path) {
    size_t at = 0;
    while ((at = path.find(L'\\', at + 1)) != std::wstring::npos) CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    CreateDirectoryW(path.c_str(), nullptr);
  }

  // A working "where" that prints `lines`, ahead of everything on PATH.
  void provideWhere(const std::string& lines) {
    const std::wstring folder = dir.file(L"where-fixture");
    SHCreate(folder);
    ASSERT_TRUE(
        CopyFileW((executableDir() + L"\\fixture_program.exe").c_str(), (folder + L"\\where.exe").c_str(), FALSE));
    std::string script;
    for (size_t at = 0; at < lines.size();) {
      size_t end = lines.find('\n', at);
      script += "out " + lines.substr(at, end - at) + "\n";
      at = end == std::string::npos ? lines.size() : end + 1;
    }
    ASSERT_TRUE(writeFile(folder + L"\\where.answer", script));
    wchar_t path[32768];
    DWORD length = GetEnvironmentVariableW(L"PATH", path, 32768);
    SetEnvironmentVariableW(L"PATH", (folder + L";" + std::wstring(path, length)).c_str());
  }

  bool search(const std::string& priorityHint, bool verbose = true, bool checkMinimum = true) {
    return findJava(result, checkMinimum, minimum, false, false, priorityHint, "", verbose, platform);
  }

  TempDir dir{L"java search"};
  RecordingPlatform platform;
  JavaInstall result, minimum;

 private:
  struct Saved {
    std::wstring name, value;
    bool set;
  };
  std::vector<Saved> saved_;
  wchar_t previousDir_[MAX_PATH * 4];
  bool underWine_ = false;
};

// The three sample traces.
TEST_F(JavaSearch, PriorityHintAccepted) {
  makeJava(dir.file(L"jre"), kJava8);
  EXPECT_TRUE(search("jre"));
  EXPECT_EQ(platform.out, std::string(kHeader) + " - trying priority hint: (jre) yes\n");
  EXPECT_EQ(platform.err, "");
  EXPECT_EQ(result.javawPath(), "jre\\bin\\javaw.exe");
  EXPECT_EQ(result.versionText(), "1.8.0_281");
}

TEST_F(JavaSearch, NothingAccepted) {
  EXPECT_FALSE(search("jre"));
  EXPECT_EQ(platform.out, std::string(kHeader) +
                              " - trying priority hint: (jre) no\n"
                              " - trying JAVA_HOME: no\n"
                              " - trying JRE_HOME: no\n"
                              " - trying the registry: no\n"
                              " - trying hint: no\n" +
                              kPathHeader + "no\n");
  EXPECT_EQ(platform.err, "");
}

TEST_F(JavaSearch, JavaHomeAccepted) {
  makeJava(L"C:\\Java\\jdk1.8.0_281", kJava8, true);
  SetEnvironmentVariableW(L"JAVA_HOME", L"C:\\Java\\jdk1.8.0_281");
  EXPECT_TRUE(search("jre"));
  EXPECT_EQ(platform.out, std::string(kHeader) +
                              " - trying priority hint: (jre) no\n"
                              " - trying JAVA_HOME: (C:\\Java\\jdk1.8.0_281) yes\n");
  EXPECT_TRUE(result.isJdk());
}

TEST_F(JavaSearch, QuietSearchWritesNothing) {
  makeJava(dir.file(L"old"), kJava7);
  SetEnvironmentVariableW(L"JRE_HOME", dir.file(L"old").c_str());
  EXPECT_FALSE(search("", false));
  EXPECT_TRUE(search("", false, false)) << "without the minimum the old Java passes";
  EXPECT_EQ(result.versionText(), "1.7.0_80");
  EXPECT_EQ(platform.out + platform.err, "");
}

TEST_F(JavaSearch, EnvironmentOutsideTheAnsiCodePageAndEmptyValues) {
  const std::wstring home = dir.file(L"\u041f\u0440\u043e\u0433\u0440\u0430\u043c\u043c\u044b\\Java");
  makeJava(home, kJava8);
  SetEnvironmentVariableW(L"JAVA_HOME", L"");
  SetEnvironmentVariableW(L"JRE_HOME", home.c_str());
  EXPECT_TRUE(search(""));
  EXPECT_EQ(platform.out, std::string(kHeader) +
                              " - trying priority hint: no\n"
                              " - trying JAVA_HOME: () no\n"
                              " - trying JRE_HOME: (" + narrow(home) + ") yes\n");
}

// What a real java may print around its version line.
TEST_F(JavaSearch, ProbeReadsRealWorldAnswers) {
  const struct {
    const char* tag;
    std::string script;
    bool usable;
    const char* version;
  } cases[] = {
      {"options notice first", "err Picked up _JAVA_OPTIONS: -Xmx512m\n" + std::string(kJava8), true, "1.8.0_281"},
      {"OpenJDK 17 on standard error",
       "err openjdk version \"17.0.1\" 2021-10-19\nerr OpenJDK Runtime Environment (build 17.0.1+12-39)\n", true,
       "1.17.0_1"},
      {"version on standard output", "out java version \"1.8.0_05\"\n", true, "1.8.0_5"},
      {"non-zero status", std::string(kJava8) + "exit 1\n", false, nullptr},
      {"no version line", "err Error: could not find java.dll\n", false, nullptr},
      {"status 0xFFFFFFFF", std::string(kJava8) + "exit 4294967295\n", false, nullptr},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    const std::wstring home = dir.file(L"java" + std::to_wstring(++n));
    makeJava(home, c.script);
    JavaInstall install;
    install.setHome(narrow(home), platform);
    EXPECT_EQ(install.isUsable(), c.usable);
    if (c.version) {
      EXPECT_EQ(install.versionText(), c.version);
    }
  }
}

TEST_F(JavaSearch, WhereEndingsAreToldApart) {
  using Run = JavaSearchPlatform::LocateRun;
  const struct {
    const char* tag;
    const char* script;
    Run::Outcome outcome;
    const char* output;
  } cases[] = {
      {"hung before its answer: ended like a probe", "sleep 8000\nout C:\\late\\bin\\java.exe\n", Run::kTimedOut, ""},
      {"hung after its first line: the line is kept", "out C:\\jdk\\bin\\java.exe\nsleep 8000\n", Run::kTimedOut,
       "C:\\jdk\\bin\\java.exe\n"},
      {"exit code 0xFFFFFFFF is an ordinary end", "out C:\\jdk\\bin\\java.exe\nexit 4294967295\n", Run::kEnded,
       "C:\\jdk\\bin\\java.exe\n"},
  };
  provideWhere("");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    ASSERT_TRUE(writeFile(dir.file(L"where-fixture\\where.answer"), c.script));
    RecordingPlatform quick(1000);
    std::string output;
    const ULONGLONG start = GetTickCount64();
    const Run run = quick.runLocate(kLocateCommand, output);
    EXPECT_LT(GetTickCount64() - start, 5000u);
    EXPECT_EQ(run.outcome, c.outcome);
    EXPECT_EQ(run.limitSeconds, 1u);
    EXPECT_EQ(output, c.output);
  }
}

TEST_F(JavaSearch, HungJavaIsEndedAndUnusable) {
  RecordingPlatform quick(500);
  makeJava(dir.file(L"hung"), "sleep 4000\n" + std::string(kJava8));
  JavaInstall install;
  ULONGLONG start = GetTickCount64();
  install.setHome(narrow(dir.file(L"hung")), quick);
  EXPECT_LT(GetTickCount64() - start, 2500u);
  EXPECT_FALSE(install.isUsable());
}

// Registry: which key and subkey give the candidate.
TEST_F(JavaSearch, RegistryCandidates) {
  const std::string jre = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
  const std::string jdk = "SOFTWARE\\JavaSoft\\Java Development Kit";
  const std::string good = narrow(dir.file(L"reg-jre8")), kit = narrow(dir.file(L"reg-jdk8"));
  makeJava(dir.file(L"reg-jre8"), kJava8);
  makeJava(dir.file(L"reg-jdk8\\jre"), kJava8);
  const std::string runtimeLines = " - trying the registry: ";
  const std::string before = std::string(kHeader) +
                             " - trying priority hint: no\n"
                             " - trying JAVA_HOME: no\n"
                             " - trying JRE_HOME: no\n";
  const std::string after = " - trying hint: no\n" + std::string(kPathHeader) + "no\n";

  struct Case {
    const char* tag;
    std::vector<std::pair<std::string, std::string>> keys;  // in the order added
    bool found;
    std::string pathLine;
  };
  const Case cases[] = {
      {"runtime key: the last subkey in enumeration order, not the last added",
       {{jre + "\\1.8.0_281", good}, {jre + "\\1.8", narrow(dir.file(L"nothing here"))}},
       true,
       "path: " + good + "\n"},
      {"both keys: the kit wins, with \\jre appended",
       {{jre + "\\1.8.0_281", good}, {jdk + "\\1.8.0_281", kit}},
       true,
       "path: " + kit + "\\jre\n"},
      {"the kit's candidate fails: the runtime key is not tried instead",
       {{jre + "\\1.8.0_281", good}, {jdk + "\\1.8.0_281", good}},
       false,
       "path: " + good + "\\jre\n"},
      {"a kit key without subkeys leaves the runtime key's choice",
       {{jre + "\\1.8.0_281", good}, {jdk, ""}},
       true,
       "path: " + good + "\n"},
      {"chosen subkey without JavaHome: no candidate", {{jre + "\\1.8.0_281", ""}}, false, ""},
      {"JavaHome of 1023 characters still fits", {{jre + "\\1.8.0_281", std::string(1023, 'a')}}, false,
       "path: " + std::string(1023, 'a') + "\n"},
      {"JavaHome of 1024 characters is too long: no candidate", {{jre + "\\1.8.0_281", std::string(1024, 'a')}},
       false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    clearRegistry();
    for (const auto& [key, home] : c.keys) regAdd(key, home);
    platform.out.clear();
    platform.err.clear();
    EXPECT_EQ(search(""), c.found);
    EXPECT_EQ(platform.out, before + runtimeLines + (c.found ? "yes\n" : "no\n" + after));
    EXPECT_EQ(platform.err, c.pathLine);
  }
}

// Text as a console program without a window writes it when redirected: in
// the OEM code page.
std::string inOemCodePage(const std::wstring& text) {
  const int length = WideCharToMultiByte(GetOEMCP(), 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(GetOEMCP(), 0, text.c_str(), -1, bytes.data(), length, nullptr, nullptr);
  bytes.resize(bytes.size() - 1);
  return bytes;
}

TEST_F(JavaSearch, PathSourceClimbsFromTheFirstLineOfWhere) {
  const std::wstring home = dir.file(L"on path\\jdk8");
  makeJava(home, kJava8);
  const std::wstring accented = dir.file(L"Jos\u00e9\\jdk8");
  makeJava(accented, kJava8);
  const std::string longFolder = "C:\\" + std::string(600, 'L');
  const struct {
    const char* tag;
    std::string where;
    bool found;
    std::string candidate;  // "" when the line yields none
  } cases[] = {
      {"first of two lines", narrow(home) + "\\bin\\java.exe\nC:\\other\\bin\\java.exe", true, narrow(home)},
      {"one backslash only", "C:\\java.exe", false, ""},
      {"a line longer than 511 characters is read whole", longFolder + "\\bin\\java.exe", false, longFolder},
      {"OEM code page text", inOemCodePage(accented + L"\\bin\\java.exe"), true, narrow(accented)},
  };
  wchar_t path[32768];
  const std::wstring originalPath(path, GetEnvironmentVariableW(L"PATH", path, 32768));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    SetEnvironmentVariableW(L"PATH", originalPath.c_str());
    provideWhere(c.where);
    platform.out.clear();
    EXPECT_EQ(search("", true), c.found);
    const std::string line = platform.out.substr(platform.out.rfind(" - Looking"));
    EXPECT_EQ(line, kPathHeader + (c.candidate.empty() ? "" : "(" + c.candidate + ") ") + (c.found ? "yes\n" : "no\n"));
  }
}

TEST_F(JavaSearch, PathCommandThatCannotStartIsReportedEvenWhenQuiet) {
  SetEnvironmentVariableW(L"COMSPEC", L"C:\\no such folder\\cmd.exe");
  EXPECT_FALSE(search("", false));
  EXPECT_EQ(platform.out, "");
  EXPECT_EQ(platform.err,
            "Failed to run the command to locate 'java' on PATH\n"
            "Command run was: where java 2>nul\n");
}

}  // namespace
