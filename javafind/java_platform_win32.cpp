#include "javafind/java_platform_win32.h"

#include <windows.h>

#include "common/console.h"
#include "common/folders.h"
#include "common/system.h"
#include "common/text.h"
#include "process/run_command.h"

namespace {

// Owns an open registry key.
class RegistryKey {
 public:
  RegistryKey(const std::string& path, REGSAM rights) {
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, widen(path).c_str(), 0, rights, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~RegistryKey() {
    if (key_) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

constexpr DWORD kNameLimit = 1024;   // characters of a subkey name, terminator included
constexpr DWORD kValueLimit = 1024;  // characters of "JavaHome", terminator included

std::string oemToUtf8(const std::string& text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(GetOEMCP(), 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return text;
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(GetOEMCP(), 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return narrow(wide);
}

}  // namespace

bool Win32JavaPlatform::pathExists(const std::string& path) {
  return !path.empty() && GetFileAttributesW(widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Win32JavaPlatform::absolutePath(const std::string& path) { return fullPath(path); }

std::string Win32JavaPlatform::expandVariables(const std::string& text) {
  if (text.find('%') == std::string::npos) return text;
  const std::wstring wide = widen(text);
  const DWORD needed = ExpandEnvironmentStringsW(wide.c_str(), nullptr, 0);
  if (needed == 0) return text;
  std::wstring expanded(needed, L'\0');
  const DWORD length = ExpandEnvironmentStringsW(wide.c_str(), expanded.data(), needed);
  if (length == 0 || length > needed) return text;
  expanded.resize(length - 1);  // the count includes the terminator
  return narrow(expanded);
}

int Win32JavaPlatform::runProbe(const std::string& command, std::string& output) {
  return runCommandCaptured(command, output, probeTimeoutMs_);
}

bool Win32JavaPlatform::getEnv(const std::string& name, std::string& value) {
  return environmentVariable(name, value);
}

bool Win32JavaPlatform::registrySubkeys(const std::string& keyPath, std::vector<std::string>& names) {
  names.clear();
  RegistryKey key(keyPath, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE);
  if (!key.get()) return false;
  for (DWORD index = 0;; ++index) {
    wchar_t name[kNameLimit];
    DWORD size = kNameLimit;
    if (RegEnumKeyExW(key.get(), index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.push_back(narrow(std::wstring_view(name, size)));
  }
  return true;
}

bool Win32JavaPlatform::registryJavaHome(const std::string& keyPath, std::string& data) {
  data.clear();
  RegistryKey key(keyPath, KEY_QUERY_VALUE);
  if (!key.get()) return false;
  wchar_t buffer[kValueLimit] = {};
  DWORD type = 0, size = sizeof buffer;
  if (RegQueryValueExW(key.get(), L"JavaHome", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
    data = narrow(std::wstring_view(buffer, size / sizeof(wchar_t)));
  } else {
    data.assign(reinterpret_cast<const char*>(buffer), size);
  }
  return true;
}

JavaSearchPlatform::LocateRun Win32JavaPlatform::runLocate(const std::string& command, std::string& output) {
  // Bounded like the probes: a hung "where" or an offline share on PATH must
  // not stall the installation.
  std::string raw;
  const InterpreterRun run = runInterpreterRun(command, raw, probeTimeoutMs_);
  // A console program without a window of its own writes redirected text in
  // the OEM code page, not in UTF-8.
  output += oemToUtf8(raw);
  LocateRun result;
  result.limitSeconds = probeTimeoutMs_ / 1000;
  result.outcome = run.outcome == InterpreterRun::kEnded      ? LocateRun::kEnded
                   : run.outcome == InterpreterRun::kTimedOut ? LocateRun::kTimedOut
                                                              : LocateRun::kNotStarted;
  return result;
}

void Win32JavaPlatform::writeOut(std::string_view text) { ::writeOut(text); }

void Win32JavaPlatform::writeErr(std::string_view text) { ::writeErr(text); }
