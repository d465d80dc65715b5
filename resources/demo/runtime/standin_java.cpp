// Stand-in for a Java runtime's java.exe and javaw.exe in the demo runtime
// archive. No Windows Java can be installed on the build machine, so:
//  - "-version" answers like a Java 1.8 runtime, on standard error;
//  - anything else runs the same arguments with the build machine's own
//    Java (through Wine's Unix side) and returns that Java's exit code.
// A release build carries a real runtime instead.

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char kVersion[] =
    "java version \"1.8.0_281\"\n"
    "Java(TM) SE Runtime Environment (build 1.8.0_281-b09)\n"
    "Java HotSpot(TM) 64-Bit Server VM (build 25.281-b09, mixed mode)\n";

std::string utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
  std::string result(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length, nullptr, nullptr);
  return result;
}

std::wstring utf16(const std::string& text) {
  if (text.empty()) return {};
  int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring result(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
  return result;
}

using UnixNameFunction = char*(CDECL*)(const wchar_t*);

UnixNameFunction unixNameFunction() {
  static auto function = reinterpret_cast<UnixNameFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  return function;
}

// The Unix path of a Windows path, or the text unchanged when it has none.
std::string unixPath(const std::wstring& path) {
  char* name = unixNameFunction()(path.c_str());
  if (!name) return utf8(path);
  std::string result = name;
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

bool looksLikeWindowsPath(const std::wstring& text) {
  return (text.size() >= 3 && text[1] == L':' && (text[2] == L'\\' || text[2] == L'/')) ||
         text.rfind(L"\\\\", 0) == 0;
}

// -Dname=C:\path and absolute path arguments become Unix paths.
std::string translate(const std::wstring& argument) {
  size_t equals = argument.find(L'=');
  if (argument.rfind(L"-D", 0) == 0 && equals != std::wstring::npos &&
      looksLikeWindowsPath(argument.substr(equals + 1))) {
    return utf8(argument.substr(0, equals + 1)) + unixPath(argument.substr(equals + 1));
  }
  if (looksLikeWindowsPath(argument)) return unixPath(argument);
  return utf8(argument);
}

std::string shellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Quoting for a Windows command line, so Wine hands the text to sh as one
// argument.
std::wstring commandLineQuote(const std::wstring& text) {
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : text) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

int runWithHostJava(const std::vector<std::wstring>& arguments) {
  if (!unixNameFunction()) {
    std::fputs("this stand-in java runs only under Wine\n", stderr);
    return 1;
  }
  wchar_t temp[MAX_PATH + 1], statusName[MAX_PATH + 1], here[MAX_PATH * 4];
  GetTempPathW(MAX_PATH + 1, temp);
  GetTempFileNameW(temp, L"jst", 0, statusName);
  DeleteFileW(statusName);
  GetCurrentDirectoryW(MAX_PATH * 4, here);
  const std::string status = unixPath(statusName);

  std::string script = "cd " + shellQuote(unixPath(here)) + " && java";
  for (const std::wstring& argument : arguments) script += " " + shellQuote(translate(argument));
  script += "; echo $? > " + shellQuote(status + ".part") + " && mv " + shellQuote(status + ".part") + " " +
            shellQuote(status);

  // Wine starts Unix programs but gives no handle to wait on, so the shell
  // leaves the exit status in a file.
  std::wstring commandLine = L"/bin/sh -c " + commandLineQuote(utf16(script));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(L"Z:\\bin\\sh", commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    std::fprintf(stderr, "cannot start the host Java (error %lu)\n", GetLastError());
    return 1;
  }
  if (info.hProcess) CloseHandle(info.hProcess);
  if (info.hThread) CloseHandle(info.hThread);

  FILE* file = nullptr;
  while (!(file = _wfopen(statusName, L"r"))) Sleep(50);
  int code = 1;
  if (std::fscanf(file, "%d", &code) != 1) code = 1;
  std::fclose(file);
  DeleteFileW(statusName);
  return code;
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> arguments(argv + 1, argv + count);
  LocalFree(argv);
  for (const std::wstring& argument : arguments) {
    if (argument == L"-version") {
      std::fputs(kVersion, stderr);
      return 0;
    }
  }
  return runWithHostJava(arguments);
}
