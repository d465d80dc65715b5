#pragma once
// Joins the numbered resource chunks of one payload into a file.

#include <string>

#include "payloads/progress_sink.h"

// Writes the payload `baseName` of resource type `type`, carried in this
// program's own image as the resources "<baseName>_1", "<baseName>_2", ...
// (the first missing index ends it), to `outputPath` (UTF-8; relative paths
// are taken against the current folder).
//
// Progress: reports 0 first, then extractionProgress(j, n) after chunk j of n
// is written (see chunks.h).
//
// The first chunk replaces whatever file was there; each further chunk is
// appended, reopening the file for each one and writing it in one piece
// straight from the resource memory.
//
// Returns 0 when every chunk is on disk. Returns 1 when:
//  - there is no chunk 1 of that name and type: nothing is opened or touched;
//  - a chunk cannot be found, loaded or locked while writing, or the output
//    cannot be opened, written or closed (missing folder, access denied, file
//    in use, disk full).
// On the second kind of failure a file this call created or truncated is
// removed again, so no partial payload stays behind; a file it could not open
// in the first place is left untouched. `failure`, when given, then receives
// one line naming the file and the reason (empty when no chunk 1 exists).
int extractPayload(const char* baseName, const char* type, const char* outputPath, ProgressSink& progress,
                   std::string* failure = nullptr);
