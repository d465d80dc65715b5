#include "tests/support/screen.h"

#include <cstdio>
#include <cstring>

#include "tests/support/files.h"

namespace {

uint32_t le32(const std::string& bytes, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}
uint16_t le16(const std::string& bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) |
                               static_cast<unsigned char>(bytes[at + 1]) << 8);
}

// Copies from `source` into a new 24-bit top-down DIB section.
Image capture(HDC source, int x, int y, int width, int height) {
  Image image(width, height);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC memory = CreateCompatibleDC(source);
  HBITMAP section = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!memory || !section) {
    if (section) DeleteObject(section);
    if (memory) DeleteDC(memory);
    return Image();
  }
  HGDIOBJ original = SelectObject(memory, section);
  BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY);
  GdiFlush();
  const int stride = (width * 3 + 3) & ~3;
  const unsigned char* row = static_cast<const unsigned char*>(bits);
  for (int r = 0; r < height; ++r, row += stride) {
    for (int c = 0; c < width; ++c) {
      const unsigned char* p = row + c * 3;
      image.at(c, r) = static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
    }
  }
  SelectObject(memory, original);
  DeleteObject(section);
  DeleteDC(memory);
  return image;
}

}  // namespace

bool readBmp(const std::wstring& path, Image* image) {
  std::string bytes;
  if (!readFile(path, &bytes) || bytes.size() < 54 || bytes.compare(0, 2, "BM") != 0) return false;
  const uint32_t offset = le32(bytes, 10);
  const int32_t width = static_cast<int32_t>(le32(bytes, 18));
  const int32_t rawHeight = static_cast<int32_t>(le32(bytes, 22));
  const uint16_t bitCount = le16(bytes, 28);
  const uint32_t compression = le32(bytes, 30);
  if (width <= 0 || rawHeight == 0 || (bitCount != 24 && bitCount != 32) || compression != BI_RGB) return false;
  const bool topDown = rawHeight < 0;
  const int height = topDown ? -rawHeight : rawHeight;
  const size_t bytesPerPixel = bitCount / 8;
  const size_t stride = (static_cast<size_t>(width) * bytesPerPixel + 3) & ~static_cast<size_t>(3);
  if (offset + stride * height > bytes.size()) return false;
  *image = Image(width, height);
  for (int r = 0; r < height; ++r) {
    const size_t row = offset + stride * static_cast<size_t>(topDown ? r : height - 1 - r);
    for (int c = 0; c < width; ++c) {
      const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data()) + row + c * bytesPerPixel;
      image->at(c, r) = static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
    }
  }
  return true;
}

bool writeBmp(const std::wstring& path, const Image& image) {
  const size_t stride = (static_cast<size_t>(image.width) * 3 + 3) & ~static_cast<size_t>(3);
  std::string bytes(54 + stride * image.height, '\0');
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(v >> (8 * i));
  };
  bytes[0] = 'B';
  bytes[1] = 'M';
  put32(2, static_cast<uint32_t>(bytes.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(image.width));
  put32(22, static_cast<uint32_t>(-image.height));
  bytes[26] = 1;
  bytes[28] = 24;
  for (int r = 0; r < image.height; ++r) {
    for (int c = 0; c < image.width; ++c) {
      const uint32_t p = image.at(c, r);
      const size_t at = 54 + stride * r + c * 3;
      bytes[at] = static_cast<char>(p & 0xFF);
      bytes[at + 1] = static_cast<char>(p >> 8 & 0xFF);
      bytes[at + 2] = static_cast<char>(p >> 16 & 0xFF);
    }
  }
  return writeFile(path, bytes);
}

Image captureScreen(const RECT& area) {
  HDC screen = GetDC(nullptr);
  Image image = capture(screen, area.left, area.top, area.right - area.left, area.bottom - area.top);
  ReleaseDC(nullptr, screen);
  return image;
}

Image captureClient(HWND window) {
  RECT client{};
  GetClientRect(window, &client);
  HDC dc = GetDC(window);
  Image image = capture(dc, 0, 0, client.right, client.bottom);
  ReleaseDC(window, dc);
  return image;
}

Image rowsOf(const Image& image, int top, int rows) {
  Image part(image.width, rows);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < image.width; ++c) part.at(c, r) = image.at(c, top + r);
  }
  return part;
}

Difference compare(const Image& expected, const Image& actual) {
  Difference difference;
  if (expected.width != actual.width || expected.height != actual.height) {
    difference.count = static_cast<long>(expected.pixels.size());
    difference.x = difference.y = -1;
    return difference;
  }
  for (int r = 0; r < expected.height; ++r) {
    for (int c = 0; c < expected.width; ++c) {
      if (expected.at(c, r) == actual.at(c, r)) continue;
      if (difference.count++ == 0) {
        difference.x = c;
        difference.y = r;
        difference.expected = expected.at(c, r);
        difference.actual = actual.at(c, r);
      }
    }
  }
  return difference;
}

std::string describe(const Difference& difference) {
  if (difference.count == 0) return "identical";
  if (difference.x < 0) return "sizes differ";
  char line[160];
  std::snprintf(line, sizeof line, "%ld pixels differ, the first at (%d, %d): expected %06X, got %06X",
                difference.count, difference.x, difference.y, static_cast<unsigned>(difference.expected),
                static_cast<unsigned>(difference.actual));
  return line;
}

Difference waitForScreen(const RECT& area, const Image& expected, unsigned long timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    Difference difference = compare(expected, captureScreen(area));
    if (difference.count == 0 || GetTickCount64() >= deadline) return difference;
    Sleep(50);
  }
}
