#include "common/system.h"

#include <windows.h>

#include "common/text.h"

bool environmentVariable(const std::string& name, std::string& value) {
  const std::wstring wideName = widen(name);
  SetLastError(ERROR_SUCCESS);
  DWORD length = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (length == 0) {
    // Zero both for a missing variable and for an empty one.
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
    value.clear();
    return true;
  }
  std::wstring buffer(length, L'\0');
  length = GetEnvironmentVariableW(wideName.c_str(), buffer.data(), length);
  buffer.resize(length);
  value = narrow(buffer);
  return true;
}

std::string systemFolder() {
  wchar_t folder[MAX_PATH + 1];
  UINT length = GetSystemDirectoryW(folder, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return "C:\\Windows\\System32";
  return narrow(std::wstring(folder, length));
}
