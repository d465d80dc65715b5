// The demo payloads do what the launcher needs of a runtime archive and an
// installer: unpacked hidden in a folder, the archive leaves jre\bin with a
// java that answers "-version" and a javaw that runs the installer, which
// installs under orig.dir and reports failure through its exit code.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tests/support/child_process.h"
#include "tests/support/files.h"

namespace {

class DemoPayloads : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string bytes;
    ASSERT_TRUE(readFile(executableDir() + L"\\fixtures\\runtime.exe", &bytes));
    ASSERT_TRUE(writeFile(dir.file(L"jre_x64.exe"), bytes));
    ASSERT_TRUE(readFile(executableDir() + L"\\fixtures\\installer.jar", &bytes));
    ASSERT_TRUE(writeFile(dir.file(L"brackenhue.jar"), bytes));
  }

  ChildResult run(const std::wstring& program, const std::wstring& arguments) {
    ChildResult result = runChild(dir.file(program), L"\"" + dir.file(program) + L"\" " + arguments, dir.path());
    EXPECT_TRUE(result.started) << "cannot start " << std::string(program.begin(), program.end());
    EXPECT_FALSE(result.timedOut);
    return result;
  }

  TempDir dir{L"demo payloads"};
};

TEST_F(DemoPayloads, RuntimeArchiveUnpacksAJavaOfVersion18) {
  ChildResult unpack = run(L"jre_x64.exe", L"");
  EXPECT_EQ(unpack.exitCode, 0u);
  EXPECT_TRUE(fileExists(dir.file(L"jre\\bin\\java.exe")));
  EXPECT_TRUE(fileExists(dir.file(L"jre\\bin\\javaw.exe")));

  ChildResult version = run(L"jre\\bin\\java.exe", L"-version");
  EXPECT_EQ(version.exitCode, 0u);
  EXPECT_EQ(version.out, "");
  EXPECT_EQ(version.err.rfind("java version \"1.8.0_281\"\r\n", 0), 0u) << version.err;
}

TEST_F(DemoPayloads, InstallerRunsThroughJavawAndReportsItsOutcome) {
  ASSERT_EQ(run(L"jre_x64.exe", L"").exitCode, 0u);
  TempDir origin(L"demo origin");
  ChildResult install = run(L"jre\\bin\\javaw.exe", L"\"-Dorig.dir=" + origin.path() + L"\" -jar brackenhue.jar");
  EXPECT_EQ(install.exitCode, 0u);
  std::string log;
  EXPECT_TRUE(readFile(origin.file(L"Brackenhue Demo\\install.log"), &log));
  EXPECT_NE(log.find("installed Brackenhue Demo"), std::string::npos) << log;
  EXPECT_TRUE(fileExists(origin.file(L"Brackenhue Demo\\README.txt")));

  // A file where the product folder's parent should be: it cannot install.
  ASSERT_TRUE(writeFile(origin.file(L"blocked"), "not a folder"));
  ChildResult blocked =
      run(L"jre\\bin\\javaw.exe", L"\"-Dorig.dir=" + origin.file(L"blocked") + L"\" -jar brackenhue.jar");
  EXPECT_NE(blocked.exitCode, 0u);
}

}  // namespace
