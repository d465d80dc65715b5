#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/installing_plan.h"

namespace {

TEST(InstallingPlan, StartFolderLosesOneTrailingBackslash) {
  const struct {
    const char* tag;
    const char* current;
    const char* shown;
  } cases[] = {
      {"drive root", "C:\\", "C:"},
      {"ordinary folder", "C:\\Users\\ana\\Downloads", "C:\\Users\\ana\\Downloads"},
      {"only one backslash goes", "C:\\odd\\\\", "C:\\odd\\"},
      {"forward slash stays", "C:/Users/", "C:/Users/"},
      {"share root", "\\\\server\\share\\", "\\\\server\\share"},
      {"UTF-8 letters untouched", "C:\\\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0", "C:\\\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0"},
  };
  for (const auto& c : cases) EXPECT_EQ(startFolderText(c.current), c.shown) << c.tag;
}

TEST(InstallingPlan, InstallerCommandIsBuiltCharacterForCharacter) {
  const struct {
    const char* tag;
    const char* javaw;
    const char* start;
    const char* command;
  } cases[] = {
      {"workspace runtime", "jre\\bin\\javaw.exe", "C:\\Users\\ana\\Downloads",
       "\"jre\\bin\\javaw.exe\" \"-Dorig.dir=C:\\Users\\ana\\Downloads\" -jar brackenhue.jar"},
      {"drive root", "jre\\bin\\javaw.exe", "C:", "\"jre\\bin\\javaw.exe\" \"-Dorig.dir=C:\" -jar brackenhue.jar"},
      {"blanks and parentheses stay inside the quotes", "C:\\Program Files (x86)\\Java\\jre8\\bin\\javaw.exe",
       "D:\\My Files", "\"C:\\Program Files (x86)\\Java\\jre8\\bin\\javaw.exe\" \"-Dorig.dir=D:\\My Files\" -jar "
       "brackenhue.jar"},
  };
  for (const auto& c : cases) EXPECT_EQ(installerCommand(c.javaw, c.start), c.command) << c.tag;
}

TEST(InstallingPlan, CleanUpCommandNamesTheRuntimeInFull) {
  const struct {
    const char* tag;
    const char* workspace;
    const char* command;
  } cases[] = {
      {"plain", "C:\\Temp\\Brackenhue-abcde", "cmd.exe /d /v:off /c rd /s /q \"C:\\Temp\\Brackenhue-abcde\\jre\""},
      {"blanks", "C:\\Users\\Ana Maria\\Temp\\Brackenhue-abcde",
       "cmd.exe /d /v:off /c rd /s /q \"C:\\Users\\Ana Maria\\Temp\\Brackenhue-abcde\\jre\""},
      {"& and ( stay inside the quotes", "C:\\R&D (temp)\\Brackenhue-abcde",
       "cmd.exe /d /v:off /c rd /s /q \"C:\\R&D (temp)\\Brackenhue-abcde\\jre\""},
      {"! as written, % kept from cmd's expansion", "C:\\100%\\Hi!\\%USERNAME%\\Brackenhue-abcde",
       "cmd.exe /d /v:off /c rd /s /q \"C:\\100%\"\"\\Hi!\\%\"\"USERNAME%\"\"\\Brackenhue-abcde\\jre\""},
      {"UNC", "\\\\server\\share\\temp\\Brackenhue-abcde",
       "cmd.exe /d /v:off /c rd /s /q \"\\\\server\\share\\temp\\Brackenhue-abcde\\jre\""},
      {"two backslashes from a TMP ending in one stay", "C:\\Temp\\\\Brackenhue-abcde",
       "cmd.exe /d /v:off /c rd /s /q \"C:\\Temp\\\\Brackenhue-abcde\\jre\""},
  };
  for (const auto& c : cases) EXPECT_EQ(removeRuntimeCommand(c.workspace), c.command) << c.tag;
}

TEST(InstallingPlan, InsideTheWorkspace) {
  const std::string ws = "C:\\USERS\\ANA\\TEMP\\BRACKENHUE-ABCDE";
  const struct {
    const char* tag;
    std::string path;
    std::string folder;
    bool inside;
  } cases[] = {
      {"its runtime's javaw", ws + "\\JRE\\BIN\\JAVAW.EXE", ws, true},
      {"folder given with a trailing backslash", ws + "\\JRE\\BIN\\JAVAW.EXE", ws + "\\", true},
      {"a longer name beside it", ws + "F\\JRE\\BIN\\JAVAW.EXE", ws, false},
      {"the folder itself", ws, ws, false},
      {"its parent", "C:\\USERS\\ANA\\TEMP\\X.EXE", ws, false},
      {"no folder", ws + "\\X.EXE", "", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isInsideFolder(c.path, c.folder), c.inside) << c.tag;
}

TEST(InstallingPlan, CleanUpFiles) {
  const std::vector<std::string> files(kCleanedFiles, kCleanedFiles + 3);
  EXPECT_EQ(files, (std::vector<std::string>{"ant.install.log", "brackenhue.jar", "jre_x64.exe"}));
}

TEST(InstallingPlan, NoJavaReasons) {
  EXPECT_EQ(noJavaReason(true),
            "This version of Brackenhue requires java 1.8.0_00 or greater, but your java is too old.\n");
  EXPECT_EQ(noJavaReason(false),
            "This version of Brackenhue requires java 1.8.0_00 or greater, but java could not be found on your "
            "computer.\n");
}

TEST(InstallingPlan, RuntimeThatCouldNotBeUnpacked) {
  const std::string opening = "This version of Brackenhue requires java 1.8.0_00 or greater, but ";
  EXPECT_EQ(runtimeNotUnpackedReason(2), opening + "the bundled Java runtime could not be unpacked (exit code 2).\n");
  EXPECT_EQ(runtimeNotUnpackedReason(-1), opening + "the bundled Java runtime could not be unpacked (it did not start).\n");
  EXPECT_EQ(runtimeNotUnpackedReason(-1073741515),
            opening + "the bundled Java runtime could not be unpacked (exit code -1073741515).\n");
  // The system's reason for a program that did not start, without its full stop.
  EXPECT_EQ(runtimeNotUnpackedReason(-1, "The process cannot access the file because it is being used by another "
                                         "process. "),
            opening +
                "the bundled Java runtime could not be unpacked (it did not start: The process cannot access the "
                "file because it is being used by another process).\n");
  EXPECT_EQ(runtimeNotUnpackedReason(2, "ignored for an exit code"),
            opening + "the bundled Java runtime could not be unpacked (exit code 2).\n");
}

// An archive the build made exits 0 only when it wrote every file; a
// ready-made one may warn with other codes, and its java decides.
TEST(InstallingPlan, WhichRuntimesAreSearched) {
  RuntimeFacts made = readRuntimeFacts("longest_path=19\n");
  const RuntimeFacts readyMade;
  EXPECT_TRUE(made.madeByBuild);
  EXPECT_TRUE(readRuntimeFacts("").madeByBuild) << "the resource alone tells";
  const struct {
    const char* tag;
    int exitCode;
    const RuntimeFacts& facts;
    bool searched;
  } cases[] = {
      {"made, whole", 0, made, true},
      {"made, a file not written", 2, made, false},
      {"made, a warning", 1, made, false},
      {"made, did not start", -1, made, false},
      {"ready-made, whole", 0, readyMade, true},
      {"ready-made, a warning", 1, readyMade, true},
      {"ready-made, failed", 2, readyMade, true},
  };
  for (const auto& c : cases) EXPECT_EQ(runtimeMayBeSearched(c.exitCode, c.facts), c.searched) << c.tag;
}

TEST(InstallingPlan, FailedWritesSayWhatHelps) {
  const std::string line = "cannot write \"C:\\T\\Brackenhue-abcde\\jre_x64.exe\": reason";
  const std::string opening = "The installation could not write a file it needs in the temp folder:\n" + line + "\n";
  EXPECT_EQ(notWrittenText(line, true), opening +
                                            "Please make room on that disk, or set the environment variable TMP to a "
                                            "folder you have permission to write to.");
  EXPECT_EQ(notWrittenText(line, false), opening +
                                             "Please try again, or set the environment variable TMP to a folder you "
                                             "have permission to write to.");
  EXPECT_EQ(extractionErrorLine(true, "JAR_1"), "this program carries no installer archive (JAR_1)");
  EXPECT_EQ(extractionErrorLine(false, line), line);
  EXPECT_STREQ(kIncompleteText,
               "This installer is incomplete (it carries no installer archive). Please download it again.");
}

TEST(InstallingPlan, WorkspaceNameKeepsTmpAsItIs) {
  EXPECT_EQ(workspacePath("C:\\Temp", "abcde"), "C:\\Temp\\Brackenhue-abcde");
  EXPECT_EQ(workspacePath("C:\\Temp\\", "zzzzz"), "C:\\Temp\\\\Brackenhue-zzzzz");
}

TEST(InstallingPlan, WorkspaceNamesAndStaleness) {
  const struct {
    const char* name;
    bool workspace;
  } names[] = {
      {"Brackenhue-abcde", true},  {"Brackenhue-zzzzz", true},  {"Brackenhue-abcd", false},
      {"Brackenhue-abcdef", false}, {"Brackenhue-ABCDE", false}, {"brackenhue-abcde", false},
      {"Brackenhue-abc1e", false},  {"Brackenhue_abcde", false}, {"xBrackenhue-abcde", false},
      {"", false},
  };
  for (const auto& c : names) EXPECT_EQ(isWorkspaceName(c.name), c.workspace) << c.name;

  const uint64_t now = 1796000000;
  EXPECT_FALSE(isStaleWorkspace(now, now));
  EXPECT_FALSE(isStaleWorkspace(now - kStaleWorkspaceSeconds, now)) << "exactly a day";
  EXPECT_TRUE(isStaleWorkspace(now - kStaleWorkspaceSeconds - 1, now));
  EXPECT_FALSE(isStaleWorkspace(now + 3600, now)) << "a time in the future is not old";
}

// A killed run leaves only what the launcher writes; anything else in a
// stale workspace was left there on purpose and keeps it.
TEST(InstallingPlan, LauncherEntriesOfAWorkspace) {
  const struct {
    const char* name;
    bool folder;
    bool launchers;
  } cases[] = {
      {"jre", true, true},
      {"jre_x64.exe", false, true},
      {"brackenhue.jar", false, true},
      {"ant.install.log", false, true},
      {"bhx00AF.tmp", false, true},
      {"bhxFFFF.tmp", false, true},
      {"jre", false, false},  // a file named like the runtime's folder
      {"jre_x64.exe", true, false},
      {"install.log", false, false},
      {"product.exe", false, false},
      {"JRE", true, false},
      {"Brackenhue.jar", false, false},
      {"bhx00af.tmp", false, false},
      {"bhx00AG.tmp", false, false},
      {"bhx00A.tmp", false, false},
      {"bhx00AF0.tmp", false, false},
      {"bhx00AF.tmpx", false, false},
      {"", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isLauncherEntry(c.name, c.folder), c.launchers) << c.name << (c.folder ? " (folder)" : " (file)");
  }
}

// SYSTEM and Administrators always; the user only when the launcher runs
// as the user, unelevated. The owner is always named.
TEST(InstallingPlan, WorkspacePermissionsFollowTheAccount) {
  const std::string privileged = "(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  const std::string user = "S-1-5-21-1004336348-1177238915-682003330-1001";
  const struct {
    const char* tag;
    const char* sid;
    bool elevatedAdmin;
    std::string sddl;
  } cases[] = {
      {"a user, unelevated", user.c_str(), false, "O:" + user + "D:P" + privileged + "(A;OICI;FA;;;" + user + ")"},
      {"a user run as administrator", user.c_str(), true, "O:BAD:P" + privileged},
      {"SYSTEM, as a deployment tool runs it", "S-1-5-18", false, "O:SYD:P" + privileged},
      {"SYSTEM, elevated", "S-1-5-18", true, "O:SYD:P" + privileged},
      {"elevated, user unknown", "", true, "O:BAD:P" + privileged},
      {"unelevated, user unknown", "", false, ""},
      {"a SID that would end the entry", "S-1-5-21)(A;OICI;FA;;;WD", false, ""},
      {"not a SID", "Everyone", false, ""},
      {"only the prefix", "S-", false, ""},
  };
  for (const auto& c : cases) {
    LauncherAccount account;
    account.userSid = c.sid;
    account.elevatedAdmin = c.elevatedAdmin;
    EXPECT_EQ(workspaceSecurity(account), c.sddl) << c.tag;
  }
}

// Draws from a fixed list; records every folder asked for.
struct Drawing {
  std::vector<int> numbers;
  size_t next = 0;
  std::vector<FolderCreation> answers;
  std::vector<std::string> asked;

  bool run(const std::string& tmp, std::string& path) {
    return createWorkspace(
        tmp, [this] { return numbers[next++ % numbers.size()]; },
        [this](const std::string& folder) {
          asked.push_back(folder);
          return answers[std::min(asked.size(), answers.size()) - 1];
        },
        path);
  }
};

TEST(InstallingPlan, WorkspaceCreationDrawsAgainOnlyWhenTheNameIsTaken) {
  using F = FolderCreation;
  const struct {
    const char* tag;
    std::vector<int> numbers;
    std::vector<F> answers;
    bool created;
    std::vector<std::string> asked;
  } cases[] = {
      {"first name free", {0, 1, 2, 3, 4}, {F::kCreated}, true, {"T\\Brackenhue-abcde"}},
      {"letters are the drawn number % 26", {25, 26, 27, 32767, 51}, {F::kCreated}, true, {"T\\Brackenhue-zabhz"}},
      {"taken twice, then free",
       {0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2},
       {F::kExists, F::kExists, F::kCreated},
       true,
       {"T\\Brackenhue-aaaaa", "T\\Brackenhue-bbbbb", "T\\Brackenhue-ccccc"}},
      {"missing TMP folder: no second name", {0}, {F::kFailed}, false, {"T\\Brackenhue-aaaaa"}},
  };
  for (const auto& c : cases) {
    Drawing drawing{c.numbers, 0, c.answers, {}};
    std::string path;
    EXPECT_EQ(drawing.run("T", path), c.created) << c.tag;
    EXPECT_EQ(drawing.asked, c.asked) << c.tag;
    EXPECT_EQ(path, c.asked.back()) << c.tag;
  }
}

TEST(InstallingPlan, WorkspaceCreationGivesUpAfterItsBound) {
  Drawing drawing{{0, 1, 2, 3, 4, 5, 6}, 0, {FolderCreation::kExists}, {}};
  std::string path;
  EXPECT_FALSE(drawing.run("T", path));
  EXPECT_EQ(drawing.asked.size(), static_cast<size_t>(kWorkspaceAttempts));
}

TEST(InstallingPlan, RuntimeFactsAreReadOrLeftUnknown) {
  const struct {
    const char* tag;
    const char* text;
    uint64_t bytes;
    uint32_t longest;
  } cases[] = {
      {"as the build writes them", "unpacked_bytes=125380807\nlongest_path=87\njava_feature=17\n", 125380807, 87},
      {"CR LF and no last line end", "longest_path=40\r\nunpacked_bytes=5", 5, 40},
      {"nothing", "", 0, 0},
      {"not a number", "unpacked_bytes=12a\nlongest_path=-3\n", 0, 0},
      {"blank around the value", "unpacked_bytes= 12\nlongest_path=9 \n", 0, 0},
      {"too large for its field", "unpacked_bytes=99999999999999999999\nlongest_path=4294967296\n", 0, 0},
      {"largest that fits", "unpacked_bytes=9999999999999999999\nlongest_path=4294967295\n", 9999999999999999999ull,
       4294967295u},
      {"unknown keys and stray lines", "size=4\nlongest_path\n=7\nlongest_path=7\n", 0, 7},
  };
  for (const auto& c : cases) {
    const RuntimeFacts facts = readRuntimeFacts(c.text);
    EXPECT_EQ(facts.unpackedBytes, c.bytes) << c.tag;
    EXPECT_EQ(facts.longestPath, c.longest) << c.tag;
  }
}

TEST(InstallingPlan, RuntimeMustFitBelowTheWorkspace) {
  RuntimeFacts facts;
  const struct {
    const char* tag;
    size_t workspace;
    uint32_t longest;
    bool fits;
  } cases[] = {
      {"exactly MAX_PATH less the terminator", 158, 100, true},
      {"one more", 159, 100, false},
      {"unknown longest path", 5000, 0, true},
  };
  for (const auto& c : cases) {
    facts.longestPath = c.longest;
    EXPECT_EQ(runtimeFitsBelow(c.workspace, facts), c.fits) << c.tag;
  }
  // The box names TMP and the most its path may have: 259 less the
  // workspace's own "\Brackenhue-xxxxx", the separator and the runtime's path.
  facts.longestPath = 100;
  const std::string text = tmpTooLongText("C:\\T", 4, 21, facts);
  EXPECT_NE(text.find("\nC:\\T\n"), std::string::npos) << text;
  EXPECT_NE(text.find("at most 141 characters"), std::string::npos) << text;
  facts.longestPath = 300;
  EXPECT_NE(tmpTooLongText("C:\\T", 4, 21, facts).find("at most 0 characters"), std::string::npos);
}

TEST(InstallingPlan, RuntimeThatFailedOnAFullDiskIsToldAsSuch) {
  RuntimeFacts facts;
  facts.unpackedBytes = 120 * 1048576ull + 1;
  EXPECT_TRUE(runtimeLackedRoom(30 * 1048576ull, facts));
  // Files fill whole clusters: a twentieth more is needed.
  EXPECT_TRUE(runtimeLackedRoom(facts.unpackedBytes, facts));
  EXPECT_TRUE(runtimeLackedRoom(facts.unpackedBytes + facts.unpackedBytes / 20 - 1, facts));
  EXPECT_FALSE(runtimeLackedRoom(facts.unpackedBytes + facts.unpackedBytes / 20, facts));
  EXPECT_FALSE(runtimeLackedRoom(0, RuntimeFacts{}));
  // The need is rounded up, what was free down: never "needs 120, had 120".
  EXPECT_EQ(runtimeNoRoomLine("T:\\Brackenhue-abcde\\jre", "T:\\", 120 * 1048576ull, facts),
            "the bundled Java runtime could not be unpacked into T:\\Brackenhue-abcde\\jre: it needs 121 MB, but "
            "the disk T:\\ had only 120 MB free");
}

TEST(InstallingPlan, DiskOfAPathIsReadFromItsText) {
  const struct {
    const char* path;
    const char* disk;
  } cases[] = {
      {"C:\\Users\\ana\\Temp\\Brackenhue-abcde", "C:\\"},
      {"Z:\\", "Z:\\"},
      {"\\\\server\\share\\temp\\Brackenhue-abcde", "\\\\server\\share\\"},
      {"\\\\server\\share", "\\\\server\\share\\"},
      {"\\\\server", "\\\\server"},
      {"\\\\\\share\\x", "\\\\\\share\\x"},
      {"relative\\path", "relative\\path"},
  };
  for (const auto& c : cases) EXPECT_EQ(diskOf(c.path), c.disk) << c.path;
}

}  // namespace
