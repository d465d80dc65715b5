// The reference for the splash window's start: a bare windowed program that
// shows one 420 x 300 popup in the middle of the screen and waits.

#include <windows.h>

namespace {

LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = instance;
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = L"bare";
  RegisterClassExW(&windowClass);
  HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, L"bare", L"", WS_POPUP, (GetSystemMetrics(SM_CXSCREEN) - 420) / 2,
                                (GetSystemMetrics(SM_CYSCREEN) - 300) / 2, 420, 300, nullptr, nullptr, instance,
                                nullptr);
  ShowWindow(window, showCommand);
  UpdateWindow(window);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
