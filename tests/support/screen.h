#pragma once
// Pixels on the screen and in bitmap files, for comparing what a window shows
// with what it should show.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Top-down rows of 0x00RRGGBB pixels.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;

  Image() = default;
  Image(int w, int h) : width(w), height(h), pixels(static_cast<size_t>(w) * h, 0) {}
  uint32_t& at(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
  uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Reads an uncompressed 24- or 32-bit BMP file. False when it is not one.
bool readBmp(const std::wstring& path, Image* image);
// Writes a 24-bit BMP file, for looking at a failure afterwards.
bool writeBmp(const std::wstring& path, const Image& image);

// The rectangle of the screen in screen coordinates, read through the
// screen's device context (GetDC(NULL), then BitBlt into a 24-bit DIB).
Image captureScreen(const RECT& area);
// The client area of `window` as the window's own surface holds it, read
// through its device context.
Image captureClient(HWND window);

// The rows [top, top + rows) of `image`.
Image rowsOf(const Image& image, int top, int rows);

struct Difference {
  long count = 0;  // pixels that differ; also counts a size mismatch as all
  int x = 0, y = 0;  // the first one
  uint32_t expected = 0, actual = 0;
};
Difference compare(const Image& expected, const Image& actual);
std::string describe(const Difference& difference);

// Captures `area` again and again until it equals `expected` or `timeoutMs`
// has passed; returns the last difference. The X server shows what a window
// drew a little later than the drawing call returns.
Difference waitForScreen(const RECT& area, const Image& expected, unsigned long timeoutMs = 10000);
