#include <windows.h>

#include "common/text.h"
#include "common/unique_handle.h"
#include "payloads/chunks.h"
#include "payloads/extract_payload.h"

namespace {

class ChunkLookup {
 public:
  ChunkLookup(const char* baseName, const char* type)
      : module_(GetModuleHandleW(nullptr)), baseName_(baseName), type_(widen(type)) {}

  HMODULE module() const { return module_; }

  HRSRC find(int index) const {
    return FindResourceW(module_, widen(chunkName(baseName_, index)).c_str(), type_.c_str());
  }

 private:
  HMODULE module_;
  std::string baseName_;
  std::wstring type_;
};

std::string describe(const std::wstring& path, const char* what, DWORD error) {
  wchar_t full[MAX_PATH * 4];
  DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(std::size(full)), full, nullptr);
  std::wstring shown = (length > 0 && length < std::size(full)) ? std::wstring(full, length) : path;
  return std::string("cannot ") + what + " \"" + narrow(shown) + "\": " + systemErrorText(error);
}

// The folder part of `path` ("." for a bare name), for a temporary file
// beside it: the final rename then stays on one volume.
std::wstring folderOf(const std::wstring& path) {
  const size_t cut = path.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return path.size() >= 2 && path[1] == L':' ? path.substr(0, 2) : L".";
  if (cut == 0 || (cut == 2 && path[1] == L':')) return path.substr(0, cut + 1);
  return path.substr(0, cut);
}

bool writeAll(HANDLE file, const void* bytes, DWORD size, DWORD* error) {
  DWORD written = 0;
  SetLastError(NO_ERROR);
  if (WriteFile(file, bytes, size, &written, nullptr) && written == size) return true;
  // A short write without an error code means the volume is full.
  *error = GetLastError() != NO_ERROR ? GetLastError() : ERROR_DISK_FULL;
  return false;
}

}  // namespace

int extractPayload(const char* baseName, const char* type, const char* outputPath, ProgressSink& progress,
                   std::string* failure) {
  if (failure) failure->clear();
  ChunkLookup lookup(baseName, type);
  progress.setProgress(0);

  int count = 0;
  while (lookup.find(count + 1) != nullptr) ++count;
  if (count == 0) return 1;

  // Every chunk goes through one handle into a temporary file beside the
  // target, which replaces the target only once it is whole: a scanner that
  // opens the file between two chunks cannot break the run, a failed run
  // leaves an earlier file as it was, and nobody ever sees half a payload
  // under the real name.
  const std::wstring path = widen(outputPath);
  wchar_t temporary[MAX_PATH * 4];
  if (!GetTempFileNameW(folderOf(path).c_str(), L"bhx", 0, temporary)) {
    if (failure) *failure = describe(path, "create", GetLastError());
    return 1;
  }
  UniqueFileHandle file(CreateFileW(temporary, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  auto fail = [&](const char* what, DWORD error) {
    if (failure && failure->empty()) *failure = describe(path, what, error);
    file.reset();
    DeleteFileW(temporary);
    return 1;
  };
  if (!file) return fail("create", GetLastError());

  for (int written = 0; written < count; ++written) {
    const int index = written + 1;
    HRSRC found = lookup.find(index);
    HGLOBAL data = found ? LoadResource(lookup.module(), found) : nullptr;
    const void* bytes = data ? LockResource(data) : nullptr;
    if (!bytes) {
      if (failure) *failure = "cannot load resource " + chunkName(baseName, index);
      return fail("write", ERROR_RESOURCE_DATA_NOT_FOUND);
    }
    DWORD error = NO_ERROR;
    if (!writeAll(file.get(), bytes, SizeofResource(lookup.module(), found), &error)) return fail("write", error);
    progress.setProgress(extractionProgress(written, count));
  }
  if (!file.close()) return fail("write", GetLastError());
  // Replaces an earlier file of that name, a hidden one too.
  if (!MoveFileExW(temporary, path.c_str(), MOVEFILE_REPLACE_EXISTING)) return fail("replace", GetLastError());
  return 0;
}
