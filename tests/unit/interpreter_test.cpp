#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "process/interpreter.h"

namespace {

const char kSystem[] = "C:\\Windows\\system32";

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

TEST(Interpreter, ChoosesFromComspecNeverBesideTheLauncher) {
  // Files that exist on this imaginary machine; "." stands for the current
  // folder and "Downloads" for the launcher's own, where a planted cmd.exe
  // sits.
  const std::set<std::string> files = {
      "c:\\windows\\system32\\cmd.exe", "c:\\tools\\tcc.exe", "c:\\tools\\bin\\pwsh.exe",
      ".\\cmd.exe", "c:\\users\\ana\\downloads\\cmd.exe", "c:\\users\\ana\\downloads\\tcc.exe"};
  const std::vector<std::string> path = {".", "C:\\Tools", "C:\\Tools\\bin"};
  const struct {
    const char* tag;
    const char* comspec;  // null: unset
    const char* chosen;
    bool isCmd;
  } cases[] = {
      {"unset", nullptr, "C:\\Windows\\system32\\cmd.exe", true},
      {"empty", "", "C:\\Windows\\system32\\cmd.exe", true},
      {"full path", "C:\\Windows\\system32\\cmd.exe", "C:\\Windows\\system32\\cmd.exe", true},
      {"quoted full path", "\"C:\\Windows\\system32\\cmd.exe\"", "C:\\Windows\\system32\\cmd.exe", true},
      {"quoted path with blanks", "\"C:\\Program Files\\Take Command\\tcc.exe\"",
       "C:\\Program Files\\Take Command\\tcc.exe", false},
      {"bare cmd.exe: the system's, not the current folder's", "cmd.exe", "C:\\Windows\\system32\\cmd.exe", true},
      {"bare CMD without extension", "CMD", "C:\\Windows\\system32\\CMD.exe", true},
      {"bare name found on PATH, skipping the relative entry", "tcc.exe", "C:\\Tools\\tcc.exe", false},
      {"bare name without extension on a later PATH entry", "pwsh", "C:\\Tools\\bin\\pwsh.exe", false},
      {"relative path", "bin\\pwsh.exe", "C:\\Tools\\bin\\pwsh.exe", false},
      {"found nowhere: fails in the system folder", "nosuch.exe", "C:\\Windows\\system32\\nosuch.exe", false},
      {"full path that does not exist stays", "D:\\gone\\cmd.exe", "D:\\gone\\cmd.exe", true},
      {"share", "\\\\server\\tools\\cmd.exe", "\\\\server\\tools\\cmd.exe", true},
  };
  for (const auto& c : cases) {
    const std::string value = c.comspec ? c.comspec : "";
    // File names compare without regard to case, as on Windows.
    const Interpreter chosen =
        chooseInterpreter(c.comspec ? &value : nullptr, kSystem, path, [&](const std::string& file) {
          return files.count(lower(file)) > 0;
        });
    EXPECT_EQ(chosen.path, c.chosen) << c.tag;
    EXPECT_EQ(chosen.isCmd, c.isCmd) << c.tag;
  }
}

TEST(Interpreter, CommandLines) {
  const struct {
    const char* tag;
    Interpreter interpreter;
    const char* command;
    const char* line;
  } cases[] = {
      {"cmd takes /d and /v:off", {"C:\\Windows\\system32\\cmd.exe", true}, "where java 2>nul",
       "C:\\Windows\\system32\\cmd.exe /d /v:off /s /c \"where java 2>nul\""},
      {"quoted probe kept whole", {"C:\\Windows\\system32\\cmd.exe", true},
       "\"C:\\Program Files (x86)\\Java\\bin\\java.exe\" -version 2>&1",
       "C:\\Windows\\system32\\cmd.exe /d /v:off /s /c \"\"C:\\Program Files (x86)\\Java\\bin\\java.exe\" -version 2>&1\""},
      {"a path with ! and & as written", {"C:\\Windows\\system32\\cmd.exe", true},
       "\"C:\\Temp\\Hi!there & (you)\\bin\\java.exe\" -version 2>&1",
       "C:\\Windows\\system32\\cmd.exe /d /v:off /s /c \"\"C:\\Temp\\Hi!there & (you)\\bin\\java.exe\" -version 2>&1\""},
      {"other interpreter: no /d, path with blanks quoted", {"C:\\Program Files\\tcc\\tcc.exe", false}, "ver",
       "\"C:\\Program Files\\tcc\\tcc.exe\" /s /c \"ver\""},
  };
  for (const auto& c : cases) EXPECT_EQ(interpreterCommandLine(c.interpreter, c.command), c.line) << c.tag;
}

TEST(Interpreter, SplitsPath) {
  EXPECT_EQ(splitSearchPath("C:\\a;;\"C:\\b c\";C:\\d;"), (std::vector<std::string>{"C:\\a", "C:\\b c", "C:\\d"}));
  EXPECT_TRUE(splitSearchPath("").empty());
}

// What cmd sees between two "%" must never be a variable's name; the
// pieces must join into the text again once cmd drops the quotes.
TEST(Interpreter, QuotedForCmdKeepsPercentSignsFromExpansion) {
  const struct {
    const char* tag;
    const char* text;
    const char* quoted;
  } cases[] = {
      {"no percent sign", "C:\\R&D (x)\\jre", "\"C:\\R&D (x)\\jre\""},
      {"a variable's name", "C:\\a%PATH%b\\jre", "\"C:\\a%\"\"PATH%\"\"b\\jre\""},
      {"two in a row", "C:\\%%\\jre", "\"C:\\%\"\"%\"\"\\jre\""},
      {"at the end", "C:\\100%", "\"C:\\100%\"\"\""},
      {"empty", "", "\"\""},
  };
  for (const auto& c : cases) {
    const std::string quoted = quotedForCmd(c.text);
    EXPECT_EQ(quoted, c.quoted) << c.tag;
    // cmd's view: every "%" is followed by a quote, and dropping the quotes
    // gives the text back.
    for (size_t at = quoted.find('%'); at != std::string::npos; at = quoted.find('%', at + 1)) {
      EXPECT_EQ(quoted[at + 1], '"') << c.tag;
    }
    std::string unquoted;
    for (char ch : quoted) {
      if (ch != '"') unquoted += ch;
    }
    EXPECT_EQ(unquoted, c.text) << c.tag;
  }
}

}  // namespace
