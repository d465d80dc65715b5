#include "payloads/chunks.h"

std::string chunkName(const std::string& baseName, int index) { return baseName + "_" + std::to_string(index); }

int extractionProgress(int written, int count) { return written * 100 / count; }

std::string temporaryPayloadName(unsigned number16) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string name = "bhx";
  for (int shift = 12; shift >= 0; shift -= 4) name += kDigits[(number16 >> shift) & 0xF];
  return name + ".tmp";
}

bool isTemporaryPayloadName(const std::string& name) {
  if (name.size() != 11 || name.compare(0, 3, "bhx") != 0 || name.compare(7, 4, ".tmp") != 0) return false;
  for (size_t i = 3; i < 7; ++i) {
    const char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}
