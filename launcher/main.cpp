#include <windows.h>

#include "common/text.h"
#include "launcher/command_line.h"
#include "launcher/launcher.h"
#include "splash/status_model.h"

namespace {

// DLLs that Windows loads on demand (for windows, input methods, shell
// calls) come from the system folder only, never from the launcher's own
// folder, usually Downloads, where anyone's file can sit. Systems without
// SetDefaultDllDirectories (Windows 7 before KB2533623) keep their order.
void restrictDllSearch() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (setDefaultDllDirectories) setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

// The argument text is taken from the wide command line rather than from
// lpCmdLine, which the C runtime has already squeezed through the ANSI code
// page; the rule for cutting off the program name is the same.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  restrictDllSearch();
  const wchar_t* commandLine = GetCommandLineW();
  return runLauncher(argumentText(narrow(commandLine ? commandLine : L"")), instance, showCommand,
                     processStatus());
}
