#pragma once
// Starting other programs and waiting for them. Both operations block until
// the command has ended (or, for a bounded interpreter run, until its time is
// up) and leave no process, handle or pipe behind.

#include <functional>
#include <string>

// No time limit.
constexpr unsigned long kWaitForever = 0xFFFFFFFFul;

// Starts `command` (a complete command line, UTF-8: the program, quoted when
// it holds blanks, then its arguments) as a new process that inherits this
// process's inheritable handles, environment and current folder. With
// `showWindow` false the process gets no console window (CREATE_NO_WINDOW)
// and the null device as standard input, output and error, so it can never
// wait for an answer nobody can give.
// Waits without a time limit. Returns the exit code as a signed number (an
// exit code of 0xFFFFFFFF reads as -1), or -1 when the process cannot be
// started; nothing is waited for then.
int runCommand(const std::string& command, bool showWindow);

// What runProgram tells and asks besides the exit code.
struct ProgramRun {
  // Called once the program runs, before the wait: the caller lets go of
  // what it kept from other programs until then.
  std::function<void()> started;
  // The system's error when the program did not start (0 when it did).
  unsigned long startError = 0;
};

// A started program together with every process it starts, and they in
// turn: a job object. A program that asks to break away (as an elevated copy,
// which the system starts outside any job anyway) may leave it.
class ProcessTree {
 public:
  ProcessTree() = default;
  ~ProcessTree();
  ProcessTree(const ProcessTree&) = delete;
  ProcessTree& operator=(const ProcessTree&) = delete;

  // Whether its program was started at all (with or without a job).
  bool started() const { return started_; }

  // The process id its program had; 0 when it was not started.
  unsigned long processId() const { return processId_; }

  // Whether the tree ever held more than its first program: that program
  // started another one inside the job. False when nothing was started;
  // true when it runs without a job or the job cannot be asked, so a caller
  // errs towards waiting.
  bool startedOthers() const;

 private:
  friend int runProgram(const std::string&, const std::string&, bool, ProcessTree*, ProgramRun*);
  void* job_ = nullptr;
  bool started_ = false;
  unsigned long processId_ = 0;
};

// runCommand with the program named apart from the command line: `program`
// (UTF-8, a full path) is what starts, never looked up in the launcher's own
// folder or the current one, while `command` is the command line the program
// receives, its first word included. With `tree`, the program is started in
// a new job that `tree` keeps, so the caller can wait for what it started
// after it has ended itself; without a job (the system refuses one) it runs
// all the same. A start refused for a reason that can pass (the program
// file held by another program, as a virus scanner holds a new file while
// it reads it: a sharing or lock violation, access denied) is tried again
// for about two seconds (kStartAttempts). `run`, when given, is told when
// the program runs, and receives the system's error when it never did.
constexpr int kStartAttempts = 40;
constexpr unsigned long kStartPauseMs = 50;
int runProgram(const std::string& program, const std::string& command, bool showWindow,
               ProcessTree* tree = nullptr, ProgramRun* run = nullptr);

// Hands `command` to the command interpreter (chooseInterpreter: COMSPEC,
// quotes removed, a bare name from the system folder or PATH; else cmd.exe
// from the system folder) as <interpreter> [/d /v:off] /s /c "<command>"
// (interpreterCommandLine), so the command runs exactly as written, quotes
// included, cmd runs no AutoRun commands first and leaves "!" alone. Started without any
// window, and appends everything it writes on standard output to `output`
// (which is not cleared), with CR LF delivered as LF. The interpreter's
// standard error is this process's own; its standard input is empty. The
// command has no length limit of its own.
// Returns the interpreter's exit status; -1 when it cannot be started
// (`output` then unchanged) or when it is still running `timeoutMs` after the
// start: it is then ended together with every process it started, and
// `output` keeps what arrived until then.
int runInterpreter(const std::string& command, std::string& output, unsigned long timeoutMs = kWaitForever);

// How an interpreter run ended, its three outcomes kept apart.
struct InterpreterRun {
  enum Outcome { kEnded, kNotStarted, kTimedOut } outcome = kNotStarted;
  unsigned long exitCode = 0;  // the whole 32 bits; kEnded only
};

// runInterpreter, telling a program that cannot start, one that ran out of
// time and an exit code of 0xFFFFFFFF apart.
InterpreterRun runInterpreterRun(const std::string& command, std::string& output,
                                 unsigned long timeoutMs = kWaitForever);

// runInterpreter with " 2>&1" appended, so the command's standard error
// arrives in `output` too, mixed with its standard output in the order
// written. No time limit unless one is given.
int runCommandCaptured(const std::string& command, std::string& output, unsigned long timeoutMs = kWaitForever);
