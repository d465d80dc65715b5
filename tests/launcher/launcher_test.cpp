// The launcher started the way a user or a script starts it: its own
// executable, an exact command line, standard streams on pipes. The builds
// under test sit beside this program:
//   launcher-three.exe  carries a three-chunk installer archive
//   launcher-nojar.exe  carries a runtime archive but no installer archive
//   brackenhue-setup.exe  the real build around the demo installer

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "tests/support/box_watcher.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"

namespace {

const char kOpening[] =
    "----------------------------\n"
    "Extracting java installer...\n"
    "----------------------------\n";
const char kCompletion[] =
    "\n"
    "Extraction complete\n"
    "You can now type java -jar brackenhue.jar to run the installer from the command line\n";
const char kNotice[] =
    "-text is depricated, please use -extract and then run \"java -jar brackenhue.jar text\"\n";

std::wstring build(const wchar_t* name) { return executableDir() + L"\\" + name; }

std::string fixture(const wchar_t* relative) {
  std::string bytes;
  EXPECT_TRUE(readFile(executableDir() + L"\\fixtures\\" + relative, &bytes)) << narrow(relative);
  return bytes;
}

// TMP names a missing folder, so that an installing run ends right after
// the splash window's first step with the temp-folder box (dismissed by
// `watcher`) and exit code -1.
ChildResult runIn(const TempDir& dir, const wchar_t* exe, const std::wstring& commandLine,
                  BoxWatcher* watcher = nullptr) {
  ChildOptions options;
  options.environment = {{L"TMP", dir.file(L"no such folder")}};
  BoxWatcher own;
  options.watcher = watcher ? watcher : &own;
  ChildResult result = runChild(build(exe), commandLine, dir.path(), options);
  EXPECT_TRUE(result.started) << narrow(commandLine);
  EXPECT_FALSE(result.timedOut) << narrow(commandLine);
  return result;
}

enum class Expect { kExtract, kInstall, kInstallWithNotice };

struct CommandLineCase {
  const char* tag;
  const wchar_t* commandLine;
  Expect expect;
};

const CommandLineCase kCommandLines[] = {
    {"-x", L"launcher-three.exe -x", Expect::kExtract},
    {"-extract", L"launcher-three.exe -extract", Expect::kExtract},
    {"--extract", L"launcher-three.exe --extract", Expect::kExtract},
    {"several blanks before -x", L"launcher-three.exe     -x", Expect::kExtract},
    {"tab before -x", L"launcher-three.exe\t-x", Expect::kExtract},
    {"quoted program name with blanks", L"\"C:\\Program Files\\Brackenhue\\my setup.exe\" -x", Expect::kExtract},
    {"non-ASCII program name", L"C:\\\u0423\u0441\u0442\u0430\u043d\u043e\u0432\u043a\u0430\\\u5b89\u88c5.exe -x",
     Expect::kExtract},
    {"-x with a trailing blank", L"launcher-three.exe -x ", Expect::kInstall},
    {"-x and a further word", L"launcher-three.exe -x now", Expect::kInstall},
    {"-x in double quotes", L"launcher-three.exe \"-x\"", Expect::kInstall},
    {"upper case", L"launcher-three.exe -X", Expect::kInstall},
    {"slash", L"launcher-three.exe /extract", Expect::kInstall},
    {"no hyphen", L"launcher-three.exe extract", Expect::kInstall},
    {"no argument", L"launcher-three.exe", Expect::kInstall},
    {"-text", L"launcher-three.exe -text", Expect::kInstallWithNotice},
    {"text", L"launcher-three.exe text", Expect::kInstallWithNotice},
    {"-text in upper case", L"launcher-three.exe -TEXT", Expect::kInstall},
    {"-text with a trailing blank", L"launcher-three.exe -text ", Expect::kInstall},
    {"text and a further word", L"launcher-three.exe text more", Expect::kInstall},
};

TEST(LauncherCommandLine, SelectsTheModeFromTheExactLine) {
  const std::string archive = fixture(L"payloads\\three-chunk.jar");
  for (const CommandLineCase& c : kCommandLines) {
    SCOPED_TRACE(c.tag);
    TempDir dir;
    BoxWatcher watcher;
    ChildResult run = runIn(dir, L"launcher-three.exe", c.commandLine, &watcher);
    std::string written;
    bool wroteJar = readFile(dir.file(L"brackenhue.jar"), &written);
    const std::vector<SeenBox> boxes = watcher.boxes();
    if (c.expect == Expect::kExtract) {
      EXPECT_EQ(run.exitCode, 0u);
      EXPECT_EQ(run.out, std::string(kOpening) + kCompletion);
      EXPECT_EQ(run.err, "");
      EXPECT_TRUE(wroteJar);
      EXPECT_EQ(written, archive);
      EXPECT_TRUE(boxes.empty()) << describe(boxes);
    } else {
      // The installing mode: its first step fails on the missing TMP folder.
      EXPECT_EQ(run.exitCode, 0xFFFFFFFFu);
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(run.err, c.expect == Expect::kInstallWithNotice ? kNotice : "");
      EXPECT_FALSE(wroteJar);
      ASSERT_EQ(boxes.size(), 1u) << describe(boxes);
      EXPECT_EQ(boxes[0].caption, "Failed to create the temp folder.");
    }
  }
}

TEST(LauncherExtraction, WithoutAnArchiveSaysSoAndFails) {
  TempDir dir;
  ChildResult run = runIn(dir, L"launcher-nojar.exe", L"launcher-nojar.exe -x");
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_EQ(run.out, kOpening);
  EXPECT_EQ(run.err, "error: this program carries no installer archive (JAR_1)\n");
  EXPECT_TRUE(folderEntries(dir.path()).empty());
}

TEST(LauncherExtraction, ReplacesAnEarlierArchive) {
  TempDir dir;
  ASSERT_TRUE(writeFile(dir.file(L"brackenhue.jar"), std::string(9000, 'o')));
  ChildResult run = runIn(dir, L"launcher-three.exe", L"launcher-three.exe -x");
  EXPECT_EQ(run.exitCode, 0u);
  std::string written;
  ASSERT_TRUE(readFile(dir.file(L"brackenhue.jar"), &written));
  EXPECT_EQ(written, fixture(L"payloads\\three-chunk.jar"));
}

TEST(LauncherExtraction, UnwritableFolderFailsWithOneLineNamingTheFile) {
  // A folder in the way of the archive, in a folder outside the ANSI code page.
  TempDir dir(L"\u0423\u0441\u0442\u0430\u043d\u043e\u0432\u043a\u0430");
  const std::wstring jar = dir.file(L"brackenhue.jar");
  ASSERT_TRUE(CreateDirectoryW(jar.c_str(), nullptr));
  ChildResult run = runIn(dir, L"launcher-three.exe", L"launcher-three.exe -x");
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_EQ(run.out, kOpening);
  ASSERT_FALSE(run.err.empty());
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
  EXPECT_NE(run.err.find(narrow(jar)), std::string::npos) << run.err;
  EXPECT_TRUE(isDirectory(jar));
}

// Another program (a virus scanner, an open editor) holds the earlier jar
// open without sharing deletion, from a process of its own.
class Holder {
 public:
  Holder(const std::wstring& path, unsigned long ms) {
    process_ = startChild(build(L"fixture_program.exe"),
                          L"fixture_program.exe hold \"" + path + L"\" sleep " + std::to_wstring(ms));
    if (!process_) {
      ADD_FAILURE() << "holder did not start";
      return;
    }
    // Held once an open that shares everything is refused. Starting a
    // program under Wine now and then takes over a second.
    for (const ULONGLONG until = GetTickCount64() + 10000; GetTickCount64() < until;) {
      HANDLE probe = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
      if (probe == INVALID_HANDLE_VALUE) return;
      CloseHandle(probe);
      Sleep(2);
    }
    ADD_FAILURE() << "the holder never took " << narrow(path);
  }
  ~Holder() {
    if (process_) {
      TerminateProcess(process_.get(), 0);
      WaitForSingleObject(process_.get(), INFINITE);
    }
  }

