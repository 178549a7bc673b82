#include "src/files/directory_tree.h"

#include "src/files/protected_paths.h"
#include "src/log/run_log.h"
#include "src/text/wide_text.h"

namespace {

const WCHAR kSeparator[] = TEXT("\\");

bool IsDotEntry(const WCHAR* name) { return TextEquals(name, TEXT(".")) || TextEquals(name, TEXT("..")); }

// Fills target (MAX_PATH units) with the directory, a backslash unless it
// already ends in one, and the name. False when that does not fit; the
// target is then not to be used.
bool JoinPath(WCHAR* target, const WCHAR* directory, const WCHAR* name) {
  const std::size_t cch_directory = TextLength(directory);
  const bool has_separator = cch_directory > 0 && directory[cch_directory - 1] == kSeparator[0];
  return TextCopy(target, MAX_PATH, directory) && (has_separator || TextAppend(target, MAX_PATH, kSeparator)) &&
         TextAppend(target, MAX_PATH, name);
}

// The whole path of an entry that is skipped because it does not fit, for
// the log alone: a directory and a name of at most MAX_PATH - 1 units each.
void LogSkippedEntry(const WCHAR* directory, const WCHAR* name) {
  WCHAR path[2 * MAX_PATH] = {};
  TextCopy(path, 2 * MAX_PATH, directory);
  TextAppend(path, 2 * MAX_PATH, kSeparator);
  TextAppend(path, 2 * MAX_PATH, name);
  LogText(TEXT("Skipping entry, path too long"), path);
}

void RemoveTreeLevel(const WCHAR* directory, bool may_list);

// A link or junction: the link goes, what it points to stays untouched, so
// its attributes are left alone too.
void RemoveLink(const WCHAR* path, bool directory_link) {
  LogText(TEXT("Removing link"), path);
  const BOOL removed = directory_link ? RemoveDirectoryW(path) : DeleteFileW(path);
  if (removed) {
    LogText(TEXT("OK"), nullptr);
  } else {
    LogCode(TEXT("Cannot remove link"), GetLastError());
  }
}

void DeleteTreeFile(const WCHAR* path) {
  LogText(TEXT("Deleting file"), path);
  if (!SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL)) {
    LogCode(TEXT("cannot drop attributes"), GetLastError());
  }
  if (DeleteFileW(path)) {
    LogText(TEXT("OK"), nullptr);
  } else {
    LogCode(path, GetLastError());
  }
}

// One entry of a listing of the directory.
void RemoveEntry(const WCHAR* directory, const WIN32_FIND_DATAW& entry) {
  std::size_t cch_name = 0;
  if (!TextLengthWithin(entry.cFileName, MAX_PATH, &cch_name)) {
    LogText(TEXT("Skipping entry, path too long"), directory);
    return;
  }
  if (IsDotEntry(entry.cFileName)) {
    return;
  }
  WCHAR path[MAX_PATH] = {};
  if (!JoinPath(path, directory, entry.cFileName)) {
    LogSkippedEntry(directory, entry.cFileName);
    return;
  }
  if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    RemoveLink(path, (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
  } else if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    RemoveTreeLevel(path, true);
    // The walk one level down removed it already unless something stayed.
    if (!RemoveDirectoryW(path)) {
      LogCode(TEXT("Cannot remove dir"), GetLastError());
    }
  } else {
    DeleteTreeFile(path);
  }
}

// Removes every entry of a directory that is not empty, then the directory
// itself, silently.
void EmptyAndRemove(const WCHAR* directory) {
  HANDLE search = INVALID_HANDLE_VALUE;
  WCHAR pattern[MAX_PATH] = {};
  WIN32_FIND_DATAW entry = {};
  if (!JoinPath(pattern, directory, TEXT("*"))) {
    LogText(TEXT("Cannot list dir, path too long"), directory);
  } else {
    search = FindFirstFileW(pattern, &entry);
  }
  if (search != INVALID_HANDLE_VALUE) {
    BOOL listed = TRUE;
    while (listed) {
      RemoveEntry(directory, entry);
      listed = FindNextFileW(search, &entry);
    }
    FindClose(search);
  }
  RemoveDirectoryW(directory);
}

// One level of the walk: the directory goes at once when it is empty, and
// is emptied first when it is not and may_list allows it; otherwise what
// keeps it is reported like any other reason.
void RemoveTreeLevel(const WCHAR* directory, bool may_list) {
  LogText(TEXT("Removing Dir"), directory);
  if (!SetFileAttributesW(directory, FILE_ATTRIBUTE_NORMAL)) {
    LogCode(TEXT("cannot drop attributes"), GetLastError());
  }
  if (RemoveDirectoryW(directory)) {
    return;
  }
  const DWORD error = GetLastError();
  if (error != ERROR_DIR_NOT_EMPTY || !may_list) {
    LogCode(TEXT("Cannot remove dir"), error);
    return;
  }
  EmptyAndRemove(directory);
}

}  // namespace

bool RemoveDirectoryTree(const WCHAR* directory) {
  bool found = true;
  const WCHAR* refusal = DirectoryRemovalRefusal(directory, &found);
  if (refusal != nullptr) {
    LogText(refusal, directory);
    return false;
  }
  // A directory that was not found is only tried: should it turn out to be
  // there after all, its place was never checked, so it is not listed.
  RemoveTreeLevel(directory, found);
  return true;
}
