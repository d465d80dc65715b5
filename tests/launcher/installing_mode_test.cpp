// The installing mode of real launcher builds, started the way a user starts
// them, with a chosen environment and start folder, while a watcher records
// and dismisses every message box. The builds carry fixture runtime archives
// (see tests/CMakeLists.txt):
//   launcher-java18       unpacks a jre of 1.8.0_00 with the recording javaw
//   launcher-java17       the same at 1.7.0_80
//   launcher-nojava       unpacks nothing
//   launcher-brokenjavaw  1.8.0_00, but its javaw.exe is no program
//   launcher-java18-nojar 1.8.0_00, and no installer archive at all
//   launcher-runtimefails unpacks nothing and ends with exit code 2
//   launcher-runtimehalf  unpacks the jre of launcher-java18, then ends with 2;
//                         its facts say the build made it
//   launcher-runtimewarns unpacks the jre of launcher-java18, then ends with
//                         1, from a ready-made archive (no facts)
//   launcher-runtimewarns-made  the same, from an archive the build made
//   launcher-runtimenotprogram  its runtime archive is no program
//   launcher-bigruntime   launcher-java18's jre and 8 MB more; its build
//                         facts say so
//   launcher-madefolder   a runtime archive the build made (NSIS) from a
//   launcher-madezip      runtime folder of about 1,500 files, or its zip
// and the three-chunk installer archive.

#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "common/unique_handle.h"
#include "launcher/release_wait.h"
#include "launcher/workspace.h"
#include "process/run_command.h"
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

