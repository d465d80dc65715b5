#pragma once
// The whole of the program's main thread, behind WinMain.

#include <string>

class StatusModel;

// Chooses the mode from the argument text and runs it; returns the process
// exit code (see exit_code.h). `instance` and `showCommand` are WinMain's.
int runLauncher(const std::string& argumentText, void* instance, int showCommand, StatusModel& status);

// Extraction-only mode: writes the installer archive as "brackenhue.jar" into
// the current folder, with its console lines. Returns kExitSuccess, or
// kExitExtractionFailed when there is no archive in the image or the file
// cannot be written; then one line on standard error says why.
int runExtractionMode(StatusModel& status);

// Installing mode: the splash window, the installation sequence and the
// clean-up. Returns kExitSuccess or kExitSetupFailed.
int runInstallingMode(void* instance, int showCommand, StatusModel& status);
