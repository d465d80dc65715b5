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
// The chunks are written in order, each in one piece straight from the
// resource memory, through one handle into a temporary file in the same
// folder; only when every chunk is written does that file replace
// `outputPath` (an earlier file of that name included, also a hidden one).
//
// Returns 0 when every chunk is on disk under `outputPath`. Returns 1 when:
//  - there is no chunk 1 of that name and type: nothing is opened or touched;
//  - a chunk cannot be found, loaded or locked while writing, or the
//    temporary file cannot be created or written, or it cannot replace the
//    target (missing folder, access denied, target in use, a folder in the
//    way, disk full).
// On the second kind of failure the temporary file is removed and an
// earlier file at `outputPath` stays as it was. `failure`, when given, then
// receives one line naming `outputPath` and the reason (empty when no chunk
// 1 exists).
int extractPayload(const char* baseName, const char* type, const char* outputPath, ProgressSink& progress,
                   std::string* failure = nullptr);