std::string listing(const std::wstring& folder) {
  std::string text;
  for (const std::wstring& name : folderEntries(folder)) {
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
  // TMP, JAVA_HOME and JRE_HOME as the tests want them, then `extra`; boxes
  // go to `boxes`.
  ChildOptions optionsFor(const EnvironmentChanges& extra, BoxWatcher& boxes) {
    ChildOptions options;
    options.environment = {{L"TMP", tmp.path()},
                           {L"JAVA_HOME", std::nullopt},
                           {L"JRE_HOME", std::nullopt},
                           {L"FIXTURE_RECORD_DIR", records.path()}};
    options.environment.insert(options.environment.end(), extra.begin(), extra.end());
    options.watcher = &boxes;
    return options;
  }

  static std::wstring programFor(const std::wstring& launcher) {
    return launcher.find(L'\\') == std::wstring::npos ? build(launcher) : launcher;
  }

  InstallRun install(const std::wstring& launcher, const std::wstring& startFolder,
                     EnvironmentChanges extra = {}, std::function<void(unsigned long)> onStarted = nullptr,
                     unsigned long timeoutMs = 60000) {
    InstallRun run;
    const std::wstring program = programFor(launcher);
    ChildOptions options = optionsFor(extra, watcher);
    options.onStarted = onStarted;
    options.timeoutMs = timeoutMs;
    options.showCommand = showCommand;
    run.result = runChild(program, L"\"" + program + L"\"", startFolder, options);
    EXPECT_TRUE(run.result.started);
    EXPECT_FALSE(run.result.timedOut);
    run.boxes = watcher.boxes();
    for (const std::wstring& name : folderEntries(records.path())) {
      if (name.rfind(L"javaw-", 0) != 0) continue;
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

  // The records of relaunched copies ("copy-<id>.txt"), taken out of the
  // records folder, each with how long ago it was written.
  struct CopyRecord {
    std::string text;
    unsigned long long ageMs;
  };
  std::vector<CopyRecord> takeCopyRecords() {
    std::vector<CopyRecord> copies;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG current = ULARGE_INTEGER{{now.dwLowDateTime, now.dwHighDateTime}}.QuadPart;
    for (const std::wstring& name : folderEntries(records.path())) {
      if (name.rfind(L"copy-", 0) != 0) continue;
      const std::wstring path = records.file(name);
      WIN32_FILE_ATTRIBUTE_DATA data{};
      GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
      const ULONGLONG written =
          ULARGE_INTEGER{{data.ftLastWriteTime.dwLowDateTime, data.ftLastWriteTime.dwHighDateTime}}.QuadPart;
      CopyRecord copy{{}, current > written ? (current - written) / 10000 : 0};
      readFile(path, &copy.text);
      DeleteFileW(path.c_str());
      copies.push_back(copy);
    }
    return copies;
  }

  static std::string jar() {
    std::string bytes;
    EXPECT_TRUE(readFile(executableDir() + L"\\fixtures\\payloads\\three-chunk.jar", &bytes));
    return bytes;
  }

  int showCommand = -1;  // for the next install(): none given
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
  EXPECT_TRUE(folderEntries(tmp.path()).empty()) << listing(tmp.path());
}

// Runtime archives the build makes from a runtime folder or a vendor's zip:
// 64-bit programs that unpack "jre" beside themselves, silently.
TEST_F(Installing, RuntimeArchivesMadeByTheBuild) {
  for (const wchar_t* launcher : {L"launcher-madefolder.exe", L"launcher-madezip.exe"}) {
    SCOPED_TRACE(narrow(launcher));
    const InstallRun run = install(launcher, start.path());
    EXPECT_EQ(run.result.exitCode, 0u);
    EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
    EXPECT_EQ(run.result.out, "Searching for a JVM\n - trying priority hint: (jre) yes\n");
    ASSERT_EQ(run.javaw.size(), 1u);
    EXPECT_EQ(run.javaw[0].at("command"),
              "\"jre\\bin\\javaw.exe\" \"-Dorig.dir=" + narrow(start.path()) + "\" -jar brackenhue.jar");
    EXPECT_EQ(run.javaw[0].at("jar_size"), std::to_string(jar().size()));
    EXPECT_TRUE(folderEntries(tmp.path()).empty()) << listing(tmp.path());
  }
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
    EXPECT_TRUE(folderEntries(tmp.path()).empty()) << listing(tmp.path());
  }
}

TEST_F(Installing, BuildWithoutAnInstallerArchiveSaysSoAndLaunchesNothing) {
  const InstallRun run = install(L"launcher-java18-nojar.exe", start.path());
  EXPECT_EQ(run.result.exitCode, 0u);
  EXPECT_TRUE(run.javaw.empty()) << "a jar that was never written must not be launched";
  ASSERT_EQ(run.boxes.size(), 1u) << describe(run.boxes);
  EXPECT_EQ(run.boxes[0].caption, "Installation Failed: Incomplete installer");
  EXPECT_EQ(run.boxes[0].text,
            "This installer is incomplete (it carries no installer archive). Please download it again.");
  EXPECT_EQ(run.boxes[0].ownerClass, L"splash");
  EXPECT_TRUE(folderEntries(tmp.path()).empty()) << listing(tmp.path());
}

const char kJava8Answer[] =
    "err java version \"1.8.0_00\"\nerr Java(TM) SE Runtime Environment (build 1.8.0_00-b01)\n";

// A Java installation in `home` (created unless it exists): bin\java.exe
// answers "-version" with the fixture script `answer`, bin\javaw.exe is the
// recording stand-in.
void makeJava(const std::wstring& home, const std::string& answer) {
  ASSERT_TRUE(CreateDirectoryW(home.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(CreateDirectoryW((home + L"\\bin").c_str(), nullptr));
  ASSERT_TRUE(CopyFileW(build(L"fixture_program.exe").c_str(), (home + L"\\bin\\java.exe").c_str(), FALSE));
  ASSERT_TRUE(writeFile(home + L"\\bin\\java.answer", answer));
  ASSERT_TRUE(CopyFileW(build(L"fixture_javaw.exe").c_str(), (home + L"\\bin\\javaw.exe").c_str(), FALSE));
}

TEST_F(Installing, NoSuitableJavaNamesTheReasonOverTheSplashWindow) {
  TempDir oldJava(L"old java");
  makeJava(oldJava.path(), "err java version \"1.7.0_80\"\n");

  const struct {
    const char* tag;
    const wchar_t* launcher;
    EnvironmentChanges extra;
    const char* reason;
  } cases[] = {
      {"no Java anywhere", L"launcher-nojava.exe", {}, kNotFound},
      // Its failure, not a missing Java, is the news.
      {"the runtime archive failed, no Java anywhere", L"launcher-runtimefails.exe", {},
       "This version of Brackenhue requires java 1.8.0_00 or greater, but the bundled Java runtime could not be "
       "unpacked (exit code 2).\n"},
      {"the runtime archive failed, an old Java in JAVA_HOME", L"launcher-runtimefails.exe",
       {{L"JAVA_HOME", oldJava.path()}}, kTooOld},
      // Its java answers, but the rest of the runtime may be missing.
      {"the runtime archive failed after unpacking a java that answers", L"launcher-runtimehalf.exe", {},
       "This version of Brackenhue requires java 1.8.0_00 or greater, but the bundled Java runtime could not be "
       "unpacked (exit code 2).\n"},
      // The build knows its archive's codes: 1 is no success either.
      {"an archive the build made warned after unpacking a whole runtime", L"launcher-runtimewarns-made.exe", {},
       "This version of Brackenhue requires java 1.8.0_00 or greater, but the bundled Java runtime could not be "
       "unpacked (exit code 1).\n"},
      {"only an old Java in JAVA_HOME", L"launcher-nojava.exe", {{L"JAVA_HOME", oldJava.path()}}, kTooOld},
      // The system's own words say why it did not start.
      {"the runtime archive is no program", L"launcher-runtimenotprogram.exe", {},
       nullptr},
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
    if (c.reason) {
      EXPECT_EQ(run.boxes[0].text, c.reason);
    } else {
      // Whatever words this system has for it, in the box and the trace.
      const std::string reason = systemErrorText(ERROR_BAD_EXE_FORMAT);
      EXPECT_EQ(run.boxes[0].text, runtimeNotUnpackedReason(-1, reason));
      EXPECT_NE(run.boxes[0].text.find("(it did not start: "), std::string::npos) << run.boxes[0].text;
      EXPECT_NE(run.result.err.find("jre_x64.exe did not start: " + reason + "\n"), std::string::npos)
          << run.result.err;
    }
    EXPECT_EQ(run.boxes[0].ownerClass, L"splash") << "owned by the splash window";
    EXPECT_TRUE(run.boxes[0].splashVisible);
    EXPECT_FALSE(run.boxes[0].hasIcon);
    EXPECT_TRUE(folderEntries(tmp.path()).empty()) << listing(tmp.path());
  }
}

// A ready-made runtime archive whose codes the build does not know ends with
// 1 after unpacking a whole runtime: its java answers, and it serves.
TEST_F(Installing, ReadyMadeRuntimeThatWarnsStillServes) {
  const InstallRun run = install(L"launcher-runtimewarns.exe", start.path());
  EXPECT_EQ(run.result.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
  ASSERT_EQ(run.javaw.size(), 1u) << run.result.out;
  EXPECT_EQ(run.javaw[0].at("command").rfind("\"jre\\bin\\javaw.exe\"", 0), 0u) << run.javaw[0].at("command");
  EXPECT_TRUE(folderEntries(tmp.path()).empty()) << listing(tmp.path());
}

// Hostile values of the variables the search reads, through the whole
// installing mode: the bundled runtime is missing (launcher-nojava), so the
// search goes on to JAVA_HOME, JRE_HOME, the registry and PATH.

// A "where" ahead of the system's on PATH (Wine's prints nothing) that
// prints `lines`, one "out" line each; returns the folder that holds it.
std::wstring makeWhere(const std::wstring& folder, const std::vector<std::string>& lines) {
  CreateDirectoryW(folder.c_str(), nullptr);
  EXPECT_TRUE(CopyFileW(build(L"fixture_program.exe").c_str(), (folder + L"\\where.exe").c_str(), FALSE));
  std::string script;
  for (const std::string& line : lines) script += "out " + line + "\n";
  EXPECT_TRUE(writeFile(folder + L"\\where.answer", script));
  return folder;
}

std::wstring ownPath() {
  std::wstring path(32768, L'\0');
  path.resize(GetEnvironmentVariableW(L"PATH", path.data(), 32768));
  return path;
}

// The trace of the verbose search up to the source that accepts: each
// entry is one source's line after its header.
std::string searchTrace(const std::vector<std::string>& stages) {
  static const char* const headers[] = {
      " - trying priority hint: ", " - trying JAVA_HOME: ", " - trying JRE_HOME: ", " - trying the registry: ",
      " - trying hint: ", " - Looking on PATH (possibly yielding a pseudo, but passable, JAVA_HOME such as /usr): "};
  std::string trace = "Searching for a JVM\n";
  for (size_t i = 0; i < stages.size(); ++i) trace += headers[i] + stages[i] + "\n";
  return trace;
}

// The image names of running processes.
std::vector<std::wstring> runningPrograms() {
  std::vector<std::wstring> names;
  UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    names.push_back(entry.szExeFile);
  }
  return names;
}

TEST_F(Installing, HostileEnvironmentValues) {
  TempDir javas(L"javas");
  const std::wstring good = javas.file(L"good");
  const std::wstring blanks = javas.file(L"java with  blanks");
  const std::wstring foreign = javas.file(L"Jävä Ünïcödé \u65e5\u672c \u0416");
  const std::wstring chatty = javas.file(L"chatty");
  makeJava(good, kJava8Answer);
  makeJava(blanks, kJava8Answer);
  makeJava(foreign, kJava8Answer);
  // Ten million characters before the version line.
  makeJava(chatty, "long 10000000\n" + std::string(kJava8Answer));
  const std::string g = narrow(good);
  const std::string longValue = "C:\\" + std::string(3997, 'x');
  const std::string longWhereHome = "C:\\" + std::string(5000, 'd');
  const std::wstring whereGood = makeWhere(javas.file(L"where-good"), {g + "\\bin\\java.exe"});
  const std::wstring whereLong =
      makeWhere(javas.file(L"where-long"), {longWhereHome + "\\bin\\java.exe", g + "\\bin\\java.exe"});
  // A PATH of exactly 32,000 characters: about 2,000 made-up folders, then
  // the only folder that holds the interpreter COMSPEC names by a bare name,
  // a copy of cmd.exe. The Java it probes notes which program ran it.
  const std::wstring interpreterFolder = javas.file(L"interpreter");
  CreateDirectoryW(interpreterFolder.c_str(), nullptr);
  wchar_t system[MAX_PATH];
  const std::wstring systemCmd = std::wstring(system, GetSystemDirectoryW(system, MAX_PATH)) + L"\\cmd.exe";
  ASSERT_TRUE(CopyFileW(systemCmd.c_str(), (interpreterFolder + L"\\bhcmd.exe").c_str(), FALSE));
  const std::wstring traced = javas.file(L"traced");
  makeJava(traced, "parent " + narrow(javas.file(L"parents.txt")) + "\n" + kJava8Answer);
  std::wstring longPath;
  while (longPath.size() + 20 + interpreterFolder.size() < 32000) {
    longPath += L"C:\\nowhere\\" + std::to_wstring(longPath.size()) + L";";
  }
  longPath += L"C:\\" + std::wstring(32000 - interpreterFolder.size() - longPath.size() - 4, L'x') + L";" +
              interpreterFolder;
  ASSERT_EQ(longPath.size(), 32000u);

  const struct {
    const char* tag;
    EnvironmentChanges environment;
    std::vector<std::string> stages;  // the trace after each header
    std::wstring javaw;               // the javaw that runs the installer; none: the not-found box
  } cases[] = {
      // The value is tried as it is; the interpreter cannot run the
      // quoted folder's java, whose path has blanks outside the quotes.
      {"JAVA_HOME in quotes, then a good JRE_HOME",
       {{L"JAVA_HOME", L"\"" + blanks + L"\""}, {L"JRE_HOME", good}},
       {"(jre) no", "(\"" + narrow(blanks) + "\") no", "(" + g + ") yes"},
       good},
      {"JAVA_HOME with a trailing backslash",
       {{L"JAVA_HOME", good + L"\\"}},
       {"(jre) no", "(" + g + "\\) yes"},
       good + L"\\"},
      {"JAVA_HOME with blanks", {{L"JAVA_HOME", blanks}}, {"(jre) no", "(" + narrow(blanks) + ") yes"}, blanks},
      {"JAVA_HOME with letters beyond ASCII",
       {{L"JAVA_HOME", foreign}},
       {"(jre) no", "(" + narrow(foreign) + ") yes"},
       foreign},
      {"JAVA_HOME of 4,000 characters, then a good JRE_HOME",
       {{L"JAVA_HOME", widen(longValue)}, {L"JRE_HOME", good}},
       {"(jre) no", "(" + longValue + ") no", "(" + g + ") yes"},
       good},
      {"JAVA_HOME empty, then a good JRE_HOME",
       {{L"JAVA_HOME", L""}, {L"JRE_HOME", good}},
       {"(jre) no", "() no", "(" + g + ") yes"},
       good},
      {"JRE_HOME empty, JAVA_HOME in quotes, nothing else",
       {{L"JAVA_HOME", L"\"" + blanks + L"\""}, {L"JRE_HOME", L""}},
       {"(jre) no", "(\"" + narrow(blanks) + "\") no", "() no", "no", "no", "no"},
       L""},
      {"JRE_HOME in quotes, then PATH",
       {{L"JRE_HOME", L"\"" + blanks + L"\""}, {L"PATH", whereGood + L";" + ownPath()}},
       {"(jre) no", "no", "(\"" + narrow(blanks) + "\") no", "no", "no", "(" + g + ") yes"},
       good},
      {"JRE_HOME with a trailing backslash",
       {{L"JRE_HOME", good + L"\\"}},
       {"(jre) no", "no", "(" + g + "\\) yes"},
       good + L"\\"},
      {"JRE_HOME with blanks", {{L"JRE_HOME", blanks}}, {"(jre) no", "no", "(" + narrow(blanks) + ") yes"}, blanks},
      {"JRE_HOME with letters beyond ASCII",
       {{L"JRE_HOME", foreign}},
       {"(jre) no", "no", "(" + narrow(foreign) + ") yes"},
       foreign},
      {"JRE_HOME of 4,000 characters, then PATH",
       {{L"JRE_HOME", widen(longValue)}, {L"PATH", whereGood + L";" + ownPath()}},
       {"(jre) no", "no", "(" + longValue + ") no", "no", "no", "(" + g + ") yes"},
       good},
      {"PATH of 32,000 characters, the interpreter in its last folder",
       {{L"PATH", longPath}, {L"COMSPEC", L"bhcmd.exe"}, {L"JAVA_HOME", traced}},
       {"(jre) no", "(" + narrow(traced) + ") yes"},
       traced},
      {"where answers a first line of 5,000 characters",
       {{L"PATH", whereLong + L";" + ownPath()}},
       {"(jre) no", "no", "no", "no", "no", "(" + longWhereHome + ") no"},
       L""},
      {"java -version writes 10 MB before its version",
       {{L"JAVA_HOME", chatty}},
       {"(jre) no", "(" + narrow(chatty) + ") yes"},
       chatty},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    const InstallRun run = install(L"launcher-nojava.exe", start.path(), c.environment);
    ASSERT_TRUE(run.result.started);
    EXPECT_EQ(run.result.exitCode, 0u);
    EXPECT_EQ(run.result.out, searchTrace(c.stages));
    if (c.javaw.empty()) {
      EXPECT_TRUE(run.javaw.empty());
      ASSERT_EQ(run.boxes.size(), 1u) << describe(run.boxes);
      EXPECT_EQ(run.boxes[0].caption, "Installation Failed: Couldn't find java");
      EXPECT_EQ(run.boxes[0].text, kNotFound);
    } else {
      EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
      ASSERT_EQ(run.javaw.size(), 1u);
      EXPECT_EQ(run.javaw[0].at("command"), "\"" + narrow(c.javaw) + "\\bin\\javaw.exe\" \"-Dorig.dir=" +
                                                 narrow(start.path()) + "\" -jar brackenhue.jar");
    }
    EXPECT_TRUE(folderEntries(tmp.path()).empty()) << listing(tmp.path());
  }
  // The long PATH was walked to its end for the interpreter.
  std::string parents;
  EXPECT_TRUE(readFile(javas.file(L"parents.txt"), &parents));
  EXPECT_EQ(parents, narrow(interpreterFolder) + "\\bhcmd.exe\n");
}

// %NAME% in a Java folder is expanded before the probe, so the installer's
// javaw is the one probed; the trace shows the folder as it was read.
TEST_F(Installing, VariablesInJavaFoldersNameTheJavaThatRuns) {
  TempDir javas(L"javas");
  const std::wstring good = javas.file(L"good");
  makeJava(good, kJava8Answer);
  const std::wstring key = L"SOFTWARE\\JavaSoft\\Java Runtime Environment";
  struct RemoveKey {
    ~RemoveKey() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\JavaSoft"); }
  } removeKey;
  const struct {
    const char* tag;
    EnvironmentChanges environment;
    const wchar_t* registryValue;  // JavaHome of type REG_EXPAND_SZ, when given
    std::vector<std::string> stages;
  } cases[] = {
      {"JAVA_HOME=%BARS%\\good", {{L"JAVA_HOME", L"%BARS%\\good"}, {L"BARS", javas.path()}}, nullptr,
       {"(jre) no", "(%BARS%\\good) yes"}},
      {"a REG_EXPAND_SZ JavaHome", {{L"BARS", javas.path()}}, L"%BARS%\\good", {"(jre) no", "no", "no", "yes"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    if (c.registryValue) {
      HKEY subkey = nullptr;
      ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (key + L"\\1.8").c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                &subkey, nullptr),
                ERROR_SUCCESS);
      const std::wstring value = c.registryValue;
      RegSetValueExW(subkey, L"JavaHome", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
      RegCloseKey(subkey);
    }
    const InstallRun run = install(L"launcher-nojava.exe", start.path(), c.environment);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\JavaSoft");
    EXPECT_EQ(run.result.exitCode, 0u);
    EXPECT_EQ(run.result.out, searchTrace(c.stages));
    EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
    ASSERT_EQ(run.javaw.size(), 1u);
    EXPECT_EQ(run.javaw[0].at("command"),
              "\"" + narrow(good) + "\\bin\\javaw.exe\" \"-Dorig.dir=" + narrow(start.path()) + "\" -jar brackenhue.jar");
    EXPECT_TRUE(folderEntries(tmp.path()).empty()) << listing(tmp.path());
  }
}

// Costs the probe's full minute: its own ctest entry.
TEST_F(Installing, HungProbeIsEndedAfterAMinute) {
  TempDir javas(L"javas");
  const std::wstring hung = javas.file(L"hung");
  const std::wstring good = javas.file(L"good");
  makeJava(hung, "sleep 4294967294\n");
  makeJava(good, kJava8Answer);
  const ULONGLONG started = GetTickCount64();
  const InstallRun run = install(L"launcher-nojava.exe", start.path(), {{L"JAVA_HOME", hung}, {L"JRE_HOME", good}},
                                 nullptr, 180000);
  const ULONGLONG elapsed = GetTickCount64() - started;
  EXPECT_EQ(run.result.exitCode, 0u);
  EXPECT_EQ(run.result.out, searchTrace({"(jre) no", "(" + narrow(hung) + ") no", "(" + narrow(good) + ") yes"}));
  EXPECT_GE(elapsed, 60000u);
  EXPECT_LT(elapsed, 90000u);
  EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
  ASSERT_EQ(run.javaw.size(), 1u);
  EXPECT_EQ(run.javaw[0].at("command"),
            "\"" + narrow(good) + "\\bin\\javaw.exe\" \"-Dorig.dir=" + narrow(start.path()) + "\" -jar brackenhue.jar");
  // The hung java went with its interpreter.
  for (const std::wstring& name : runningPrograms()) EXPECT_NE(name, L"java.exe");
  EXPECT_TRUE(folderEntries(tmp.path()).empty()) << listing(tmp.path());
}

// uxtheme.dll is no KnownDLL: the splash thread's first window loads it on
// demand, from the launcher's own folder first unless the search is
// restricted. Wine is told to prefer a native copy for both builds, so only
// the search order decides.
TEST_F(Installing, DllPlantedBesideTheLauncherIsNotLoaded) {
  TempDir downloads(L"downloads");
  ASSERT_TRUE(CopyFileW(build(L"planted_dll.dll").c_str(), downloads.file(L"uxtheme.dll").c_str(), FALSE));
  const std::wstring marker = downloads.file(L"uxtheme.dll.loaded");
  const struct {
    const char* tag;
    const wchar_t* launcher;
    bool loaded;
  } cases[] = {
      {"control build without the restriction loads it", L"launcher-java18-unrestricted.exe", true},
      {"the real entry point does not", L"launcher-java18.exe", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    const std::wstring overrides = std::wstring(L"Software\\Wine\\AppDefaults\\") + c.launcher + L"\\DllOverrides";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, overrides.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    const wchar_t nativeFirst[] = L"native,builtin";
    RegSetValueExW(key, L"uxtheme", 0, REG_SZ, reinterpret_cast<const BYTE*>(nativeFirst), sizeof nativeFirst);
    RegCloseKey(key);
    const std::wstring program = downloads.file(c.launcher);
    ASSERT_TRUE(CopyFileW(build(c.launcher).c_str(), program.c_str(), FALSE));
    DeleteFileW(marker.c_str());

    const InstallRun run = install(program, start.path());
    RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(L"Software\\Wine\\AppDefaults\\") + c.launcher).c_str());
    EXPECT_EQ(run.result.exitCode, 0u);
    EXPECT_EQ(run.javaw.size(), 1u);
    EXPECT_EQ(fileExists(marker), c.loaded);
    EXPECT_TRUE(folderEntries(tmp.path()).empty()) << listing(tmp.path());
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
    EXPECT_EQ(run.boxes[0].ownerClass, L"splash") << "owned by the splash window";
    EXPECT_TRUE(run.boxes[0].splashVisible);
    EXPECT_TRUE(folderEntries(tmp.path()).empty()) << listing(tmp.path());
    EXPECT_TRUE(folderEntries(start.path()).empty()) << listing(start.path());
  }
}

// In this process: the workspace preparation with an entering that fails,
// and with another program holding each new folder open for deletion, so
// that the launcher's own hold on it fails. (Wine accepts a current folder
// of any length, so a whole run cannot be made to fail there.)
TEST_F(Installing, WorkspaceThatCannotBeEnteredOrHeld) {
  // This process's TMP names the folder for the later tests' own folders:
  // put it back afterwards, and the current folder too.
  wchar_t saved[MAX_PATH * 4], savedFolder[MAX_PATH * 4];
  const DWORD savedLength = GetEnvironmentVariableW(L"TMP", saved, MAX_PATH * 4);
  GetCurrentDirectoryW(MAX_PATH * 4, savedFolder);
  struct Restore {
    const wchar_t* value;
    const wchar_t* folder;
    ~Restore() {
      SetEnvironmentVariableW(L"TMP", value);
      SetCurrentDirectoryW(folder);
    }
  } restore{savedLength > 0 && savedLength < MAX_PATH * 4 ? saved : nullptr, savedFolder};
  SetEnvironmentVariableW(L"TMP", tmp.path().c_str());

  const struct {
    const char* tag;
    bool entered;
    int heldFolders;          // how many new folders the other program grabs
    unsigned long holdMs;     // for how long; 0: until the end of the row
    WorkspaceResult result;
    size_t foldersCreated;
    unsigned long minMs, maxMs;
  } cases[] = {
      {"cannot be entered: removed again", false, 0, 0, WorkspaceResult::kNotEntered, 1, 0, 1000},
      {"held 1 s: waited for", true, 1, 1000, WorkspaceResult::kEntered, 1, 900, 2500},
      {"held for good: removed, a new name drawn", true, 1, 0, WorkspaceResult::kEntered, 2, 1500, 4000},
      {"every one held: no workspace", true, kWorkspaceHoldAttempts, 0, WorkspaceResult::kNotCreated,
       static_cast<size_t>(kWorkspaceHoldAttempts), 5000, 9000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    std::vector<std::wstring> created;
    std::vector<std::thread> releasers;
    std::vector<UniqueFileHandle> holds;
    WorkspaceHooks hooks;
    hooks.enter = [&](const std::wstring& folder) { return c.entered && SetCurrentDirectoryW(folder.c_str()); };
    hooks.created = [&](const std::wstring& folder) {
      created.push_back(folder);
      if (static_cast<int>(created.size()) > c.heldFolders) return;
      // Open for deletion, sharing everything: the launcher's hold, which
      // does not share deletion, fails while this lasts.
      UniqueFileHandle grab(CreateFileW(folder.c_str(), DELETE | FILE_LIST_DIRECTORY,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
      ASSERT_TRUE(grab.valid());
      if (c.holdMs) {
        releasers.emplace_back([handle = grab.release(), ms = c.holdMs] {
          Sleep(ms);
          CloseHandle(handle);
        });
      } else {
        holds.push_back(std::move(grab));
      }
    };
    std::string workspace, absolute;
    const ULONGLONG started = GetTickCount64();
    const WorkspaceResult result = prepareWorkspace(workspace, absolute, hooks);
    const ULONGLONG took = GetTickCount64() - started;
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(created.size(), c.foldersCreated);
    EXPECT_GE(took, c.minMs);
    EXPECT_LT(took, c.maxMs);
    if (result == WorkspaceResult::kEntered) {
      EXPECT_EQ(narrow(created.back()), workspace);
      EXPECT_EQ(workspace.rfind(narrow(tmp.path()) + "\\Brackenhue-", 0), 0u) << workspace;
      cleanUpWorkspace(absolute);
    }
    for (std::thread& releaser : releasers) releaser.join();
    holds.clear();
    SetCurrentDirectoryW(savedFolder);
    EXPECT_TRUE(folderEntries(tmp.path()).empty()) << listing(tmp.path());
  }
}

TEST_F(Installing, TmpWithATrailingBackslashWorks) {
  const InstallRun run = install(L"launcher-java18.exe", start.path(), {{L"TMP", tmp.path() + L"\\"}});
  EXPECT_EQ(run.result.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
  ASSERT_EQ(run.javaw.size(), 1u);
  EXPECT_EQ(run.javaw[0].at("folder").rfind(narrow(tmp.path()) + "\\", 0), 0u) << run.javaw[0].at("folder");
  EXPECT_TRUE(folderEntries(tmp.path()).empty()) << listing(tmp.path());
}

TEST_F(Installing, FileLeftByTheInstallerKeepsTheWorkspace) {
  // Costs no waiting (the removal's retries would take 2 s). Timed from
  // javaw's start, which records and ends at once, to the launcher's end:
  // the launcher's tail only, so a busy machine (the suite runs tests side by
  // side) stretches a few hundred milliseconds, not the whole run.
  const std::wstring stamp = records.file(L"stamp.txt");
  const auto tailAfterJavaw = [&](EnvironmentChanges extra, InstallRun* run) {
    extra.push_back({L"FIXTURE_JAVAW_STAMP", stamp});
    DeleteFileW(stamp.c_str());
    *run = install(L"launcher-java18.exe", start.path(), extra);
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    std::string started;
    EXPECT_TRUE(readFile(stamp, &started));
    DeleteFileW(stamp.c_str());
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart) -
           std::strtod(started.c_str(), nullptr);
  };
  InstallRun run;
  double plain = 1e9;
  for (int i = 0; i < 2; ++i) plain = std::min(plain, tailAfterJavaw({}, &run));
  const double withFile = tailAfterJavaw({{L"FIXTURE_JAVAW_LEAVE", L"notes.txt"}}, &run);
  EXPECT_LT(withFile, plain + 1500) << "the clean-up waited for the installer's own file; plain " << plain;
  EXPECT_EQ(run.result.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
  const std::vector<std::wstring> left = folderEntries(tmp.path());
  ASSERT_EQ(left.size(), 1u) << listing(tmp.path());
  // Only the installer's own file: the runtime, the archives are gone.
  EXPECT_EQ(folderEntries(tmp.file(left[0])), std::vector<std::wstring>{L"notes.txt"});
  removeTree(tmp.file(left[0]));
}

// TMP on a disk too small for a payload: the box says which file could not
// be written where and why, the run never launches a jar it did not write,
// and the workspace goes. Run by tests/launcher/full_tmp.sh, which mounts the
// disks.
TEST_F(Installing, FullTmpDiskSaysWhatCouldNotBeWritten) {
  wchar_t small[MAX_PATH], medium[MAX_PATH];
  if (!GetEnvironmentVariableW(L"FULL_TMP_SMALL", small, MAX_PATH) ||
      !GetEnvironmentVariableW(L"FULL_TMP_MEDIUM", medium, MAX_PATH)) {
    GTEST_SKIP() << "needs the small disks of tests/launcher/full_tmp.sh";
  }
  TempDir oldJava(L"old java");
  makeJava(oldJava.path(), "err java version \"1.7.0_80\"\n");
  const struct {
    const char* tag;
    std::wstring tmpFolder;
    const wchar_t* launcher;
    EnvironmentChanges extra;
    std::vector<std::string> said;  // in the box, besides the workspace's path
  } cases[] = {
      {"runtime archive does not fit, no Java elsewhere", small, L"launcher-java18.exe", {},
       {"jre_x64.exe", "Disk full"}},
      {"installer does not fit after the runtime", medium, L"launcher-bigjar.exe", {},
       {"brackenhue.jar", "Disk full"}},
      // The archive fits, what it unpacks does not: the disk is the news,
      // not the archive's exit code, nor an older Java.
      {"runtime does not unpack whole, no Java elsewhere", medium, L"launcher-bigruntime.exe", {},
       {"the bundled Java runtime could not be unpacked into", "\\jre: it needs 9 MB", "Please make room"}},
      {"runtime does not unpack whole, an old Java in JAVA_HOME", medium, L"launcher-bigruntime.exe",
       {{L"JAVA_HOME", oldJava.path()}},
       {"the bundled Java runtime could not be unpacked into", "Please make room"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    EnvironmentChanges environment = c.extra;
    environment.push_back({L"TMP", c.tmpFolder});
    const InstallRun run = install(c.launcher, start.path(), environment);
    EXPECT_EQ(run.result.exitCode, 0u);
    EXPECT_TRUE(run.javaw.empty()) << "nothing may be launched";
    ASSERT_EQ(run.boxes.size(), 1u) << describe(run.boxes);
    EXPECT_EQ(run.boxes[0].caption, "Installation Failed: Couldn't write files");
    const std::string& text = run.boxes[0].text;
    EXPECT_NE(text.find(narrow(c.tmpFolder) + "\\Brackenhue-"), std::string::npos) << text;
    for (const std::string& part : c.said) EXPECT_NE(text.find(part), std::string::npos) << text;
    EXPECT_EQ(run.boxes[0].ownerClass, L"splash");
    EXPECT_TRUE(folderEntries(c.tmpFolder).empty()) << listing(c.tmpFolder);
  }
}

TEST_F(Installing, StartedFromAnotherDrive) {
  // The test session maps Q: to a folder of its own (tests/wine/session.sh).
  if (GetDriveTypeW(L"Q:\\") == DRIVE_NO_ROOT_DIR) GTEST_SKIP() << "no drive Q: in this session";
  const std::wstring folder = L"Q:\\Setup \u00e9t\u00e9";
  CreateDirectoryW(folder.c_str(), nullptr);
  ASSERT_TRUE(isDirectory(folder));
  const struct {
    const char* tag;
    std::wstring start;
    std::string origDir;
  } cases[] = {
      {"a folder on Q:", folder, narrow(folder)},
      {"the root of Q:", L"Q:\\", "Q:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    const InstallRun run = install(L"launcher-java18.exe", c.start);
    EXPECT_EQ(run.result.exitCode, 0u);
    EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
    ASSERT_EQ(run.javaw.size(), 1u);
    EXPECT_EQ(run.javaw[0].at("command"),
              "\"jre\\bin\\javaw.exe\" \"-Dorig.dir=" + c.origDir + "\" -jar brackenhue.jar");
  }
  removeTree(folder);
}

TEST_F(Installing, EntriesHeldForAMomentAtCleanUpStillGo) {
  // Two programs hold jre\bin\java.answer and jre_x64.exe open, without
  // sharing, for a second after the installer has ended.
  const InstallRun run = install(L"launcher-java18.exe", start.path(), {{L"FIXTURE_JAVAW_HOLD", L"1000"}});
  EXPECT_EQ(run.result.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
  EXPECT_EQ(run.javaw.size(), 1u);
  EXPECT_TRUE(folderEntries(tmp.path()).empty()) << listing(tmp.path());
  Sleep(1500);  // the holders end before the records folder goes
}

// An installer that needs administrator rights starts an elevated copy of
// itself and ends at once. The copy runs from the workspace, or keeps its
// jar open: the clean-up waits for it, and the copy finds its files.
TEST_F(Installing, InstallerThatRelaunchesItselfKeepsItsFiles) {
  TempDir javas(L"javas");
  const std::wstring outsideJava = javas.file(L"good");
  makeJava(outsideJava, kJava8Answer);
  TempDir longTmp(L"Temporary Files");
  wchar_t shortForm[MAX_PATH * 4];
  const DWORD shortLength = GetShortPathNameW(longTmp.path().c_str(), shortForm, MAX_PATH * 4);
  const std::wstring shortTmp(shortForm, shortLength);
  ASSERT_NE(shortTmp, longTmp.path()) << "no 8.3 form here";

  const struct {
    const char* tag;
    const wchar_t* launcher;
    EnvironmentChanges environment;
    std::wstring tmpFolder;  // as the test reads it
  } cases[] = {
      {"a copy started directly", L"launcher-java18.exe", {{L"FIXTURE_JAVAW_RELAUNCH", L"copy"}}, tmp.path()},
      {"a copy started through a program outside that ends at once",
       L"launcher-java18.exe",
       {{L"FIXTURE_JAVAW_RELAUNCH", L"helper"}},
       tmp.path()},
      {"a Java outside the workspace: only the open jar tells",
       L"launcher-nojava.exe",
       {{L"FIXTURE_JAVAW_RELAUNCH", L"copy"}, {L"JAVA_HOME", outsideJava}},
       tmp.path()},
      {"TMP in its 8.3 form",
       L"launcher-java18.exe",
       {{L"FIXTURE_JAVAW_RELAUNCH", L"copy"}, {L"TMP", shortTmp}},
       longTmp.path()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    const ULONGLONG started = GetTickCount64();
    const InstallRun run = install(c.launcher, start.path(), c.environment);
    EXPECT_GE(GetTickCount64() - started, 3000u) << "the clean-up did not wait for the copy";
    EXPECT_EQ(run.result.exitCode, 0u);
    EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
    EXPECT_EQ(run.javaw.size(), 1u);
    const std::vector<CopyRecord> copies = takeCopyRecords();
    ASSERT_EQ(copies.size(), 1u) << "the copy never recorded";
    EXPECT_EQ(copies[0].text, "runtime=1\njar=1\nin_job=0\nheld=1\n")
        << "the copy must run outside the job, with its files";
    EXPECT_TRUE(folderEntries(c.tmpFolder).empty()) << listing(c.tmpFolder);
  }
}

void endPrograms(const std::wstring& name);

// An installer that needs administrator rights starts a helper that asks
// for elevation and ends. The helper sits in the consent prompt (the system
// folder's consent.exe; here a stand-in the user answers after 4 s) and
// only then starts the elevated copy from the workspace. Nothing goes while
// the prompt is on the screen; the launcher ends a few seconds after the
// copy.
TEST_F(Installing, ConsentPromptKeepsTheFilesForTheElevatedCopy) {
  wchar_t system[MAX_PATH];
  const std::wstring folder(system, GetSystemDirectoryW(system, MAX_PATH));
  const std::wstring consent = folder + L"\\consent.exe", answer = folder + L"\\consent.answer";
  ASSERT_FALSE(fileExists(consent)) << "this system has a consent.exe of its own";
  ASSERT_TRUE(CopyFileW(build(L"fixture_program.exe").c_str(), consent.c_str(), TRUE));
  struct Removal {
    std::wstring a, b;
    ~Removal() {
      DeleteFileW(a.c_str());
      DeleteFileW(b.c_str());
    }
  } removal{consent, answer};
  ASSERT_TRUE(writeFile(answer, "sleep 4000\n"));

  const ULONGLONG started = GetTickCount64();
  const InstallRun run = install(L"launcher-java18.exe", start.path(), {{L"FIXTURE_JAVAW_RELAUNCH", L"consent"}});
  const ULONGLONG took = GetTickCount64() - started;
  EXPECT_EQ(run.result.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
  EXPECT_EQ(run.javaw.size(), 1u);
  const std::vector<CopyRecord> copies = takeCopyRecords();
  ASSERT_EQ(copies.size(), 1u) << "the copy never recorded: it did not start";
  EXPECT_EQ(copies[0].text, "runtime=1\njar=1\nin_job=0\nheld=1\n") << "the copy must find its files";
  EXPECT_GE(took, 4000u + 3000u) << "the launcher did not wait for the prompt and the copy";
  EXPECT_LT(copies[0].ageMs, 5000u) << "the launcher outlived the copy too long";
  EXPECT_TRUE(folderEntries(tmp.path()).empty()) << listing(tmp.path());
}

// The installer starts a program outside the workspace and its job (a native
// launcher of the installed product) and ends at once; the program loads a
// DLL of the workspace's runtime only after the wait first looked at it.
// The launcher waits until the DLL is let go, then removes everything.
TEST_F(Installing, ProgramThatLoadsARuntimeDllLateKeepsTheRuntime) {
  TempDir stamps(L"stamps");
  const std::wstring stamp = stamps.file(L"late.txt");
  const InstallRun run = install(L"launcher-java18.exe", start.path(),
                                 {{L"FIXTURE_JAVAW_LATE_DLL", build(L"planted_dll.dll")},
                                  {L"FIXTURE_LATE_STAMP", stamp}});
  LARGE_INTEGER ended, frequency;
  QueryPerformanceCounter(&ended);
  QueryPerformanceFrequency(&frequency);
  const double endedMs = 1000.0 * static_cast<double>(ended.QuadPart) / static_cast<double>(frequency.QuadPart);
  EXPECT_EQ(run.result.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
  EXPECT_EQ(run.javaw.size(), 1u);
  std::string unloaded;
  EXPECT_TRUE(readFile(stamp, &unloaded)) << "the launcher ended before the program let go of the DLL";
  if (!unloaded.empty()) {
    EXPECT_GE(endedMs, std::stod(unloaded)) << "the launcher ended while the DLL was loaded";
  }
  EXPECT_TRUE(folderEntries(tmp.path()).empty()) << listing(tmp.path());
  const std::vector<std::wstring> running = runningPrograms();
  EXPECT_NE(std::find(running.begin(), running.end(), L"late.exe"), running.end())
      << "the program should still run: the launcher must not wait for its end";
  endPrograms(L"late.exe");
}

// Ends every running program of that image name: what a test left running.
void endPrograms(const std::wstring& name) {
  UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (_wcsicmp(entry.szExeFile, name.c_str()) != 0) continue;
    UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
    if (!process) continue;
    TerminateProcess(process.get(), 0);
    WaitForSingleObject(process.get(), 5000);
  }
}

// An installer that starts the installed product at its end: the product
// runs on in the installer's job for two minutes. It never used the
// workspace, so the launcher cleans up and ends a few seconds after the
// installer. A product that was given the workspace as its current folder
// keeps that folder, empty, until the next run removes it.
TEST_F(Installing, ProductStartedAtTheEndDoesNotKeepTheLauncher) {
  TempDir productFolder(L"product");
  const struct {
    const char* tag;
    EnvironmentChanges environment;
    bool workspaceGoes;
  } cases[] = {
      {"started from its own folder",
       {{L"FIXTURE_JAVAW_PRODUCT", L"120000"}, {L"FIXTURE_JAVAW_PRODUCT_FOLDER", productFolder.path()}},
       true},
      {"started through cmd /c start",
       {{L"FIXTURE_JAVAW_PRODUCT", L"120000"},
        {L"FIXTURE_JAVAW_PRODUCT_FOLDER", productFolder.path()},
        {L"FIXTURE_JAVAW_PRODUCT_VIA", L"cmd"}},
       true},
      {"started with the workspace as its current folder", {{L"FIXTURE_JAVAW_PRODUCT", L"120000"}}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    const ULONGLONG started = GetTickCount64();
    const InstallRun run = install(L"launcher-java18.exe", start.path(), c.environment);
    const ULONGLONG took = GetTickCount64() - started;
    EXPECT_EQ(run.result.exitCode, 0u);
    EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
    EXPECT_EQ(run.javaw.size(), 1u);
    // Three animations of a second and the pause after the installer's end.
    EXPECT_LT(took, 15000u) << "the launcher waited for the product";
    const std::vector<std::wstring> running = runningPrograms();
    EXPECT_NE(std::find(running.begin(), running.end(), L"product.exe"), running.end())
        << "the product should still run";
    const std::vector<std::wstring> left = folderEntries(tmp.path());
    if (c.workspaceGoes) {
      EXPECT_TRUE(left.empty()) << listing(tmp.path());
    } else {
      ASSERT_EQ(left.size(), 1u) << listing(tmp.path());
      EXPECT_TRUE(folderEntries(tmp.file(left[0])).empty()) << "only the folder itself may stay";
    }
    endPrograms(L"product.exe");
    if (!c.workspaceGoes) {
      const InstallRun next = install(L"launcher-java18.exe", start.path());
      EXPECT_EQ(next.javaw.size(), 1u);
      EXPECT_TRUE(folderEntries(tmp.path()).empty()) << "the next run leaves it: " << listing(tmp.path());
    }
  }
}

// TMP holding %NAME% of a defined variable, as a folder's name: cmd must
// not expand it, neither in the probe of the unpacked java nor in the
// clean-up's removal of the runtime.
TEST_F(Installing, TmpHoldingAVariablesNameInPercentSigns) {
  for (const wchar_t* name : {L"a%FIXTURE_RECORD_DIR%b", L"%PATH%", L"100%"}) {
    SCOPED_TRACE(narrow(name));
    const std::wstring odd = tmp.file(name);
    ASSERT_TRUE(CreateDirectoryW(odd.c_str(), nullptr));
    const InstallRun run = install(L"launcher-java18.exe", start.path(), {{L"TMP", odd}});
    EXPECT_EQ(run.result.exitCode, 0u);
    EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
    ASSERT_EQ(run.javaw.size(), 1u) << "the workspace's java was not found: " << run.result.out;
    EXPECT_EQ(run.javaw[0].at("folder").rfind(narrow(odd) + "\\Brackenhue-", 0), 0u) << run.javaw[0].at("folder");
    EXPECT_TRUE(folderEntries(odd).empty()) << listing(odd);
    EXPECT_TRUE(RemoveDirectoryW(odd.c_str()));
  }
}

// A TMP so long that the runtime's deepest file would pass MAX_PATH below
// the workspace: nothing is unpacked, and without an installed Java the box
// says so, naming TMP; one character less still works. launcher-java18's
// build facts give its deepest path, jre\bin\java.answer, 19 characters.
TEST_F(Installing, TmpTooLongForTheRuntimeIsSaidBeforeUnpacking) {
  // workspace = TMP + "\Brackenhue-xxxxx" (17); + "\" + 19 must stay within 259.
  const size_t longestThatFits = 259 - 19 - 1 - 17;
  std::wstring folder = tmp.path();
  while (folder.size() < longestThatFits + 1) {
    folder += L"\\" + std::wstring(std::min<size_t>(40, longestThatFits + 1 - folder.size() - 1), L'd');
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << narrow(folder);
  }
  ASSERT_EQ(folder.size(), longestThatFits + 1);
  const std::wstring fits = folder.substr(0, folder.size() - 1);
  ASSERT_TRUE(CreateDirectoryW(fits.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);

  const InstallRun tooLong = install(L"launcher-java18.exe", start.path(), {{L"TMP", folder}});
  EXPECT_EQ(tooLong.result.exitCode, 0u);
  EXPECT_TRUE(tooLong.javaw.empty());
  ASSERT_EQ(tooLong.boxes.size(), 1u) << describe(tooLong.boxes);
  EXPECT_EQ(tooLong.boxes[0].caption, "Installation Failed: Temp folder path too long");
  EXPECT_NE(tooLong.boxes[0].text.find("\n" + narrow(folder) + "\n"), std::string::npos) << tooLong.boxes[0].text;
  EXPECT_NE(tooLong.boxes[0].text.find("at most " + std::to_string(longestThatFits) + " characters"),
            std::string::npos)
      << tooLong.boxes[0].text;
  EXPECT_TRUE(folderEntries(folder).empty()) << listing(folder);
  EXPECT_EQ(tooLong.boxes[0].ownerClass, L"splash");

  // An installed Java still serves.
  TempDir javas(L"javas");
  makeJava(javas.file(L"good"), kJava8Answer);
  const InstallRun installed =
      install(L"launcher-java18.exe", start.path(), {{L"TMP", folder}, {L"JAVA_HOME", javas.file(L"good")}});
  EXPECT_EQ(installed.result.exitCode, 0u);
  EXPECT_TRUE(installed.boxes.empty()) << describe(installed.boxes);
  ASSERT_EQ(installed.javaw.size(), 1u);
  EXPECT_NE(installed.javaw[0].at("command").find(narrow(javas.file(L"good"))), std::string::npos)
      << installed.javaw[0].at("command");
  EXPECT_TRUE(folderEntries(folder).empty()) << listing(folder);

  const InstallRun fitting = install(L"launcher-java18.exe", start.path(), {{L"TMP", fits}});
  EXPECT_EQ(fitting.result.exitCode, 0u);
  EXPECT_TRUE(fitting.boxes.empty()) << describe(fitting.boxes);
  EXPECT_EQ(fitting.javaw.size(), 1u);
}

// The wait before the clean-up, with its day shortened: it ends once nothing
// runs from the workspace (program file or a DLL loaded from it) and nothing
// holds its jar, and gives up at its bound while either lasts, without
// touching what runs. A program found is waited on, so its end is seen at
// once, not at the next look through the processes; after a use it waits
// the recheck pause, since what used it might come back.
TEST(ReleaseWait, EndsWhenTheWorkspaceIsFreeAndGivesUpAtItsBound) {
  const struct {
    const char* tag;
    int programMs;  // a program run from the workspace for this long; none when negative
    bool jarHeld;   // the workspace's jar open without shared writing, as a running Java holds it
    bool free;
    bool dllOnly = false;                 // the program runs from outside, with a DLL of the workspace loaded
    unsigned long long limitMs = 1500;
  } cases[] = {
      {"nothing runs from it", -1, false, true},
      {"a program from it ends before the bound", 600, false, true},
      {"a program from it outlives the bound", 60000, false, false},
      {"its jar stays open", -1, true, false},
      {"a program from outside has a DLL of it loaded", 60000, false, false, true},
      {"a program from it ends after the processes were first looked through", 4000, false, true, false, 10000},
  };
  const ProcessTree noInstaller;  // never started
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    TempDir workspace(L"workspace");
    TempDir outside(L"outside");
    ASSERT_TRUE(CreateDirectoryW(workspace.file(L"jre").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(workspace.file(L"jre\\bin").c_str(), nullptr));
    const std::wstring javaw = workspace.file(L"jre\\bin\\javaw.exe");
    const std::wstring dll = workspace.file(L"jre\\bin\\awt.dll");
    ASSERT_TRUE(CopyFileW(build(L"fixture_program.exe").c_str(), javaw.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(build(L"planted_dll.dll").c_str(), dll.c_str(), FALSE));
    ASSERT_TRUE(writeFile(workspace.file(L"brackenhue.jar"), "PK"));
    UniqueHandle program;
    if (c.dllOnly) {
      const std::wstring outsider = outside.file(L"java.exe");
      ASSERT_TRUE(CopyFileW(build(L"fixture_program.exe").c_str(), outsider.c_str(), FALSE));
      program = startChild(outsider, L"java.exe load \"" + dll + L"\" sleep " + std::to_wstring(c.programMs));
      ASSERT_TRUE(program.valid());
      Sleep(500);  // loaded
      ASSERT_EQ(WaitForSingleObject(program.get(), 0), DWORD{WAIT_TIMEOUT}) << "the DLL did not load";
    } else if (c.programMs >= 0) {
      program = startChild(javaw, L"javaw.exe sleep " + std::to_wstring(c.programMs));
      ASSERT_TRUE(program.valid());
    }
    UniqueFileHandle jar;
    if (c.jarHeld) {
      jar.reset(CreateFileW(workspace.file(L"brackenhue.jar").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(jar.valid());
    }
    const ULONGLONG started = GetTickCount64();
    const bool free = waitUntilWorkspaceIsFree(narrow(workspace.path()), noInstaller, c.limitMs);
    const ULONGLONG waited = GetTickCount64() - started;
    EXPECT_EQ(free, c.free);
    if (!c.free) {
      EXPECT_GE(waited, c.limitMs);
      EXPECT_LT(waited, c.limitMs + 1000) << "the bound was not kept";
    } else if (c.programMs > 0) {
      EXPECT_GE(waited, static_cast<ULONGLONG>(c.programMs) / 2) << "it did not wait for the program";
      EXPECT_GE(waited, static_cast<ULONGLONG>(c.programMs) / 2 + kReleaseRecheckMs)
          << "no second look after the use";
      EXPECT_LT(waited, static_cast<ULONGLONG>(c.programMs) + kReleaseRecheckMs + 1200)
          << "the program's end was not seen when it came";
    } else {
      EXPECT_LT(waited, 1000u);
    }
    if (program) {
      EXPECT_EQ(WaitForSingleObject(program.get(), 0), c.free ? DWORD{WAIT_OBJECT_0} : DWORD{WAIT_TIMEOUT})
          << (c.free ? "it ended while the program ran" : "the program was ended");
      TerminateProcess(program.get(), 0);
      WaitForSingleObject(program.get(), INFINITE);
    }
  }
}

// A shortcut set to "Maximized" or "Minimized" hands its show command to the
// launcher: the splash window is still shown at its own size, in the centre,
// and the box it owns appears.
TEST_F(Installing, ShortcutShowCommandsKeepTheSplashAtItsOwnSize) {
  const struct {
    const char* tag;
    int showCommand;
  } cases[] = {
      {"started maximized", SW_SHOWMAXIMIZED},
      {"started minimized", SW_SHOWMINNOACTIVE},
  };
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    showCommand = c.showCommand;
    const InstallRun run = install(L"launcher-nojava.exe", start.path());
    EXPECT_EQ(run.result.exitCode, 0u);
    ASSERT_EQ(run.boxes.size(), 1u) << describe(run.boxes);
    EXPECT_EQ(run.boxes[0].text, kNotFound);
    EXPECT_TRUE(run.boxes[0].splashVisible);
    const RECT frame = run.boxes[0].splashRect;
    EXPECT_EQ(frame.right - frame.left, 420);
    EXPECT_EQ(frame.bottom - frame.top, 300);
    EXPECT_EQ(frame.left, (screenWidth - 420) / 2);
    EXPECT_EQ(frame.top, (screenHeight - 300) / 2);
    EXPECT_EQ(run.boxes[0].ownerClass, L"splash");
  }
}

TEST_F(Installing, ScannerHoldingEveryNewFileForAMoment) {
  // A virus scanner opens each file that appears in TMP or below as soon as
  // it can, without sharing deletion, and holds it 1.2 s.
  UniqueHandle scannerProcess =
      startChild(build(L"fixture_program.exe"), L"fixture_program.exe scan \"1200 " + tmp.path() + L"\"");
  ASSERT_TRUE(scannerProcess.valid());
  // It watches before the launcher starts, and holds what it sees.
  bool held = false;
  for (int attempt = 0; attempt < 20 && !held; ++attempt) {
    ASSERT_TRUE(writeFile(tmp.file(L"probe.txt"), "x"));
    for (int i = 0; i < 20 && !held; ++i) {
      Sleep(10);
      HANDLE exclusive = CreateFileW(tmp.file(L"probe.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                     nullptr);
      held = exclusive == INVALID_HANDLE_VALUE;
      if (!held) CloseHandle(exclusive);
    }
  }
  EXPECT_TRUE(held) << "the scanner does not hold new files";
  for (int i = 0; i < 100 && !DeleteFileW(tmp.file(L"probe.txt").c_str()); ++i) Sleep(50);

  const InstallRun run = install(L"launcher-java18.exe", start.path());
  TerminateProcess(scannerProcess.get(), 0);
  WaitForSingleObject(scannerProcess.get(), INFINITE);
  EXPECT_EQ(run.result.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
  ASSERT_EQ(run.javaw.size(), 1u);
  EXPECT_EQ(run.javaw[0].at("jar_size"), std::to_string(jar().size()));
  EXPECT_TRUE(folderEntries(tmp.path()).empty()) << listing(tmp.path());
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

// The splash window of process `processId`, once it is visible; null after
// `timeoutMs`.
HWND visibleSplash(unsigned long processId, unsigned long timeoutMs) {
  struct Search {
    DWORD processId;
    HWND found;
  };
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (GetTickCount64() < deadline) {
    Search search{processId, nullptr};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
          Search& s = *reinterpret_cast<Search*>(parameter);
          DWORD owner = 0;
          GetWindowThreadProcessId(window, &owner);
          wchar_t name[32];
          if (owner == s.processId && GetClassNameW(window, name, 32) && std::wstring(name) == L"splash" &&
              IsWindowVisible(window)) {
            s.found = window;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    Sleep(10);
  }
  return nullptr;
}

TEST_F(Installing, SplashClosedByTheUserMidRun) {
  const struct {
    const char* tag;
    const wchar_t* launcher;
    size_t javawRuns;
    size_t boxes;
  } cases[] = {
      {"Java found: the installer still runs", L"launcher-java18.exe", 1, 0},
      // The box that the window would have owned comes without owner.
      {"no Java: the box still appears", L"launcher-nojava.exe", 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    std::thread closer;
    bool closed = false;
    const InstallRun run = install(c.launcher, start.path(), {}, [&](unsigned long processId) {
      closer = std::thread([&closed, processId] {
        if (HWND splash = visibleSplash(processId, 20000)) closed = PostMessageW(splash, WM_CLOSE, 0, 0) != FALSE;
      });
    });
    closer.join();
    EXPECT_TRUE(closed) << "the splash window never showed";
    EXPECT_EQ(run.result.exitCode, 0u);
    EXPECT_EQ(run.javaw.size(), c.javawRuns);
    ASSERT_EQ(run.boxes.size(), c.boxes) << describe(run.boxes);
    if (c.boxes) {
      EXPECT_EQ(run.boxes[0].caption, "Installation Failed: Couldn't find java");
      EXPECT_EQ(run.boxes[0].owner, nullptr);
      EXPECT_FALSE(run.boxes[0].splashVisible);
    }
    EXPECT_TRUE(folderEntries(tmp.path()).empty()) << listing(tmp.path());
  }
}

bool fitsAnsiCodePage(const std::wstring& text) {
  BOOL lossy = FALSE;
  return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, nullptr, 0, nullptr, &lossy) > 0 &&
         !lossy;
}

TEST_F(Installing, NonAsciiStartAndTmpFolders) {
  TempDir cyrillicTmp(L"\u0432\u0440\u0435\u043c\u0435\u043d\u043d\u0430\u044f \u4e34\u65f6");
  const struct {
    const char* tag;
    const wchar_t* startName;
  } cases[] = {
      {"Cyrillic and CJK", L"\u5b89\u88c5 \u0423\u0441\u0442\u0430\u043d\u043e\u0432\u043a\u0430"},
      {"Latin-1 letters fit the ANSI code page", L"T\u00e9l\u00e9chargements"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    TempDir from(c.startName);
    const InstallRun run = install(L"launcher-java18.exe", from.path(), {{L"TMP", cyrillicTmp.path()}});
    EXPECT_EQ(run.result.exitCode, 0u);
    EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
    ASSERT_EQ(run.javaw.size(), 1u);
    const std::string& command = run.javaw[0].at("command");
    const std::string opening = "\"jre\\bin\\javaw.exe\" \"-Dorig.dir=";
    const std::string closing = "\" -jar brackenhue.jar";
    ASSERT_EQ(command.rfind(opening, 0), 0u) << command;
    ASSERT_GE(command.size(), opening.size() + closing.size());
    ASSERT_EQ(command.substr(command.size() - closing.size()), closing) << command;
    const std::wstring origDir =
        widen(command.substr(opening.size(), command.size() - opening.size() - closing.size()));
    if (fitsAnsiCodePage(from.path())) {
      EXPECT_EQ(origDir, from.path()) << "a folder Java can read goes unchanged";
    } else {
      // Java 8 would read the long form as question marks: the short form
      // goes, which names the same folder.
      EXPECT_TRUE(fitsAnsiCodePage(origDir)) << narrow(origDir);
      wchar_t longForm[MAX_PATH * 4];
      const DWORD length = GetLongPathNameW(origDir.c_str(), longForm, MAX_PATH * 4);
      EXPECT_EQ(std::wstring(longForm, length), from.path()) << narrow(origDir);
    }
    EXPECT_EQ(run.javaw[0].at("folder").rfind(narrow(cyrillicTmp.path()) + "\\Brackenhue-", 0), 0u)
        << run.javaw[0].at("folder");
    EXPECT_TRUE(folderEntries(cyrillicTmp.path()).empty()) << listing(cyrillicTmp.path());
  }
}

// Copies of the stand-in program that touch a marker file when they run.
void plant(const std::wstring& path, const std::wstring& marker) {
  ASSERT_TRUE(CopyFileW(build(L"fixture_program.exe").c_str(), path.c_str(), FALSE));
  const std::wstring answer = path.substr(0, path.size() - 4) + L".answer";
  ASSERT_TRUE(writeFile(answer, "touch " + narrow(marker) + "\nexit 0\n"));
}

TEST_F(Installing, ProgramsPlantedBesideTheLauncherNeverRun) {
  // The launcher runs from a folder of its own, as from Downloads, with a
  // runtime archive, an interpreter and a javaw of the relative "jre" beside
  // it.
  TempDir downloads(L"downloads");
  ASSERT_TRUE(CopyFileW(build(L"launcher-java18.exe").c_str(), downloads.file(L"setup.exe").c_str(), FALSE));
  ASSERT_TRUE(CreateDirectoryW(downloads.file(L"jre").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(downloads.file(L"jre\\bin").c_str(), nullptr));
  TempDir markers(L"markers");
  const wchar_t* planted[] = {L"jre_x64.exe", L"cmd.exe", L"jre\\bin\\javaw.exe"};
  for (const wchar_t* name : planted) plant(downloads.file(name), markers.file(L"ran"));

  for (const std::wstring& from : {downloads.path(), start.path()}) {
    SCOPED_TRACE(narrow(from));
    const InstallRun run = install(downloads.file(L"setup.exe"), from);
    EXPECT_EQ(run.result.exitCode, 0u);
    EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
    EXPECT_EQ(run.javaw.size(), 1u) << "the workspace's javaw must be the one that runs";
    EXPECT_FALSE(fileExists(markers.file(L"ran"))) << "a planted program ran";
    EXPECT_TRUE(folderEntries(tmp.path()).empty()) << listing(tmp.path());
  }
}

TEST_F(Installing, WherePlantedInTheStartFolderOrBesideTheLauncherNeverRuns) {
  // No Java anywhere, so the search gets as far as "where java". It runs in
  // the workspace: a where.exe or where.bat in the start folder (Downloads,
  // beside the launcher) must not be the one found.
  TempDir downloads(L"downloads");
  ASSERT_TRUE(CopyFileW(build(L"launcher-nojava.exe").c_str(), downloads.file(L"setup.exe").c_str(), FALSE));
  TempDir markers(L"markers");
  plant(downloads.file(L"where.exe"), markers.file(L"ran"));
  ASSERT_TRUE(writeFile(downloads.file(L"where.bat"), "@echo off\r\necho.>\"" + narrow(markers.file(L"ran")) +
                                                          "\"\r\necho C:\\planted\\bin\\java.exe\r\n"));
  const InstallRun run = install(downloads.file(L"setup.exe"), downloads.path());
  EXPECT_EQ(run.result.exitCode, 0u);
  EXPECT_FALSE(fileExists(markers.file(L"ran"))) << "a planted where ran";
  EXPECT_NE(run.result.out.find(" - Looking on PATH"), std::string::npos) << run.result.out;
  ASSERT_EQ(run.boxes.size(), 1u) << describe(run.boxes);
  EXPECT_EQ(run.boxes[0].text, kNotFound);
}

// This process's user SID and whether it runs elevated with Administrators
// in force, as the launcher it starts will.
struct Account {
  std::string sid;
  bool elevatedAdmin = false;
};

Account ownAccount() {
  Account account;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return account;
  unsigned char user[256];
  DWORD size = 0;
  wchar_t* sid = nullptr;
  if (GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
      ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid)) {
    account.sid = narrow(sid);
    LocalFree(sid);
  }
  TOKEN_ELEVATION elevation{};
  const bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
                        elevation.TokenIsElevated;
  CloseHandle(token);
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof administrators;
  BOOL member = FALSE;
  if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize)) {
    CheckTokenMembership(nullptr, administrators, &member);
  }
  account.elevatedAdmin = elevated && member;
  return account;
}

// What GetFileSecurityW reads of `path` (`what`), as SDDL; empty when it
// cannot be read.
std::string sddlOf(const std::wstring& path, SECURITY_INFORMATION what) {
  std::string descriptor(8192, '\0');
  DWORD needed = 0;
  wchar_t* text = nullptr;
  if (!GetFileSecurityW(path.c_str(), what, descriptor.data(), 8192, &needed) ||
      !ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1, what, &text,
                                                            nullptr)) {
    return {};
  }
  std::string sddl = narrow(text);
  LocalFree(text);
  return sddl;
}

// The owner ("O:...") of an SDDL text, and the trustee of each of its
// DACL's entries, in order.
std::string ownerOf(const std::string& sddl) {
  if (sddl.rfind("O:", 0) != 0) return {};
  return sddl.substr(2, sddl.find("D:") - 2);
}

std::vector<std::string> trusteesOf(const std::string& sddl) {
  std::vector<std::string> trustees;
  for (size_t open = sddl.find('('); open != std::string::npos; open = sddl.find('(', open + 1)) {
    const size_t close = sddl.find(')', open);
    const std::string entry = sddl.substr(open + 1, close - open - 1);
    trustees.push_back(entry.substr(entry.rfind(';') + 1));
  }
  return trustees;
}

// TMP shared as C:\Windows\Temp is for SYSTEM: every user may create files
// in it, and what is created inherits that. The workspace does not: no
// entry of its DACL names anyone but SYSTEM, Administrators and the
// launcher's own user, and its owner is one of them.
TEST_F(Installing, WorkspaceOnASharedTmpIsClosedToOtherUsers) {
  PSECURITY_DESCRIPTOR everyone = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &everyone,
                                                                   nullptr));
  ASSERT_TRUE(SetFileSecurityW(tmp.path().c_str(), DACL_SECURITY_INFORMATION, everyone));
  LocalFree(everyone);
  // What any folder made there gets.
  const std::wstring plain = tmp.file(L"plain");
  ASSERT_TRUE(CreateDirectoryW(plain.c_str(), nullptr));
  const std::string plainSddl = sddlOf(plain, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION);
  ASSERT_TRUE(RemoveDirectoryW(plain.c_str()));
  const std::vector<std::string> plainTrustees = trusteesOf(plainSddl);
  ASSERT_NE(std::find(plainTrustees.begin(), plainTrustees.end(), "WD"), plainTrustees.end())
      << "a folder made in this TMP should be open to everyone: " << plainSddl;

  const Account account = ownAccount();
  ASSERT_FALSE(account.sid.empty());
  const InstallRun run = install(L"launcher-java18.exe", start.path());
  EXPECT_EQ(run.result.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
  ASSERT_EQ(run.javaw.size(), 1u);
  const std::string workspace = run.javaw[0].at("folder_sddl");
  ASSERT_FALSE(workspace.empty());
  const std::vector<std::string> allowed = {"SY", "BA", account.sid};
  EXPECT_NE(std::find(allowed.begin(), allowed.end(), ownerOf(workspace)), allowed.end()) << workspace;
  for (const std::string& trustee : trusteesOf(workspace)) {
    EXPECT_NE(std::find(allowed.begin(), allowed.end(), trustee), allowed.end())
        << trustee << " may use the workspace: " << workspace;
  }
  EXPECT_TRUE(folderEntries(tmp.path()).empty()) << listing(tmp.path());
}

// Where the system keeps each file's own descriptor (Windows; not Wine,
// which derives one from Unix modes), the whole of it reads back: the
// workspace's DACL is protected and holds exactly the launcher's entries,
// and a file the launcher made in it carries them as inherited entries.
TEST_F(Installing, WorkspaceDescriptorIsProtectedAndInherited) {
  const std::wstring probe = tmp.file(L"probe");
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
                                                                   SDDL_REVISION_1, &descriptor, nullptr));
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  ASSERT_TRUE(CreateDirectoryW(probe.c_str(), &attributes));
  LocalFree(descriptor);
  const std::string probeSddl = sddlOf(probe, DACL_SECURITY_INFORMATION);
  RemoveDirectoryW(probe.c_str());
  if (probeSddl != "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)") {
    GTEST_SKIP() << "this system keeps no descriptor of its own for a folder (it read back as \"" << probeSddl
                 << "\"), so protection and inherited entries cannot be read back here";
  }
  const Account account = ownAccount();
  const std::string privileged = "(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  const std::string inherited = "(A;ID;FA;;;SY)(A;ID;FA;;;BA)";
  const InstallRun run = install(L"launcher-java18.exe", start.path());
  ASSERT_EQ(run.javaw.size(), 1u);
  const std::string workspace = run.javaw[0].at("folder_sddl");
  const std::string jarSddl = run.javaw[0].at("jar_sddl");
  if (account.elevatedAdmin) {
    EXPECT_EQ(workspace, "O:BAD:P" + privileged);
    EXPECT_EQ(jarSddl.substr(jarSddl.find("D:")), "D:AI" + inherited);
  } else {
    EXPECT_EQ(workspace, "O:" + account.sid + "D:P" + privileged + "(A;OICI;FA;;;" + account.sid + ")");
    EXPECT_EQ(jarSddl.substr(jarSddl.find("D:")), "D:AI" + inherited + "(A;ID;FA;;;" + account.sid + ")");
  }
}

// The runtime archive and the jar are held, shared for reading only, from
// the moment they are written until they have been used: the archive itself
// finds, as it runs, that it can be neither renamed away nor written.
TEST_F(Installing, RuntimeArchiveCannotBeSwappedWhileItRuns) {
  const InstallRun run = install(L"launcher-java18.exe", start.path(), {{L"FIXTURE_RUNTIME_SWAP", L"1"}});
  EXPECT_EQ(run.result.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
  EXPECT_EQ(run.javaw.size(), 1u);
  std::string swap;
  EXPECT_TRUE(readFile(records.file(L"runtime-swap.txt"), &swap));
  DeleteFileW(records.file(L"runtime-swap.txt").c_str());
  EXPECT_EQ(swap, "rename=0 write=0");
  EXPECT_TRUE(folderEntries(tmp.path()).empty()) << listing(tmp.path());
}

// Sets a folder's last-write time `hours` into the past.
void age(const std::wstring& folder, int hours) {
  UniqueFileHandle handle(CreateFileW(folder.c_str(), FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  ASSERT_TRUE(handle.valid()) << narrow(folder);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
  time.QuadPart -= static_cast<ULONGLONG>(hours) * 3600ull * 10000000ull;
  const FILETIME then{time.LowPart, time.HighPart};
  ASSERT_TRUE(SetFileTime(handle.get(), nullptr, nullptr, &then));
}

TEST_F(Installing, OnlyStaleWorkspacesOfEarlierRunsAreRemoved) {
  enum class Use { kNone, kHeldByLauncher, kProgramRunsFromIt, kJarOpen };
  const struct {
    const char* tag;
    std::wstring name;
    int ageHours;
    Use use;
    bool removed;
    std::vector<std::wstring> files = {};  // more files directly inside
  } folders[] = {
      {"stale, with a runtime inside", L"Brackenhue-oldaa", 30, Use::kNone, true},
      {"stale, with every entry a launcher writes",
       L"Brackenhue-allaa",
       30,
       Use::kNone,
       true,
       {L"brackenhue.jar", L"ant.install.log", L"bhx0A1B.tmp"}},
      // The installer left it there for the user: it stays, and so does
      // the folder with everything in it.
      {"stale, with a log the installer left", L"Brackenhue-logaa", 30, Use::kNone, false, {L"install-log.txt"}},
      {"stale, with a folder the installer left", L"Brackenhue-diraa", 30, Use::kNone, false, {L"backup\\"}},
      {"fresh", L"Brackenhue-newaa", 2, Use::kNone, false},
      {"stale but held by a running launcher", L"Brackenhue-runaa", 30, Use::kHeldByLauncher, false},
      // A relaunched installer that outlived its launcher.
      {"stale but its javaw still runs", L"Brackenhue-javaa", 30, Use::kProgramRunsFromIt, false},
      {"stale but its jar is open", L"Brackenhue-jaraa", 30, Use::kJarOpen, false},
      {"look-alike: four letters", L"Brackenhue-abcd", 30, Use::kNone, false},
      {"look-alike: capitals", L"Brackenhue-ABCDE", 30, Use::kNone, false},
      {"look-alike: six letters", L"Brackenhue-abcdef", 30, Use::kNone, false},
  };
  // A read-only file outside TMP, hard-linked into every folder: its
  // attributes belong to the file, whichever name they are changed through.
  TempDir outside(L"outside");
  const std::wstring linkedFile = outside.file(L"shared.dll");
  ASSERT_TRUE(writeFile(linkedFile, "shared"));
  ASSERT_TRUE(SetFileAttributesW(linkedFile.c_str(), FILE_ATTRIBUTE_READONLY));
  std::vector<UniqueFileHandle> holders;
  std::vector<UniqueHandle> running;
  for (const auto& f : folders) {
    const std::wstring folder = tmp.file(f.name);
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\jre").c_str(), nullptr));
    ASSERT_TRUE(writeFile(folder + L"\\jre\\release", "JAVA_VERSION=\"1.8.0_281\"\n"));
    ASSERT_TRUE(writeFile(folder + L"\\jre_x64.exe", "MZ"));
    for (const std::wstring& file : f.files) {
      if (file.back() == L'\\') {
        ASSERT_TRUE(CreateDirectoryW((folder + L"\\" + file).c_str(), nullptr));
      } else {
        ASSERT_TRUE(writeFile(folder + L"\\" + file, "left"));
      }
    }
    ASSERT_TRUE(CreateHardLinkW((folder + L"\\jre\\linked.dll").c_str(), linkedFile.c_str(), nullptr));
    if (f.use == Use::kProgramRunsFromIt) {
      ASSERT_TRUE(CreateDirectoryW((folder + L"\\jre\\bin").c_str(), nullptr));
      ASSERT_TRUE(CopyFileW(build(L"fixture_program.exe").c_str(), (folder + L"\\jre\\bin\\javaw.exe").c_str(),
                            FALSE));
    }
    if (f.use == Use::kJarOpen) {
      ASSERT_TRUE(writeFile(folder + L"\\brackenhue.jar", "PK"));
    }
    age(folder + L"\\jre", f.ageHours);
    age(folder, f.ageHours);
    if (f.use == Use::kHeldByLauncher) {
      // As a running launcher holds its own workspace.
      holders.emplace_back(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
      ASSERT_TRUE(holders.back().valid());
    }
    if (f.use == Use::kJarOpen) {
      // As a running Java holds its jar.
      holders.emplace_back(CreateFileW((folder + L"\\brackenhue.jar").c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(holders.back().valid());
    }
    if (f.use == Use::kProgramRunsFromIt) {
      running.push_back(startChild(folder + L"\\jre\\bin\\javaw.exe", L"javaw.exe sleep 60000"));
      ASSERT_TRUE(running.back().valid());
    }
  }
  const InstallRun run = install(L"launcher-java18.exe", start.path());
  EXPECT_EQ(run.result.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty()) << describe(run.boxes);
  holders.clear();
  for (const UniqueHandle& process : running) {
    TerminateProcess(process.get(), 0);
    WaitForSingleObject(process.get(), INFINITE);
  }
  for (const auto& f : folders) {
    SCOPED_TRACE(f.tag);
    const std::wstring folder = tmp.file(f.name);
    EXPECT_EQ(fileExists(folder), !f.removed);
    if (!f.removed) {
      EXPECT_TRUE(fileExists(folder + L"\\jre\\release")) << "nothing inside a kept folder may go";
    }
  }
  // And the run's own workspace is gone as always.
  const size_t kept = std::count_if(std::begin(folders), std::end(folders), [](const auto& f) { return !f.removed; });
  EXPECT_EQ(folderEntries(tmp.path()).size(), kept) << listing(tmp.path());
  // The removed link took nothing from the file outside.
  EXPECT_EQ(GetFileAttributesW(linkedFile.c_str()) & FILE_ATTRIBUTE_READONLY, DWORD{FILE_ATTRIBUTE_READONLY});
  std::string shared;
  EXPECT_TRUE(readFile(linkedFile, &shared));
  EXPECT_EQ(shared, "shared");
  SetFileAttributesW(linkedFile.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Installing, TwoLaunchersStartedTogetherGetTwoWorkspaces) {
  InstallRun first, second;
  std::thread other([&] {
    // A watcher and records of its own would be needed for a full check;
    // the second run's boxes are dismissed by its own watcher.
    BoxWatcher ownWatcher;
    const std::wstring program = programFor(L"launcher-java18.exe");
    second.result = runChild(program, L"\"" + program + L"\"", start.path(), optionsFor({}, ownWatcher));
    second.boxes = ownWatcher.boxes();
  });
  first = install(L"launcher-java18.exe", start.path());
  other.join();
  EXPECT_EQ(first.result.exitCode, 0u);
  EXPECT_EQ(second.result.exitCode, 0u);
  EXPECT_TRUE(second.boxes.empty()) << describe(second.boxes);
  // Both installers ran, each in a workspace of its own. The records of a
  // run that ended later may be collected by neither install(): read them
  // all now.
  std::vector<std::string> folders;
  for (const auto& record : first.javaw) folders.push_back(record.at("folder"));
  for (const std::wstring& name : folderEntries(records.path())) {
    std::string text;
    readFile(records.file(name), &text);
    const size_t at = text.find("folder=");
    folders.push_back(text.substr(at + 7, text.find('\n', at) - at - 7));
  }
  ASSERT_EQ(folders.size(), 2u) << first.result.err;
  EXPECT_NE(folders[0], folders[1]);
  EXPECT_TRUE(folderEntries(tmp.path()).empty()) << listing(tmp.path());
}

}  // namespace
