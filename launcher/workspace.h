#pragma once
// The installing mode's folders on the real system: the start folder, the
// workspace under TMP, and the clean-up that removes what a run wrote.

#include <functional>
#include <string>

#include "launcher/installing_plan.h"

class ProcessTree;

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
// own workspace open without sharing deletion) and in use by no program (see
// workspaceInUse). An empty one goes whatever its age: a run's clean-up
// leaves its workspace empty when a program the installer started still had
// it as its current folder. Anything else in TMP is left alone; a folder that
// cannot be removed whole keeps what is left.
void removeStaleWorkspaces();

// Whether a running program has its program file or a loaded DLL inside
// `absolute`, or something holds its brackenhue.jar open so that an
// exclusive open fails. Paths are compared without letter case and in long
// or short form, so an 8.3 TMP names the same folder.
bool workspaceInUse(const std::string& absolute);

// Test hooks of prepareWorkspace: `enter` makes a folder the current one
// (SetCurrentDirectoryW unless given); `created` is told each new folder
// before it is held.
struct WorkspaceHooks {
  std::function<bool(const std::wstring&)> enter;
  std::function<void(const std::wstring&)> created;
};

// Creates a workspace under TMP (createWorkspace, with the C runtime's rand),
// holds it open, so that no other launcher takes it for a stale one, and
// makes it the current folder. A folder that cannot be held (a program has
// it open for deletion) is tried again for about two seconds, then removed,
// and a new name is drawn, up to kWorkspaceHoldAttempts folders.
// `workspace` receives its path as built from TMP, unchanged; `absolute` the
// same folder as a full path, for removing it after leaving it.
constexpr int kWorkspaceHoldAttempts = 3;
WorkspaceResult prepareWorkspace(std::string& workspace, std::string& absolute, const WorkspaceHooks& hooks = {});

// Waits, before the clean-up, until the installer is done with the
// workspace `absolute` (a full path): no program other than this one runs
// from it (its program file or a loaded DLL lies inside) and nothing holds
// its jar open. Programs found are waited on through their handles; new ones
// are looked for every kReleaseRescanMs. Programs started before this one,
// and those already found not to use it, are not looked into again: the
// workspace is this process's own. Programs of `installer` that do
// not use the workspace (the installed product, started at the end) do not
// keep it. When something could come back, the installer having started
// other programs (in its job, or outside it: a process whose parent is the
// installer's program) or the workspace having been seen in use after the
// installer ended, the workspace must also stay unused for kReleaseRecheckMs
// after its last use, which bridges a copy the installer started on its way
// out. Returns false when it is still in use after `limitMs` (a day for the
// launcher; tests shorten it): the workspace must then stay. The workspace
// stays held throughout.
bool waitUntilWorkspaceIsFree(const std::string& absolute, const ProcessTree& installer,
                              unsigned long long limitMs = kReleaseWaitLimitMs);

// Lets go of the workspace, deletes ant.install.log, brackenhue.jar and
// jre_x64.exe, has the system's command interpreter remove the folder "jre"
// (removeRuntimeCommand, started by full path), goes to the parent folder and
// removes the workspace. While one of those entries, or the workspace
// itself, is held open by another program, it tries again for about two
// seconds each; a folder that still holds other files stays at once.
void cleanUpWorkspace(const std::string& absolute);

// The system folder's cmd.exe, as a full path.
std::string systemInterpreter();
