// The extraction benchmark's reference: the installer archive written the
// plain way, with nothing around it. It carries the same resources as the
// launcher and writes the chunks "JAR_1", "JAR_2", ... from its own mapped
// image into "brackenhue.jar" in the current folder, created anew, one
// WriteFile per chunk. No temporary file, no progress, no messages.

#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  HMODULE self = GetModuleHandleW(nullptr);
  HANDLE file = CreateFileW(L"brackenhue.jar", GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  for (int index = 1;; ++index) {
    const std::wstring name = L"JAR_" + std::to_wstring(index);
    HRSRC found = FindResourceW(self, name.c_str(), L"JAR");
    if (!found) break;
    const void* bytes = LockResource(LoadResource(self, found));
    DWORD written = 0;
    if (!bytes || !WriteFile(file, bytes, SizeofResource(self, found), &written, nullptr)) return 3;
  }
  return CloseHandle(file) ? 0 : 4;
}
