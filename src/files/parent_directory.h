// The directory part of a path: everything before its last backslash.
#pragma once

#include "src/platform/win32.h"

// Fills output (MAX_PATH units) with the path's text before its last
// backslash. False when a pointer is null (output untouched), when the path
// has no backslash, or when that part has MAX_PATH units or more (output
// empty in both cases). Only the text is looked at.
bool GetParentDirectory(const WCHAR* path, WCHAR* output);
