#pragma once
// Whether programs still use a workspace, and the wait before its clean-up
// until none does.

#include <string>

#include "launcher/installing_plan.h"

class ProcessTree;

// Whether a running program has its program file or a loaded DLL inside
// `absolute`, or something holds its brackenhue.jar open so that an
// exclusive open fails. Paths are compared without letter case and in long
// or short form, so an 8.3 TMP names the same folder.
bool workspaceInUse(const std::string& absolute);

// Waits, before the clean-up, until the installer is done with the
// workspace `absolute` (a full path): no program other than this one runs
// from it (its program file or a loaded DLL lies inside), nothing holds its
// jar open, and no consent prompt is on the screen (the system folder's
// consent.exe runs in this session), since an installer that asked to be
// run elevated starts its copy from the workspace only once the user has
// answered.
//
// Programs found are waited on through their handles; new ones are looked
// for every kReleaseRescanMs. Programs started before this one are not
// looked into (the workspace is this process's own), nor, until the second
// look, those already found not to use it. Programs of `installer` that do
// not use the workspace (the installed product, started at the end) do not
// keep it.
//
// When something could come back (the installer started other programs, in
// its job or outside it: a process whose parent is the installer's program;
// or the workspace was seen in use after the installer ended), the workspace
// must also stay unused for kReleaseRecheckMs after its last use, which
// bridges a copy the installer started on its way out. That second look
// examines afresh every program started after this one that has not ended:
// one may have loaded a DLL of the workspace since it was first looked at.
//
// Returns false when it is still in use after `limitMs` (a day for the
// launcher; tests shorten it): the workspace must then stay. Nothing is
// touched: no program is ended, no file opened but the jar, for a moment.
bool waitUntilWorkspaceIsFree(const std::string& absolute, const ProcessTree& installer,
                              unsigned long long limitMs = kReleaseWaitLimitMs);
