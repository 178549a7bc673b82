// The directories that a tree removal must never take, whatever path it is
// handed: paths that are not plain full paths, drive and share roots, and
// the system's own folders together with every folder above one of them.
#pragma once

#include "src/platform/win32.h"

// Null when the directory may be removed; otherwise the log text that says
// why not. Refused: a null path or one of MAX_PATH units or more; a path
// that is not "X:\..." or "\\server\share\..." with plain parts (no "/",
// no empty, "." or ".." part, no part ending in a dot or a space; one
// trailing backslash is allowed); a drive or share root ("C:", "C:\",
// "\\server\share"); the Windows directory, the Program Files and Common
// Files folders, ProgramData, the Users folder, the public and the running
// user's profile, the temporary directory, and every folder above one of
// them. Those folders are asked of the platform on every call; one it
// cannot give is not compared. Letters compare without regard to case
// (Basic Latin and Latin-1); trailing backslashes are ignored.
// A directory that exists is then opened (attributes only, every sharing
// allowed, the entry itself even when it is a link, closed at once) to learn
// where it really lies, links above it followed and short names made long
// (GetFinalPathNameByHandleW); that place must pass the same root and
// system-folder checks, and a directory whose place cannot be learnt is
// refused too. A directory that cannot be opened because it, or a folder
// above it, is not found is not refused, with *found false: it may be tried
// and reported, never listed, as its place is unknown. *found is true in
// every other case.
const WCHAR* DirectoryRemovalRefusal(const WCHAR* directory, bool* found);
