#pragma once
// Lines for the standard streams. The program has no console of its own, so
// these reach the user only through handles the starter supplies (a file or
// a pipe). The bytes are written as given: UTF-8, no line-end translation.
// Nothing is buffered, so everything written to standard output is out before
// anything that follows on standard error. Write failures are ignored.

#include <string_view>

void writeOut(std::string_view text);
void writeErr(std::string_view text);
