#pragma once
// The decisions of the installing mode: the workspace's name, the commands it
// runs and the texts it shows. Pure: no window-system calls.

#include <cstdint>
#include <functional>
#include <string>

// The start folder as the installer is told it: the current folder with one
// trailing backslash removed, so a drive's root "C:\" gives "C:". Only a
// backslash is removed, and only one.
std::string startFolderText(const std::string& currentFolder);

// The workspace for a TMP value and five letters: TMP unchanged (a trailing
// backslash stays, giving two before the name), "\Brackenhue-", the letters.
std::string workspacePath(const std::string& tmp, const std::string& letters);

// Whether `name` has exactly the shape of a workspace folder's name:
// "Brackenhue-" and five letters from "a" to "z".
bool isWorkspaceName(const std::string& name);

// Whether an entry directly inside a workspace is one the launcher writes
// itself: the folder "jre", or one of the files jre_x64.exe, brackenhue.jar,
// ant.install.log and the payloads' temporary files (isTemporaryPayloadName).
// Names are compared as the launcher writes them.
bool isLauncherEntry(const std::string& name, bool isFolder);

// A workspace left by an earlier run counts as stale once nothing has
// changed in it for a day. Only one that holds launcher entries alone
// (isLauncherEntry) is ever removed as stale: anything else was left by the
// installer on purpose.
constexpr uint64_t kStaleWorkspaceSeconds = 24 * 60 * 60;
bool isStaleWorkspace(uint64_t lastWriteSecondsSince1970, uint64_t nowSecondsSince1970);

// How many names are tried when a drawn folder exists already.
constexpr int kWorkspaceAttempts = 8;

enum class FolderCreation {
  kCreated,
  kExists,  // something of that name is there: draw again
  kFailed,  // missing parent, access denied, bad name: no other name helps
};

// Draws five lower-case letters, each from one `draw()` result (0 to 32767,
// from the system's random source) as 'a' + result % 26, builds the
// workspace path and asks `create` for it. A name that exists already is
// never entered or reused: new letters are drawn, up to kWorkspaceAttempts
// names in all. Returns true with `path` set to the created folder; false
// when TMP is not usable or every name is taken (`path` then holds the last
// name tried).
bool createWorkspace(const std::string& tmp, const std::function<int()>& draw,
                     const std::function<FolderCreation(const std::string&)>& create, std::string& path);

// The command line that starts the installer, character for character:
//   "<javaw>" "-Dorig.dir=<start folder>" -jar brackenhue.jar
std::string installerCommand(const std::string& javawPath, const std::string& startFolder);

// Who the launcher runs as, for the workspace's permissions.
struct LauncherAccount {
  std::string userSid;            // its user, "S-1-5-21-..."; empty when unknown
  bool elevatedAdmin = false;     // an elevated token with the Administrators group enabled
};

// The security descriptor (SDDL) the workspace is created with: protected,
// so nothing is inherited from TMP, and every entry inherited by whatever is
// created inside. SYSTEM and Administrators get full control always; the
// launcher's user too, unless it runs elevated or as SYSTEM: the user's
// unelevated programs must then not write there. The owner is set
// explicitly (the user; Administrators when elevated; SYSTEM for SYSTEM), so
// an owner's implicit rights never open it to anyone else.
// Empty when no safe descriptor can be made (an unelevated user whose SID is
// unknown or malformed): the caller then creates the folder as it would any.
std::string workspaceSecurity(const LauncherAccount& account);

// The SID of LocalSystem.
extern const char kSystemSid[];

// The clean-up's removal of the unpacked runtime of the workspace
// `absoluteWorkspace`:  cmd.exe /d /v:off /c rd /s /q "<workspace>\jre",
// quoted by quotedForCmd, so a "%" in TMP is not expanded.
// The folder is named in full and quoted: cmd refuses a UNC current folder
// and starts in the Windows folder instead, where a relative "jre" would be
// someone else's. "/d" keeps the user's AutoRun commands away (one that
// changes folder), "/v:off" a DelayedExpansion setting that would eat "!".
std::string removeRuntimeCommand(const std::string& absoluteWorkspace);

// Whether `path` lies inside `folder` (both full paths, normalised and in
// one letter case by the caller): `folder` with one trailing backslash is a
// prefix of `path`. A folder does not lie inside itself, and
// "...\Brackenhue-abcdef" is not inside "...\Brackenhue-abcde".
bool isInsideFolder(const std::string& path, const std::string& folder);

