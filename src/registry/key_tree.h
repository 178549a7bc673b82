// Deleting a registry key with everything below it, by root handle and key
// path, or by one full path that begins with the root's name.
#pragma once

#include "src/platform/win32.h"

// A full key path, a key path below a root with its trailing backslash, and
// a child's path: at most 519 characters and the terminator.
constexpr int kCchKeyTreePath = 520;

// Deletes root\key_path and all its subkeys, depth first, each key after its
// subkeys, siblings in enumeration order. root is a predefined root handle.
// True when the key does not exist afterwards: deleted now, or absent
// ("absent" counts as done). False when a key in the tree could not be
// opened or deleted; the keys deleted before stay deleted, nothing above
// the undeletable key is deleted. Also false, with nothing deleted and no
// registry call, for a null, empty or backslash-only key path and for one
// of kCchKeyTreePath characters or more. A path is never shortened: a key
// whose path with a trailing backslash, or a child whose path, would not
// fit kCchKeyTreePath keeps its subkeys, and the result is false. Writes
// nothing to the run log.
bool DeleteKeyTree(HKEY root, const WCHAR* key_path);

// Logs "Component" with full_key_path, then deletes the key it names with
// DeleteKeyTree. The root name, everything before the first backslash, must
// be one of RootKeyNameTable exactly. False, with nothing deleted, when there
// is no backslash, the root name is not in the table, or the text does not
// fit kCchKeyTreePath; otherwise the result of DeleteKeyTree. The caller's
// text is not changed.
bool DeleteKeyByPath(const WCHAR* full_key_path);
