// Removal of a directory with everything beneath it, one log line for every
// directory and file handled.
#pragma once

#include "src/platform/win32.h"

// Removes the directory (a full path, as GetParentDirectory yields it) with
// everything beneath it, clearing the attributes that would block a
// deletion. Logs "Removing Dir" for every directory and "Deleting file" with
// "OK" or the path and its code for every file; a subdirectory that its own
// walk left behind, or that a second removal finds gone, gets "Cannot remove
// dir" with the code. Every failure is logged and the walk goes on; the final
// removal of the directory handed in is silent.
// Entries named "." and ".." are passed over by name. A link or junction
// (a reparse point) beneath it is removed itself, never walked into, with
// "Removing link" and "OK" or "Cannot remove link" and the code. An entry
// whose path would not fit MAX_PATH units is skipped with a log line.
// Returns false, with one log line and nothing touched, when
// DirectoryRemovalRefusal refuses the path (not a plain full path, a root, a
// system folder or one above it, also where links lead it); true otherwise.
// A directory that was not found when its place was checked is tried but
// never listed.
bool RemoveDirectoryTree(const WCHAR* directory);
