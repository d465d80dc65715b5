#include <windows.h>

#include "common/text.h"
#include "launcher/command_line.h"
#include "launcher/launcher.h"
#include "splash/status_model.h"

// The argument text is taken from the wide command line rather than from
// lpCmdLine, which the C runtime has already squeezed through the ANSI code
// page; the rule for cutting off the program name is the same.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  const wchar_t* commandLine = GetCommandLineW();
  return runLauncher(argumentText(narrow(commandLine ? commandLine : L"")), instance, showCommand,
                     processStatus());
}
