#include <gtest/gtest.h>

#include "launcher/command_line.h"

namespace {

struct ArgumentCase {
  const char* tag;
  const char* commandLine;
  const char* argumentText;
};

const ArgumentCase kArgumentCases[] = {
    {"bare name, no arguments", "setup.exe", ""},
    {"empty command line", "", ""},
    {"one blank", "setup.exe -x", "-x"},
    {"several blanks are skipped", "setup.exe     -x", "-x"},
    {"tabs and other controls are skipped", "setup.exe \t\x01\x1f-x", "-x"},
    {"trailing blank is kept", "setup.exe -x ", "-x "},
    {"inner blanks are kept", "setup.exe -x  more", "-x  more"},
    {"quoted name with blanks", "\"C:\\Program Files\\Setup\\setup.exe\" -x", "-x"},
    {"quotes inside the name", "C:\\Pro\"gram Fi\"les\\setup.exe -x", "-x"},
    {"quotes in the argument are kept", "setup.exe \"-x\"", "\"-x\""},
    {"unterminated quote swallows the rest", "\"C:\\my setup.exe -x", ""},
    {"name right before an argument quote", "setup.exe\"-x\"", ""},
    {"UTF-8 name is skipped whole", "C:\\\xd0\x9f\xd1\x80\xd0\xbe\\\xe6\xb5\x8b.exe -x", "-x"},
    {"UTF-8 argument is kept", "setup.exe \xe6\xb5\x8b", "\xe6\xb5\x8b"},
    {"only blanks after the name", "setup.exe   ", ""},
};

TEST(ArgumentText, FollowsTheStartUpRules) {
  for (const ArgumentCase& c : kArgumentCases) {
    EXPECT_EQ(argumentText(c.commandLine), c.argumentText) << c.tag;
  }
}

struct ModeCase {
  const char* argumentText;
  LaunchMode mode;
  bool notice;
};

const ModeCase kModeCases[] = {
    {"-extract", LaunchMode::kExtractOnly, false},
    {"--extract", LaunchMode::kExtractOnly, false},
    {"-x", LaunchMode::kExtractOnly, false},
    {"", LaunchMode::kInstall, false},
    {"-X", LaunchMode::kInstall, false},
    {"-Extract", LaunchMode::kInstall, false},
    {"--EXTRACT", LaunchMode::kInstall, false},
    {"/x", LaunchMode::kInstall, false},
    {"/extract", LaunchMode::kInstall, false},
    {"x", LaunchMode::kInstall, false},
    {"extract", LaunchMode::kInstall, false},
    {"-x ", LaunchMode::kInstall, false},
    {" -x", LaunchMode::kInstall, false},
    {"-x more", LaunchMode::kInstall, false},
    {"\"-x\"", LaunchMode::kInstall, false},
    {"-extract2", LaunchMode::kInstall, false},
    {"-text", LaunchMode::kInstall, true},
    {"text", LaunchMode::kInstall, true},
    {"-TEXT", LaunchMode::kInstall, false},
    {"Text", LaunchMode::kInstall, false},
    {"-text ", LaunchMode::kInstall, false},
    {"text more", LaunchMode::kInstall, false},
    {"--text", LaunchMode::kInstall, false},
};

TEST(ModeSelection, ComparesTheWholeTextExactly) {
  for (const ModeCase& c : kModeCases) {
    EXPECT_EQ(selectMode(c.argumentText), c.mode) << "argument text [" << c.argumentText << "]";
    EXPECT_EQ(wantsTextNotice(c.argumentText), c.notice) << "argument text [" << c.argumentText << "]";
  }
}

}  // namespace
