#include "splash/splash_window.h"

#include "common/text.h"
#include "common/unique_handle.h"
#include "splash/splash_layout.h"
#include "splash/status_model.h"

namespace {

const wchar_t kClassName[] = L"splash";
// WS_POPUP with the class-specific low bits 0x000E, which this class does not
// interpret: no border, no caption, no system menu; shown later.
const DWORD kWindowStyle = 0x8000000E;

// Set by startSplashWindow before the thread starts and never changed while
// it runs.
StatusModel* splashStatus = nullptr;
HANDLE readyEvent = nullptr;

// Only the splash thread touches it: loaded in WM_CREATE, deleted in
// WM_DESTROY.
HBITMAP splashBitmap = nullptr;

StatusModel& status() { return splashStatus ? *splashStatus : processStatus(); }

HBITMAP loadBitmap(const char* name) { return LoadBitmapW(GetModuleHandleW(nullptr), widen(name).c_str()); }

// Copies `bitmap` whole, at its own size, to (0, top) of `target`. A missing
// bitmap leaves its rows as they are rather than drawing from whatever the
// memory context holds. `original` keeps the context's first selection, to
// be put back before the context goes.
void drawLayer(HDC target, HDC memory, HBITMAP bitmap, int top, DWORD rasterOperation, HGDIOBJ* original) {
  BITMAP size{};
  if (!bitmap || !GetObjectW(bitmap, sizeof size, &size)) return;
  HGDIOBJ previous = SelectObject(memory, bitmap);
  if (!*original) *original = previous;
  BitBlt(target, 0, top, size.bmWidth, size.bmHeight, memory, 0, 0, rasterOperation);
}

void paint(HWND window) {
  // One snapshot per paint, so the bar and the label always belong together.
  const SplashBitmapNames names = bitmapNamesFor(status().snapshot());
  HBITMAP progress = loadBitmap(names.progress);
  HBITMAP step = loadBitmap(names.step);

  PAINTSTRUCT ps;
  HDC target = BeginPaint(window, &ps);
  HDC memory = CreateCompatibleDC(target);
  if (memory) {
    HGDIOBJ original = nullptr;
    drawLayer(target, memory, splashBitmap, kPictureTop, SRCCOPY, &original);
    drawLayer(target, memory, progress, kProgressTop, SRCCOPY, &original);
    drawLayer(target, memory, step, kStepTop, SRCPAINT, &original);
    if (original) SelectObject(memory, original);
    DeleteDC(memory);
  }
  EndPaint(window, &ps);

  if (progress) DeleteObject(progress);
  if (step) DeleteObject(step);
}

void centre(HWND window) {
  RECT frame{};
  GetWindowRect(window, &frame);
  const WindowOrigin origin = centredOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                            frame.right - frame.left, frame.bottom - frame.top);
  SetWindowPos(window, HWND_TOP, origin.x, origin.y, 0, 0, SWP_NOSIZE);
}

}  // namespace

LRESULT CALLBACK splashWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      splashBitmap = LoadBitmapW(GetModuleHandleW(nullptr), L"SPLASH");
      if (!splashBitmap) MessageBoxW(window, L"Could not load splash bitmap!", L"Error", MB_OK | MB_ICONEXCLAMATION);
      centre(window);
      return 0;
    case WM_PAINT:
      paint(window);
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      if (splashBitmap) DeleteObject(splashBitmap);
      splashBitmap = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

DWORD WINAPI splashThreadMain(LPVOID) {
  StatusModel& model = status();
  HINSTANCE instance = static_cast<HINSTANCE>(model.appInstance);

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = 0;
  windowClass.lpfnWndProc = splashWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = kClassName;
  windowClass.hIconSm = LoadIconW(nullptr, IDI_APPLICATION);
  if (!RegisterClassExW(&windowClass)) {
    MessageBoxW(nullptr, L"Window Registration Failed!", L"Error!", MB_OK | MB_ICONEXCLAMATION);
    return 0;
  }

  // WM_CREATE runs inside this call: the window comes back centred.
  HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, L"", kWindowStyle, 0, 0, kSplashWidth,
                                kSplashHeight, nullptr, nullptr, instance, nullptr);
  if (!window) {
    MessageBoxW(nullptr, L"Window Creation Failed!", L"Error!", MB_OK | MB_ICONEXCLAMATION);
    return 0;
  }
  model.setSplashWindow(window);

  ShowWindow(window, splashShowCommand(model.showCommand));
  // The system may still apply the start-up's own setting to a first
  // ShowWindow: back to the window's own size, in the centre.
  if (IsZoomed(window) || IsIconic(window)) {
    ShowWindow(window, SW_RESTORE);
    centre(window);
  }
  UpdateWindow(window);
  model.setWindowReady();
  if (readyEvent) SetEvent(readyEvent);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

SplashStart startSplashWindow(StatusModel& model) {
  splashStatus = &model;
  UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  readyEvent = ready.get();

  UniqueHandle thread(CreateThread(nullptr, 0, splashThreadMain, nullptr, 0, nullptr));
  if (!thread) {
    readyEvent = nullptr;
    return SplashStart::kThreadNotStarted;
  }
  if (ready) {
    const HANDLE either[] = {ready.get(), thread.get()};
    WaitForMultipleObjects(2, either, FALSE, INFINITE);
  } else {
    // Without the event, look at the flag between waits on the thread.
    while (!model.windowReady() && WaitForSingleObject(thread.get(), 100) == WAIT_TIMEOUT) {
    }
  }
  // Either the thread has set the event, or it has ended: it no longer looks
  // at readyEvent.
  readyEvent = nullptr;
  return model.windowReady() ? SplashStart::kWindowReady : SplashStart::kNoWindow;
}
