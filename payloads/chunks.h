#pragma once
// Naming and progress rules of the numbered payload chunks.

#include <string>

// The resource name of chunk `index` (counted from 1) of a payload:
// "JAR", 7 -> "JAR_7". Plain decimal, no leading zeros.
std::string chunkName(const std::string& baseName, int index);

// The progress reported after chunk `written` (zero-based) of `count` chunks
// has been written: written * 100 / count, truncated. Never reaches 100; with
// 67 chunks the last report is 98. `count` must be positive.
int extractionProgress(int written, int count);

// The name of a payload's temporary file beside its target: "bhx", the
// number as four upper-case hexadecimal digits, ".tmp" ("bhx00AF.tmp").
std::string temporaryPayloadName(unsigned number16);

// Whether `name` has exactly that shape.
bool isTemporaryPayloadName(const std::string& name);
