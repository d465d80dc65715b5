#pragma once
// Joins the numbered resource chunks of one payload into a file.

#include <cstdint>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "payloads/progress_sink.h"

// Why a payload did not reach its file.
enum class ExtractionError {
  kNone,
  kNoPayload,  // the image carries no chunk 1 of that name and type
  kDiskFull,   // the volume is full, or the user's quota is used up
  kInUse,      // another program still held the earlier file after the retries
  kReadOnly,   // the earlier file is read-only
  kOther,      // anything else: missing folder, access denied, a folder in the way, a chunk that will not load
};

struct ExtractionFailure {
  ExtractionError error = ExtractionError::kNone;
  // One line naming the file's full path and the reason; for kNoPayload it
  // names the missing resource ("JAR_1").
  std::string line;
};

// Writes the payload `baseName` of resource type `type`, carried in this
// program's own image as the resources "<baseName>_1", "<baseName>_2", ...
// (the first missing index ends it), to `outputPath` (UTF-8; relative paths
// are taken against the current folder).
//
// Progress: reports 0 first, then extractionProgress(j, n) after chunk j of n
// is written (see chunks.h).
//
// The chunks go, each in one piece straight from the resource memory,
// through one handle into a new temporary file "bhxNNNN.tmp" beside the
// target. That file is created in one open that keeps other programs from
// deleting or renaming it, and is marked for deletion from the start, so a
// process that dies (killed, signed out) leaves nothing: the system removes
// it with the last handle. Only when it is whole is the mark cleared and the
// file renamed over `outputPath` through the same handle (an earlier file of
// that name replaced, a hidden one too). While another program holds the
// earlier file, the replace is tried again for about two seconds, with the
// mark set between the attempts.
//
// Returns 0 when every chunk is on disk under `outputPath`. Returns 1 when:
//  - there is no chunk 1 of that name and type: nothing is opened or touched;
//  - a chunk cannot be found, loaded or locked while writing, or the
//    temporary file cannot be created or written, or it cannot replace the
//    target (missing folder, access denied, read-only, still in use, a
//    folder in the way, disk full).
// On any failure no temporary file stays and an earlier file at `outputPath`
// is as it was. `failure`, when given, receives the reason (kNone on
// success). A read-only earlier file is refused at once, before anything is
// written.
//
// With `hold`, the file is then opened for reading and shared only for
// reading, once it is known to be the very file written (same volume and
// file index), and left open in `hold`: until the caller lets go, no
// program can replace, rename or delete it. When another program put a file
// of its own in its place in the moment between, the extraction fails
// (kOther); when one holds it without sharing for about two seconds, it
// succeeds with `hold` empty.
int extractPayload(const char* baseName, const char* type, const char* outputPath, ProgressSink& progress,
                   ExtractionFailure* failure = nullptr, UniqueFileHandle* hold = nullptr);

// Names drawn before giving up on a folder full of bhx*.tmp files.
constexpr int kTemporaryNameAttempts = 100;

// Tests only: the next extraction draws its temporary names from `seed`
// (not 0) instead of the clock, and temporaryNamesForSeed tells which
// names, in order, so a test can take them all first.
void seedNextExtraction(uint64_t seed);
std::vector<std::string> temporaryNamesForSeed(uint64_t seed, int count);
