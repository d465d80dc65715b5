#pragma once
// Folder trees on disk.

#include <string>

// Deletes `folder` with everything in it, read-only files too. A link to a
// folder inside it goes as a link: what it points to is never touched.
// Whatever cannot be deleted (held open, no permission) stays, with the
// folders above it; a missing folder is no error.
void removeTree(const std::wstring& folder);
