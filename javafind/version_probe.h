#pragma once
// Reading the answer of a java run with "-version". Pure: the run itself
// happens through JavaProbePlatform::runProbe.

#include <string>

#include "javafind/java_install.h"

// The probe's command for `install`, as cmd runs it: its javaPath() quoted
// (quotedForCmd, so a "%" in it stays as it is), then " -version". The path
// is not examined for quotes or length.
std::string probeCommand(const JavaInstall& install);

// Finds the first line of `output` that reads <word> version "<text>": a
// word (one or more characters other than blank, tab and double quote) at
// the start of the line, blanks, "version" in any letter case, blanks, then
// the text up to the next double quote on the same line; anything may follow
// the closing quote. Lines end at LF (a CR before it is dropped); the last
// line needs no line end. Lines before it that do not have this shape (such
// as "Picked up _JAVA_OPTIONS: ...") are passed over.
// Returns true and the text between the quotes, or false with `text`
// untouched when no line has that shape.
bool findVersionText(const std::string& output, std::string& text);

// Judges a probe: usable when `status` is 0 and the first version line's
// text holds a version (readVersionNumbers). Returns true with `version`
// set; false with `version` untouched otherwise. A non-zero status decides
// alone: the output is then not read.
bool readProbeAnswer(int status, const std::string& output, VersionNumbers& version);
