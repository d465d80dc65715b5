#include <windows.h>

#include "splash/status_model.h"

namespace {

class Win32StatusPlatform : public StatusPlatform {
 public:
  void repaint(void* window) override {
    HWND hwnd = static_cast<HWND>(window);
    InvalidateRect(hwnd, nullptr, FALSE);
    UpdateWindow(hwnd);
    // The splash thread's own message loop may have taken the paint between
    // the two calls above; UpdateWindow then finds nothing invalid and
    // returns while that paint still runs. A message sent to the window is
    // handled only once the thread is back in its loop, so it returns after
    // the paint.
    SendMessageW(hwnd, WM_NULL, 0, 0);
  }
  void sleep(int milliseconds) override { Sleep(static_cast<DWORD>(milliseconds < 0 ? 0 : milliseconds)); }
};

}  // namespace

StatusModel& processStatus() {
  static Win32StatusPlatform platform;
  static StatusModel model(platform);
  return model;
}
