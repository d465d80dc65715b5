#include "splash/status_model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

void progressTextFor(int percent, char (&text)[4]) {
  int shown = std::clamp(percent / 10 * 10, 0, 100);
  std::snprintf(text, sizeof text, "%d", shown);
}

StatusModel::StatusModel(StatusPlatform& platform) : platform_(platform) {}

void StatusModel::setStep(const char* name) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    std::strncpy(stepName_, name, sizeof stepName_ - 1);
    stepName_[sizeof stepName_ - 1] = '\0';
  }
  repaint();
}

void StatusModel::setProgress(int percent) {
  char text[4];
  progressTextFor(percent, text);
  {
    std::lock_guard<std::mutex> guard(lock_);
    std::memcpy(progressText_, text, sizeof text);
  }
  repaint();
}

void StatusModel::animateProgress(int durationMs) {
  const int frameTime = durationMs / 11;
  for (int percent = 0; percent <= 100; percent += 10) {
    setProgress(percent);
    platform_.sleep(frameTime);
  }
}

StatusSnapshot StatusModel::snapshot() const {
  StatusSnapshot copy;
  std::lock_guard<std::mutex> guard(lock_);
  std::memcpy(copy.stepName, stepName_, sizeof stepName_);
  std::memcpy(copy.progressText, progressText_, sizeof progressText_);
  return copy;
}

void StatusModel::repaint() {
  if (void* window = splashWindow()) platform_.repaint(window);
}
