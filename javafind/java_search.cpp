#include "javafind/java_search.h"

#include <string>
#include <vector>

const char kRuntimeKey[] = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
const char kDevelopmentKitKey[] = "SOFTWARE\\JavaSoft\\Java Development Kit";
const char kLocateCommand[] = "where java 2>nul";

int lastSubkeyName(const std::vector<std::string>& names, int tag, std::string& subkeyName) {
  if (names.empty()) return kNoRegistryKey;
  subkeyName = names.back();
  return tag;
}

std::string registryFolder(const std::string& data, int registryChoice) {
  std::string folder = data.substr(0, data.find('\0'));
  if (registryChoice == kDevelopmentKitKeyTag) folder += "\\jre";
  return folder;
}

bool cutAtLastBackslash(const std::string& text, std::string& head) {
  const size_t at = text.rfind('\\');
  if (at == std::string::npos) return false;
  head = text.substr(0, at);
  return true;
}

std::string firstLine(const std::string& output) {
  std::string line = output.substr(0, output.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

bool installFolderFromLocate(const std::string& output, std::string& folder) {
  const std::string line = firstLine(output);
  std::string binFolder;
  std::string home;
  if (line.empty() || !cutAtLastBackslash(line, binFolder) || !cutAtLastBackslash(binFolder, home)) return false;
  folder = home;
  return true;
}

namespace {

// One run of the search: the state its sources share.
class Search {
 public:
  Search(JavaInstall& result, bool checkMinimum, const JavaInstall& minimum, bool rejectJdk, bool requireJdk,
         bool verbose, JavaSearchPlatform& platform)
      : result_(result),
        checkMinimum_(checkMinimum),
        minimum_(minimum),
        rejectJdk_(rejectJdk),
        requireJdk_(requireJdk),
        verbose_(verbose),
        platform_(platform) {}

  bool found() const { return found_; }

  void begin() { trace("Searching for a JVM\n"); }

  // A hint: a candidate unless empty.
  void tryHint(const char* header, const std::string& folder) {
    trace(header);
    if (!folder.empty()) tryShown(folder);
    stageResult();
  }

  // An environment variable: a candidate whenever it is set.
  void tryVariable(const char* header, const char* name) {
    trace(header);
    std::string value;
    if (platform_.getEnv(name, value)) tryShown(value);
    stageResult();
  }

  void tryRegistry() {
    trace(" - trying the registry: ");
    int choice = kNoRegistryKey;
    std::string subkeyName;
    std::vector<std::string> names;
    if (platform_.registrySubkeys(kRuntimeKey, names)) choice = lastSubkeyName(names, kRuntimeKeyTag, subkeyName);
    names.clear();
    // The development kit wins when it has a subkey; otherwise the runtime's
    // choice stands.
    if (platform_.registrySubkeys(kDevelopmentKitKey, names)) {
      const int tag = lastSubkeyName(names, kDevelopmentKitKeyTag, subkeyName);
      if (tag != kNoRegistryKey) choice = tag;
    }
    std::string data;
    if (choice != kNoRegistryKey &&
        platform_.registryJavaHome(
            std::string(choice == kRuntimeKeyTag ? kRuntimeKey : kDevelopmentKitKey) + "\\" + subkeyName, data)) {
      const std::string folder = registryFolder(data, choice);
      if (verbose_) platform_.writeErr("path: " + folder + "\n");
      tryCandidate(folder);
    }
    stageResult();
  }

  void tryPath() {
    trace(" - Looking on PATH (possibly yielding a pseudo, but passable, JAVA_HOME such as /usr): ");
    std::string output;
    const JavaSearchPlatform::LocateRun run = platform_.runLocate(kLocateCommand, output);
    std::string folder;
    if (run.outcome == JavaSearchPlatform::LocateRun::kNotStarted) {
      // Written in either form: the search cannot tell the user otherwise.
      platform_.writeErr("Failed to run the command to locate 'java' on PATH\n");
      platform_.writeErr(std::string("Command run was: ") + kLocateCommand + "\n");
    } else if (run.outcome == JavaSearchPlatform::LocateRun::kTimedOut) {
      platform_.writeErr("'where java' did not finish within " + std::to_string(run.limitSeconds) + " seconds\n");
      // The usual hang is an offline share further down PATH: a first line
      // that arrived whole still counts.
      if (output.find('\n') != std::string::npos && installFolderFromLocate(output, folder)) tryShown(folder);
    } else if (installFolderFromLocate(output, folder)) {
      tryShown(folder);
    }
    stageResult();
  }

 private:
  void trace(const std::string& text) {
    if (verbose_) platform_.writeOut(text);
  }

  void tryShown(const std::string& folder) {
    trace("(" + folder + ") ");
    tryCandidate(folder);
  }

  // The folder as read goes to the trace; its %NAME% parts are expanded once
  // here, so the probe and the installer's launch use the same text.
  void tryCandidate(const std::string& folder) {
    result_.setHome(platform_.expandVariables(folder), platform_);
    if (result_.isUsable()) {
      if (!checkMinimum_ || result_.compareTo(minimum_) >= 0) found_ = true;
    }
    // The filters only ever undo this candidate's acceptance: no source runs
    // once one is found.
    if ((rejectJdk_ && !result_.isJre()) || (requireJdk_ && !result_.isJdk())) found_ = false;
  }

  void stageResult() { trace(found_ ? "yes\n" : "no\n"); }

  JavaInstall& result_;
  const bool checkMinimum_;
  const JavaInstall& minimum_;
  const bool rejectJdk_;
  const bool requireJdk_;
  const bool verbose_;
  JavaSearchPlatform& platform_;
  bool found_ = false;
};

}  // namespace

bool findJava(JavaInstall& result, bool checkMinimum, const JavaInstall& minimum, bool rejectJdk, bool requireJdk,
              std::string priorityHint, std::string hint, bool verbose, JavaSearchPlatform& platform) {
  Search search(result, checkMinimum, minimum, rejectJdk, requireJdk, verbose, platform);
  search.begin();
  search.tryHint(" - trying priority hint: ", priorityHint);
  if (!search.found()) search.tryVariable(" - trying JAVA_HOME: ", "JAVA_HOME");
  if (!search.found()) search.tryVariable(" - trying JRE_HOME: ", "JRE_HOME");
  if (!search.found()) search.tryRegistry();
  if (!search.found()) search.tryHint(" - trying hint: ", hint);
  if (!search.found()) search.tryPath();
  return search.found();
}
