#pragma once
// Conversion between the program's narrow UTF-8 strings and the UTF-16 that
// the wide Win32 functions take. Every Win32 call that takes or returns text
// goes through these, so a TMP folder, start folder or JAVA_HOME outside the
// ANSI code page survives.

#include <string>
#include <string_view>

// UTF-8 to UTF-16. Invalid sequences become U+FFFD. Empty in, empty out.
std::wstring widen(std::string_view utf8);

// UTF-16 to UTF-8. Unpaired surrogates become U+FFFD. Empty in, empty out.
std::string narrow(std::wstring_view utf16);

// The system's text for a Win32 error code, in UTF-8, as one line (line
// breaks become blanks, trailing ones go); "error <code>" when the system
// has no text for it.
std::string systemErrorText(unsigned long errorCode);
