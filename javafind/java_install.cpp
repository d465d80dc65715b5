#include "javafind/java_install.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "javafind/version_probe.h"

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The leading "number part": digit runs joined by single "." or "_".
std::vector<int32_t> numberRuns(const std::string& text) {
  std::vector<int32_t> runs;
  size_t at = 0;
  while (at < text.size() && isDigit(text[at])) {
    int64_t value = 0;
    while (at < text.size() && isDigit(text[at])) {
      value = value * 10 + (text[at] - '0');
      if (value > INT32_MAX) value = INT32_MAX;
      ++at;
    }
    runs.push_back(static_cast<int32_t>(value));
    // A separator counts only when another run follows it.
    if (at + 1 < text.size() && (text[at] == '.' || text[at] == '_') && isDigit(text[at + 1])) {
      ++at;
    } else {
      break;
    }
  }
  return runs;
}

}  // namespace

bool readVersionNumbers(const std::string& text, VersionNumbers& version) {
  const std::vector<int32_t> runs = numberRuns(text);
  if (runs.empty()) return false;
  auto run = [&runs](size_t i) { return i < runs.size() ? runs[i] : 0; };
  VersionNumbers read;
  if (runs[0] == 1) {
    read.major = run(1);
    read.minor = run(2);
    read.update = run(3);
  } else {
    // Since 9 the first number is the release; the old form's 1 is implied.
    read.major = run(0);
    read.minor = run(1);
    read.update = run(2);
  }
  version = read;
  return true;
}

bool JavaInstall::setVersion(std::string text) { return readVersionNumbers(text, version_); }

int32_t JavaInstall::compareTo(JavaInstall other) const {
  const int32_t mine[] = {version_.prefix, version_.major, version_.minor, version_.update};
  const int32_t theirs[] = {other.version_.prefix, other.version_.major, other.version_.minor,
                            other.version_.update};
  for (int i = 0; i < 4; ++i) {
    if (mine[i] != theirs[i]) return mine[i] > theirs[i] ? 1 : -1;
  }
  return 0;
}

std::string JavaInstall::versionText() const {
  return std::to_string(version_.prefix) + "." + std::to_string(version_.major) + "." +
         std::to_string(version_.minor) + "_" + std::to_string(version_.update);
}

std::string JavaInstall::javaPath() const { return home_ + "\\bin\\java.exe"; }

std::string JavaInstall::javawPath() const { return home_ + "\\bin\\javaw.exe"; }

std::string JavaInstall::javacPath() const { return home_ + "\\bin\\javac.exe"; }

void JavaInstall::detectCompiler(JavaProbePlatform& platform) { hasCompiler_ = platform.pathExists(javacPath()); }

void JavaInstall::setHome(std::string folder, JavaProbePlatform& platform) {
  usable_ = true;
  home_ = std::move(folder);
  probeVersion(platform);
  detectCompiler(platform);
}

void JavaInstall::probeVersion(JavaProbePlatform& platform) {
  std::string output;
  // Named in full: the interpreter may not start in the current folder.
  JavaInstall named = *this;
  named.home_ = platform.absolutePath(home_);
  const int status = platform.runProbe(probeCommand(named), output);
  if (!readProbeAnswer(status, output, version_)) usable_ = false;
}