 private:
  UniqueHandle process_;
};

TEST(LauncherExtraction, EarlierArchiveHeldOrReadOnly) {
  const std::string earlier = "the earlier jar, " + std::string(5000, 'e');
  const std::string archive = fixture(L"payloads\\three-chunk.jar");
  enum class Obstacle { kHeld, kReadOnly, kKilledWhileWaiting };
  const struct {
    const char* tag;
    Obstacle obstacle;
    unsigned long holdMs;
    uint32_t exitCode;
    const char* errFragment;   // in the one line on standard error
    unsigned long minMs, maxMs;  // how long the run takes
  } cases[] = {
      {"held 1.2 s: the replace waits it out", Obstacle::kHeld, 1200, 0, nullptr, 1000, 4000},
      {"held 5 s: in use", Obstacle::kHeld, 5000, 1, "it is in use by another program", 1500, 4500},
      {"read-only: said at once", Obstacle::kReadOnly, 0, 1, "the file there is read-only", 0, 1000},
      // Killed while it waits with the whole payload in its temporary file.
      {"killed mid-run", Obstacle::kKilledWhileWaiting, 5000, 0xDEAD, nullptr, 0, 4500},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    TempDir dir;
    const std::wstring jar = dir.file(L"brackenhue.jar");
    ASSERT_TRUE(writeFile(jar, earlier));
    if (c.obstacle == Obstacle::kReadOnly) {
      ASSERT_TRUE(SetFileAttributesW(jar.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    std::optional<Holder> holder;
    if (c.holdMs) holder.emplace(jar, c.holdMs);

    ChildOptions options;
    options.environment = {{L"TMP", dir.file(L"no such folder")}};
    std::thread killer;
    std::wstring seenTemporary;
    if (c.obstacle == Obstacle::kKilledWhileWaiting) {
      options.onStarted = [&](unsigned long processId) {
        killer = std::thread([&, processId] {
          HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, processId);
          // Wait for the whole payload in the temporary file, then half a
          // second into the retries.
          for (int i = 0; i < 2000 && seenTemporary.empty(); ++i) {
            // The listing's sizes: a file marked for deletion may refuse to
            // be opened by name.
            WIN32_FIND_DATAW entry;
            HANDLE search = FindFirstFileW(dir.file(L"bhx*.tmp").c_str(), &entry);
            if (search != INVALID_HANDLE_VALUE) {
              do {
                if (entry.nFileSizeLow == archive.size()) seenTemporary = entry.cFileName;
              } while (FindNextFileW(search, &entry));
              FindClose(search);
            }
            Sleep(1);
          }
          Sleep(500);
          TerminateProcess(process, 0xDEAD);
          CloseHandle(process);
        });
      };
    }
    const ULONGLONG started = GetTickCount64();
    ChildResult run = runChild(build(L"launcher-three.exe"), L"launcher-three.exe -x", dir.path(), options);
    const ULONGLONG took = GetTickCount64() - started;
    if (killer.joinable()) killer.join();
    holder.reset();
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_GE(took, c.minMs);
    EXPECT_LT(took, c.maxMs);
    std::string written;
    ASSERT_TRUE(readFile(jar, &written));
    if (c.exitCode == 0) {
      EXPECT_EQ(written, archive);
      EXPECT_EQ(run.err, "");
    } else {
      EXPECT_EQ(written, earlier) << "the earlier jar must stay as it was";
    }
    if (c.errFragment) {
      EXPECT_EQ(run.err, "error: cannot replace \"" + narrow(jar) + "\": " + c.errFragment + "\n");
    }
    if (c.obstacle == Obstacle::kKilledWhileWaiting) {
      EXPECT_FALSE(seenTemporary.empty()) << "the whole payload never showed in a temporary file";
    }
    SetFileAttributesW(jar.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::wstring>{L"brackenhue.jar"}) << "a temporary file was left";
  }
}

TEST(LauncherExtraction, NonAnsiWorkingFolder) {
  TempDir dir(L"\u5b89\u88c5 \u0442\u0435\u0441\u0442");
  ChildResult run = runIn(dir, L"launcher-three.exe", L"launcher-three.exe -x");
  EXPECT_EQ(run.exitCode, 0u);
  std::string written;
  ASSERT_TRUE(readFile(dir.file(L"brackenhue.jar"), &written));
  EXPECT_EQ(written, fixture(L"payloads\\three-chunk.jar"));
}

TEST(LauncherExtraction, RealBuildWritesTheDemoInstaller) {
  TempDir dir;
  ChildResult run = runIn(dir, L"brackenhue-setup.exe", L"\"brackenhue-setup.exe\" -x");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.out, std::string(kOpening) + kCompletion);
  std::string written;
  ASSERT_TRUE(readFile(dir.file(L"brackenhue.jar"), &written));
  EXPECT_EQ(written, fixture(L"installer.jar"));
}

}  // namespace
