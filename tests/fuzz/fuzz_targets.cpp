// libFuzzer targets for every parser of text from outside the launcher: the
// command line, a java's "-version" output, the "where" answer, the registry
// value and the COMSPEC and PATH values. Each is built as its own program
// with FUZZ_TARGET naming the parser (cmake/Fuzz.cmake). Beyond the
// sanitizers, each checks what must hold for any input.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "javafind/java_install.h"
#include "javafind/java_search.h"
#include "javafind/version_probe.h"
#include "launcher/command_line.h"
#include "process/interpreter.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void fuzzCommandLine(const std::string& input) {
  const std::string arguments = argumentText(input);
  check(endsWith(input, arguments));
  const bool keyword = arguments == "-x" || arguments == "-extract" || arguments == "--extract";
  check((selectMode(arguments) == LaunchMode::kExtractOnly) == keyword);
  check(wantsTextNotice(arguments) == (arguments == "-text" || arguments == "text"));
}

void fuzzVersion(const std::string& input) {
  std::string text;
  if (findVersionText(input, text)) check(input.find(text) != std::string::npos);
  VersionNumbers version;
  readVersionNumbers(input, version);
  for (int status : {0, 1, -1}) readProbeAnswer(status, input, version);
  JavaInstall install;
  install.setVersion(input);
  install.versionText();
}

void fuzzWhere(const std::string& input) {
  const std::string line = firstLine(input);
  check(input.compare(0, line.size(), line) == 0);
  check(line.find('\n') == std::string::npos);
  std::string folder;
  if (installFolderFromLocate(input, folder)) check(line.compare(0, folder.size(), folder) == 0);
}

void fuzzRegistry(const std::string& input) {
  for (int choice : {kNoRegistryKey, kRuntimeKeyTag, kDevelopmentKitKeyTag}) {
    const std::string folder = registryFolder(input, choice);
    check(folder.find('\0') == std::string::npos);
  }
}

void fuzzInterpreter(const std::string& input) {
  // The first line is COMSPEC, the rest PATH.
  const size_t cut = input.find('\n');
  const std::string comspec = input.substr(0, cut);
  const std::string path = cut == std::string::npos ? "" : input.substr(cut + 1);
  const Interpreter chosen = chooseInterpreter(&comspec, "C:\\Windows\\system32", splitSearchPath(path),
                                               [](const std::string& file) { return file.size() % 3 == 0; });
  check(!chosen.path.empty());
  const std::string line = interpreterCommandLine(chosen, "where java 2>nul");
  check(endsWith(line, " /s /c \"where java 2>nul\""));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  FUZZ_TARGET(input);
  return 0;
}
