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

// Writes one chunk: the first one replaces the file, later ones append.
// `opened` becomes true once the file is open, so the caller knows whether
// the file is now its own. On failure returns false and describes it; the
// handle is closed either way.
bool writeChunk(const std::wstring& path, bool first, const void* bytes, DWORD size, bool& opened,
                std::string* failure) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  // Later chunks open the existing file only: if it vanished between chunks,
  // starting a new one would quietly lose the chunks before. Append-only
  // access puts every write at the end.
  // The first chunk truncates by hand rather than with CREATE_ALWAYS, which
  // refuses an existing hidden or system file.
  UniqueFileHandle file(CreateFileW(path.c_str(), first ? GENERIC_WRITE : FILE_APPEND_DATA, share, nullptr,
                                    first ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    if (failure) *failure = describe(path, first ? "create" : "open", GetLastError());
    return false;
  }
  opened = true;
  if (first && !SetEndOfFile(file.get())) {
    if (failure) *failure = describe(path, "write", GetLastError());
    return false;
  }
  DWORD written = 0;
  SetLastError(NO_ERROR);
  if (!WriteFile(file.get(), bytes, size, &written, nullptr) || written != size) {
    // A short write without an error code means the volume is full.
    DWORD error = GetLastError();
    if (failure) *failure = describe(path, "write", error != NO_ERROR ? error : ERROR_DISK_FULL);
    return false;
  }
  if (!file.close()) {
    if (failure) *failure = describe(path, "write", GetLastError());
    return false;
  }
  return true;
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

  const std::wstring path = widen(outputPath);
  bool ours = false;  // this call created or truncated the file
  for (int written = 0; written < count; ++written) {
    const int index = written + 1;
    HRSRC found = lookup.find(index);
    HGLOBAL data = found ? LoadResource(lookup.module(), found) : nullptr;
    const void* bytes = data ? LockResource(data) : nullptr;
    bool ok = bytes != nullptr;
    if (!ok && failure) *failure = "cannot load resource " + chunkName(baseName, index);
    if (ok) ok = writeChunk(path, written == 0, bytes, SizeofResource(lookup.module(), found), ours, failure);
    if (!ok) {
      // A shortened payload is worse than none: drop what this call wrote.
      // A file the first open could not take over is left as it was.
      if (ours) DeleteFileW(path.c_str());
      return 1;
    }
    progress.setProgress(extractionProgress(written, count));
  }
  return 0;
}
