#include "launcher/installing_plan.h"

#include "payloads/chunks.h"
#include "process/interpreter.h"

std::string startFolderText(const std::string& currentFolder) {
  if (!currentFolder.empty() && currentFolder.back() == '\\') {
    return currentFolder.substr(0, currentFolder.size() - 1);
  }
  return currentFolder;
}

std::string workspacePath(const std::string& tmp, const std::string& letters) {
  return tmp + "\\Brackenhue-" + letters;
}

bool isWorkspaceName(const std::string& name) {
  const std::string prefix = "Brackenhue-";
  if (name.size() != prefix.size() + 5 || name.compare(0, prefix.size(), prefix) != 0) return false;
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    if (name[i] < 'a' || name[i] > 'z') return false;
  }
  return true;
}

bool isStaleWorkspace(uint64_t lastWriteSecondsSince1970, uint64_t nowSecondsSince1970) {
  return nowSecondsSince1970 > lastWriteSecondsSince1970 &&
         nowSecondsSince1970 - lastWriteSecondsSince1970 > kStaleWorkspaceSeconds;
}

bool isLauncherEntry(const std::string& name, bool isFolder) {
  if (isFolder) return name == "jre";
  for (const char* file : kCleanedFiles) {
    if (name == file) return true;
  }
  return isTemporaryPayloadName(name);
}

const char kSystemSid[] = "S-1-5-18";

namespace {

// "S-" and then digits and dashes only: nothing that could end an SDDL entry.
bool isPlainSid(const std::string& sid) {
  return sid.size() > 2 && sid.compare(0, 2, "S-") == 0 &&
         sid.find_first_not_of("0123456789-", 2) == std::string::npos;
}

}  // namespace

std::string workspaceSecurity(const LauncherAccount& account) {
  // OICI: files and folders created inside inherit each entry; P: nothing
  // comes from TMP. FA: full control.
  const std::string privileged = "(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  if (account.userSid == kSystemSid) return "O:SYD:P" + privileged;
  if (account.elevatedAdmin) return "O:BAD:P" + privileged;
  if (!isPlainSid(account.userSid)) return {};
  return "O:" + account.userSid + "D:P" + privileged + "(A;OICI;FA;;;" + account.userSid + ")";
}

bool createWorkspace(const std::string& tmp, const std::function<int()>& draw,
                     const std::function<FolderCreation(const std::string&)>& create, std::string& path) {
  for (int attempt = 0; attempt < kWorkspaceAttempts; ++attempt) {
    std::string letters;
    for (int i = 0; i < 5; ++i) letters += static_cast<char>('a' + draw() % 26);
    path = workspacePath(tmp, letters);
    switch (create(path)) {
      case FolderCreation::kCreated:
        return true;
      case FolderCreation::kExists:
        continue;
      case FolderCreation::kFailed:
        return false;
    }
  }
  return false;
}

std::string installerCommand(const std::string& javawPath, const std::string& startFolder) {
  return "\"" + javawPath + "\" \"-Dorig.dir=" + startFolder + "\" -jar brackenhue.jar";
}

std::string removeRuntimeCommand(const std::string& absoluteWorkspace) {
  const bool slash = !absoluteWorkspace.empty() && absoluteWorkspace.back() == '\\';
  return "cmd.exe /d /v:off /c rd /s /q " + quotedForCmd(absoluteWorkspace + (slash ? "" : "\\") + "jre");
}

bool isInsideFolder(const std::string& path, const std::string& folder) {
  if (folder.empty()) return false;
  const std::string prefix = folder.back() == '\\' ? folder : folder + "\\";
  return path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0;
}

const char* const kCleanedFiles[3] = {"ant.install.log", "brackenhue.jar", "jre_x64.exe"};

const char kTempFolderCaption[] = "Failed to create the temp folder.";
const char kTempFolderText[] =
    "Failed to create the temp folder.\n"
    "Please set the environment variable TMP to a folder you have permission to write to.";
const char kNoJavaCaption[] = "Installation Failed: Couldn't find java";
const char kInstallationErrorCaption[] = "Installation Error";
const char kInstallationErrorText[] =
    "The installation exited with an error. Java may not be installed properly, or the installation may have been "
    "interrupted partway through. Please try again.";

std::string noJavaReason(bool olderJavaFound) {
  return std::string("This version of Brackenhue requires java 1.8.0_00 or greater, but ") +
         (olderJavaFound ? "your java is too old." : "java could not be found on your computer.") + "\n";
}

