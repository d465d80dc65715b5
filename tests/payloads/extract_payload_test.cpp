// Extraction from this test program's own resources: it carries the odd
// chunk sets (three chunks, one, a gap, no first chunk, 67 chunks) that the
// build generates next to it.

#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/unique_handle.h"
#include "payloads/extract_payload.h"
#include "tests/support/files.h"

namespace {

class RecordingProgress : public ProgressSink {
 public:
  void setProgress(int percent) override { values.push_back(percent); }
  std::vector<int> values;
};

std::string expected(const wchar_t* set) {
  std::string bytes;
  EXPECT_TRUE(readFile(executableDir() + L"\\fixtures\\payloads\\expected\\" + set + L".bin", &bytes)) << "fixture";
  return bytes;
}

std::string contentOf(const std::wstring& path) {
  std::string bytes;
  EXPECT_TRUE(readFile(path, &bytes)) << narrow(path);
  return bytes;
}

struct JoinCase {
  const char* base;
  const wchar_t* set;
  std::vector<int> progress;
};

TEST(ExtractPayload, JoinsConsecutiveChunksAndReportsProgress) {
  const JoinCase cases[] = {
      {"THREE", L"THREE", {0, 0, 33, 66}},
      {"ONE", L"ONE", {0, 0}},
      {"GAP", L"GAP", {0, 0, 50}},  // chunk 4 lies behind the gap
  };
  for (const JoinCase& c : cases) {
    TempDir dir;
    std::wstring out = dir.file(L"payload.bin");
    RecordingProgress progress;
    ExtractionFailure failure{ExtractionError::kOther, "untouched"};
    EXPECT_EQ(extractPayload(c.base, "JAR", narrow(out).c_str(), progress, &failure), 0) << c.base;
    EXPECT_EQ(contentOf(out), expected(c.set)) << c.base;
    EXPECT_EQ(progress.values, c.progress) << c.base;
    EXPECT_EQ(failure.error, ExtractionError::kNone) << c.base;
    EXPECT_EQ(failure.line, "") << c.base;
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::wstring>{L"payload.bin"}) << "a temporary file was left";
  }
}

TEST(ExtractPayload, SixtySevenChunksReport98LastAndNeverMore) {
  TempDir dir;
  std::wstring out = dir.file(L"big.bin");
  RecordingProgress progress;
  ASSERT_EQ(extractPayload("SIXTYSEVEN", "JAR", narrow(out).c_str(), progress), 0);
  EXPECT_EQ(contentOf(out), expected(L"SIXTYSEVEN"));
  ASSERT_EQ(progress.values.size(), 68u);
  EXPECT_EQ(progress.values.back(), 98);
  for (size_t i = 1; i < progress.values.size(); ++i) {
    EXPECT_EQ(progress.values[i], static_cast<int>(i - 1) * 100 / 67) << "report " << i;
  }
}

