#include <windows.h>

#include "common/console.h"
#include "common/folders.h"
#include "common/system.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "javafind/java_install.h"
#include "javafind/java_platform_win32.h"
#include "javafind/java_search.h"
#include "launcher/exit_code.h"
#include "launcher/installing_plan.h"
#include "launcher/launcher.h"
#include "launcher/release_wait.h"
#include "launcher/workspace.h"
#include "payloads/extract_payload.h"
#include "process/run_command.h"
#include "splash/splash_window.h"
#include "splash/status_model.h"

namespace {

// The splash window as the owner of a box: none when there never was one,
// the user has closed it, or it is hidden or minimized, so the box still
// appears where the user can see it.
HWND boxOwner(const StatusModel& status) {
  HWND window = static_cast<HWND>(status.splashWindow());
  return window && IsWindow(window) && IsWindowVisible(window) && !IsIconic(window) ? window : nullptr;
}

void showBox(HWND owner, const std::string& text, const char* caption) {
  MessageBoxW(owner, widen(text).c_str(), widen(caption).c_str(), MB_OK);
}

// The start folder for "-Dorig.dir=". Java 8 reads its command line in the
// ANSI code page; a folder with letters outside it would reach the installer
// as question marks, so then its short (8.3) form goes instead, where the
// volume has one that fits.
bool fitsAnsiCodePage(const std::wstring& text) {
  if (GetACP() == CP_UTF8) return true;
  BOOL lossy = FALSE;
  return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, nullptr, 0, nullptr, &lossy) > 0 &&
         !lossy;
}

std::string startFolderForJava(const std::string& startFolder) {
  const std::wstring wide = widen(startFolder);
  if (fitsAnsiCodePage(wide)) return startFolder;
  wchar_t shortForm[MAX_PATH * 4];
  DWORD length = GetShortPathNameW(wide.c_str(), shortForm, MAX_PATH * 4);
  if (length == 0 || length >= MAX_PATH * 4) return startFolder;
  const std::wstring candidate(shortForm, length);
  if (!fitsAnsiCodePage(candidate)) return startFolder;
  return startFolderText(narrow(candidate));
}

void showNotWritten(const ExtractionFailure& failure, const StatusModel& status) {
  if (failure.error == ExtractionError::kNoPayload) {
    showBox(boxOwner(status), kIncompleteText, kIncompleteCaption);
  } else {
    showBox(boxOwner(status), notWrittenText(failure.line, failure.error == ExtractionError::kDiskFull),
            kNotWrittenCaption);
  }
}

void launchInstaller(const JavaInstall& java, const std::string& startFolder, StatusModel& status,
                     ProcessTree& installer) {
  status.setStep("XJAR");
  ExtractionFailure failure;
  // Held, shared for reading only, until the installer runs: nothing can
  // replace it in between.
  UniqueFileHandle jar;
  if (extractPayload("JAR", "JAR", "brackenhue.jar", status, &failure, &jar) != 0) {
    // A jar that was not written is never launched: the user hears why.
    showNotWritten(failure, status);
    return;
  }

  status.setStep("LAUNCHING");
  status.animateProgress(1000);
  const std::string command = installerCommand(java.javawPath(), startFolderForJava(startFolder));
  HWND splash = static_cast<HWND>(status.splashWindow());
  if (splash && IsWindow(splash)) ShowWindow(splash, SW_HIDE);
  // Let go once it runs: the wait before the clean-up asks whether anything
  // still holds the jar, and must not find this launcher.
  ProgramRun run;
  run.started = [&jar] { jar.reset(); };
  // By full path: a relative "jre\bin\javaw.exe" names the workspace's and
  // must never be looked for beside the launcher.
  const int exitCode = runProgram(fullPath(java.javawPath()), command, true, &installer, &run);
  jar.reset();
  if (exitCode != 0) {
    showBox(nullptr, kInstallationErrorText, kInstallationErrorCaption);
  }
}

// What the build knows of the carried runtime (its resource RUNTIME_FACTS);
// all unknown for a ready-made runtime archive.
RuntimeFacts carriedRuntimeFacts() {
  HRSRC found = FindResourceW(nullptr, L"RUNTIME_FACTS", MAKEINTRESOURCEW(10));  // RT_RCDATA
  HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) return {};
  return readRuntimeFacts(std::string(static_cast<const char*>(bytes), SizeofResource(nullptr, found)));
}

// The run of the runtime archive: how it ended, and whether it can have
// failed for want of room on the workspace's disk.
struct RuntimeUnpack {
  std::string tmpTooLong;          // the box's text when TMP left no room for its paths; nothing was written
  ExtractionFailure writeFailure;  // jre_x64.exe itself not written
  int exitCode = 0;                // the archive's; -1 when it did not start
  std::string startError;          // the system's reason when it did not start
  bool lackedRoom = false;
  std::string noRoomLine;          // for the box, when it lacked room
  // Whether the workspace's "jre" may be searched (runtimeMayBeSearched).
  bool searchable(const RuntimeFacts& facts) const {
    return tmpTooLong.empty() && writeFailure.error == ExtractionError::kNone && runtimeMayBeSearched(exitCode, facts);
  }
};

