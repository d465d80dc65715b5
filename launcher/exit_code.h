#pragma once
// The process exit codes. The numbers are fixed: scripts and the people who
// read them rely on them.
enum ExitCode : int {
  kExitSuccess = 0,
  // Extraction-only mode: the installer archive could not be written.
  kExitExtractionFailed = 1,
  // Installing mode: the splash thread or the workspace could not be created.
  // Seen by callers as 4294967295.
  kExitSetupFailed = -1,
};
