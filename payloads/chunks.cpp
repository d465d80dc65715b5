#include "payloads/chunks.h"

std::string chunkName(const std::string& baseName, int index) { return baseName + "_" + std::to_string(index); }

int extractionProgress(int written, int count) { return written * 100 / count; }