RuntimeUnpack unpackRuntime(const std::string& absoluteWorkspace, const RuntimeFacts& facts, StatusModel& status) {
  RuntimeUnpack unpack;
  // Before anything is unpacked: TMP's path may leave too little room for
  // the runtime's deepest file. An installed Java may still serve.
  const std::wstring workspace = widen(absoluteWorkspace);
  if (!runtimeFitsBelow(workspace.size(), facts)) {
    std::string tmp;
    environmentVariable("TMP", tmp);
    const size_t lastSeparator = workspace.rfind(L'\\');
    const size_t tmpLength = lastSeparator == std::wstring::npos ? 0 : lastSeparator;
    unpack.tmpTooLong = tmpTooLongText(tmp, tmpLength, workspace.size(), facts);
    return unpack;
  }
  // Held, shared for reading only, until it has run: the archive reads its
  // own file as it unpacks.
  UniqueFileHandle archive;
  if (extractPayload("JAVA", "EXE", "jre_x64.exe", status, &unpack.writeFailure, &archive) != 0) return unpack;
  ULARGE_INTEGER available{};
  const bool measured = GetDiskFreeSpaceExW(workspace.c_str(), &available, nullptr, nullptr) != FALSE;
  // By full path: a jre_x64.exe beside the launcher must never run.
  ProgramRun run;
  unpack.exitCode = runProgram(fullPath("jre_x64.exe"), "jre_x64.exe", false, nullptr, &run);
  if (run.startError != 0) {
    unpack.startError = systemErrorText(run.startError);
    writeErr("the runtime archive " + absoluteWorkspace + "\\jre_x64.exe did not start: " + unpack.startError + "\n");
  }
  if (unpack.exitCode != 0 && measured && runtimeLackedRoom(available.QuadPart, facts)) {
    unpack.lackedRoom = true;
    unpack.noRoomLine =
        runtimeNoRoomLine(absoluteWorkspace + "\\jre", diskOf(absoluteWorkspace), available.QuadPart, facts);
  }
  return unpack;
}

void reportNoJava(JavaInstall& result, const JavaInstall& minimum, JavaSearchPlatform& platform,
                  const StatusModel& status, const RuntimeUnpack& runtime) {
  if (!runtime.tmpTooLong.empty()) {
    showBox(boxOwner(status), runtime.tmpTooLong, kTmpTooLongCaption);
    return;
  }
  if (runtime.writeFailure.error != ExtractionError::kNone &&
      runtime.writeFailure.error != ExtractionError::kNoPayload) {
    showNotWritten(runtime.writeFailure, status);
    return;
  }
  // A full disk is the cause whatever older Java the machine has.
  if (runtime.lackedRoom) {
    showBox(boxOwner(status), notWrittenText(runtime.noRoomLine, true), kNotWrittenCaption);
    return;
  }
  const bool older = findJava(result, false, minimum, false, false, "", "", false, platform);
  // No Java at all after the runtime archive failed: that failure is the news.
  showBox(boxOwner(status),
          !older && runtime.exitCode != 0 ? runtimeNotUnpackedReason(runtime.exitCode, runtime.startError)
                                          : noJavaReason(older),
          kNoJavaCaption);
}

}  // namespace

int runInstallingMode(void* instance, int showCommand, StatusModel& status) {
  status.appInstance = instance;
  status.showCommand = showCommand;
  // Without a window (its failure box has been shown) the run goes on: status
  // changes are only stored and boxes have no owner.
  if (startSplashWindow(status) == SplashStart::kThreadNotStarted) return kExitSetupFailed;

  status.setStep("TMP");
  status.animateProgress(1000);
  const std::string startFolder = recordStartFolder();
  removeStaleWorkspaces();
  std::string workspace, absoluteWorkspace;
  if (prepareWorkspace(workspace, absoluteWorkspace) != WorkspaceResult::kEntered) {
    showBox(boxOwner(status), kTempFolderText, kTempFolderCaption);
    return kExitSetupFailed;
  }

  status.setStep("XJAVA");
  // A runtime that cannot be written or unpacked does not end the run: an
  // installed Java may still be found. Should none be, that is the cause to
  // report.
  const RuntimeFacts facts = carriedRuntimeFacts();
  const RuntimeUnpack runtime = unpackRuntime(absoluteWorkspace, facts, status);

  status.setStep("SEARCHING");
  status.animateProgress(1000);
  JavaInstall minimum;
  minimum.setVersion("1.8.0_00");
  JavaInstall result;
  Win32JavaPlatform platform;
  ProcessTree installer;
  if (findJava(result, true, minimum, false, false, runtime.searchable(facts) ? "jre" : "", "", true, platform)) {
    launchInstaller(result, startFolder, status, installer);
  } else {
    reportNoJava(result, minimum, platform, status, runtime);
  }

  // An installer that relaunched itself (elevated) may still run from the
  // workspace: nothing is deleted under it.
  if (waitUntilWorkspaceIsFree(absoluteWorkspace, installer)) cleanUpWorkspace(absoluteWorkspace);
  return kExitSuccess;
}
