#pragma once
// A table-driven stand-in for the system side of Java discovery. Tests fill
// in the environment, the existing paths, the answer to each probe command,
// the registry and the locate command's answer; the fake records every call
// and every write in order.

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "javafind/java_platform.h"
#include "process/interpreter.h"

struct FakeCommandAnswer {
  int status = 0;
  std::string output;
};

class FakeJavaPlatform : public JavaSearchPlatform {
 public:
  // What the command interpreter answers for a java that is not there.
  static constexpr const char* kNotFound = "The system cannot find the path specified.\n";

  // A Java folder whose java answers "-version" with `output` and status 0;
  // with `compiler`, bin\javac.exe exists too.
  void addJava(const std::string& home, const std::string& output, bool compiler = false) {
    probes[quotedForCmd(home + "\\bin\\java.exe") + " -version"] = {0, output};
    if (compiler) paths.insert(home + "\\bin\\javac.exe");
  }

  bool pathExists(const std::string& path) override {
    calls.push_back("exists " + path);
    return paths.count(path) != 0;
  }

  int runProbe(const std::string& command, std::string& output) override {
    calls.push_back("probe " + command);
    auto it = probes.find(command);
    const FakeCommandAnswer answer = it != probes.end() ? it->second : FakeCommandAnswer{1, kNotFound};
    if (answer.status != -1) output += answer.output;
    return answer.status;
  }

  bool getEnv(const std::string& name, std::string& value) override {
    calls.push_back("getenv " + name);
    auto it = env.find(name);
    if (it == env.end()) return false;
    value = it->second;
    return true;
  }

  bool registrySubkeys(const std::string& keyPath, std::vector<std::string>& names) override {
    calls.push_back("subkeys " + keyPath);
    auto it = registryKeys.find(keyPath);
    if (it == registryKeys.end()) return false;
    names = it->second;
    return true;
  }

  bool registryJavaHome(const std::string& keyPath, std::string& data) override {
    calls.push_back("JavaHome " + keyPath);
    auto it = javaHomeValues.find(keyPath);
    if (it == javaHomeValues.end()) return false;
    data = it->second;
    return true;
  }

  LocateRun runLocate(const std::string& command, std::string& output) override {
    calls.push_back("locate " + command);
    if (locateOutcome != LocateRun::kNotStarted) output += locate.output;
    LocateRun run;
    run.outcome = locateOutcome;
    run.limitSeconds = 60;
    return run;
  }

  // Relative paths are taken against `currentFolder` when it is set.
  std::string absolutePath(const std::string& path) override {
    const bool absolute = (path.size() >= 2 && path[1] == ':') || path.rfind("\\", 0) == 0;
    if (currentFolder.empty() || absolute) return path;
    return currentFolder + "\\" + path;
  }

  // %NAME% of a variable in `env` is replaced; anything else stays.
  std::string expandVariables(const std::string& text) override {
    std::string expanded;
    size_t at = 0;
    while (at < text.size()) {
      const size_t open = text.find('%', at);
      const size_t close = open == std::string::npos ? open : text.find('%', open + 1);
      if (close == std::string::npos) break;
      auto it = env.find(text.substr(open + 1, close - open - 1));
      if (it == env.end()) {
        expanded += text.substr(at, close - at);
        at = close;
        continue;
      }
      expanded += text.substr(at, open - at) + it->second;
      at = close + 1;
    }
    return expanded + text.substr(at);
  }

  void writeOut(std::string_view text) override {
    out += text;
    streams.push_back("out:" + std::string(text));
  }
  void writeErr(std::string_view text) override {
    err += text;
    streams.push_back("err:" + std::string(text));
  }

  // The calls of one kind ("probe", "getenv", ...), their arguments in order.
  std::vector<std::string> callsOf(const std::string& kind) const {
    std::vector<std::string> found;
    for (const std::string& call : calls) {
      if (call.compare(0, kind.size() + 1, kind + " ") == 0) found.push_back(call.substr(kind.size() + 1));
    }
    return found;
  }

  std::map<std::string, std::string> env;
  std::set<std::string> paths;
  std::map<std::string, FakeCommandAnswer> probes;  // by exact command; others fail like cmd does
  std::map<std::string, std::vector<std::string>> registryKeys;  // key path -> subkeys in enumeration order
  std::map<std::string, std::string> javaHomeValues;           // subkey path -> raw "JavaHome" data
  FakeCommandAnswer locate{1, ""};                              // "where" finding nothing
  LocateRun::Outcome locateOutcome = LocateRun::kEnded;
  std::string currentFolder;  // empty: paths stay as given

  std::vector<std::string> calls;
  std::string out;
  std::string err;
  std::vector<std::string> streams;  // "out:..." / "err:..." in the order written
};
