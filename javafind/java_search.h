#pragma once
// The ordered search for a Java installation over six sources, with its
// trace. Pure: environment, registry, files, commands and the standard
// streams are reached through a JavaSearchPlatform.

#include <string>
#include <vector>

#include "javafind/java_install.h"
#include "javafind/java_platform.h"

// The JavaSoft keys under HKEY_LOCAL_MACHINE, and the tags that name them.
extern const char kRuntimeKey[];         // "SOFTWARE\JavaSoft\Java Runtime Environment"
extern const char kDevelopmentKitKey[];  // "SOFTWARE\JavaSoft\Java Development Kit"
constexpr int kNoRegistryKey = 0;
constexpr int kRuntimeKeyTag = 1;
constexpr int kDevelopmentKitKeyTag = 2;

// The command that asks where "java" is found on the command search path.
extern const char kLocateCommand[];  // "where java 2>nul"

// Returns `tag` and sets `subkeyName` to the last of `names` (the subkeys of
// one key in enumeration order); returns 0 with `subkeyName` untouched when
// there are none.
int lastSubkeyName(const std::vector<std::string>& names, int tag, std::string& subkeyName);

// The candidate folder of a "JavaHome" value: `data` up to its first NUL byte
// (all of it when it holds none), with "\jre" appended when the value came
// from the development kit's key, whose own runtime is the candidate.
std::string registryFolder(const std::string& data, int registryChoice);

// Sets `head` to `text` up to (not including) its last backslash and returns
// true; returns false with `head` untouched when `text` holds no backslash.
bool cutAtLastBackslash(const std::string& text, std::string& head);

// The first line of a command's output, whole however long it is, without its
// line end (LF, or CR LF). Empty for an empty output.
std::string firstLine(const std::string& output);

// The installation folder named by the output of kLocateCommand: its first
// line cut at the last backslash twice, which drops the executable's name and
// then its folder ("C:\jdk\bin\java.exe" gives "C:\jdk"). Nothing checks
// that those were "java.exe" and "bin". Returns false with `folder`
// untouched when the first line is empty or holds fewer than two
// backslashes.
bool installFolderFromLocate(const std::string& output, std::string& folder);

// Looks for a Java installation in this order, stopping at the first
// candidate it accepts; each source yields at most one candidate folder:
//  1. `priorityHint`, unless empty;
//  2. the environment variable JAVA_HOME, when set (an empty value is tried
//     as the empty folder);
//  3. JRE_HOME, likewise;
//  4. the registry: the last subkey of the development kit's key (its
//     "JavaHome" with "\jre" appended), else the last subkey of the runtime
//     key; one candidate at most, the other key is never tried instead;
//  5. `hint`, unless empty;
//  6. the command search path, through kLocateCommand.
// Each candidate folder has its %NAME% parts expanded (expandVariables; the
// trace shows it as read) and is examined with result.setHome. It is
// accepted when it is
// usable and, with `checkMinimum`, compares at least equal to `minimum`;
// then `rejectJdk` refuses it when it has a compiler, `requireJdk` when it
// has none. `minimum` is not read when `checkMinimum` is false.
//
// With `verbose`, the trace goes to standard output: "Searching for a JVM",
// then one line per source reached: its header, "(<folder>) " when it has a
// candidate, and "yes" or "no". The registry's candidate goes instead on
// standard error as "path: <folder>". Sources after the accepting one write
// nothing. In either form, a locate command that cannot start writes two
// lines on standard error, and one that runs out of time writes "'where
// java' did not finish within N seconds" there (its first line still counts
// when it arrived whole); nothing else is written when not `verbose`.
//
// Returns true when a candidate was accepted; `result` then describes it.
// On false, `result` holds the last candidate examined (or what it held
// before, when no source had one).
bool findJava(JavaInstall& result, bool checkMinimum, const JavaInstall& minimum, bool rejectJdk, bool requireJdk,
              std::string priorityHint, std::string hint, bool verbose, JavaSearchPlatform& platform);
