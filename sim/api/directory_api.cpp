// Directory functions of the simulated platform: attributes, deletion of
// files and directories, and directory searches.
//
// Where Windows varies or the simulation chooses:
// - a path of MAX_PATH units or more fails with ERROR_FILENAME_EXCED_RANGE,
//   as for a program that has not opted in to long paths;
// - there is no current directory: a path without a drive fails with
//   ERROR_PATH_NOT_FOUND;
// - FindFirstFileW below a file fails with ERROR_DIRECTORY as on Windows
//   (Wine 8 gives ERROR_INVALID_NAME, 123); RemoveDirectoryW on a drive root
//   fails with ERROR_ACCESS_DENIED (Wine gives 145 when the root holds
//   anything);
// - SetFileAttributesW, DeleteFileW and RemoveDirectoryW on a link act on the
//   link itself; FindFirstFileW lists what a link to a directory points to;
// - a file deleted while handles that allow deletion are open on it loses
//   its name at once (as with the POSIX deletion of recent Windows); the
//   open handles keep working on it.
#include <algorithm>

#include "sim/api/api_support.h"
#include "sim/win32/windows.h"

using sim::CurrentMachine;
using sim::Machine;

namespace {

constexpr std::uint32_t kFileAttributeTemporary = 0x100;
constexpr std::uint32_t kFileAttributeOffline = 0x1000;
constexpr std::uint32_t kFileAttributeNotContentIndexed = 0x2000;
// What SetFileAttributesW changes; FILE_ATTRIBUTE_NORMAL alone clears them.
constexpr std::uint32_t kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                              FILE_ATTRIBUTE_ARCHIVE | kFileAttributeTemporary | kFileAttributeOffline |
                                              kFileAttributeNotContentIndexed;

// What every path call checks first: an injected fault, then the length.
std::uint32_t PathCallError(Machine& m, const char* call, const std::u16string& path) {
  if (auto fault = m.faults.Take(call, path)) {
    return *fault;
  }
  if (path.size() >= MAX_PATH) {
    return ERROR_FILENAME_EXCED_RANGE;
  }
  return 0;
}

BOOL Outcome(Machine& m, const char* call, const std::u16string& subject, std::uint32_t error) {
  sim::ReportOutcome(m, call, subject, error);
  return error == 0 ? TRUE : FALSE;
}

// Another handle is open on the entry without letting it be deleted.
bool HeldAgainstDeletion(const sim::FsNode& node) {
  return std::any_of(node.opens.begin(), node.opens.end(),
                     [](const sim::FileOpen& open) { return (open.share & FILE_SHARE_DELETE) == 0; });
}

DWORD ReportedAttributes(const sim::FsNode& node) {
  DWORD attributes = node.attributes;
  if (node.directory) {
    attributes |= FILE_ATTRIBUTE_DIRECTORY;
  }
  if (node.reparse_tag != 0) {
    attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  }
  return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

void FillFindData(const sim::FoundEntry& entry, WIN32_FIND_DATAW* data) {
  *data = WIN32_FIND_DATAW{};
  data->dwFileAttributes = ReportedAttributes(*entry.node);
  if (entry.node->reparse_tag != 0) {
    data->dwReserved0 = entry.node->reparse_tag;
  }
  const std::uint64_t cb = entry.node->directory ? 0 : entry.node->content.size();
  data->nFileSizeHigh = static_cast<DWORD>(cb >> 32);
  data->nFileSizeLow = static_cast<DWORD>(cb & 0xFFFFFFFFu);
  // File systems keep names to 255 units; the record holds MAX_PATH.
  const std::size_t cch = std::min<std::size_t>(entry.name.size(), MAX_PATH - 1);
  std::copy_n(entry.name.data(), cch, data->cFileName);
  data->cFileName[cch] = 0;
}

}  // namespace

BOOL WINAPI SetFileAttributesW(LPCWSTR name, DWORD attributes) {
  Machine& m = CurrentMachine();
  const std::u16string path(sim::View(name));
  std::uint32_t error = PathCallError(m, "SetFileAttributesW", path);
  if (error == 0) {
    const sim::FileSystem::Lookup where = m.files.Resolve(path);
    if (!where.node) {
      error = where.error;
    } else {
      where.node->attributes = (where.node->attributes & ~kSettableAttributes) | (attributes & kSettableAttributes);
    }
  }
  return Outcome(m, "SetFileAttributesW", path, error);
}

BOOL WINAPI DeleteFileW(LPCWSTR name) {
  Machine& m = CurrentMachine();
  const std::u16string path(sim::View(name));
  std::uint32_t error = PathCallError(m, "DeleteFileW", path);
  if (error == 0) {
    const sim::FileSystem::Lookup where = m.files.Resolve(path);
    if (!where.node) {
      error = where.error;
    } else if (where.drive_root || where.node->directory || where.node->undeletable) {
      error = ERROR_ACCESS_DENIED;
    } else if (HeldAgainstDeletion(*where.node)) {
      error = ERROR_SHARING_VIOLATION;
    } else if ((where.node->attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      error = ERROR_ACCESS_DENIED;
    } else {
      m.files.Unlink(*where.parent, where.name);
    }
  }
  return Outcome(m, "DeleteFileW", path, error);
}

BOOL WINAPI RemoveDirectoryW(LPCWSTR name) {
  Machine& m = CurrentMachine();
  const std::u16string path(sim::View(name));
  std::uint32_t error = PathCallError(m, "RemoveDirectoryW", path);
  if (error == 0) {
    const sim::FileSystem::Lookup where = m.files.Resolve(path);
    if (!where.node) {
      error = where.error;
    } else if (where.drive_root) {
      error = ERROR_ACCESS_DENIED;
    } else if (!where.node->directory) {
      error = ERROR_DIRECTORY;
    } else if (where.node->undeletable) {
      error = ERROR_ACCESS_DENIED;
    } else if (HeldAgainstDeletion(*where.node)) {
      error = ERROR_SHARING_VIOLATION;
    } else if ((where.node->attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      error = ERROR_ACCESS_DENIED;
    } else if (where.node->reparse_tag == 0 && !where.node->children.empty()) {
      // A link goes whatever its target holds.
      error = ERROR_DIR_NOT_EMPTY;
    } else {
      m.files.Unlink(*where.parent, where.name);
    }
  }
  return Outcome(m, "RemoveDirectoryW", path, error);
}

HANDLE WINAPI FindFirstFileW(LPCWSTR pattern_text, LPWIN32_FIND_DATAW data) {
  Machine& m = CurrentMachine();
  const std::u16string pattern(sim::View(pattern_text));
  std::uint32_t error = PathCallError(m, "FindFirstFileW", pattern);
  const std::size_t cut = pattern.find_last_of(u'\\');
  if (error == 0 && data == nullptr) {
    error = ERROR_INVALID_PARAMETER;
  }
  if (error == 0 && cut == std::u16string::npos) {
    error = ERROR_PATH_NOT_FOUND;
  }
  if (error == 0 && cut + 1 == pattern.size()) {
    error = ERROR_FILE_NOT_FOUND;  // a pattern that ends in a backslash names nothing
  }
  sim::FindSearch search;
  std::optional<sim::FoundEntry> found;
  if (error == 0) {
    // The directory is looked up through links, so a junction lists its target.
    const sim::FileSystem::Lookup where = m.files.Resolve(pattern.substr(0, cut), true);
    if (!where.node) {
      error = ERROR_PATH_NOT_FOUND;
    } else if (!where.node->directory) {
      error = ERROR_DIRECTORY;
    } else {
      search.directory = where.node;
      search.parent = where.drive_root ? nullptr : where.parent;
      search.pattern = pattern.substr(cut + 1);
      search.subject = pattern;
      // A drive root lists neither "." nor "..".
      search.dots_listed = where.drive_root || where.node->no_dot_entries ? 2 : 0;
      found = m.files.NextFound(search);
      if (!found) {
        error = ERROR_FILE_NOT_FOUND;
      }
    }
  }
  if (error != 0) {
    sim::ReportOutcome(m, "FindFirstFileW", pattern, error);
    return INVALID_HANDLE_VALUE;
  }
  FillFindData(*found, data);
  const std::uintptr_t value = m.handles.Open(sim::HandleKind::kFindSearch, pattern);
  m.files.searches.emplace(value, std::move(search));
  sim::ReportOutcome(m, "FindFirstFileW", pattern, 0);
  return reinterpret_cast<HANDLE>(value);
}

BOOL WINAPI FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
  Machine& m = CurrentMachine();
  const auto value = reinterpret_cast<std::uintptr_t>(find);
  auto it = m.files.searches.find(value);
  if (it == m.files.searches.end() || !m.handles.IsOpen(value, sim::HandleKind::kFindSearch) || data == nullptr) {
    return Outcome(m, "FindNextFileW", u"", ERROR_INVALID_HANDLE);
  }
  sim::FindSearch& search = it->second;
  if (auto fault = m.faults.Take("FindNextFileW", search.subject)) {
    return Outcome(m, "FindNextFileW", search.subject, *fault);
  }
  const std::optional<sim::FoundEntry> found = m.files.NextFound(search);
  if (!found) {
    return Outcome(m, "FindNextFileW", search.subject, ERROR_NO_MORE_FILES);
  }
  FillFindData(*found, data);
  return Outcome(m, "FindNextFileW", search.subject, 0);
}

BOOL WINAPI FindClose(HANDLE find) {
  Machine& m = CurrentMachine();
  const auto value = reinterpret_cast<std::uintptr_t>(find);
  auto it = m.files.searches.find(value);
  if (it == m.files.searches.end() || !m.handles.IsOpen(value, sim::HandleKind::kFindSearch)) {
    return Outcome(m, "FindClose", u"", ERROR_INVALID_HANDLE);
  }
  const std::u16string subject = it->second.subject;
  if (auto fault = m.faults.Take("FindClose", subject)) {
    return Outcome(m, "FindClose", subject, *fault);
  }
  m.handles.Close(value, sim::HandleKind::kFindSearch);
  m.files.searches.erase(it);
  return Outcome(m, "FindClose", subject, 0);
}
