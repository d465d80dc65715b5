#pragma once
// Starts a program with an exact command line and collects what it writes.
// Wine's own command-line quoting cannot express every line the launcher
// must handle (runs of blanks, trailing blanks, quoted words), so tests start
// the program here, on the Windows side, with CreateProcessW.

#include <cstdint>
#include <string>

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
