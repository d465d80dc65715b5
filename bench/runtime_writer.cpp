// The runtime compression benchmark's reference: a runtime written the plain
// way, as fast as a program can write it, with nothing around it. It maps
// DATA (every file's bytes, one after another) and follows LIST, one line
// per entry in order, folders before what they hold:
//   D <tab> relative path         a folder under TARGET
//   F <tab> size <tab> relative path   a file of the next size bytes of DATA
// Each file is created anew and written in 8 MiB WriteFile calls. Windowed,
// like the runtime archive.
// usage: runtime_writer.exe LIST DATA TARGET
// Exit code 0, 1 for bad arguments or input, 2 when a file or folder could
// not be written.

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>

namespace {

const DWORD kPiece = 8u << 20;

std::wstring widen(const char* text, size_t size) {
  std::wstring wide(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(size), nullptr, 0)),
                    L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(size), wide.data(), static_cast<int>(wide.size()));
  return wide;
}

// The whole file mapped read-only, or nullptr.
const char* mapFile(const wchar_t* path, uint64_t* size) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  LARGE_INTEGER length;
  const char* view = nullptr;
  if (GetFileSizeEx(file, &length)) {
    *size = static_cast<uint64_t>(length.QuadPart);
    if (*size == 0) {
      view = "";
    } else if (HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr)) {
      view = static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
      CloseHandle(mapping);
    }
  }
  CloseHandle(file);
  return view;
}

bool writeFile(const std::wstring& path, const char* bytes, uint64_t size) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  while (ok && size > 0) {
    const DWORD piece = size < kPiece ? static_cast<DWORD>(size) : kPiece;
    DWORD written = 0;
    ok = WriteFile(file, bytes, piece, &written, nullptr) && written == piece;
    bytes += piece;
    size -= piece;
  }
  return CloseHandle(file) && ok;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!arguments || count != 4) return 1;
  uint64_t list_size = 0, data_size = 0;
  const char* list = mapFile(arguments[1], &list_size);
  const char* data = mapFile(arguments[2], &data_size);
  if (!list || !data) return 1;
  const std::wstring target = arguments[3];
  if (!CreateDirectoryW(target.c_str(), nullptr)) return 2;
  const char* end = list + list_size;
  uint64_t offset = 0;
  for (const char* line = list; line < end;) {
    const char* stop = line;
    while (stop < end && *stop != '\n') ++stop;
    if (stop - line < 3 || line[1] != '\t') return 1;
    const char* field = line + 2;
    uint64_t size = 0;
    if (line[0] == 'F') {
      while (field < stop && *field >= '0' && *field <= '9') size = size * 10 + static_cast<uint64_t>(*field++ - '0');
      if (field == stop || *field++ != '\t' || size > data_size - offset) return 1;
    } else if (line[0] != 'D') {
      return 1;
    }
    const std::wstring path = target + L"\\" + widen(field, static_cast<size_t>(stop - field));
    if (line[0] == 'D') {
      if (!CreateDirectoryW(path.c_str(), nullptr)) return 2;
    } else {
      if (!writeFile(path, data + offset, size)) return 2;
      offset += size;
    }
    line = stop + 1;
  }
  return 0;
}
