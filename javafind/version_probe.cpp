#include "javafind/version_probe.h"

#include <cstddef>

#include "process/interpreter.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Matches one line (no line end) against <word> version "<text>".
bool versionLineText(const std::string& line, std::string& text) {
  size_t at = 0;
  while (at < line.size() && !isBlank(line[at]) && line[at] != '"') ++at;
  if (at == 0) return false;
  const size_t wordEnd = at;
  while (at < line.size() && isBlank(line[at])) ++at;
  if (at == wordEnd) return false;
  static const char kVersion[] = "version";
  for (const char* v = kVersion; *v != '\0'; ++v, ++at) {
    if (at >= line.size() || lower(line[at]) != *v) return false;
  }
  const size_t versionEnd = at;
  while (at < line.size() && isBlank(line[at])) ++at;
  if (at == versionEnd || at >= line.size() || line[at] != '"') return false;
  const size_t open = at;
  const size_t close = line.find('"', open + 1);
  if (close == std::string::npos) return false;
  text = line.substr(open + 1, close - open - 1);
  return true;
}

}  // namespace

std::string probeCommand(const JavaInstall& install) { return quotedForCmd(install.javaPath()) + " -version"; }

bool findVersionText(const std::string& output, std::string& text) {
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    const size_t next = (end == std::string::npos) ? output.size() : end + 1;
    if (end == std::string::npos) end = output.size();
    if (end > start && output[end - 1] == '\r') --end;
    if (versionLineText(output.substr(start, end - start), text)) return true;
    start = next;
  }
  return false;
}

bool readProbeAnswer(int status, const std::string& output, VersionNumbers& version) {
  if (status != 0) return false;
  std::string text;
  if (!findVersionText(output, text)) return false;
  return readVersionNumbers(text, version);
}
