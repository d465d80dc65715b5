#pragma once

// Receives the progress of a payload extraction, in percent.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void setProgress(int percent) = 0;
};
