#pragma once
// What the splash window shows: the current step and the progress, plus the
// few values through which the main thread and the splash thread find each
// other. Only the main thread changes step and progress; the splash thread
// reads them in every paint through snapshot(). Each change is stored first
// and then, while a window exists, painted before the call returns.

#include <atomic>
#include <mutex>

#include "payloads/progress_sink.h"

// The window-system side of the model, replaced by a recorder in tests.
class StatusPlatform {
 public:
  virtual ~StatusPlatform() = default;
  // Invalidates the whole window and has it painted now (InvalidateRect, then
  // UpdateWindow, then a message sent to the window as a barrier): returns
  // after the window's thread has painted.
  virtual void repaint(void* window) = 0;
  virtual void sleep(int milliseconds) = 0;
};

// A consistent copy of the two texts, as one paint uses them.
struct StatusSnapshot {
  char stepName[12];
  char progressText[4];
};

// The progress as shown: percent reduced to a multiple of ten (truncating
// toward zero) in plain decimal: 0-9 give "0", 55 gives "50", 100 gives "100".
// Callers pass 0 to 100; values outside that are clamped to keep the text
// within its three characters.
void progressTextFor(int percent, char (&text)[4]);

class StatusModel : public ProgressSink {
 public:
  explicit StatusModel(StatusPlatform& platform);

  // Stores `name` (at most 11 characters; longer names are cut) as the step,
  // then repaints. The progress is left as it is.
  void setStep(const char* name);
  // Stores the progress text for `percent`, then repaints.
  void setProgress(int percent) override;
  // Runs the progress "0", "10", ... "100" in eleven frames; after each frame
  // it sleeps durationMs / 11 ms (truncated), the last frame included.
  void animateProgress(int durationMs);

  StatusSnapshot snapshot() const;

  // Set once by the splash thread, before it sets windowReady. Until then,
  // and while it is null, changes are stored and nothing is repainted.
  void setSplashWindow(void* window) { splashWindow_.store(window, std::memory_order_release); }
  void* splashWindow() const { return splashWindow_.load(std::memory_order_acquire); }
  void setWindowReady() { windowReady_.store(true, std::memory_order_release); }
  bool windowReady() const { return windowReady_.load(std::memory_order_acquire); }

  // Written by the main thread before the splash thread starts.
  void* appInstance = nullptr;
  int showCommand = 0;

 private:
  void repaint();

  StatusPlatform& platform_;
  // Guards the two texts: the splash thread may paint on its own (window
  // uncovered or moved) while the main thread writes. Never held across
  // repaint(), whose paint takes it on the other thread.
  mutable std::mutex lock_;
  char stepName_[12] = "TMP";
  char progressText_[4] = "0";
  std::atomic<void*> splashWindow_{nullptr};
  std::atomic<bool> windowReady_{false};
};

// The process's one status model, backed by the real window system.
StatusModel& processStatus();
