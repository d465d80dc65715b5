#pragma once
// The installing mode's folders on the real system: the start folder, the
// workspace under TMP, and the clean-up that removes what a run wrote.

#include <functional>
#include <string>

#include "launcher/installing_plan.h"

// The current folder as the installer is told it (startFolderText), UTF-8.
// Empty when the current folder cannot be read.
std::string recordStartFolder();

enum class WorkspaceResult {
  kEntered,     // created and made the current folder
  kNoTmp,       // TMP is not set: nothing was created
  kNotCreated,  // no free name could be created, or none could be held
  kNotEntered,  // created, but it could not be made the current folder; it
                // has been removed again
};

// Removes from TMP the workspaces that earlier runs left (killed, or cut off
// by signing out): folders whose names have exactly the workspace shape,
// unchanged for more than a day, held by no running launcher (each holds its
// own workspace open without sharing deletion), in use by no program (see
// workspaceInUse), and holding nothing but what a launcher writes
// (isLauncherEntry): a file the installer left there keeps it for good. An
// empty one goes whatever its age: a run's clean-up leaves its workspace
// empty when a program the installer started still had it as its current
// folder. Anything else in TMP is left alone; a folder that
// cannot be removed whole keeps what is left.
void removeStaleWorkspaces();

// Test hooks of prepareWorkspace: `enter` makes a folder the current one
// (SetCurrentDirectoryW unless given); `created` is told each new folder
// before it is held.
struct WorkspaceHooks {
  std::function<bool(const std::wstring&)> enter;
  std::function<void(const std::wstring&)> created;
};

// Creates a workspace under TMP (createWorkspace, its letters from the
// system's random source) with the permissions of workspaceSecurity for the
// account this process runs as: protected from TMP's, so that on a shared
// TMP (C:\Windows\Temp for SYSTEM) no other user, and for an elevated run
// none of the user's unelevated programs, can put a file into it. It then
// holds it open, so that no other launcher takes it for a stale one, and
// makes it the current folder. A folder that cannot be held (a program has
// it open for deletion) is tried again for about two seconds, then removed,
// and a new name is drawn, up to kWorkspaceHoldAttempts folders.
// `workspace` receives its path as built from TMP, unchanged; `absolute` the
// same folder as a full path, for removing it after leaving it.
constexpr int kWorkspaceHoldAttempts = 3;
WorkspaceResult prepareWorkspace(std::string& workspace, std::string& absolute, const WorkspaceHooks& hooks = {});

// Lets go of the workspace, deletes ant.install.log, brackenhue.jar and
// jre_x64.exe, has the system's command interpreter remove the folder "jre"
// (removeRuntimeCommand, started by full path), goes to the parent folder and
// removes the workspace. While one of those entries, or the workspace
// itself, is held open by another program, it tries again for about two
// seconds each; a folder that still holds other files stays at once.
void cleanUpWorkspace(const std::string& absolute);

// The system folder's cmd.exe, as a full path.
std::string systemInterpreter();
