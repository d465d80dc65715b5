#pragma once
// Watches one process for message boxes, records each, and dismisses it, so
// that no test ever hangs on a box and every box a test did not expect is
// seen. Runs on a thread of its own from start() until stop() or the end of
// the object.

#include <windows.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct SeenBox {
  std::string caption;  // UTF-8
  std::string text;     // UTF-8, the box's message
  HWND owner = nullptr;  // GetWindow(GW_OWNER); null when the box has none
  std::wstring ownerClass;  // the owner's window class, when there is one
  bool hasIcon = false;
  // Whether a window of class "splash" of the same process was visible when
  // the box was seen.
  bool splashVisible = false;
  // That splash window's frame on the screen, when it was visible.
  RECT splashRect{};
  // When the box was told to close, and when it was seen destroyed (still
  // the epoch until then).
  std::chrono::steady_clock::time_point dismissedAt;
  std::chrono::steady_clock::time_point goneAt;
};

class BoxWatcher {
 public:
  BoxWatcher() = default;
  ~BoxWatcher() { stop(); }
  BoxWatcher(const BoxWatcher&) = delete;
  BoxWatcher& operator=(const BoxWatcher&) = delete;

  // Starts watching the process `processId` (this one by default), forgetting
  // the boxes of an earlier watch. Boxes are
  // looked for every few milliseconds; each is recorded once and dismissed
  // with its OK button.
  void start(DWORD processId = GetCurrentProcessId());
  // Stops watching; boxes seen so far stay recorded.
  void stop();

  std::vector<SeenBox> boxes() const;

  // Waits up to `timeout` until at least `count` boxes were seen.
  bool waitForBoxes(size_t count, std::chrono::milliseconds timeout) const;
  // Waits up to `timeout` until every box seen so far is destroyed.
  bool waitUntilAllGone(std::chrono::milliseconds timeout) const;

 private:
  void run(DWORD processId);

  mutable std::mutex lock_;
  std::vector<SeenBox> boxes_;
  std::vector<HWND> handled_;  // the window of each of boxes_
  std::thread thread_;
  bool stopping_ = false;
};

// Every box as one readable line, for failure messages.
std::string describe(const std::vector<SeenBox>& boxes);