// How the clean-up waits for an installer that may have started a copy of
// itself: when something could come back, it looks once more this long after
// the workspace was last seen in use; while a program runs from it, the
// processes are looked through again at this interval (an open jar is tried
// more often); past the limit, the workspace is left in place.
constexpr unsigned long kReleaseRecheckMs = 2000;
constexpr unsigned long kReleaseRescanMs = 3000;
constexpr unsigned long kJarPollMs = 250;
constexpr unsigned long long kReleaseWaitLimitMs = 24ull * 60 * 60 * 1000;

// The entries of the workspace that the clean-up deletes as files, in order.
extern const char* const kCleanedFiles[3];  // ant.install.log, brackenhue.jar, jre_x64.exe

// Message box texts.
extern const char kTempFolderCaption[];
extern const char kTempFolderText[];
extern const char kNoJavaCaption[];
extern const char kInstallationErrorCaption[];
extern const char kInstallationErrorText[];

// The box for a payload file that could not be written to the workspace,
// shown instead of a misleading "java could not be found" or "Installation
// Error": `failureLine` names the file with its folder and gives the
// reason (extractPayload's failure line). Only a full disk asks for room
// on it.
extern const char kNotWrittenCaption[];
std::string notWrittenText(const std::string& failureLine, bool diskFull);

// A build that carries no installer archive: the box of the installing mode.
// The extraction-only mode's line (without "error: ") for extractPayload's
// failure: with `noPayload` the line names the missing chunk ("JAR_1") and
// becomes "this program carries no installer archive (JAR_1)".
extern const char kIncompleteCaption[];
extern const char kIncompleteText[];
std::string extractionErrorLine(bool noPayload, const std::string& failureLine);

// The reason shown when no Java of at least 1.8.0_00 was found: whether the
// quiet second search found an older one decides the ending.
std::string noJavaReason(bool olderJavaFound);

// What the build knows of the runtime the launcher carries, from the
// resource RUNTIME_FACTS: "key=value" lines, of which these two are read.
// Zero stands for unknown (a ready-made runtime archive, a missing or
// unreadable line), and every check that needs the value is then skipped.
struct RuntimeFacts {
  bool madeByBuild = false;    // the resource exists: the build made the archive and knows its exit codes
  uint64_t unpackedBytes = 0;  // the sizes of all its files added up
  uint32_t longestPath = 0;    // UTF-16 units of its longest path below the workspace ("jre\...")
};
// Reads the resource's text; the archive counts as made by the build.
RuntimeFacts readRuntimeFacts(const std::string& text);

// Whether the workspace's "jre" may be searched after the runtime archive
// ended with `exitCode` (-1: it did not start). An archive the build made
// exits 0 only when every file was written (NSIS exits 2 when one could
// not be), and half a runtime whose java answers must never serve. A
// ready-made archive may use other codes (1 for a warning): its "jre" is
// searched whatever it returned, and the probe decides.
bool runtimeMayBeSearched(int exitCode, const RuntimeFacts& facts);

// The longest path Windows takes in a plain file call: MAX_PATH less the
// terminator. A runtime whose files would lie deeper than that below the
// workspace cannot be unpacked or started there.
constexpr uint32_t kLongestPlainPath = 259;

// Whether every path of the runtime fits below a workspace whose full path
// is `workspaceLength` UTF-16 units long. True when the longest is unknown.
bool runtimeFitsBelow(size_t workspaceLength, const RuntimeFacts& facts);

// The box when TMP's path is too long for the runtime and no installed Java
// was found: it names TMP and the most its path may have. `tmpLength` and
// `workspaceLength` are the full paths' lengths in UTF-16 units.
extern const char kTmpTooLongCaption[];
std::string tmpTooLongText(const std::string& tmp, size_t tmpLength, size_t workspaceLength,
                           const RuntimeFacts& facts);

// Whether a runtime archive that failed may have run out of room: the disk
// had less free space before it ran than the runtime needs, its files' sizes
// and a twentieth more for the clusters they fill. False when its size is
// unknown.
bool runtimeLackedRoom(uint64_t freeBytesBefore, const RuntimeFacts& facts);

// The disk a full path lies on, as the user knows it: "C:\" for
// "C:\...", "\\server\share\" for a UNC path; the path itself otherwise.
// Read from the text alone: asking the system's mount manager can block
// while a disk comes or goes.
std::string diskOf(const std::string& absolutePath);

// The line for notWrittenText when the runtime did not fit: it names the
// folder, the disk, what the runtime needs and what was free.
std::string runtimeNoRoomLine(const std::string& runtimeFolder, const std::string& disk, uint64_t freeBytes,
                              const RuntimeFacts& facts);

// The reason shown instead when no Java was found at all and the runtime
// archive ended with `exitCode` other than 0 (-1: it did not start, for the
// system's reason `startError`, one line, when known): the carried runtime
// could not be unpacked, which is the truer cause.
std::string runtimeNotUnpackedReason(int exitCode, const std::string& startError = "");
