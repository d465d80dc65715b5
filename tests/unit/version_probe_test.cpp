#include <gtest/gtest.h>

#include <string>

#include "javafind/version_probe.h"
#include "tests/unit/fake_java_platform.h"

namespace {

TEST(ProbeCommand, QuotesTheJavaPathAndAsksForTheVersion) {
  FakeJavaPlatform platform;
  const struct {
    const char* home;
    const char* command;
  } cases[] = {
      {"jre", "\"jre\\bin\\java.exe\" -version"},
      {"C:\\Java\\jdk", "\"C:\\Java\\jdk\\bin\\java.exe\" -version"},
      {"C:\\Program Files\\Java\\jre\\", "\"C:\\Program Files\\Java\\jre\\\\bin\\java.exe\" -version"},
      {"", "\"\\bin\\java.exe\" -version"},
      {"C:\\Temp\\%USERNAME%\\jre", "\"C:\\Temp\\%\"\"USERNAME%\"\"\\jre\\bin\\java.exe\" -version"},
  };
  for (const auto& c : cases) {
    JavaInstall install;
    install.setHome(c.home, platform);
    EXPECT_EQ(probeCommand(install), c.command) << c.home;
  }
}

const char kPickedUp[] = "Picked up _JAVA_OPTIONS: -Xmx512m -Dapp version \"0.1\"\n";

struct AnswerCase {
  const char* tag;
  int status;
  std::string output;
  bool usable;
  const char* version;  // versionText of what was read, when usable
};

const AnswerCase kAnswerCases[] = {
    {"old form", 0,
     "java version \"1.8.0_281\"\nJava(TM) SE Runtime Environment (build 1.8.0_281-b09)\n"
     "Java HotSpot(TM) 64-Bit Server VM (build 25.281-b09, mixed mode)\n",
     true, "1.8.0_281"},
    {"leading zero in the update", 0, "java version \"1.8.0_05\"\n", true, "1.8.0_5"},
    {"older release", 0, "java version \"1.7.0_80\"\n", true, "1.7.0_80"},
    {"new form", 0, "openjdk version \"11.0.2\" 2019-01-15\nOpenJDK Runtime Environment 18.9\n", true, "1.11.0_2"},
    {"new form 17", 0, "openjdk version \"17.0.1\" 2021-10-19\n", true, "1.17.0_1"},
    {"9.0.4 reads like 11.0.2", 0, "java version \"9.0.4\"\n", true, "1.9.0_4"},
    {"single number, then the next line", 0, "java version \"9\"\nJava(TM) SE Runtime Environment (build 9+181)\n",
     true, "1.9.0_0"},
    {"single number: nothing from the date", 0, "openjdk version \"21\" 2023-09-19\nOpenJDK Runtime\n", true,
     "1.21.0_0"},
    {"early access", 0, "openjdk version \"22-ea\" 2024-03-19\n", true, "1.22.0_0"},
    {"capture ends right after the version line", 0, "java version \"1.8.0_281\"\n", true, "1.8.0_281"},
    {"capture ends inside the version line, after its quote", 0, "java version \"9\"", true, "1.9.0_0"},
    {"short capture", 0, "java version \"9\"\n", true, "1.9.0_0"},
    {"any letter case", 0, "JAVA VERSION \"1.8.0_281\"\n", true, "1.8.0_281"},
    {"mixed case", 0, "OpenJDK Version \"17.0.1\"\n", true, "1.17.0_1"},
    {"CR LF line ends", 0, "Picked up X\r\nopenjdk version \"11.0.2\"\r\nmore\r\n", true, "1.11.0_2"},
    {"tab between the parts", 0, "java\tversion\t\"1.8.0_281\"\n", true, "1.8.0_281"},
    {"options line before the version line", 0,
     std::string(kPickedUp) + "openjdk version \"17.0.1\" 2021-10-19\n", true, "1.17.0_1"},
    {"tool options line before the version line", 0,
     "Picked up JAVA_TOOL_OPTIONS: -Dfile.encoding=UTF8 version \"2\"\njava version \"1.8.0_281\"\n", true,
     "1.8.0_281"},
    {"version word inside a line is not a version line", 0,
     "NOTE: the version \"5\" is old\njava version \"1.8.0_281\"\n", true, "1.8.0_281"},
    {"first version line wins", 0, "java version \"1.8.0_281\"\nopenjdk version \"17\"\n", true, "1.8.0_281"},
    {"indented line is not a version line", 0, " java version \"1.8.0_281\"\n", false, nullptr},
    {"non-zero status with a good version line", 1, "java version \"1.8.0_281\"\nmore output here\n", false,
     nullptr},
    {"command could not start", -1, "", false, nullptr},
    {"status 3221225477 (a crash) read as negative", static_cast<int>(0xC0000005u),
     "java version \"1.8.0_281\"\n", false, nullptr},
    {"no output", 0, "", false, nullptr},
    {"interpreter complaint", 0, "'jre\\bin\\java.exe' is not recognized as an internal or external command,\n",
     false, nullptr},
    {"no closing quote", 0, "java version \"1.8.0_281", false, nullptr},
    {"closing quote only on the next line", 0, "java version \"1.8.0_281\n\"\n", false, nullptr},
    {"no word before version", 0, "version \"1.8.0_281\"\n", false, nullptr},
    {"no quote after version", 0, "java version 1.8.0_281\n", false, nullptr},
    {"versions is not version", 0, "java versions \"1.8.0_281\"\n", false, nullptr},
    {"first version line holds no number", 0, "java version \"unknown\"\njava version \"1.8.0_281\"\n", false,
     nullptr},
    {"empty version text", 0, "java version \"\"\n", false, nullptr},
};

TEST(ProbeAnswer, ReadsTheFirstVersionLine) {
  for (const AnswerCase& c : kAnswerCases) {
    VersionNumbers version;
    version.prefix = 5;
    version.major = 6;
    version.minor = 7;
    version.update = 8;
    const bool usable = readProbeAnswer(c.status, c.output, version);
    EXPECT_EQ(usable, c.usable) << c.tag;
    if (usable) {
      ASSERT_NE(c.version, nullptr) << c.tag;
      std::string text = std::to_string(version.prefix) + "." + std::to_string(version.major) + "." +
                         std::to_string(version.minor) + "_" + std::to_string(version.update);
      EXPECT_EQ(text, c.version) << c.tag;
    } else {
      // Left as it was.
      EXPECT_EQ(version.prefix, 5) << c.tag;
      EXPECT_EQ(version.major, 6) << c.tag;
      EXPECT_EQ(version.minor, 7) << c.tag;
      EXPECT_EQ(version.update, 8) << c.tag;
    }
  }
}

TEST(ProbeAnswer, FindVersionTextGivesTheQuotedTextOrLeavesItAlone) {
  std::string text = "untouched";
  EXPECT_FALSE(findVersionText("java version \"", text));
  EXPECT_FALSE(findVersionText("java version", text));
  EXPECT_FALSE(findVersionText("java", text));
  EXPECT_EQ(text, "untouched");

  EXPECT_TRUE(findVersionText("openjdk version \"21\" 2023-09-19", text));
  EXPECT_EQ(text, "21");
}

}  // namespace
