#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "javafind/java_search.h"
#include "process/interpreter.h"
#include "tests/unit/fake_java_platform.h"

namespace {

using Strings = std::vector<std::string>;

const char kJava8[] = "java version \"1.8.0_281\"\nJava(TM) SE Runtime Environment (build 1.8.0_281-b09)\n";
const char kJava7[] = "java version \"1.7.0_80\"\n";
const char kJava8Exact[] = "java version \"1.8.0\"\n";
const char kJava17[] = "openjdk version \"17.0.1\" 2021-10-19\n";

const char kHeader[] = "Searching for a JVM\n";
const char kPriority[] = " - trying priority hint: ";
const char kJavaHome[] = " - trying JAVA_HOME: ";
const char kJreHome[] = " - trying JRE_HOME: ";
const char kRegistry[] = " - trying the registry: ";
const char kHint[] = " - trying hint: ";
const char kPath[] = " - Looking on PATH (possibly yielding a pseudo, but passable, JAVA_HOME such as /usr): ";

// As cmd is handed it: a "%" in the folder is kept from expansion.
std::string probeOf(const std::string& home) { return quotedForCmd(home + "\\bin\\java.exe") + " -version"; }

std::string runtimeSubkey(const std::string& name) { return std::string(kRuntimeKey) + "\\" + name; }
std::string kitSubkey(const std::string& name) { return std::string(kDevelopmentKitKey) + "\\" + name; }

class JavaSearchTest : public ::testing::Test {
 protected:
  JavaSearchTest() { EXPECT_TRUE(minimum.setVersion("1.8.0_00")); }

  // The installing mode's first call: verbose, minimum, priority hint "jre".
  bool findVerbose() { return findJava(result, true, minimum, false, false, "jre", "", true, platform); }
  // Its second call: quiet, no minimum, no hints.
  bool findQuiet() { return findJava(result, false, minimum, false, false, "", "", false, platform); }

