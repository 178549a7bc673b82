#include "src/files/protected_paths.h"

#include "src/files/parent_directory.h"
#include "src/text/wide_text.h"

namespace {

const WCHAR kRefusedNotFullPath[] = TEXT("Refusing to remove dir, not a full path");
const WCHAR kRefusedTooLong[] = TEXT("Refusing to remove dir, path too long");
const WCHAR kRefusedRoot[] = TEXT("Refusing to remove root dir");
const WCHAR kRefusedSystemFolder[] = TEXT("Refusing to remove system dir");
const WCHAR kRefusedResolvedToProtected[] = TEXT("Refusing to remove dir, it resolves to a root or system dir");
const WCHAR kRefusedUnresolved[] = TEXT("Refusing to remove dir, cannot resolve where it lies");

// "\\?\" and "\\?\UNC\": the prefixes of the paths GetFinalPathNameByHandleW gives.
const WCHAR kExtendedPrefix[] = TEXT("\\\\?\\");
const WCHAR kExtendedUncPrefix[] = TEXT("\\\\?\\UNC\\");
// Room for a final path of MAX_PATH units with the longer prefix.
constexpr DWORD kCchFinalPath = MAX_PATH + 8;

// Environment variables that name folders of the system; with parent_too,
// the folder that holds it is protected as well (the Users folder holds the
// public and the user's profiles).
struct ProtectedVariable {
  const WCHAR* name;
  bool parent_too;
};

const ProtectedVariable kProtectedVariableTable[] = {
    {TEXT("SystemRoot"), false},         {TEXT("ProgramFiles"), false},
    {TEXT("ProgramFiles(x86)"), false},  {TEXT("ProgramW6432"), false},
    {TEXT("CommonProgramFiles"), false}, {TEXT("CommonProgramFiles(x86)"), false},
    {TEXT("CommonProgramW6432"), false}, {TEXT("ProgramData"), false},
    {TEXT("ALLUSERSPROFILE"), false},    {TEXT("PUBLIC"), true},
    {TEXT("USERPROFILE"), true},
};

enum PathForm { kPathNotFull, kPathRoot, kPathBelowRoot };

bool IsBackslash(WCHAR unit) { return unit == static_cast<WCHAR>('\\'); }

WCHAR FoldLetter(WCHAR unit) {
  if (unit >= static_cast<WCHAR>('a') && unit <= static_cast<WCHAR>('z')) {
    return static_cast<WCHAR>(unit - 0x20);
  }
  if (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7) {
    return static_cast<WCHAR>(unit - 0x20);
  }
  return unit;
}

bool IsDriveLetter(WCHAR unit) {
  const WCHAR folded = FoldLetter(unit);
  return folded >= static_cast<WCHAR>('A') && folded <= static_cast<WCHAR>('Z');
}

// The length of the text without its trailing backslashes.
std::size_t TrimmedLength(const WCHAR* text, std::size_t cch) {
  while (cch > 0 && IsBackslash(text[cch - 1])) {
    --cch;
  }
  return cch;
}

// True when the parts of path[start, cch) are all plain names: none empty,
// "." or "..", none ending in a dot or a space (Windows would drop those and
// name another folder).
bool HasPlainParts(const WCHAR* path, std::size_t start, std::size_t cch) {
  std::size_t part_start = start;
  for (std::size_t i = start; i <= cch; ++i) {
    if (i < cch && !IsBackslash(path[i])) {
      continue;
    }
    if (i == part_start) {
      return false;
    }
    const WCHAR last = path[i - 1];
    if (last == static_cast<WCHAR>('.') || last == static_cast<WCHAR>(' ')) {
      return false;
    }
    part_start = i + 1;
  }
  return true;
}

// The form of a path of cch units, one trailing backslash already taken off.
PathForm ClassifyPath(const WCHAR* path, std::size_t cch) {
  for (std::size_t i = 0; i < cch; ++i) {
    if (path[i] == static_cast<WCHAR>('/')) {
      return kPathNotFull;
    }
  }
  std::size_t start = 0;
  if (cch >= 2 && IsDriveLetter(path[0]) && path[1] == static_cast<WCHAR>(':')) {
    if (cch == 2) {
      return kPathRoot;
    }
    if (!IsBackslash(path[2])) {
      return kPathNotFull;  // relative to the drive's current directory
    }
    start = 3;
  } else if (cch >= 2 && IsBackslash(path[0]) && IsBackslash(path[1])) {
    // "\\server\share": two plain parts; "\\?\" and "\\.\" are device paths.
    std::size_t server_end = 2;
    while (server_end < cch && !IsBackslash(path[server_end])) {
      ++server_end;
    }
    if (server_end == 2 || server_end == cch ||
        (server_end == 3 && (path[2] == static_cast<WCHAR>('?') || path[2] == static_cast<WCHAR>('.')))) {
      return kPathNotFull;
    }
    std::size_t share_end = server_end + 1;
    while (share_end < cch && !IsBackslash(path[share_end])) {
      ++share_end;
    }
    if (!HasPlainParts(path, 2, share_end)) {
      return kPathNotFull;
    }
    if (share_end == cch) {
      return kPathRoot;
    }
    start = share_end + 1;
  } else {
    return kPathNotFull;
  }
  return HasPlainParts(path, start, cch) ? kPathBelowRoot : kPathNotFull;
}

// True when the path is the folder or lies above it. Both are compared
// without their trailing backslashes.
bool IsFolderOrAbove(const WCHAR* path, std::size_t cch_path, const WCHAR* folder) {
  const std::size_t cch_folder = TrimmedLength(folder, TextLength(folder));
  if (cch_path == 0 || cch_folder == 0 || cch_path > cch_folder) {
    return false;
  }
  for (std::size_t i = 0; i < cch_path; ++i) {
    if (FoldLetter(path[i]) != FoldLetter(folder[i])) {
      return false;
    }
  }
  return cch_path == cch_folder || IsBackslash(folder[cch_path]);
}

// Compares the path with a folder the platform named, and with its parent
// when asked. A folder text of cch_folder units that did not fit is ignored.
bool CoversFolder(const WCHAR* path, std::size_t cch_path, WCHAR* folder, std::size_t cch_folder, bool parent_too) {
  if (cch_folder == 0 || cch_folder >= MAX_PATH) {
    return false;
  }
  if (IsFolderOrAbove(path, cch_path, folder)) {
    return true;
  }
  bool covered = false;
  if (parent_too) {
    folder[TrimmedLength(folder, cch_folder)] = 0;
    WCHAR parent[MAX_PATH] = {};
    covered = GetParentDirectory(folder, parent) && IsFolderOrAbove(path, cch_path, parent);
  }
  return covered;
}

bool IsSystemFolderOrAbove(const WCHAR* path, std::size_t cch_path) {
  WCHAR folder[MAX_PATH] = {};
  bool covered = CoversFolder(path, cch_path, folder, GetWindowsDirectoryW(folder, MAX_PATH), false);
  if (!covered) {
    covered = CoversFolder(path, cch_path, folder, GetTempPathW(MAX_PATH, folder), false);
  }
  for (const ProtectedVariable& variable : kProtectedVariableTable) {
    if (covered) {
      break;
    }
    const DWORD cch_folder = GetEnvironmentVariableW(variable.name, folder, MAX_PATH);
    covered = CoversFolder(path, cch_path, folder, cch_folder, variable.parent_too);
  }
  return covered;
}

bool HasPrefix(const WCHAR* text, const WCHAR* prefix, std::size_t* cch_prefix) {
  std::size_t i = 0;
  while (prefix[i] != 0 && FoldLetter(text[i]) == FoldLetter(prefix[i])) {
    ++i;
  }
  *cch_prefix = i;
  return prefix[i] == 0;
}

// Where the directory's own entry really lies, with every link above it
// followed and short names made long, as a plain path in final_path
// (MAX_PATH units). A directory that is itself a link is not followed: the
// walk removes such a link and never lists what it points to. 0, or the
// platform's error code; ERROR_FILENAME_EXCED_RANGE when that path does not
// fit. *missing tells that the directory could not be opened because it, or
// a folder above it, was not found.
DWORD GetFinalDirectoryPath(const WCHAR* directory, WCHAR* final_path, bool* missing) {
  DWORD error = ERROR_SUCCESS;
  WCHAR raw[kCchFinalPath] = {};
  *missing = false;
  const HANDLE handle =
      CreateFileW(directory, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    *missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  } else {
    const DWORD cch_raw = GetFinalPathNameByHandleW(handle, raw, kCchFinalPath, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (cch_raw == 0) {
      error = GetLastError();
    } else if (cch_raw >= kCchFinalPath) {
      error = ERROR_FILENAME_EXCED_RANGE;
    }
    CloseHandle(handle);
  }
  if (error == ERROR_SUCCESS) {
    // "\\?\UNC\server\share" is "\\server\share"; "\\?\C:\" is "C:\".
    std::size_t cch_prefix = 0;
    bool copied = false;
    if (HasPrefix(raw, kExtendedUncPrefix, &cch_prefix)) {
      copied = TextCopy(final_path, MAX_PATH, TEXT("\\\\")) && TextAppend(final_path, MAX_PATH, raw + cch_prefix);
    } else if (HasPrefix(raw, kExtendedPrefix, &cch_prefix)) {
      copied = TextCopy(final_path, MAX_PATH, raw + cch_prefix);
    } else {
      copied = TextCopy(final_path, MAX_PATH, raw);
    }
    if (!copied) {
      error = ERROR_FILENAME_EXCED_RANGE;
    }
  }
  return error;
}

// The refusal, if any, for the place where the directory's entry really
// lies; *found false, without a refusal, when the directory was not found.
const WCHAR* FinalPathRefusal(const WCHAR* directory, bool* found) {
  WCHAR final_path[MAX_PATH] = {};
  bool missing = false;
  const DWORD error = GetFinalDirectoryPath(directory, final_path, &missing);
  *found = !missing;
  if (missing) {
    return nullptr;
  }
  if (error != ERROR_SUCCESS) {
    return kRefusedUnresolved;
  }
  std::size_t cch = TextLength(final_path);
  if (cch > 0 && IsBackslash(final_path[cch - 1])) {
    --cch;
  }
  const PathForm form = ClassifyPath(final_path, cch);
  if (form == kPathNotFull) {
    return kRefusedUnresolved;
  }
  if (form == kPathRoot || IsSystemFolderOrAbove(final_path, cch)) {
    return kRefusedResolvedToProtected;
  }
  return nullptr;
}

}  // namespace

const WCHAR* DirectoryRemovalRefusal(const WCHAR* directory, bool* found) {
  std::size_t cch = 0;
  *found = true;
  if (directory == nullptr) {
    return kRefusedNotFullPath;
  }
  if (!TextLengthWithin(directory, MAX_PATH, &cch)) {
    return kRefusedTooLong;
  }
  if (cch > 0 && IsBackslash(directory[cch - 1])) {
    --cch;
  }
  const PathForm form = ClassifyPath(directory, cch);
  if (form == kPathNotFull) {
    return kRefusedNotFullPath;
  }
  if (form == kPathRoot) {
    return kRefusedRoot;
  }
  if (IsSystemFolderOrAbove(directory, cch)) {
    return kRefusedSystemFolder;
  }
  return FinalPathRefusal(directory, found);
}
