#include <windows.h>

#include "splash/status_model.h"

namespace {

class Win32StatusPlatform : public StatusPlatform {
 public:
  void repaint(void* window) override {
    HWND hwnd = static_cast<HWND>(window);
    InvalidateRect(hwnd, nullptr, FALSE);
    UpdateWindow(hwnd);
  }
  void sleep(int milliseconds) override { Sleep(static_cast<DWORD>(milliseconds < 0 ? 0 : milliseconds)); }
};

}  // namespace

StatusModel& processStatus() {
  static Win32StatusPlatform platform;
  static StatusModel model(platform);
  return model;
}
