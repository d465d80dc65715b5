#pragma once
// Clock, median and sample lines shared by the benchmarks that time whole
// processes under Wine.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

inline double nowMs() {
  static const LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// "<name> median <ms> ms   samples: <each>", one line.
inline void report(const char* name, const std::vector<double>& samples) {
  std::printf("%-40s median %8.1f ms   samples:", name, median(samples));
  for (double s : samples) std::printf(" %.1f", s);
  std::printf("\n");
}
