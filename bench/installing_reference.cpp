// The whole-run benchmark's reference: an installing run done plainly, with
// the same image as the launcher (it is linked with the same resources) and
// the same children started the same way, and nothing else:
//   - a 420 x 300 window on a thread of its own, painted once;
//   - a folder "Brackenhue-ref<pid>" under TMP;
//   - jre_x64.exe written from the image's JAVA chunks in 8 MiB writes and
//     run hidden;
//   - "jre\bin\java.exe" -version through cmd with its output read;
//   - brackenhue.jar written from the JAR chunks;
//   - the window hidden, javaw started with the same command and waited for;
//   - the files deleted, "rd /s /q" of jre through cmd, the folder removed;
//   - the launcher's 2,970 ms of animation sleeps at the same places.
// No status model, no progress, no search, no checks.

#include <windows.h>

#include <string>

namespace {

HANDLE windowReady = nullptr;
HWND window = nullptr;

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    FillRect(dc, &ps.rcPaint, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
    EndPaint(hwnd, &ps);
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

DWORD WINAPI windowThread(LPVOID) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"reference";
  RegisterClassW(&windowClass);
  const int x = (GetSystemMetrics(SM_CXSCREEN) - 420) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - 300) / 2;
  window = CreateWindowExW(WS_EX_TOOLWINDOW, L"reference", L"", WS_POPUP, x, y, 420, 300, nullptr, nullptr,
                           windowClass.hInstance, nullptr);
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  SetEvent(windowReady);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}

bool writePayload(const wchar_t* base, const wchar_t* type, const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  HMODULE self = GetModuleHandleW(nullptr);
  for (int index = 1;; ++index) {
    const std::wstring name = std::wstring(base) + L"_" + std::to_wstring(index);
    HRSRC found = FindResourceW(self, name.c_str(), type);
    if (!found) break;
    DWORD written = 0;
    WriteFile(file, LockResource(LoadResource(self, found)), SizeofResource(self, found), &written, nullptr);
  }
  return CloseHandle(file) != FALSE;
}

DWORD run(const std::wstring& program, std::wstring line, bool hidden) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.empty() ? nullptr : program.c_str(), line.data(), nullptr, nullptr, FALSE,
                      hidden ? CREATE_NO_WINDOW : 0, nullptr, nullptr, &startup, &info)) {
    return 0xFFFFFFFF;
  }
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return code;
}

// The probe: through cmd, its output read from a pipe to the end.
void probe(const std::wstring& cmd, const std::wstring& java) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  CreatePipe(&readEnd, &writeEnd, &inherit, 0);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  std::wstring line = L"cmd.exe /d /v:off /s /c \"\"" + java + L"\" -version 2>&1\"";
  PROCESS_INFORMATION info{};
  if (CreateProcessW(cmd.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                     &info)) {
    CloseHandle(writeEnd);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    }
    WaitForSingleObject(info.hProcess, INFINITE);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  } else {
    CloseHandle(writeEnd);
  }
  CloseHandle(readEnd);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  windowReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CloseHandle(CreateThread(nullptr, 0, windowThread, nullptr, 0, nullptr));
  WaitForSingleObject(windowReady, INFINITE);

  wchar_t start[MAX_PATH * 4], tmp[MAX_PATH * 4], system[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH * 4, start);
  GetEnvironmentVariableW(L"TMP", tmp, MAX_PATH * 4);
  GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring cmd = std::wstring(system) + L"\\cmd.exe";

  Sleep(990);  // the launcher's first animation
  const std::wstring folder = std::wstring(tmp) + L"\\Brackenhue-ref" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), nullptr);
  SetCurrentDirectoryW(folder.c_str());
  if (writePayload(L"JAVA", L"EXE", L"jre_x64.exe")) run(folder + L"\\jre_x64.exe", L"jre_x64.exe", true);
  Sleep(990);  // the second
  probe(cmd, folder + L"\\jre\\bin\\java.exe");
  writePayload(L"JAR", L"JAR", L"brackenhue.jar");
  Sleep(990);  // the third
  ShowWindow(window, SW_HIDE);
  run(folder + L"\\jre\\bin\\javaw.exe",
      L"\"jre\\bin\\javaw.exe\" \"-Dorig.dir=" + std::wstring(start) + L"\" -jar brackenhue.jar", false);

  DeleteFileW(L"brackenhue.jar");
  DeleteFileW(L"jre_x64.exe");
  run(cmd, L"cmd.exe /d /v:off /c rd /s /q \"" + folder + L"\\jre\"", true);
  SetCurrentDirectoryW(L"..");
  RemoveDirectoryW(folder.c_str());
  return 0;
}
