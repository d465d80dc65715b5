#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "javafind/java_install.h"
#include "tests/unit/fake_java_platform.h"

namespace {

struct VersionCase {
  const char* tag;
  const char* text;
  int32_t prefix, major, minor, update;
};

const VersionCase kVersionCases[] = {
    {"the minimum", "1.8.0_00", 1, 8, 0, 0},
    {"three-digit update read whole", "1.8.0_281", 1, 8, 0, 281},
    {"leading zero of the update", "1.8.0_05", 1, 8, 0, 5},
    {"one-digit update", "1.8.0_5", 1, 8, 0, 5},
    {"old form, older release", "1.7.0_80", 1, 7, 0, 80},
    {"old form with two-digit second number", "1.11.0_02", 1, 11, 0, 2},
    {"old form, two numbers", "1.8", 1, 8, 0, 0},
    {"trailing dot", "1.8.", 1, 8, 0, 0},
    {"build suffix is not a number", "1.8.0_281-b09", 1, 8, 0, 281},
    {"a bare 1", "1", 1, 0, 0, 0},
    {"new form, one number", "21", 1, 21, 0, 0},
    {"new form, single digit", "9", 1, 9, 0, 0},
    {"new form, single digit release with security", "9.0.4", 1, 9, 0, 4},
    {"new form", "11.0.2", 1, 11, 0, 2},
    {"new form", "17.0.1", 1, 17, 0, 1},
    {"early access", "22-ea", 1, 22, 0, 0},
    {"build number after plus", "17.0.1+12", 1, 17, 0, 1},
    {"fourth number of the new form is dropped", "21.0.2.1", 1, 21, 0, 2},
    {"minor and update in the new form", "11.2.13", 1, 11, 2, 13},
    {"huge run saturates", "1.8.0_99999999999999", 1, 8, 0, INT32_MAX},
    {"double separator ends the number", "1.8..0_5", 1, 8, 0, 0},
};

TEST(VersionReading, ReadsWholeRunsOfDigits) {
  for (const VersionCase& c : kVersionCases) {
    VersionNumbers v;
    v.prefix = v.major = v.minor = v.update = -7;
    ASSERT_TRUE(readVersionNumbers(c.text, v)) << c.tag;
    EXPECT_EQ(v.prefix, c.prefix) << c.tag << ": " << c.text;
    EXPECT_EQ(v.major, c.major) << c.tag << ": " << c.text;
    EXPECT_EQ(v.minor, c.minor) << c.tag << ": " << c.text;
    EXPECT_EQ(v.update, c.update) << c.tag << ": " << c.text;
  }
}

TEST(VersionReading, TextWithoutLeadingNumberLeavesTheVersionAlone) {
  for (const char* text : {"", "abc", "-1", ".8", " 1.8", "v17"}) {
    VersionNumbers v;
    v.prefix = 3;
    v.major = 4;
    v.minor = 5;
    v.update = 6;
    EXPECT_FALSE(readVersionNumbers(text, v)) << "[" << text << "]";
    EXPECT_EQ(v.prefix, 3) << "[" << text << "]";
    EXPECT_EQ(v.major, 4) << "[" << text << "]";
    EXPECT_EQ(v.minor, 5) << "[" << text << "]";
    EXPECT_EQ(v.update, 6) << "[" << text << "]";
  }
}

JavaInstall withVersion(const char* text) {
  JavaInstall install;
  EXPECT_TRUE(install.setVersion(text)) << text;
  return install;
}

TEST(JavaInstall, NewRecordDefaults) {
  JavaInstall install;
  EXPECT_EQ(install.versionText(), "1.0.0_0");
  EXPECT_FALSE(install.isUsable());
  EXPECT_FALSE(install.isJdk());
  EXPECT_TRUE(install.isJre());
  EXPECT_EQ(install.getHome(), "");
  EXPECT_EQ(install.javaPath(), "\\bin\\java.exe");
}

TEST(JavaInstall, SetVersionFormatsWithoutLeadingZeros) {
  EXPECT_EQ(withVersion("1.8.0_00").versionText(), "1.8.0_0");
  EXPECT_EQ(withVersion("1.8.0_281").versionText(), "1.8.0_281");
  EXPECT_EQ(withVersion("17.0.1").versionText(), "1.17.0_1");
}

TEST(JavaInstall, SetVersionWithoutNumberKeepsTheVersion) {
  JavaInstall install = withVersion("1.8.0_281");
  EXPECT_FALSE(install.setVersion("unknown"));
  EXPECT_EQ(install.versionText(), "1.8.0_281");
}

struct CompareCase {
  const char* left;
  const char* right;
  int32_t result;  // left.compareTo(right); the reverse must give its negation
};

const CompareCase kCompareCases[] = {
    {"1.8.0_00", "1.8.0_00", 0},
    {"1.8.0_00", "1.8.0_28", -1},
    {"1.8.0_281", "1.8.0_99", 1},  // numeric, not textual
    {"11.0.2", "1.8.0_00", 1},     // the second number decides before the update
    {"1.8.1_0", "1.8.0_500", 1},
    {"9.0.4", "17.0.1", -1},  // read as 1.9.0_4, not 9.0.4_0
    {"9.0.4", "1.8.0_00", 1},
    {"21", "17.0.12", 1},
    {"1.7.0_80", "1.8.0_00", -1},
    {"22-ea", "22", 0},
};

TEST(JavaInstall, CompareToIsNumericByPrefixMajorMinorUpdate) {
  for (const CompareCase& c : kCompareCases) {
    JavaInstall left = withVersion(c.left);
    JavaInstall right = withVersion(c.right);
    EXPECT_EQ(left.compareTo(right), c.result) << c.left << " vs " << c.right;
    EXPECT_EQ(right.compareTo(left), -c.result) << c.right << " vs " << c.left;
  }
}

TEST(JavaInstall, PathsAppendToHomeUnchanged) {
  FakeJavaPlatform platform;
  const struct {
    const char* home;
    const char* java;
    const char* javaw;
  } cases[] = {
      {"C:\\Java\\jdk", "C:\\Java\\jdk\\bin\\java.exe", "C:\\Java\\jdk\\bin\\javaw.exe"},
      {"C:\\jdk\\", "C:\\jdk\\\\bin\\java.exe", "C:\\jdk\\\\bin\\javaw.exe"},
      {"jre", "jre\\bin\\java.exe", "jre\\bin\\javaw.exe"},
      {"C:\\Program Files\\Java\\jre1.8.0_281", "C:\\Program Files\\Java\\jre1.8.0_281\\bin\\java.exe",
       "C:\\Program Files\\Java\\jre1.8.0_281\\bin\\javaw.exe"},
  };
  for (const auto& c : cases) {
    JavaInstall install;
    install.setHome(c.home, platform);
    EXPECT_EQ(install.getHome(), c.home);
    EXPECT_EQ(install.javaPath(), c.java);
    EXPECT_EQ(install.javawPath(), c.javaw);
  }
}

class JavaInstallProbeTest : public ::testing::Test {
 protected:
  FakeJavaPlatform platform;
  JavaInstall install;
};

TEST_F(JavaInstallProbeTest, DetectCompilerFollowsJavacOnly) {
  platform.addJava("C:\\jdk", "java version \"1.8.0_281\"\n", true);
  platform.addJava("C:\\jre", "java version \"1.8.0_281\"\n", false);

  install.setHome("C:\\jdk", platform);
  EXPECT_TRUE(install.isJdk());
  EXPECT_FALSE(install.isJre());
  EXPECT_EQ(platform.callsOf("exists"), std::vector<std::string>{"C:\\jdk\\bin\\javac.exe"});

  // Cleared again by the next folder: nothing is carried over.
  install.setHome("C:\\jre", platform);
  EXPECT_FALSE(install.isJdk());
  EXPECT_TRUE(install.isUsable());

  // A missing folder has no compiler.
  install.setHome("C:\\nowhere", platform);
  EXPECT_FALSE(install.isJdk());
}

TEST_F(JavaInstallProbeTest, CompilerIsTestedForAnUnusableFolderToo) {
  platform.paths.insert("C:\\broken\\bin\\javac.exe");  // javac but no working java
  install.setHome("C:\\broken", platform);
  EXPECT_FALSE(install.isUsable());
  EXPECT_TRUE(install.isJdk());
}

TEST_F(JavaInstallProbeTest, SetHomeProbesTheQuotedJavaAndReadsItsVersion) {
  platform.addJava("C:\\Program Files\\Java\\jdk-17", "openjdk version \"17.0.1\" 2021-10-19\nmore\n");
  install.setHome("C:\\Program Files\\Java\\jdk-17", platform);
  EXPECT_EQ(platform.callsOf("probe"),
            std::vector<std::string>{"\"C:\\Program Files\\Java\\jdk-17\\bin\\java.exe\" -version"});
  EXPECT_TRUE(install.isUsable());
  EXPECT_EQ(install.versionText(), "1.17.0_1");
}

TEST_F(JavaInstallProbeTest, FailedProbeKeepsThePreviousNumbers) {
  // A new record: the defaults stay.
  install.setHome("C:\\missing", platform);
  EXPECT_FALSE(install.isUsable());
  EXPECT_EQ(install.versionText(), "1.0.0_0");

  platform.addJava("C:\\good", "java version \"1.8.0_281\"\n");
  install.setHome("C:\\good", platform);
  ASSERT_TRUE(install.isUsable());

  platform.probes["\"C:\\bad\\bin\\java.exe\" -version"] = {2, "java version \"11.0.2\"\n"};
  install.setHome("C:\\bad", platform);
  EXPECT_FALSE(install.isUsable());
  EXPECT_EQ(install.getHome(), "C:\\bad");
  EXPECT_EQ(install.versionText(), "1.8.0_281");

  // A usable probe after a failed one is usable again: setHome starts over.
  install.setHome("C:\\good", platform);
  EXPECT_TRUE(install.isUsable());
}

TEST_F(JavaInstallProbeTest, CopyKeepsEverything) {
  platform.addJava("C:\\jdk", "java version \"1.8.0_281\"\n", true);
  install.setHome("C:\\jdk", platform);
  JavaInstall copy = install;
  EXPECT_EQ(copy.compareTo(install), 0);
  EXPECT_EQ(copy.getHome(), "C:\\jdk");
  EXPECT_TRUE(copy.isUsable());
  EXPECT_TRUE(copy.isJdk());
  EXPECT_EQ(copy.versionText(), "1.8.0_281");
}

}  // namespace