TEST(ExtractPayload, MissingFirstChunkWritesNothing) {
  const struct {
    const char* base;
    const char* type;
  } cases[] = {
      {"NOFIRST", "JAR"},  // chunk 2 exists, chunk 1 does not
      {"THREE", "EXE"},    // right name, wrong type
      {"ABSENT", "JAR"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    std::wstring out = dir.file(L"payload.bin");
    RecordingProgress progress;
    ExtractionFailure failure;
    EXPECT_EQ(extractPayload(c.base, c.type, narrow(out).c_str(), progress, &failure), 1) << c.base;
    EXPECT_TRUE(folderEntries(dir.path()).empty()) << c.base;
    EXPECT_EQ(progress.values, std::vector<int>{0}) << c.base;
    EXPECT_EQ(failure.error, ExtractionError::kNoPayload) << c.base;
    EXPECT_EQ(failure.line, std::string(c.base) + "_1") << c.base;
  }
}

TEST(ExtractPayload, ReplacesAnExistingFileInsteadOfAppending) {
  TempDir dir;
  std::wstring out = dir.file(L"payload.bin");
  ASSERT_TRUE(writeFile(out, std::string(5000, 'x')));
  RecordingProgress progress;
  ASSERT_EQ(extractPayload("THREE", "JAR", narrow(out).c_str(), progress), 0);
  EXPECT_EQ(contentOf(out), expected(L"THREE"));
}

TEST(ExtractPayload, RelativePathLandsInTheCurrentFolderEvenOutsideTheAnsiCodePage) {
  TempDir dir(L"\u041f\u0440\u043e\u0432\u0435\u0440\u043a\u0430 \u6d4b\u8bd5");
  wchar_t previous[MAX_PATH * 4];
  GetCurrentDirectoryW(MAX_PATH * 4, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(dir.path().c_str()));
  RecordingProgress progress;
  int result = extractPayload("ONE", "JAR", "\xd0\xb0\xd1\x80\xd1\x85\xd0\xb8\xd0\xb2.jar", progress);
  SetCurrentDirectoryW(previous);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(contentOf(dir.file(L"\u0430\u0440\u0445\u0438\u0432.jar")), expected(L"ONE"));
}

// The output cannot be opened: the call must say so, name the file, and leave
// no partial file behind, nor harm one that was there.
TEST(ExtractPayload, UnwritableOutputFailsAndSaysWhy) {
  TempDir dir;
  const std::wstring readOnly = dir.file(L"read-only.bin");
  ASSERT_TRUE(writeFile(readOnly, "old content"));
  ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
  const std::wstring folder = dir.file(L"taken.bin");
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const struct {
    const char* tag;
    std::wstring target;
    ExtractionError error;
    const char* reason;  // expected in the line
  } cases[] = {
      {"missing folder", dir.file(L"no such folder\\payload.bin"), ExtractionError::kOther, "no such folder"},
      {"a folder in the way", folder, ExtractionError::kOther, "a folder of that name is in the way"},
      {"read-only earlier file", readOnly, ExtractionError::kReadOnly, "read-only"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    RecordingProgress progress;
    ExtractionFailure failure;
    const ULONGLONG started = GetTickCount64();
    EXPECT_EQ(extractPayload("THREE", "JAR", narrow(c.target).c_str(), progress, &failure), 1);
    EXPECT_LT(GetTickCount64() - started, 1000u) << "no waiting helps here";
    EXPECT_EQ(failure.error, c.error);
    EXPECT_EQ(failure.line.rfind("cannot ", 0), 0u) << failure.line;
    EXPECT_NE(failure.line.find(narrow(c.target)), std::string::npos) << failure.line;
    EXPECT_NE(failure.line.find(c.reason), std::string::npos) << failure.line;
    EXPECT_EQ(failure.line.find('\n'), std::string::npos) << failure.line;
  }
  EXPECT_TRUE(isDirectory(folder));
  EXPECT_EQ(contentOf(readOnly), "old content");
  SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::wstring>{L"read-only.bin", L"taken.bin"}))
      << "a temporary file was left";
}

}  // namespace

