#pragma once
// Which command interpreter runs a command, and its command line. Pure: the
// file system and the folders come in as values.

#include <functional>
#include <string>
#include <vector>

struct Interpreter {
  std::string path;   // full path of the program to start
  bool isCmd = false;  // the Windows command interpreter, which takes "/d"
};

// The interpreter named by COMSPEC (`comspec`, null when unset; an empty
// value counts as unset). A value in double quotes is taken without them.
// A full path ("C:\...", "\\server\...") is taken as it is; a bare or
// relative name is looked for in `systemFolder`, then in each of
// `pathFolders` in order, also with ".exe" appended when it has no
// extension; never in the launcher's own folder or the current one. A name
// found nowhere gives the path it would have in the system folder, which
// then fails to start. Without COMSPEC: the system folder's cmd.exe.
Interpreter chooseInterpreter(const std::string* comspec, const std::string& systemFolder,
                              const std::vector<std::string>& pathFolders,
                              const std::function<bool(const std::string&)>& isFile);

// PATH split at its semicolons; empty entries and surrounding double quotes
// go.
std::vector<std::string> splitSearchPath(const std::string& path);

// The interpreter's command line for `command`:
//   <interpreter> [/d /v:off] /s /c "<command>"
// the path quoted when it holds a blank. "/d" (cmd only) keeps the user's
// AutoRun commands out: they would print into the captured text or change
// the folder before a relative path is used. "/v:off" (cmd only) keeps a
// DelayedExpansion setting of the registry from eating "!" in a path.
// "/s /c" with the extra quotes makes cmd drop exactly that pair and run the
// command as written.
std::string interpreterCommandLine(const Interpreter& interpreter, const std::string& command);

// `text` as one double-quoted word of a cmd command line that reaches the
// program unchanged. cmd replaces %NAME% by a defined variable's value even
// inside quotes, so each "%" is followed by a closing and an opening quote:
// C:\a%b%\jre gives "C:\a%""b%""\jre". Between two of them cmd then sees a
// name that begins with a quote, which no variable has, and leaves both;
// the quoted pieces join into the one word again.
// The text must hold no double quote (no Windows path does).
std::string quotedForCmd(const std::string& text);
