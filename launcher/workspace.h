#pragma once
// The installing mode's folders on the real system: the start folder, the
// workspace under TMP, and the clean-up that removes what a run wrote.

#include <functional>
#include <string>

// The current folder as the installer is told it (startFolderText), UTF-8.
// Empty when the current folder cannot be read.
std::string recordStartFolder();

enum class WorkspaceResult {
  kEntered,     // created and made the current folder
  kNoTmp,       // TMP is not set: nothing was created
  kNotCreated,  // no free name could be created under TMP
  kNotEntered,  // created, but it could not be made the current folder; it
                // has been removed again
};

// Removes from TMP the workspaces that earlier runs left (killed, or cut off
// by signing out): folders whose names have exactly the workspace shape,
// unchanged for more than a day, and held by no running launcher (each holds
// its own workspace open without sharing deletion). Anything else in TMP is
// left alone; a folder that cannot be removed whole keeps what is left.
void removeStaleWorkspaces();

// Creates a workspace under TMP (createWorkspace, with the C runtime's rand)
// and makes it the current folder. While the run lasts the workspace is held
// open, so that no other launcher takes it for a stale one. `workspace` receives its path as built
// from TMP, unchanged; `absolute` the same folder as a full path, for
// removing it after leaving it. `enter` makes a folder the current one
// (SetCurrentDirectoryW unless given).
WorkspaceResult prepareWorkspace(std::string& workspace, std::string& absolute,
                                 const std::function<bool(const std::wstring&)>& enter = nullptr);

// Lets go of the workspace, deletes ant.install.log, brackenhue.jar and
// jre_x64.exe, has the system's command interpreter remove the folder "jre"
// (started by full path, without AutoRun), goes to the parent folder and
// removes the workspace. While one of those entries, or the workspace
// itself, is held open by another program, it tries again for about two
// seconds each; a folder that still holds other files stays at once.
void cleanUpWorkspace(const std::string& absolute);

// `path` made absolute against the current folder; unchanged when that fails.
std::string fullPath(const std::string& path);

// The system folder's cmd.exe, as a full path.
std::string systemInterpreter();