namespace {

// Plays a virus scanner: after the first chunk it opens every file in the
// folder, the one being written included, with the given sharing, and holds
// them until the end.
class Scanner : public ProgressSink {
 public:
  Scanner(std::wstring folder, DWORD share) : folder_(std::move(folder)), share_(share) {}
  void setProgress(int) override {
    if (++calls_ != 2) return;
    for (const std::wstring& name : folderEntries(folder_)) {
      ++seen;
      UniqueFileHandle file(CreateFileW((folder_ + L"\\" + name).c_str(), GENERIC_READ, share_, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (file) held.push_back(std::move(file));
    }
  }
  int seen = 0;
  std::vector<UniqueFileHandle> held;

 private:
  std::wstring folder_;
  DWORD share_;
  int calls_ = 0;
};

TEST(ExtractPayload, ScannerBetweenChunksNeitherBreaksTheRunNorSeesAPartialTarget) {
  const struct {
    const char* tag;
    DWORD share;
  } cases[] = {
      {"scanner sharing everything", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
      {"scanner sharing read only", FILE_SHARE_READ},
      {"scanner sharing read and delete", FILE_SHARE_READ | FILE_SHARE_DELETE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    TempDir dir;
    const std::wstring out = dir.file(L"payload.bin");
    Scanner scanner(dir.path(), c.share);
    ExtractionFailure failure;
    EXPECT_EQ(extractPayload("THREE", "JAR", narrow(out).c_str(), scanner, &failure), 0) << failure.line;
    EXPECT_EQ(scanner.seen, 1) << "the file being written was there to be opened";
    scanner.held.clear();
    EXPECT_EQ(contentOf(out), expected(L"THREE"));
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::wstring>{L"payload.bin"}) << "a temporary file was left";
  }
}

// The target cannot be replaced: the earlier file stays whole and no
// temporary file is left.
TEST(ExtractPayload, FailedRunLeavesTheEarlierFileAndNoTemporaryFile) {
  const struct {
    const char* tag;
    DWORD holderShare;  // how another program holds the earlier file
  } cases[] = {
      {"held without sharing", 0},
      {"held for reading, not deleting", FILE_SHARE_READ | FILE_SHARE_WRITE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    TempDir dir;
    const std::wstring out = dir.file(L"brackenhue.jar");
    ASSERT_TRUE(writeFile(out, "the earlier jar"));
    UniqueFileHandle holder(
        CreateFileW(out.c_str(), GENERIC_READ, c.holderShare, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder.valid());
    RecordingProgress progress;
    ExtractionFailure failure;
    const ULONGLONG started = GetTickCount64();
    EXPECT_EQ(extractPayload("THREE", "JAR", narrow(out).c_str(), progress, &failure), 1);
    const ULONGLONG waited = GetTickCount64() - started;
    EXPECT_GE(waited, 1500u) << "the replace is tried again for about two seconds";
    EXPECT_LT(waited, 5000u);
    EXPECT_EQ(failure.error, ExtractionError::kInUse);
    EXPECT_EQ(failure.line, "cannot replace \"" + narrow(out) + "\": it is in use by another program");
    holder.reset();
    EXPECT_EQ(contentOf(out), "the earlier jar");
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::wstring>{L"brackenhue.jar"}) << "a temporary file was left";
  }
}

// With a hold, the file written stays open, shared for reading only: other
// programs may read it, but not replace, rename, write or delete it until
// the hold goes.
TEST(ExtractPayload, HeldFileCanBeReadButNotSwapped) {
  TempDir dir;
  const std::wstring out = dir.file(L"jre_x64.exe");
  const std::wstring other = dir.file(L"other.exe");
  ASSERT_TRUE(writeFile(other, "another program's file"));
  RecordingProgress progress;
  UniqueFileHandle hold;
  ASSERT_EQ(extractPayload("THREE", "JAR", narrow(out).c_str(), progress, nullptr, &hold), 0);
  ASSERT_TRUE(hold.valid());
  EXPECT_EQ(contentOf(out), expected(L"THREE")) << "reading is shared";
  EXPECT_FALSE(MoveFileExW(other.c_str(), out.c_str(), MOVEFILE_REPLACE_EXISTING)) << "replaced while held";
  EXPECT_FALSE(MoveFileExW(out.c_str(), dir.file(L"away.exe").c_str(), 0)) << "renamed while held";
  EXPECT_FALSE(DeleteFileW(out.c_str())) << "deleted while held";
  UniqueFileHandle writer(CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(writer.valid()) << "opened for writing while held";
  writer.reset();
  hold.reset();
  EXPECT_TRUE(MoveFileExW(other.c_str(), out.c_str(), MOVEFILE_REPLACE_EXISTING)) << "the hold did not go";
}

// Every temporary name the extraction will draw is taken by another
// program's file: it fails, says so, and leaves each of those files as it
// found it. With one name free, it writes.
TEST(ExtractPayload, TakenTemporaryNamesAreNeverTouched) {
  const uint64_t seed = 0x5EED;
  const std::vector<std::string> names = temporaryNamesForSeed(seed, kTemporaryNameAttempts);
  for (const bool oneFree : {false, true}) {
    SCOPED_TRACE(oneFree ? "the last name free" : "every name taken");
    std::set<std::string> taken(names.begin(), names.end());
    if (oneFree) taken.erase(names.back());
    TempDir dir;
    for (const std::string& name : taken) {
      ASSERT_TRUE(writeFile(dir.file(widen(name)), "someone else's " + name));
    }
    const std::wstring out = dir.file(L"brackenhue.jar");
    RecordingProgress progress;
    ExtractionFailure failure;
    seedNextExtraction(seed);
    const int result = extractPayload("THREE", "JAR", narrow(out).c_str(), progress, &failure);
    if (oneFree) {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(contentOf(out), expected(L"THREE"));
    } else {
      EXPECT_EQ(result, 1);
      EXPECT_EQ(failure.error, ExtractionError::kOther);
      EXPECT_EQ(failure.line.rfind("cannot create \"" + narrow(out) + "\": ", 0), 0u) << failure.line;
      EXPECT_FALSE(fileExists(out));
    }
    for (const std::string& name : taken) EXPECT_EQ(contentOf(dir.file(widen(name))), "someone else's " + name);
    EXPECT_EQ(folderEntries(dir.path()).size(), taken.size() + (oneFree ? 1 : 0)) << "a file went or was left";
  }
}

}  // namespace
