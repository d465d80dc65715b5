#pragma once
// Reading the command line. Pure: no window-system calls.

#include <string>

// The argument text: what follows the program name on the full process
// command line, the way the C runtime hands it to WinMain.
//  1. The program name is skipped: every character above the blank, and
//     inside double quotes every character at all; each double quote flips
//     the quoting and goes with the name.
//  2. Every following character with a code from 1 to 32 is skipped.
//  3. The rest is returned unchanged: inner and trailing blanks, quotes and
//     letter case stay.
// Works on UTF-8: bytes of multi-byte characters are all above the blank.
std::string argumentText(const std::string& commandLine);

enum class LaunchMode {
  kExtractOnly,  // "-extract", "--extract" or "-x"
  kInstall,      // any other text, the empty one included
};

// Compares the whole argument text, byte for byte and case-sensitively.
LaunchMode selectMode(const std::string& argumentText);

// True when the argument text is exactly "-text" or "text", the deprecated
// way of asking for the installer's text mode.
bool wantsTextNotice(const std::string& argumentText);

// The notice written to standard error for those texts, with its line end.
extern const char kTextNotice[];
