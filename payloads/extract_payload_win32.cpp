#include <windows.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "common/folders.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "payloads/chunks.h"
#include "payloads/extract_payload.h"

#ifndef ERROR_DISK_QUOTA_EXCEEDED
#define ERROR_DISK_QUOTA_EXCEEDED 1295L
#endif

namespace {

// About two seconds in all, as the clean-up waits for a held entry.
const int kReplaceAttempts = 40;
const DWORD kReplacePauseMs = 50;

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

// The folder part of a full path, with its trailing backslash.
std::wstring folderOf(const std::wstring& full) {
  const size_t cut = full.find_last_of(L"\\/");
  return cut == std::wstring::npos ? std::wstring() : full.substr(0, cut + 1);
}

bool isDiskFull(DWORD error) {
  return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL || error == ERROR_DISK_QUOTA_EXCEEDED;
}

// Draws "bhxNNNN.tmp" names (temporaryPayloadName); collisions are settled
// by CREATE_NEW.
class NameDrawer {
 public:
  explicit NameDrawer(uint64_t seed) : state_(seed) {}
  NameDrawer() {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    state_ = static_cast<uint64_t>(counter.QuadPart) ^ (uint64_t{GetCurrentProcessId()} << 32) ^ GetTickCount64();
  }
  std::wstring next() {
    // splitmix64
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return widen(temporaryPayloadName(static_cast<unsigned>(z & 0xFFFF)));
  }

 private:
  uint64_t state_;
};

// The drawing's start for the next extraction; 0: from the clock.
uint64_t nextSeed = 0;

bool markForDeletion(HANDLE file, bool mark) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = mark ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

// Renames the file behind `file` to `target` (a full path), replacing what is
// there. Returns the error, NO_ERROR on success.
DWORD renameByHandle(HANDLE file, const std::wstring& target) {
  const size_t nameBytes = target.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(nameBytes);
  std::copy(target.begin(), target.end(), rename->FileName);
  return SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size()))
             ? NO_ERROR
             : GetLastError();
}

bool refusesRenameByHandle(DWORD error) {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
         error == ERROR_CALL_NOT_IMPLEMENTED;
}

// Which file a handle has open: a name can come to mean another file.
struct FileIdentity {
  DWORD volume = 0;
  uint64_t index = 0;
  bool known = false;
  bool operator==(const FileIdentity& other) const {
    return known && other.known && volume == other.volume && index == other.index;
  }
};

FileIdentity identityOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file, &information)) return {};
  return {information.dwVolumeSerialNumber,
          static_cast<uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow, true};
}

bool heldByAnother(DWORD error) { return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION; }

DWORD attributesOf(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }

