// The installing mode of real launcher builds, started the way a user starts
// them, with a chosen environment and start folder, while a watcher records
// and dismisses every message box. The builds carry fixture runtime archives
// (see tests/CMakeLists.txt):
//   launcher-java18       unpacks a jre of 1.8.0_00 with the recording javaw
//   launcher-java17       the same at 1.7.0_80
//   launcher-nojava       unpacks nothing
//   launcher-brokenjavaw  1.8.0_00, but its javaw.exe is no program
// and the three-chunk installer archive.

#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "tests/support/box_watcher.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"

namespace {

const char kInstallationError[] =
    "The installation exited with an error. Java may not be installed properly, or the installation may have been "
    "interrupted partway through. Please try again.";
const char kTooOld[] = "This version of Brackenhue requires java 1.8.0_00 or greater, but your java is too old.\n";
const char kNotFound[] =
    "This version of Brackenhue requires java 1.8.0_00 or greater, but java could not be found on your computer.\n";
const char kTempFolderText[] =
    "Failed to create the temp folder.\n"
    "Please set the environment variable TMP to a folder you have permission to write to.";
const uint32_t kSetupFailed = 0xFFFFFFFF;

std::wstring build(const std::wstring& name) { return executableDir() + L"\\" + name; }

std::vector<std::wstring> entries(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  return names;
}

std::string listing(const std::wstring& folder) {
  std::string text;
  for (const std::wstring& name : entries(folder)) {
    text += narrow(name);
    if (isDirectory(folder + L"\\" + name)) text += "{ " + listing(folder + L"\\" + name) + "}";
    text += " ";
  }
  return text.empty() ? "(empty)" : text;
}

uint64_t fnv1a(const std::string& bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

// One record of the fixture javaw.
using JavawRecord = std::map<std::string, std::string>;

struct InstallRun {
  ChildResult result;
  std::vector<SeenBox> boxes;
  std::vector<JavawRecord> javaw;
};

// A run of `launcher` (a build beside this program, or a full path) from
// `startFolder`, with TMP, JAVA_HOME and JRE_HOME as given (none: unset) and
// the recording javaw's settings in `extra`.
class Installing : public ::testing::Test {
 protected:
  InstallRun install(const std::wstring& launcher, const std::wstring& startFolder,
                     EnvironmentChanges extra = {}) {
    InstallRun run;
    const std::wstring program = launcher.find(L'\\') == std::wstring::npos ? build(launcher) : launcher;
    ChildOptions options;
    options.environment = {{L"TMP", tmp.path()},
                           {L"JAVA_HOME", std::nullopt},
                           {L"JRE_HOME", std::nullopt},
                           {L"FIXTURE_RECORD_DIR", records.path()}};
    for (auto& change : extra) options.environment.push_back(change);
    options.watcher = &watcher;
    run.result = runChild(program, L"\"" + program + L"\"", startFolder, options);
    EXPECT_TRUE(run.result.started);
    EXPECT_FALSE(run.result.timedOut);
    run.boxes = watcher.boxes();
    for (const std::wstring& name : entries(records.path())) {
      std::string text;
      readFile(records.file(name), &text);
      JavawRecord record;
      size_t at = 0;
      while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end - at);
        size_t equals = line.find('=');
        if (equals != std::string::npos) record[line.substr(0, equals)] = line.substr(equals + 1);
        at = end == std::string::npos ? text.size() : end + 1;
      }
      run.javaw.push_back(record);
      DeleteFileW(records.file(name).c_str());
    }
    return run;
  }

  static std::string jar() {
    std::string bytes;
    EXPECT_TRUE(readFile(executableDir() + L"\\fixtures\\payloads\\three-chunk.jar", &bytes));
    return bytes;
  }

  TempDir tmp{L"tmp"};
  TempDir start{L"start"};
  TempDir records{L"records"};
  BoxWatcher watcher;
};

TEST_F(Installing, JavaInTheWorkspaceRunsTheInstallerAndLeavesNothing) {
  const InstallRun run = install(L"launcher-java18.exe", start.path());
  EXPECT_EQ(run.result.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
  ASSERT_EQ(run.javaw.size(), 1u);
  const JavawRecord& javaw = run.javaw[0];
  // The command as built, the javaw named relative to the workspace.
  EXPECT_EQ(javaw.at("command"),
            "\"jre\\bin\\javaw.exe\" \"-Dorig.dir=" + narrow(start.path()) + "\" -jar brackenhue.jar");
  EXPECT_TRUE(std::regex_match(javaw.at("folder"), std::regex(std::regex_replace(narrow(tmp.path()),
                                                                                 std::regex(R"([\\.^$|()\[\]{}*+?])"),
                                                                                 R"(\$&)") +
                                                              R"(\\Brackenhue-[a-z]{5})")))
      << javaw.at("folder");
  const std::string expectedJar = jar();
  EXPECT_EQ(javaw.at("jar_size"), std::to_string(expectedJar.size()));
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(expectedJar)));
  EXPECT_EQ(javaw.at("jar_hash"), hash);
  EXPECT_EQ(javaw.at("splash_visible"), "0") << "the splash window must be hidden before the installer starts";
  // The search's trace on standard output ends with the workspace's runtime.
  EXPECT_EQ(run.result.out, "Searching for a JVM\n - trying priority hint: (jre) yes\n");
  EXPECT_TRUE(entries(tmp.path()).empty()) << listing(tmp.path());
}

