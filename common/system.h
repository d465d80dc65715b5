#pragma once
// Values the system hands the launcher: environment variables and the
// system folder, in UTF-8.

#include <string>

// Reads the environment variable `name`. Returns false, `value` untouched,
// when it is not set; an empty value counts as set.
bool environmentVariable(const std::string& name, std::string& value);

// The system folder ("C:\Windows\System32"), without a trailing backslash.
std::string systemFolder();
