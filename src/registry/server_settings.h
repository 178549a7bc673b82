// What the server product keeps under the vendor's registry key: the two
// settings-store directories that its values "SS_SETTINGS" and "SS_E2S"
// point to, the library "nq.dll" beside the first, every value of the server
// component key HKEY_LOCAL_MACHINE\SOFTWARE\Morvathen\Components\34, and
// seven of its subkeys.
#pragma once

#include "src/platform/win32.h"

constexpr int kServerSubkeyCount = 7;

// The subkeys of the server component key that are deleted, in this order,
// as full key paths for DeleteKeyByPath. Other subkeys and the key itself
// stay.
extern const WCHAR* const ServerSubkeyTable[kServerSubkeyCount];

// Opens the server component key with KEY_ALL_ACCESS; when that fails
// (absent, or access refused) it does nothing at all and logs nothing.
// Otherwise:
// - for "SS_SETTINGS" and then "SS_E2S": a REG_SZ value of at most 4096
//   bytes whose text ends within the data read (a value stored without its
//   terminator counts when the data leaves room for one) names a file; the
//   directory holding it goes with RemoveDirectoryTree. For "SS_SETTINGS",
//   once that directory was not refused, the file "nq.dll" in the folder
//   above it is deleted, unless that path would not fit MAX_PATH units;
// - every value of the key is deleted. Value names are collected in rounds
//   of a fixed number of names (no heap): each round enumerates from the
//   first value not yet handled and collects every name before its first
//   deletion. A round that fills up is followed by another; values that
//   stay (a deletion that fails, a name of 1024 units or more) keep their
//   place at the front, so the next round starts behind them. The rounds
//   end when an enumeration ends (ERROR_NO_MORE_ITEMS or any other failure)
//   or after a fixed bound. With no more values than one round holds, this
//   is one enumeration of the unchanged key followed by the deletions;
// - the key is closed and every row of ServerSubkeyTable is deleted with
//   DeleteKeyByPath, each with its "Component" line.
// Writes no line of its own besides those of RemoveDirectoryTree and
// DeleteKeyByPath; results of deletions are not reported. Returns true.
bool CleanServerSettings();