TEST_F(Installing, FailedOrUnstartableInstallerShowsInstallationError) {
  const struct {
    const char* tag;
    const wchar_t* launcher;
    EnvironmentChanges extra;
    size_t javawRuns;
  } cases[] = {
      {"installer exits with 3", L"launcher-java18.exe", {{L"FIXTURE_JAVAW_EXIT", L"3"}}, 1},
      {"installer cannot start", L"launcher-brokenjavaw.exe", {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    const InstallRun run = install(c.launcher, start.path(), c.extra);
    EXPECT_EQ(run.result.exitCode, 0u);
    EXPECT_EQ(run.javaw.size(), c.javawRuns);
    ASSERT_EQ(run.boxes.size(), 1u) << describe(run.boxes);
    EXPECT_EQ(run.boxes[0].caption, "Installation Error");
    EXPECT_EQ(run.boxes[0].text, kInstallationError);
    EXPECT_EQ(run.boxes[0].owner, nullptr);
    EXPECT_FALSE(run.boxes[0].hasIcon);
    EXPECT_FALSE(run.boxes[0].splashVisible);
    EXPECT_TRUE(entries(tmp.path()).empty()) << listing(tmp.path());
  }
}

TEST_F(Installing, NoSuitableJavaNamesTheReasonOverTheSplashWindow) {
  TempDir oldJava(L"old java");
  ASSERT_TRUE(CreateDirectoryW(oldJava.file(L"bin").c_str(), nullptr));
  std::string program;
  ASSERT_TRUE(readFile(executableDir() + L"\\fixture_program.exe", &program));
  ASSERT_TRUE(writeFile(oldJava.file(L"bin\\java.exe"), program));
  ASSERT_TRUE(writeFile(oldJava.file(L"bin\\java.answer"), "err java version \"1.7.0_80\"\n"));

  const struct {
    const char* tag;
    const wchar_t* launcher;
    EnvironmentChanges extra;
    const char* reason;
  } cases[] = {
      {"no Java anywhere", L"launcher-nojava.exe", {}, kNotFound},
      {"only an old Java in JAVA_HOME", L"launcher-nojava.exe", {{L"JAVA_HOME", oldJava.path()}}, kTooOld},
      // The second search does not look in the workspace again.
      {"only an old Java unpacked", L"launcher-java17.exe", {}, kNotFound},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    const InstallRun run = install(c.launcher, start.path(), c.extra);
    EXPECT_EQ(run.result.exitCode, 0u);
    EXPECT_TRUE(run.javaw.empty());
    ASSERT_EQ(run.boxes.size(), 1u) << describe(run.boxes);
    EXPECT_EQ(run.boxes[0].caption, "Installation Failed: Couldn't find java");
    EXPECT_EQ(run.boxes[0].text, c.reason);
    EXPECT_NE(run.boxes[0].owner, nullptr);
    EXPECT_TRUE(run.boxes[0].splashVisible);
    EXPECT_FALSE(run.boxes[0].hasIcon);
    EXPECT_TRUE(entries(tmp.path()).empty()) << listing(tmp.path());
  }
}

TEST_F(Installing, UnusableTmpShowsTheTempFolderBox) {
  const struct {
    const char* tag;
    EnvironmentChanges tmpValue;
  } cases[] = {
      {"TMP names a missing folder", {{L"TMP", tmp.file(L"missing")}}},
      {"TMP not set", {{L"TMP", std::nullopt}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    const InstallRun run = install(L"launcher-java18.exe", start.path(), c.tmpValue);
    EXPECT_EQ(run.result.exitCode, kSetupFailed);
    EXPECT_TRUE(run.javaw.empty());
    ASSERT_EQ(run.boxes.size(), 1u) << describe(run.boxes);
    EXPECT_EQ(run.boxes[0].caption, "Failed to create the temp folder.");
    EXPECT_EQ(run.boxes[0].text, kTempFolderText);
    EXPECT_NE(run.boxes[0].owner, nullptr);
    EXPECT_TRUE(run.boxes[0].splashVisible);
    EXPECT_TRUE(entries(tmp.path()).empty()) << listing(tmp.path());
    EXPECT_TRUE(entries(start.path()).empty()) << listing(start.path());
  }
}

TEST_F(Installing, TmpWithATrailingBackslashWorks) {
  const InstallRun run = install(L"launcher-java18.exe", start.path(), {{L"TMP", tmp.path() + L"\\"}});
  EXPECT_EQ(run.result.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
  ASSERT_EQ(run.javaw.size(), 1u);
  EXPECT_EQ(run.javaw[0].at("folder").rfind(narrow(tmp.path()) + "\\", 0), 0u) << run.javaw[0].at("folder");
  EXPECT_TRUE(entries(tmp.path()).empty()) << listing(tmp.path());
}

TEST_F(Installing, FileLeftByTheInstallerKeepsTheWorkspace) {
  const InstallRun run = install(L"launcher-java18.exe", start.path(), {{L"FIXTURE_JAVAW_LEAVE", L"notes.txt"}});
  EXPECT_EQ(run.result.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
  const std::vector<std::wstring> left = entries(tmp.path());
  ASSERT_EQ(left.size(), 1u) << listing(tmp.path());
  // Only the installer's own file: the runtime, the archives are gone.
  EXPECT_EQ(entries(tmp.file(left[0])), std::vector<std::wstring>{L"notes.txt"});
  removeTree(tmp.file(left[0]));
}

TEST_F(Installing, DriveRootStartFolderGivesTheDriveLetterAndColon) {
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring root = std::wstring(windows, 2) + L"\\";
  const InstallRun run = install(L"launcher-java18.exe", root);
  EXPECT_EQ(run.result.exitCode, 0u);
  ASSERT_EQ(run.javaw.size(), 1u);
  EXPECT_EQ(run.javaw[0].at("command"),
            "\"jre\\bin\\javaw.exe\" \"-Dorig.dir=" + narrow(root.substr(0, 2)) + "\" -jar brackenhue.jar");
}

}  // namespace
