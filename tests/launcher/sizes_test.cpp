// "brackenhue-setup.exe -x" writes a file byte-identical to the installer
// archive it was built around, whatever the archive's size relative to the
// 8 MiB chunks. The archives and the launcher builds around them are made at
// build time (launcher-<size>.exe beside this program).

#include <gtest/gtest.h>

#include <string>

#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/image_resources.h"

namespace {

struct SizeCase {
  const char* tag;
  unsigned size;
  int chunks;
};

const SizeCase kSizes[] = {
    {"a few hundred bytes", 600, 1},
    {"exactly 8 MiB", 8388608, 1},
    {"8 MiB and one byte", 8388609, 2},
    {"exactly 16 MiB: no empty third chunk", 16777216, 2},
    {"three chunks' worth", 20000000, 3},
};

TEST(LauncherSizes, ExtractionIsByteIdenticalToTheInput) {
  for (const SizeCase& c : kSizes) {
    SCOPED_TRACE(c.tag);
    const std::wstring size = std::to_wstring(c.size);
    const std::wstring exe = executableDir() + L"\\launcher-" + size + L".exe";

    std::string input;
    ASSERT_TRUE(readFile(executableDir() + L"\\fixtures\\sized\\installer-" + size + L".jar", &input));
    ASSERT_EQ(input.size(), c.size);
    {
      ImageResources image(exe);
      ASSERT_TRUE(image.loaded());
      EXPECT_EQ(image.chunkCount("JAR", L"JAR"), c.chunks);
    }

    TempDir dir;
    ChildResult run = runChild(exe, L"setup.exe -x", dir.path());
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.err, "");
    std::string written;
    ASSERT_TRUE(readFile(dir.file(L"brackenhue.jar"), &written));
    EXPECT_EQ(written.size(), input.size());
    EXPECT_TRUE(written == input) << "content differs";
  }
}

}  // namespace