std::string runtimeNotUnpackedReason(int exitCode, const std::string& startError) {
  std::string why = exitCode == -1 ? std::string("it did not start") : "exit code " + std::to_string(exitCode);
  if (exitCode == -1 && !startError.empty()) {
    // The system's sentence, without its own full stop inside the brackets.
    std::string reason = startError;
    while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) reason.pop_back();
    why += ": " + reason;
  }
  return "This version of Brackenhue requires java 1.8.0_00 or greater, but the bundled Java runtime could not be "
         "unpacked (" +
         why + ").\n";
}

bool runtimeMayBeSearched(int exitCode, const RuntimeFacts& facts) { return exitCode == 0 || !facts.madeByBuild; }

RuntimeFacts readRuntimeFacts(const std::string& text) {
  RuntimeFacts facts;
  // The build writes this resource only for an archive it made.
  facts.madeByBuild = true;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    // Digits only, and no more than fit: anything else leaves it unknown.
    if (value.empty() || value.size() > 19 || value.find_first_not_of("0123456789") != std::string::npos) continue;
    const uint64_t number = std::stoull(value);
    if (key == "unpacked_bytes") facts.unpackedBytes = number;
    if (key == "longest_path" && number <= 0xFFFFFFFFu) facts.longestPath = static_cast<uint32_t>(number);
  }
  return facts;
}

bool runtimeFitsBelow(size_t workspaceLength, const RuntimeFacts& facts) {
  return facts.longestPath == 0 || workspaceLength + 1 + facts.longestPath <= kLongestPlainPath;
}

const char kTmpTooLongCaption[] = "Installation Failed: Temp folder path too long";

std::string tmpTooLongText(const std::string& tmp, size_t tmpLength, size_t workspaceLength,
                           const RuntimeFacts& facts) {
  // The workspace's own name and the runtime's deepest path come on top of TMP.
  const size_t added = workspaceLength > tmpLength ? workspaceLength - tmpLength : 0;
  const size_t needed = added + 1 + facts.longestPath;
  const size_t most = needed < kLongestPlainPath ? kLongestPlainPath - needed : 0;
  return "The path of the temp folder is too long for the bundled Java runtime to be unpacked in it:\n" + tmp +
         "\nPlease set the environment variable TMP to a folder with a path of at most " + std::to_string(most) +
         " characters that you have permission to write to.";
}

bool runtimeLackedRoom(uint64_t freeBytesBefore, const RuntimeFacts& facts) {
  // Files take whole clusters: a twentieth more covers that for a runtime.
  return facts.unpackedBytes != 0 && freeBytesBefore < facts.unpackedBytes + facts.unpackedBytes / 20;
}

std::string diskOf(const std::string& absolutePath) {
  if (absolutePath.size() >= 3 && absolutePath[1] == ':' && absolutePath[2] == '\\') return absolutePath.substr(0, 3);
  if (absolutePath.rfind("\\\\", 0) == 0) {
    const size_t server = absolutePath.find('\\', 2);
    const size_t share = server == std::string::npos ? server : absolutePath.find('\\', server + 1);
    if (server != std::string::npos && server > 2 && share != server + 1) {
      return share == std::string::npos ? absolutePath + "\\" : absolutePath.substr(0, share + 1);
    }
  }
  return absolutePath;
}

namespace {

// Whole megabytes, rounded up, so a need is never understated.
std::string megabytes(uint64_t bytes) { return std::to_string((bytes + 1048575) / 1048576) + " MB"; }

}  // namespace

std::string runtimeNoRoomLine(const std::string& runtimeFolder, const std::string& disk, uint64_t freeBytes,
                              const RuntimeFacts& facts) {
  return "the bundled Java runtime could not be unpacked into " + runtimeFolder + ": it needs " +
         megabytes(facts.unpackedBytes) + ", but the disk " + disk + " had only " +
         std::to_string(freeBytes / 1048576) + " MB free";
}

const char kNotWrittenCaption[] = "Installation Failed: Couldn't write files";

std::string notWrittenText(const std::string& failureLine, bool diskFull) {
  return "The installation could not write a file it needs in the temp folder:\n" + failureLine + "\n" +
         (diskFull ? "Please make room on that disk, or set the environment variable TMP to a folder you have "
                     "permission to write to."
                   : "Please try again, or set the environment variable TMP to a folder you have permission to "
                     "write to.");
}

const char kIncompleteCaption[] = "Installation Failed: Incomplete installer";
const char kIncompleteText[] =
    "This installer is incomplete (it carries no installer archive). Please download it again.";

std::string extractionErrorLine(bool noPayload, const std::string& failureLine) {
  if (noPayload) return "this program carries no installer archive (" + failureLine + ")";
  return failureLine;
}
