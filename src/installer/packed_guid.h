// The packed form of a braced GUID that Windows Installer uses in the names
// of its registry keys and values.
#pragma once

#include "src/platform/win32.h"

// A packed GUID: 32 characters and the terminator.
constexpr int kCchPackedGuid = 33;

// Writes the packed form of a 38-character braced GUID text into packed
// (kCchPackedGuid units): the digits of groups 1 to 3 reversed, those of
// groups 4 and 5 swapped pair by pair. No character is checked, so letters
// keep their case. False, packed untouched, when a pointer is null or the
// text is not exactly 38 characters long.
bool PackGuid(const WCHAR* guid_text, WCHAR* packed);
