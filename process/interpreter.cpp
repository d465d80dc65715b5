#include "process/interpreter.h"

#include <cctype>

namespace {

bool isFullPath(const std::string& path) {
  const bool drive = path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
                     (path[2] == '\\' || path[2] == '/');
  const bool unc = path.size() >= 2 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/');
  return drive || unc;
}

std::string lastComponent(const std::string& path) {
  const size_t cut = path.find_last_of("\\/:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string unquoted(const std::string& text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') return text.substr(1, text.size() - 2);
  return text;
}

std::string joined(const std::string& folder, const std::string& name) {
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;
  return folder + "\\" + name;
}

}  // namespace

std::vector<std::string> splitSearchPath(const std::string& path) {
  std::vector<std::string> folders;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(';', start);
    if (end == std::string::npos) end = path.size();
    std::string folder = unquoted(path.substr(start, end - start));
    if (!folder.empty()) folders.push_back(folder);
    start = end + 1;
  }
  return folders;
}

Interpreter chooseInterpreter(const std::string* comspec, const std::string& systemFolder,
                              const std::vector<std::string>& pathFolders,
                              const std::function<bool(const std::string&)>& isFile) {
  Interpreter chosen;
  const std::string value = comspec ? unquoted(*comspec) : std::string();
  if (value.empty()) {
    chosen.path = joined(systemFolder, "cmd.exe");
  } else if (isFullPath(value)) {
    chosen.path = value;
  } else {
    std::vector<std::string> names{value};
    if (lastComponent(value).find('.') == std::string::npos) names.push_back(value + ".exe");
    std::vector<std::string> folders{systemFolder};
    folders.insert(folders.end(), pathFolders.begin(), pathFolders.end());
    for (const std::string& folder : folders) {
      for (const std::string& name : names) {
        if (chosen.path.empty() && isFullPath(folder) && isFile(joined(folder, name))) {
          chosen.path = joined(folder, name);
        }
      }
    }
    if (chosen.path.empty()) chosen.path = joined(systemFolder, value);
  }
  const std::string program = lower(lastComponent(chosen.path));
  chosen.isCmd = program == "cmd.exe" || program == "cmd";
  return chosen;
}

std::string interpreterCommandLine(const Interpreter& interpreter, const std::string& command) {
  const bool quote = interpreter.path.find(' ') != std::string::npos;
  return (quote ? "\"" + interpreter.path + "\"" : interpreter.path) + (interpreter.isCmd ? " /d /v:off" : "") +
         " /s /c \"" + command + "\"";
}

std::string quotedForCmd(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '%') {
      quoted += "%\"\"";
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}
