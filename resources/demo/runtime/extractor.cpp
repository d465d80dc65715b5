// Demo runtime archive: a self-extracting console program that unpacks the
// folder "jre" (bin\java.exe and bin\javaw.exe, carried as resources) into
// the current folder, asks nothing, and ends. Exit code 0 when everything is
// written, 1 otherwise.

#include <windows.h>

#include <cstdio>

namespace {

bool unpack(const wchar_t* resource, const wchar_t* path) {
  HRSRC found = FindResourceW(nullptr, resource, MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  HGLOBAL data = found ? LoadResource(nullptr, found) : nullptr;
  const void* bytes = data ? LockResource(data) : nullptr;
  if (!bytes) return false;
  DWORD size = SizeofResource(nullptr, found);
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, bytes, size, &written, nullptr) && written == size;
  return CloseHandle(file) && ok;
}

}  // namespace

int main() {
  CreateDirectoryW(L"jre", nullptr);
  CreateDirectoryW(L"jre\\bin", nullptr);
  if (!unpack(L"JAVA", L"jre\\bin\\java.exe") || !unpack(L"JAVAW", L"jre\\bin\\javaw.exe")) {
    std::fprintf(stderr, "cannot unpack the runtime (error %lu)\n", GetLastError());
    return 1;
  }
  return 0;
}
