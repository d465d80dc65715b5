// Times the splash window under Wine: how long the starter takes from
// creating the splash thread to the window being shown and painted, and how
// long one repaint request (a status change, painted before it returns)
// takes. One start per process; run it several times (bench/splash.sh).
// Prints "ready <ms>" and "repaint median <ms> p10 <ms> p90 <ms> of <n>".

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "common/console.h"
#include "splash/splash_window.h"
#include "splash/status_model.h"

namespace {

double millisecondsBetween(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  StatusModel& status = processStatus();
  status.appInstance = instance;
  status.showCommand = SW_SHOWNORMAL;

  LARGE_INTEGER before, after;
  QueryPerformanceCounter(&before);
  const SplashStart start = startSplashWindow(status);
  QueryPerformanceCounter(&after);
  if (start != SplashStart::kWindowReady) {
    writeErr("the splash window did not come up\n");
    return 1;
  }
  char line[160];
  std::snprintf(line, sizeof line, "ready %.2f\n", millisecondsBetween(before, after));
  writeOut(line);

  const int kRequests = 201;
  std::vector<double> times;
  for (int i = 0; i < kRequests; ++i) {
    QueryPerformanceCounter(&before);
    status.setProgress((i % 11) * 10);
    QueryPerformanceCounter(&after);
    times.push_back(millisecondsBetween(before, after));
  }
  std::sort(times.begin(), times.end());
  std::snprintf(line, sizeof line, "repaint median %.3f p10 %.3f p90 %.3f of %d\n", times[kRequests / 2],
                times[kRequests / 10], times[kRequests * 9 / 10], kRequests);
  writeOut(line);
  return 0;
}
