#pragma once
// Starts a program with an exact command line and collects what it writes.
// Wine's own command-line quoting cannot express every line the launcher
// must handle (runs of blanks, trailing blanks, quoted words), so tests start
// the program here, on the Windows side, with CreateProcessW.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/unique_handle.h"

class BoxWatcher;

struct ChildResult {
  bool started = false;     // CreateProcessW succeeded
  bool timedOut = false;    // still running at the deadline; it was terminated
  uint32_t exitCode = 0;    // valid when started and not timed out
  std::string out;          // everything written to standard output
  std::string err;          // everything written to standard error
};

// Runs `application` with `commandLine` as its whole command line (the
// program name part is whatever the line says) in `workingDirectory`, with
// standard output and standard error on pipes and standard input on NUL.
// Waits up to `timeoutMs`.
ChildResult runChild(const std::wstring& application, const std::wstring& commandLine,
                     const std::wstring& workingDirectory, unsigned long timeoutMs = 60000);

// Changes to this process's environment for a child: a value sets the
// variable, none removes it.
using EnvironmentChanges = std::vector<std::pair<std::wstring, std::optional<std::wstring>>>;

struct ChildOptions {
  EnvironmentChanges environment;
  // Started on the child's process as soon as it exists; stopped when the
  // child has ended.
  BoxWatcher* watcher = nullptr;
  // Called with the child's process id as soon as it exists.
  std::function<void(unsigned long processId)> onStarted;
  unsigned long timeoutMs = 60000;
  // The show command handed over in the start-up information (as a
  // shortcut's "Run" setting does); none when negative.
  int showCommand = -1;
};

ChildResult runChild(const std::wstring& application, const std::wstring& commandLine,
                     const std::wstring& workingDirectory, const ChildOptions& options);

// Starts `application` with `commandLine`, without a window and without
// waiting for it, inheriting nothing. Returns its process handle; empty when
// it cannot be started.
UniqueHandle startChild(const std::wstring& application, const std::wstring& commandLine);
