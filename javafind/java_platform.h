#pragma once
// What Java discovery needs from the system, kept behind interfaces so that
// the decisions (versions, the probe's reading, the search order, the trace)
// stay pure and are tested against a fake. The Win32 side implements these.

#include <string>
#include <string_view>
#include <vector>

// What examining one installation folder needs.
class JavaProbePlatform {
 public:
  virtual ~JavaProbePlatform() = default;

  // True when `path` names an existing entry, file or folder (the status
  // call succeeds). Relative paths are taken against the current folder.
  virtual bool pathExists(const std::string& path) = 0;

  // `path` made absolute against the current folder (unchanged when it is
  // already absolute or cannot be resolved). The command interpreter may not
  // start in the current folder (it refuses a UNC one), so what it runs is
  // named in full.
  virtual std::string absolutePath(const std::string& path) = 0;

  // Runs `command` through the command interpreter with " 2>&1" appended and
  // no console window, and appends everything the command wrote on either
  // stream, in the order written and with CR LF delivered as LF, to `output`
  // (which is not cleared). A command still running 60 seconds after it was
  // started is ended; the result is then non-zero.
  // Returns the interpreter's exit status, or -1 when it cannot be started
  // (`output` then unchanged).
  virtual int runProbe(const std::string& command, std::string& output) = 0;
};

// Everything the six-source search needs.
class JavaSearchPlatform : public JavaProbePlatform {
 public:
  // The value of environment variable `name`: true and `value` set when the
  // variable exists (an empty value counts), false and `value` untouched
  // otherwise.
  virtual bool getEnv(const std::string& name, std::string& value) = 0;

  // Opens HKEY_LOCAL_MACHINE\`keyPath` in the process's own registry view,
  // with rights to enumerate subkeys and query values, and lists its subkey
  // names in enumeration order. The listing ends at the first enumeration
  // call that fails: no more subkeys, or a name that does not fit in 1024
  // characters. Returns false when the key does not open (`names` then
  // empty); a key without subkeys gives true and no names.
  virtual bool registrySubkeys(const std::string& keyPath, std::vector<std::string>& names) = 0;

  // Reads the value "JavaHome" of HKEY_LOCAL_MACHINE\`keyPath` (query rights
  // only), whatever its type, into a buffer of 1024 UTF-16 characters (2048
  // bytes): a string value arrives in `data` as UTF-8, NUL characters
  // included; a value of another type as its raw bytes. Returns false when
  // the key does not open or the value is missing or does not fit those
  // 2048 bytes, terminator included (`data` then empty).
  virtual bool registryJavaHome(const std::string& keyPath, std::string& data) = 0;

  // `text` with every %NAME% of a set environment variable replaced by its
  // value, as the command interpreter would; unknown names stay as written.
  virtual std::string expandVariables(const std::string& text) = 0;

  // Runs `command` exactly as given through the command interpreter, with no
  // console window, and appends what it writes on standard output to `output`
  // (CR LF delivered as LF), decoded from the OEM code page in which a
  // windowless console program writes redirected text; its standard error
  // stays the caller's. Waits for it as long as for a probe. The exit status
  // is not needed. Returns how the run ended: kNotStarted (`output`
  // unchanged), kTimedOut (`output` holds what arrived in time; the
  // run was ended), or kEnded.
  struct LocateRun {
    enum Outcome { kEnded, kNotStarted, kTimedOut } outcome = kEnded;
    unsigned long limitSeconds = 0;  // the time it was given
  };
  virtual LocateRun runLocate(const std::string& command, std::string& output) = 0;

  // The process's standard streams, written as given (no line-end
  // translation) and unbuffered: standard output is out before anything that
  // follows on standard error.
  virtual void writeOut(std::string_view text) = 0;
  virtual void writeErr(std::string_view text) = 0;
};
