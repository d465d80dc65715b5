#include "common/console.h"

#include <windows.h>

namespace {

void writeAll(DWORD which, std::string_view text) {
  HANDLE stream = GetStdHandle(which);
  if (stream == nullptr || stream == INVALID_HANDLE_VALUE) return;
  while (!text.empty()) {
    DWORD written = 0;
    if (!WriteFile(stream, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) || written == 0) return;
    text.remove_prefix(written);
  }
}

}  // namespace

void writeOut(std::string_view text) { writeAll(STD_OUTPUT_HANDLE, text); }

void writeErr(std::string_view text) { writeAll(STD_ERROR_HANDLE, text); }