bool isFolder(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool isReadOnlyFile(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
         !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// One extraction's temporary file and the reasons it may fail.
class Extraction {
 public:
  Extraction(const std::wstring& target, ExtractionFailure* failure) : target_(target), failure_(failure) {}

  int fail(ExtractionError error, const std::string& reason, const char* what = "write") {
    if (failure_ && failure_->error == ExtractionError::kNone) {
      failure_->error = error;
      failure_->line = std::string("cannot ") + what + " \"" + narrow(target_) + "\": " + reason;
    }
    discard();
    return 1;
  }

  int failWith(DWORD error, const char* what = "write") {
    return fail(isDiskFull(error) ? ExtractionError::kDiskFull : ExtractionError::kOther, systemErrorText(error),
                what);
  }

  int failReadOnly() { return fail(ExtractionError::kReadOnly, "the file there is read-only", "replace"); }

  int failFolderInTheWay() { return fail(ExtractionError::kOther, "a folder of that name is in the way", "replace"); }

  // A target that no waiting can help, said at once: 0 when there is none.
  int failHopeless() {
    const DWORD attributes = attributesOf(target_);
    if (isFolder(attributes)) return failFolderInTheWay();
    if (isReadOnlyFile(attributes)) return failReadOnly();
    return 0;
  }

  // Creates the temporary file beside the target and marks it for deletion.
  // A name that is taken belongs to someone else: it is never remembered,
  // so no failure path can delete it.
  bool create(NameDrawer& names) {
    const std::wstring folder = folderOf(target_);
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
      const std::wstring candidate = folder + names.next();
      file_.reset(CreateFileW(candidate.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (file_) {
        temporary_ = candidate;
        identity_ = identityOf(file_.get());
        marked_ = markForDeletion(file_.get(), true);
        return true;
      }
      const DWORD error = GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
        failWith(error, "create");
        return false;
      }
    }
    failWith(ERROR_FILE_EXISTS, "create");
    return false;
  }

  HANDLE handle() const { return file_.get(); }

  // After replaceTarget: the target opened for reading and shared only for
  // reading, once it is known to be the file written. Tried for about two
  // seconds while another program holds it without sharing; then none.
  // Returns 1 after fail() when another program put a file of its own there
  // in between.
  int holdTarget(UniqueFileHandle& hold) {
    for (int attempt = 1;; ++attempt) {
      hold.reset(CreateFileW(target_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
      if (hold) {
        if (!identity_.known || identityOf(hold.get()) == identity_) return 0;
        hold.reset();
        return fail(ExtractionError::kOther, "another program replaced it as it was written");
      }
      if (GetLastError() != ERROR_SHARING_VIOLATION || attempt >= kReplaceAttempts) return 0;
      Sleep(kReplacePauseMs);
    }
  }

  // Puts the whole file in the target's place. Returns 0, or 1 after fail().
  int replaceTarget() {
    for (int attempt = 1;; ++attempt) {
      DWORD error = ERROR_SHARING_VIOLATION;
      // While another program holds the target, no rename can succeed: the
      // file stays marked, so a run killed while it waits leaves nothing.
      if (!targetHeldOpen()) {
        // Unmarked only for the moment of the rename.
        if (marked_) {
          if (!markForDeletion(file_.get(), false)) return failWith(GetLastError(), "replace");
          marked_ = false;
        }
        error = replaceOnce();
        if (error == NO_ERROR) return 0;
      }
      if (failHopeless()) return 1;
      if (!heldByAnother(error)) return failWith(error, "replace");
      if (attempt >= kReplaceAttempts) return fail(ExtractionError::kInUse, "it is in use by another program", "replace");
      Sleep(kReplacePauseMs);
    }
  }

 private:
  // True when another program has the target open without sharing deletion.
  // Other programs that block the rename are found by the rename itself.
  bool targetHeldOpen() const {
    UniqueFileHandle probe(CreateFileW(target_.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return !probe && GetLastError() == ERROR_SHARING_VIOLATION;
  }

  // One try, the file unmarked: renamed through its handle (marked again
  // when that fails), or, once a file system has refused a rename through
  // the handle, closed whole and moved by name. Returns the error.
  DWORD replaceOnce() {
    if (file_) {
      const DWORD error = renameByHandle(file_.get(), target_);
      if (error == NO_ERROR) {
        file_.reset();
        temporary_.clear();
        return NO_ERROR;
      }
      if (!refusesRenameByHandle(error)) {
        marked_ = markForDeletion(file_.get(), true);
        return error;
      }
      file_.reset();
    }
    if (!MoveFileExW(temporary_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)) return GetLastError();
    temporary_.clear();
    return NO_ERROR;
  }

  // The temporary file goes: with the mark, closing the handle removes it.
  void discard() {
    if (file_) {
      if (!marked_) marked_ = markForDeletion(file_.get(), true);
      file_.reset();
    }
    // Closed unmarked (a file system that renames only by name): it goes
    // only if the name still means the file this run wrote.
    if (!marked_ && !temporary_.empty()) {
      UniqueFileHandle again(CreateFileW(temporary_.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                         FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                         nullptr));
      if (again && identityOf(again.get()) == identity_) markForDeletion(again.get(), true);
    }
    temporary_.clear();
  }

  std::wstring target_;
  ExtractionFailure* failure_;
  std::wstring temporary_;
  UniqueFileHandle file_;
  FileIdentity identity_;
  bool marked_ = false;
};

bool writeAll(HANDLE file, const void* bytes, DWORD size, DWORD* error) {
  DWORD written = 0;
  SetLastError(NO_ERROR);
  if (WriteFile(file, bytes, size, &written, nullptr) && written == size) return true;
  // A short write without an error code means the volume is full.
  *error = GetLastError() != NO_ERROR ? GetLastError() : ERROR_DISK_FULL;
  return false;
}

}  // namespace

std::vector<std::string> temporaryNamesForSeed(uint64_t seed, int count) {
  NameDrawer names(seed);
  std::vector<std::string> drawn;
  for (int i = 0; i < count; ++i) drawn.push_back(narrow(names.next()));
  return drawn;
}

void seedNextExtraction(uint64_t seed) { nextSeed = seed; }

int extractPayload(const char* baseName, const char* type, const char* outputPath, ProgressSink& progress,
                   ExtractionFailure* failure, UniqueFileHandle* hold) {
  if (hold) hold->reset();
  if (failure) *failure = ExtractionFailure{};
  const uint64_t seed = std::exchange(nextSeed, 0);
  ChunkLookup lookup(baseName, type);
  progress.setProgress(0);

  int count = 0;
  while (lookup.find(count + 1) != nullptr) ++count;
  if (count == 0) {
    if (failure) *failure = {ExtractionError::kNoPayload, chunkName(baseName, 1)};
    return 1;
  }

  Extraction extraction(fullPath(widen(outputPath)), failure);
  // Said at once rather than after writing the whole payload.
  if (extraction.failHopeless()) return 1;
  NameDrawer names = seed != 0 ? NameDrawer(seed) : NameDrawer();
  if (!extraction.create(names)) return 1;

  for (int written = 0; written < count; ++written) {
    const int index = written + 1;
    HRSRC found = lookup.find(index);
    HGLOBAL data = found ? LoadResource(lookup.module(), found) : nullptr;
    const void* bytes = data ? LockResource(data) : nullptr;
    if (!bytes) return extraction.fail(ExtractionError::kOther, "cannot load resource " + chunkName(baseName, index));
    DWORD error = NO_ERROR;
    if (!writeAll(extraction.handle(), bytes, SizeofResource(lookup.module(), found), &error)) {
      return extraction.failWith(error);
    }
    progress.setProgress(extractionProgress(written, count));
  }
  if (extraction.replaceTarget() != 0) return 1;
  return hold ? extraction.holdTarget(*hold) : 0;
}