  FakeJavaPlatform platform;
  JavaInstall minimum;
  JavaInstall result;
};

// The three sample traces, byte for byte.

TEST_F(JavaSearchTest, SampleTracePriorityHintAccepted) {
  platform.addJava("jre", kJava8);
  platform.env["JAVA_HOME"] = "C:\\Java\\jdk1.8.0_281";
  EXPECT_TRUE(findVerbose());
  EXPECT_EQ(platform.out,
            "Searching for a JVM\n"
            " - trying priority hint: (jre) yes\n");
  EXPECT_EQ(platform.err, "");
  // Nothing after the accepted source is consulted.
  EXPECT_EQ(platform.calls, (Strings{"probe " + probeOf("jre"), "exists jre\\bin\\javac.exe"}));
  EXPECT_EQ(result.getHome(), "jre");
  EXPECT_EQ(result.javawPath(), "jre\\bin\\javaw.exe");
  EXPECT_EQ(result.versionText(), "1.8.0_281");
}

TEST_F(JavaSearchTest, SampleTraceNothingAccepted) {
  EXPECT_FALSE(findVerbose());
  EXPECT_EQ(platform.out,
            "Searching for a JVM\n"
            " - trying priority hint: (jre) no\n"
            " - trying JAVA_HOME: no\n"
            " - trying JRE_HOME: no\n"
            " - trying the registry: no\n"
            " - trying hint: no\n"
            " - Looking on PATH (possibly yielding a pseudo, but passable, JAVA_HOME such as /usr): no\n");
  EXPECT_EQ(platform.err, "");
  EXPECT_EQ(platform.callsOf("getenv"), (Strings{"JAVA_HOME", "JRE_HOME"}));
  EXPECT_EQ(platform.callsOf("subkeys"), (Strings{kRuntimeKey, kDevelopmentKitKey}));
  EXPECT_EQ(platform.callsOf("locate"), Strings{"where java 2>nul"});
  EXPECT_EQ(platform.callsOf("probe"), Strings{probeOf("jre")});
}

TEST_F(JavaSearchTest, SampleTraceJavaHomeAccepted) {
  platform.addJava("C:\\Java\\jdk1.8.0_281", kJava8, true);
  platform.env["JAVA_HOME"] = "C:\\Java\\jdk1.8.0_281";
  EXPECT_TRUE(findVerbose());
  EXPECT_EQ(platform.out,
            "Searching for a JVM\n"
            " - trying priority hint: (jre) no\n"
            " - trying JAVA_HOME: (C:\\Java\\jdk1.8.0_281) yes\n");
  EXPECT_EQ(platform.err, "");
  EXPECT_EQ(platform.callsOf("getenv"), Strings{"JAVA_HOME"});
  EXPECT_EQ(result.getHome(), "C:\\Java\\jdk1.8.0_281");
  EXPECT_TRUE(result.isJdk());
}

// Each source in turn accepts; every source before it says "no" and none
// after it is reached.
struct AcceptCase {
  const char* tag;
  void (*setUp)(FakeJavaPlatform&);
  const char* home;  // accepted folder
  std::string trace;
};

const AcceptCase kAcceptCases[] = {
    {"JRE_HOME",
     [](FakeJavaPlatform& p) {
       p.env["JRE_HOME"] = "D:\\jre";
       p.addJava("D:\\jre", kJava8);
     },
     "D:\\jre", std::string(kHeader) + kPriority + "(jre) no\n" + kJavaHome + "no\n" + kJreHome + "(D:\\jre) yes\n"},
    {"registry",
     [](FakeJavaPlatform& p) {
       p.registryKeys[kRuntimeKey] = {"1.8"};
       p.javaHomeValues[runtimeSubkey("1.8")] = std::string("C:\\Java\\jre8\0", 13);
       p.addJava("C:\\Java\\jre8", kJava8);
     },
     "C:\\Java\\jre8",
     std::string(kHeader) + kPriority + "(jre) no\n" + kJavaHome + "no\n" + kJreHome + "no\n" + kRegistry + "yes\n"},
    {"PATH",
     [](FakeJavaPlatform& p) {
       p.locate = {0, "C:\\Program Files\\Java\\jdk1.8.0_281\\bin\\java.exe\n"};
       p.addJava("C:\\Program Files\\Java\\jdk1.8.0_281", kJava8);
     },
     "C:\\Program Files\\Java\\jdk1.8.0_281",
     std::string(kHeader) + kPriority + "(jre) no\n" + kJavaHome + "no\n" + kJreHome + "no\n" + kRegistry + "no\n" +
         kHint + "no\n" + kPath + "(C:\\Program Files\\Java\\jdk1.8.0_281) yes\n"},
};

TEST_F(JavaSearchTest, EachSourceCanAccept) {
  for (const AcceptCase& c : kAcceptCases) {
    FakeJavaPlatform fresh;
    c.setUp(fresh);
    JavaInstall found;
    EXPECT_TRUE(findJava(found, true, minimum, false, false, "jre", "", true, fresh)) << c.tag;
    EXPECT_EQ(fresh.out, c.trace) << c.tag;
    EXPECT_EQ(found.getHome(), c.home) << c.tag;
    EXPECT_TRUE(found.isUsable()) << c.tag;
  }
}

TEST_F(JavaSearchTest, HintIsTriedAfterTheRegistryAndBeforeThePath) {
  platform.addJava("E:\\hinted", kJava8);
  platform.addJava("F:\\first", kJava7);
  platform.locate = {0, "C:\\jdk\\bin\\java.exe\n"};
  platform.addJava("C:\\jdk", kJava8);
  EXPECT_TRUE(findJava(result, true, minimum, false, false, "F:\\first", "E:\\hinted", true, platform));
  EXPECT_EQ(platform.out, std::string(kHeader) + kPriority + "(F:\\first) no\n" + kJavaHome + "no\n" + kJreHome +
                              "no\n" + kRegistry + "no\n" + kHint + "(E:\\hinted) yes\n");
  EXPECT_EQ(platform.callsOf("locate"), Strings{});
  EXPECT_EQ(result.getHome(), "E:\\hinted");
}

TEST_F(JavaSearchTest, EmptyPriorityHintIsNotProbed) {
  platform.env["JAVA_HOME"] = "C:\\jdk";
  platform.addJava("C:\\jdk", kJava8);
  EXPECT_TRUE(findJava(result, true, minimum, false, false, "", "", true, platform));
  EXPECT_EQ(platform.out, std::string(kHeader) + kPriority + "no\n" + kJavaHome + "(C:\\jdk) yes\n");
  EXPECT_EQ(platform.callsOf("probe"), Strings{probeOf("C:\\jdk")});
}

TEST_F(JavaSearchTest, EmptyJavaHomeIsTriedAsTheEmptyFolder) {
  platform.env["JAVA_HOME"] = "";
  EXPECT_FALSE(findVerbose());
  EXPECT_NE(platform.out.find(std::string(kJavaHome) + "() no\n"), std::string::npos) << platform.out;
  EXPECT_EQ(platform.callsOf("probe"), (Strings{probeOf("jre"), probeOf("")}));
}

TEST_F(JavaSearchTest, OlderCandidateIsRefusedAndOverwrittenByLaterOnes) {
  platform.addJava("jre", kJava7);
  platform.env["JAVA_HOME"] = "C:\\old";
  platform.addJava("C:\\old", "java version \"1.7.0_99\"\n");
  platform.env["JRE_HOME"] = "C:\\new";
  platform.addJava("C:\\new", kJava17);
  EXPECT_TRUE(findVerbose());
  EXPECT_EQ(platform.out, std::string(kHeader) + kPriority + "(jre) no\n" + kJavaHome + "(C:\\old) no\n" + kJreHome +
                              "(C:\\new) yes\n");
  EXPECT_EQ(result.getHome(), "C:\\new");
  EXPECT_EQ(result.versionText(), "1.17.0_1");
}

TEST_F(JavaSearchTest, FailureLeavesTheLastCandidateExamined) {
  platform.addJava("jre", kJava7);
  EXPECT_FALSE(findVerbose());
  // The PATH source had no candidate, so the priority hint's record stays.
  EXPECT_EQ(result.getHome(), "jre");
  EXPECT_TRUE(result.isUsable());
  EXPECT_EQ(result.versionText(), "1.7.0_80");
  EXPECT_EQ(result.compareTo(minimum), -1);
}

TEST_F(JavaSearchTest, VersionEqualToTheMinimumIsAccepted) {
  platform.addJava("jre", kJava8Exact);
  EXPECT_TRUE(findVerbose());
  EXPECT_EQ(result.compareTo(minimum), 0);
}

TEST_F(JavaSearchTest, WithoutMinimumAnyUsableCandidateIsAccepted) {
  JavaInstall impossible;
  ASSERT_TRUE(impossible.setVersion("99"));
  platform.env["JAVA_HOME"] = "C:\\old";
  platform.addJava("C:\\old", "java version \"1.5.0_22\"\n");
  EXPECT_TRUE(findJava(result, false, impossible, false, false, "", "", false, platform));
  EXPECT_EQ(result.getHome(), "C:\\old");
  // The same search with the minimum refuses it.
  EXPECT_FALSE(findJava(result, true, impossible, false, false, "", "", false, platform));
}

struct FilterCase {
  const char* tag;
  bool rejectJdk;
  bool requireJdk;
  const char* priorityHint;
  const char* accepted;  // nullptr: nothing
};

TEST_F(JavaSearchTest, CompilerFiltersRefuseAfterTheVersionTest) {
  const FilterCase cases[] = {
      {"no filter takes the first", false, false, "", "C:\\jdk"},
      {"rejectJdk passes the kit over", true, false, "", "C:\\jre"},
      {"requireJdk passes the runtime over", false, true, "C:\\jre", "C:\\jdk"},
      {"both refuse everything", true, true, "", nullptr},
  };
  for (const FilterCase& c : cases) {
    FakeJavaPlatform p;
    p.env["JAVA_HOME"] = "C:\\jdk";
    p.addJava("C:\\jdk", kJava8, true);
    p.env["JRE_HOME"] = "C:\\jre";
    p.addJava("C:\\jre", kJava8, false);
    // An old kit last: requireJdk does not lift the version test.
    p.locate = {0, "C:\\oldjdk\\bin\\java.exe\n"};
    p.addJava("C:\\oldjdk", kJava7, true);
    JavaInstall found;
    const bool ok = findJava(found, true, minimum, c.rejectJdk, c.requireJdk, c.priorityHint, "", true, p);
    EXPECT_EQ(ok, c.accepted != nullptr) << c.tag;
    if (c.accepted) {
      EXPECT_EQ(found.getHome(), c.accepted) << c.tag;
    } else {
      EXPECT_EQ(p.out, std::string(kHeader) + kPriority + "no\n" + kJavaHome + "(C:\\jdk) no\n" + kJreHome +
                           "(C:\\jre) no\n" + kRegistry + "no\n" + kHint + "no\n" + kPath + "(C:\\oldjdk) no\n")
          << c.tag;
    }
  }
}

TEST_F(JavaSearchTest, RequireJdkRefusesAnOldKit) {
  platform.locate = {0, "C:\\oldjdk\\bin\\java.exe\n"};
  platform.addJava("C:\\oldjdk", kJava7, true);
  EXPECT_FALSE(findJava(result, true, minimum, false, true, "", "", false, platform));
}

TEST_F(JavaSearchTest, QuietSearchWritesNothing) {
  platform.registryKeys[kRuntimeKey] = {"1.8"};
  platform.javaHomeValues[runtimeSubkey("1.8")] = "C:\\Java\\jre8";
  platform.locate = {0, "C:\\Java\\jdk\\bin\\java.exe\n"};
  platform.addJava("C:\\Java\\jdk", kJava7);
  EXPECT_TRUE(findQuiet());
  EXPECT_EQ(platform.out, "");
  EXPECT_EQ(platform.err, "");
  EXPECT_EQ(result.getHome(), "C:\\Java\\jdk");
  // The registry candidate was probed (and failed), without a "path: " line.
  EXPECT_EQ(platform.callsOf("probe"), (Strings{probeOf("C:\\Java\\jre8"), probeOf("C:\\Java\\jdk")}));
}

TEST_F(JavaSearchTest, SameFolderIsProbedAgainBySecondSource) {
  platform.env["JAVA_HOME"] = "C:\\Java\\jre7";
  platform.registryKeys[kRuntimeKey] = {"1.7"};
  platform.javaHomeValues[runtimeSubkey("1.7")] = "C:\\Java\\jre7";
  platform.addJava("C:\\Java\\jre7", kJava7);
  EXPECT_FALSE(findVerbose());
  EXPECT_EQ(platform.callsOf("probe"), (Strings{probeOf("jre"), probeOf("C:\\Java\\jre7"), probeOf("C:\\Java\\jre7")}));
}

// The registry source.

TEST_F(JavaSearchTest, RegistryCandidateGoesOnStandardErrorBetweenHeaderAndResult) {
  platform.registryKeys[kRuntimeKey] = {"1.8"};
  platform.javaHomeValues[runtimeSubkey("1.8")] = "C:\\Java\\jre8";
  platform.addJava("C:\\Java\\jre8", kJava8);
  EXPECT_TRUE(findJava(result, true, minimum, false, false, "", "", true, platform));
  EXPECT_EQ(platform.err, "path: C:\\Java\\jre8\n");
  const Strings tail(platform.streams.end() - 3, platform.streams.end());
  EXPECT_EQ(tail, (Strings{std::string("out:") + kRegistry, "err:path: C:\\Java\\jre8\n", "out:yes\n"}));
}

struct RegistryCase {
  const char* tag;
  std::vector<std::pair<std::string, Strings>> keys;           // key -> subkeys
  std::vector<std::pair<std::string, std::string>> javaHomes;  // subkey path -> data
  const char* valueRead;                                       // subkey path asked for "JavaHome"; nullptr: none
  const char* candidate;                                       // folder probed; nullptr: none
};

const RegistryCase kRegistryCases[] = {
    {"runtime key, last subkey in enumeration order",
     {{kRuntimeKey, {"1.8", "1.8.0_281"}}},
     {{runtimeSubkey("1.8"), "C:\\wrong"}, {runtimeSubkey("1.8.0_281"), "C:\\Java\\jre1.8.0_281"}},
     "SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.8.0_281", "C:\\Java\\jre1.8.0_281"},
    {"enumeration order, not sorted order",
     {{kRuntimeKey, {"1.8.0_281", "1.6"}}},
     {{runtimeSubkey("1.6"), "C:\\Java\\jre6"}},
     "SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.6", "C:\\Java\\jre6"},
    {"development kit wins, with \\jre",
     {{kRuntimeKey, {"1.8"}}, {kDevelopmentKitKey, {"1.8", "1.8.0_281"}}},
     {{runtimeSubkey("1.8"), "C:\\Java\\jre8"}, {kitSubkey("1.8.0_281"), "C:\\Java\\jdk1.8.0_281"}},
     "SOFTWARE\\JavaSoft\\Java Development Kit\\1.8.0_281", "C:\\Java\\jdk1.8.0_281\\jre"},
    {"development kit key without subkeys leaves the runtime's choice",
     {{kRuntimeKey, {"1.8"}}, {kDevelopmentKitKey, {}}},
     {{runtimeSubkey("1.8"), "C:\\Java\\jre8"}},
     "SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.8", "C:\\Java\\jre8"},
    {"development kit key alone",
     {{kDevelopmentKitKey, {"11"}}},
     {{kitSubkey("11"), "C:\\jdk-11"}},
     "SOFTWARE\\JavaSoft\\Java Development Kit\\11", "C:\\jdk-11\\jre"},
    {"chosen subkey without JavaHome: the other key is not tried",
     {{kRuntimeKey, {"1.8"}}, {kDevelopmentKitKey, {"1.8"}}},
     {{runtimeSubkey("1.8"), "C:\\Java\\jre8"}},
     "SOFTWARE\\JavaSoft\\Java Development Kit\\1.8", nullptr},
    {"neither key opens", {}, {}, nullptr, nullptr},
    {"keys without subkeys", {{kRuntimeKey, {}}, {kDevelopmentKitKey, {}}}, {}, nullptr, nullptr},
    {"value cut at its first NUL",
     {{kRuntimeKey, {"1.8"}}},
     {{runtimeSubkey("1.8"), std::string("C:\\Java\\jre8\0garbage\0", 22)}},
     "SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.8", "C:\\Java\\jre8"},
    {"value without NUL taken whole",
     {{kRuntimeKey, {"1.8"}}},
     {{runtimeSubkey("1.8"), "C:\\Java\\jre8"}},
     "SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.8", "C:\\Java\\jre8"},
    {"empty value is the empty folder",
     {{kRuntimeKey, {"1.8"}}},
     {{runtimeSubkey("1.8"), std::string("\0", 1)}},
     "SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.8", ""},
};

TEST_F(JavaSearchTest, RegistryChoosesOneCandidate) {
  for (const RegistryCase& c : kRegistryCases) {
    FakeJavaPlatform p;
    for (const auto& key : c.keys) p.registryKeys[key.first] = key.second;
    for (const auto& value : c.javaHomes) p.javaHomeValues[value.first] = value.second;
    JavaInstall found;
    // Only the registry can answer; every folder fails, so all sources run.
    EXPECT_FALSE(findJava(found, true, minimum, false, false, "", "", true, p)) << c.tag;
    EXPECT_EQ(p.callsOf("JavaHome"), c.valueRead ? Strings{c.valueRead} : Strings{}) << c.tag;
    EXPECT_EQ(p.callsOf("probe"), c.candidate ? Strings{probeOf(c.candidate)} : Strings{}) << c.tag;
    EXPECT_EQ(p.err, c.candidate ? "path: " + std::string(c.candidate) + "\n" : "") << c.tag;
    EXPECT_NE(p.out.find(std::string(kRegistry) + "no\n"), std::string::npos) << c.tag;
  }
}

TEST(RegistryHelpers, LastSubkeyNameAndFolder) {
  std::string name = "untouched";
  EXPECT_EQ(lastSubkeyName({}, kRuntimeKeyTag, name), kNoRegistryKey);
  EXPECT_EQ(name, "untouched");
  EXPECT_EQ(lastSubkeyName({"1.8", "1.8.0_281"}, kDevelopmentKitKeyTag, name), kDevelopmentKitKeyTag);
  EXPECT_EQ(name, "1.8.0_281");

  EXPECT_EQ(registryFolder("C:\\jdk", kDevelopmentKitKeyTag), "C:\\jdk\\jre");
  EXPECT_EQ(registryFolder(std::string("C:\\jre\0", 7), kRuntimeKeyTag), "C:\\jre");
}

// The PATH source.

struct LocateCase {
  const char* tag;
  std::string output;
  const char* candidate;  // nullptr: none
};

const std::string kLongFolder = "C:\\" + std::string(600, 'x');

const LocateCase kLocateCases[] = {
    {"one executable", "C:\\Program Files\\Java\\jdk1.8.0_281\\bin\\java.exe\n",
     "C:\\Program Files\\Java\\jdk1.8.0_281"},
    {"only the first line is used", "C:\\first\\bin\\java.exe\nC:\\second\\bin\\java.exe\n", "C:\\first"},
    {"CR LF line end", "C:\\jdk\\bin\\java.exe\r\nC:\\other\\bin\\java.exe\r\n", "C:\\jdk"},
    {"no line end", "C:\\jdk\\bin\\java.exe", "C:\\jdk"},
    {"a link folder gives whatever lies two levels up", "C:\\ProgramData\\Oracle\\Java\\javapath\\java.exe\n",
     "C:\\ProgramData\\Oracle\\Java"},
    {"a long first line is read whole", kLongFolder + "\\bin\\java.exe\nC:\\short\\bin\\java.exe\n",
     kLongFolder.c_str()},
    {"one backslash", "C:\\java.exe\n", nullptr},
    {"no backslash", "java.exe\n", nullptr},
    {"empty output", "", nullptr},
    {"empty first line", "\nC:\\jdk\\bin\\java.exe\n", nullptr},
};

TEST_F(JavaSearchTest, PathClimbsTwoFoldersFromTheFirstLine) {
  for (const LocateCase& c : kLocateCases) {
    FakeJavaPlatform p;
    p.locate = {0, c.output};
    JavaInstall found;
    EXPECT_FALSE(findJava(found, true, minimum, false, false, "", "", true, p)) << c.tag;
    EXPECT_EQ(p.callsOf("probe"), c.candidate ? Strings{probeOf(c.candidate)} : Strings{}) << c.tag;
    const std::string line = c.candidate ? "(" + std::string(c.candidate) + ") no\n" : "no\n";
    EXPECT_EQ(p.out.substr(p.out.rfind(kPath)), kPath + line) << c.tag;
    EXPECT_EQ(p.err, "") << c.tag;
  }
}

TEST_F(JavaSearchTest, LocateCommandThatCannotStartIsReportedInEitherForm) {
  const char kFailure[] =
      "Failed to run the command to locate 'java' on PATH\n"
      "Command run was: where java 2>nul\n";
  for (bool verbose : {true, false}) {
    FakeJavaPlatform p;
    p.locateOutcome = JavaSearchPlatform::LocateRun::kNotStarted;
    p.locate = {0, "C:\\jdk\\bin\\java.exe\n"};
    JavaInstall found;
    EXPECT_FALSE(findJava(found, true, minimum, false, false, "", "", verbose, p));
    EXPECT_EQ(p.err, kFailure) << "verbose " << verbose;
    EXPECT_EQ(p.callsOf("probe"), Strings{});
    if (verbose) {
      const Strings tail(p.streams.end() - 4, p.streams.end());
      EXPECT_EQ(tail, (Strings{std::string("out:") + kPath, "err:Failed to run the command to locate 'java' on PATH\n",
                               "err:Command run was: where java 2>nul\n", "out:no\n"}));
    } else {
      EXPECT_EQ(p.out, "");
    }
  }
}

TEST_F(JavaSearchTest, LocateStatusIsNotLookedAt) {
  platform.locate = {1, "C:\\jdk\\bin\\java.exe\n"};
  platform.addJava("C:\\jdk", kJava8);
  EXPECT_TRUE(findQuiet());
  EXPECT_EQ(result.getHome(), "C:\\jdk");
}

TEST_F(JavaSearchTest, LocateOutcomesAreToldApart) {
  using Run = JavaSearchPlatform::LocateRun;
  const char kLate[] = "'where java' did not finish within 60 seconds\n";
  const struct {
    const char* tag;
    Run::Outcome outcome;
    const char* output;
    const char* err;
    const char* candidate;  // none: nothing probed
  } cases[] = {
      {"hung after a whole first line: the line counts", Run::kTimedOut,
       "C:\\jdk\\bin\\java.exe\nC:\\offl", kLate, "C:\\jdk"},
      {"hung within the first line: nothing counts", Run::kTimedOut, "C:\\jdk\\bin\\ja", kLate, nullptr},
      {"hung before any output", Run::kTimedOut, "", kLate, nullptr},
      // An exit status of 0xFFFFFFFF is an ordinary end: the status is not read.
      {"ended, whatever its status", Run::kEnded, "C:\\jdk\\bin\\java.exe\n", "", "C:\\jdk"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    FakeJavaPlatform p;
    p.locateOutcome = c.outcome;
    p.locate = {-1, c.output};
    p.addJava("C:\\jdk", kJava8);
    JavaInstall found;
    EXPECT_EQ(findJava(found, true, minimum, false, false, "", "", true, p), c.candidate != nullptr);
    EXPECT_EQ(p.err, c.err);
    EXPECT_EQ(p.callsOf("probe"), c.candidate ? Strings{probeOf(c.candidate)} : Strings{});
    const std::string line = c.candidate ? "(" + std::string(c.candidate) + ") yes\n" : "no\n";
    EXPECT_EQ(p.out.substr(p.out.rfind(kPath)), kPath + line);
  }
}

// Folders holding %NAME% are expanded once, before the probe: the probe and
// the installer's javaw then name the same folder. The trace keeps the text
// as it was read.
TEST_F(JavaSearchTest, VariablesInCandidateFoldersAreExpandedOnce) {
  const struct {
    const char* tag;
    const char* variable;  // JAVA_HOME or a registry JavaHome
    const char* value;
    const char* home;  // as probed and launched
  } cases[] = {
      {"JAVA_HOME naming another variable", "JAVA_HOME", "%BARS%\\jdk", "C:\\bars\\jdk"},
      {"JRE_HOME naming two", "JRE_HOME", "%SystemDrive%\\%BARS%", "C:\\C:\\bars"},
      {"an unknown name stays as written", "JAVA_HOME", "%NO_SUCH%\\jdk", "%NO_SUCH%\\jdk"},
      {"a lone percent sign stays", "JAVA_HOME", "C:\\100%\\jdk", "C:\\100%\\jdk"},
      {"expanded only once", "JAVA_HOME", "%NESTED%", "%BARS%"},
      {"a registry value of type REG_EXPAND_SZ", "registry", "%SystemDrive%\\jdk8", "C:\\jdk8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    FakeJavaPlatform p;
    p.env = {{"BARS", "C:\\bars"}, {"SystemDrive", "C:"}, {"NESTED", "%BARS%"}};
    if (std::string(c.variable) == "registry") {
      p.registryKeys[kRuntimeKey] = {"1.8"};
      p.javaHomeValues[runtimeSubkey("1.8")] = c.value;
    } else {
      p.env[c.variable] = c.value;
    }
    p.addJava(c.home, kJava8);
    JavaInstall found;
    EXPECT_TRUE(findJava(found, true, minimum, false, false, "", "", true, p));
    EXPECT_EQ(found.getHome(), c.home);
    EXPECT_EQ(found.javawPath(), std::string(c.home) + "\\bin\\javaw.exe");
    EXPECT_EQ(p.callsOf("probe"), Strings{probeOf(c.home)});
    if (std::string(c.variable) == "registry") {
      EXPECT_EQ(p.err, "path: " + std::string(c.value) + "\n");
    } else {
      EXPECT_NE(p.out.find("(" + std::string(c.value) + ") yes\n"), std::string::npos) << p.out;
    }
  }
}

// The interpreter refuses a UNC current folder and starts elsewhere: the
// probe of the relative "jre" names it in full, while the found home, and so
// the installer's command, stays relative.
TEST_F(JavaSearchTest, RelativeCandidateIsProbedByItsFullPath) {
  platform.currentFolder = "\\\\server\\share\\temp\\Brackenhue-abcde";
  platform.addJava(platform.currentFolder + "\\jre", kJava8);
  EXPECT_TRUE(findVerbose());
  EXPECT_EQ(platform.callsOf("probe"), Strings{probeOf(platform.currentFolder + "\\jre")});
  EXPECT_EQ(platform.out, "Searching for a JVM\n - trying priority hint: (jre) yes\n");
  EXPECT_EQ(result.getHome(), "jre");
  EXPECT_EQ(result.javawPath(), "jre\\bin\\javaw.exe");
}

TEST(PathHelpers, CutAtLastBackslash) {
  std::string head = "untouched";
  EXPECT_FALSE(cutAtLastBackslash("java.exe", head));
  EXPECT_FALSE(cutAtLastBackslash("", head));
  EXPECT_EQ(head, "untouched");
  EXPECT_TRUE(cutAtLastBackslash("C:\\a\\b\\java.exe\n", head));
  EXPECT_EQ(head, "C:\\a\\b");
  EXPECT_TRUE(cutAtLastBackslash("C:\\", head));
  EXPECT_EQ(head, "C:");
  EXPECT_TRUE(cutAtLastBackslash("\\x", head));
  EXPECT_EQ(head, "");
}

}  // namespace
