#include "src/registry/key_tree.h"

#include "src/log/run_log.h"
#include "src/text/wide_text.h"

namespace {

constexpr DWORD kCchSubkeyName = MAX_PATH;

struct RootKeyName {
  const WCHAR* name;
  HKEY root;
};

// The root names a full key path may begin with, in the order they are
// compared; only the exact upper-case name matches.
const RootKeyName RootKeyNameTable[] = {
    {TEXT("HKEY_CLASSES_ROOT"), HKEY_CLASSES_ROOT},
    {TEXT("HKEY_CURRENT_USER"), HKEY_CURRENT_USER},
    {TEXT("HKEY_LOCAL_MACHINE"), HKEY_LOCAL_MACHINE},
    {TEXT("HKEY_USERS"), HKEY_USERS},
};

// True when the text holds a character other than a backslash: a key path
// made of nothing else would name the root itself.
bool NamesKeyBelowRoot(const WCHAR* key_path) {
  for (const WCHAR* unit = key_path; *unit != 0; ++unit) {
    if (*unit != TEXT('\\')) {
      return true;
    }
  }
  return false;
}

// The key path with one trailing backslash, the prefix of its children's
// paths, in parent_path (kCchKeyTreePath units). False when it does not fit.
bool MakeParentPath(const WCHAR* key_path, std::size_t cch_key_path, WCHAR* parent_path) {
  if (!TextCopy(parent_path, kCchKeyTreePath, key_path)) {
    return false;
  }
  return key_path[cch_key_path - 1] == TEXT('\\') || TextAppend(parent_path, kCchKeyTreePath, TEXT("\\"));
}

// Deletes the subkeys of the open key one after the other, each through the
// root and its full path: the parent's path with its trailing backslash
// followed by the name that index 0 gives. Index 0 names the next remaining
// subkey once the one before is gone; a child that stays, or whose path
// would not fit, ends the loop, as index 0 would name it again.
void DeleteSubkeys(HKEY root, HKEY key, const WCHAR* parent_path) {
  WCHAR name[kCchSubkeyName] = {};
  WCHAR child_path[kCchKeyTreePath] = {};
  DWORD cch_name = kCchSubkeyName;
  while (RegEnumKeyExW(key, 0, name, &cch_name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
    if (!TextCopy(child_path, kCchKeyTreePath, parent_path) || !TextAppend(child_path, kCchKeyTreePath, name) ||
        !DeleteKeyTree(root, child_path)) {
      break;
    }
    cch_name = kCchSubkeyName;
  }
}

}  // namespace

bool DeleteKeyTree(HKEY root, const WCHAR* key_path) {
  bool gone = false;
  HKEY key = nullptr;
  std::size_t cch_key_path = 0;
  WCHAR parent_path[kCchKeyTreePath] = {};
  if (!TextLengthWithin(key_path, kCchKeyTreePath, &cch_key_path) || !NamesKeyBelowRoot(key_path)) {
    // Nothing is deleted through a path that names the root or does not fit.
  } else if (RegDeleteKeyW(root, key_path) == ERROR_SUCCESS) {
    // A key without subkeys goes with this one call and is never opened.
    gone = true;
  } else {
    const LSTATUS opened = RegOpenKeyExW(root, key_path, 0, KEY_READ, &key);
    if (opened != ERROR_SUCCESS) {
      gone = opened == ERROR_FILE_NOT_FOUND;
    } else {
      // Subkeys are named only when the path has room for the backslash
      // in front of their names; otherwise they and the key stay.
      if (MakeParentPath(key_path, cch_key_path, parent_path)) {
        DeleteSubkeys(root, key, parent_path);
      }
      RegCloseKey(key);
      gone = RegDeleteKeyW(root, key_path) == ERROR_SUCCESS;
    }
  }
  return gone;
}

bool DeleteKeyByPath(const WCHAR* full_key_path) {
  LogText(TEXT("Component"), full_key_path);
  bool gone = false;
  WCHAR path[kCchKeyTreePath] = {};
  if (TextCopy(path, kCchKeyTreePath, full_key_path)) {
    WCHAR* separator = path;
    while (*separator != 0 && *separator != TEXT('\\')) {
      ++separator;
    }
    if (*separator == TEXT('\\')) {
      // The root name ends at the first backslash; the key path follows it.
      *separator = 0;
      for (const RootKeyName& entry : RootKeyNameTable) {
        if (TextEquals(path, entry.name)) {
          gone = DeleteKeyTree(entry.root, separator + 1);
          break;
        }
      }
    }
  }
  return gone;
}
