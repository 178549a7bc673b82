// File functions of the simulated platform: opening, writing, closing and
// the attributes of a file.
#include <algorithm>

#include "sim/api/api_support.h"
#include "sim/win32/windows.h"

using sim::CurrentMachine;
using sim::Machine;

namespace {

constexpr std::uint32_t kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool Conflicts(const sim::FileOpen& held, const sim::FileOpen& wanted) {
  const bool wanted_reads = (wanted.access & GENERIC_READ) != 0;
  const bool wanted_writes = (wanted.access & GENERIC_WRITE) != 0;
  const bool held_reads = (held.access & GENERIC_READ) != 0;
  const bool held_writes = (held.access & GENERIC_WRITE) != 0;
  return (wanted_reads && (held.share & FILE_SHARE_READ) == 0) ||
         (wanted_writes && (held.share & FILE_SHARE_WRITE) == 0) ||
         (held_reads && (wanted.share & FILE_SHARE_READ) == 0) ||
         (held_writes && (wanted.share & FILE_SHARE_WRITE) == 0);
}

HANDLE Fail(Machine& m, std::u16string_view path, std::uint32_t error) {
  sim::ReportOutcome(m, "CreateFileW", path, error);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD share_mode, SECURITY_ATTRIBUTES* /*security*/,
                          DWORD creation, DWORD flags_and_attributes, HANDLE /*template_file*/) {
  Machine& m = CurrentMachine();
  const std::u16string path(sim::View(name));
  if (auto fault = m.faults.Take("CreateFileW", path)) {
    return Fail(m, path, *fault);
  }
  if (path.size() >= MAX_PATH) {
    return Fail(m, path, ERROR_FILENAME_EXCED_RANGE);
  }
  // A link is followed unless the caller asks for the link itself.
  const sim::FileSystem::Lookup where =
      m.files.Resolve(path, (flags_and_attributes & FILE_FLAG_OPEN_REPARSE_POINT) == 0);
  if (where.error != 0 && where.error != ERROR_FILE_NOT_FOUND) {
    return Fail(m, path, where.error);
  }
  const sim::FileOpen wanted{access, share_mode & kShareAll};
  std::shared_ptr<sim::FsNode> node = where.node;
  if (node) {
    if (node->directory && (flags_and_attributes & FILE_FLAG_BACKUP_SEMANTICS) == 0) {
      return Fail(m, path, ERROR_ACCESS_DENIED);
    }
    if (std::any_of(node->opens.begin(), node->opens.end(),
                    [&](const sim::FileOpen& held) { return Conflicts(held, wanted); })) {
      return Fail(m, path, ERROR_SHARING_VIOLATION);
    }
    if (creation == CREATE_NEW) {
      return Fail(m, path, ERROR_FILE_EXISTS);
    }
    const bool truncates = creation == CREATE_ALWAYS || creation == TRUNCATE_EXISTING;
    if ((node->attributes & FILE_ATTRIBUTE_READONLY) != 0 && ((access & GENERIC_WRITE) != 0 || truncates)) {
      return Fail(m, path, ERROR_ACCESS_DENIED);
    }
    if (truncates) {
      node->content.clear();
    }
  } else {
    if (creation == OPEN_EXISTING || creation == TRUNCATE_EXISTING) {
      return Fail(m, path, ERROR_FILE_NOT_FOUND);
    }
    node = std::make_shared<sim::FsNode>();
    node->attributes = FILE_ATTRIBUTE_ARCHIVE;
    where.parent->children.emplace(sim::Fold(where.name), sim::DirEntry{where.name, node});
  }
  node->opens.push_back(wanted);
  const std::uintptr_t value = m.handles.Open(sim::HandleKind::kFile, path);
  m.files.open_files.emplace(value,
                             sim::OpenFile{node, wanted, path, where.final_path, sim::Fold(path.substr(0, 2)), 0});
  const bool existed = where.node != nullptr;
  sim::ReportOutcome(m, "CreateFileW", path, 0);
  // Like Windows, a successful CREATE_ALWAYS or OPEN_ALWAYS of an existing
  // file says so in the last error.
  m.process.last_error = existed && (creation == CREATE_ALWAYS || creation == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS : 0;
  return reinterpret_cast<HANDLE>(value);
}

BOOL WINAPI WriteFile(HANDLE file, const void* buffer, DWORD cb_to_write, LPDWORD cb_written,
                      OVERLAPPED* /*overlapped*/) {
  Machine& m = CurrentMachine();
  if (cb_written != nullptr) {
    *cb_written = 0;
  }
  const auto value = reinterpret_cast<std::uintptr_t>(file);
  auto it = m.files.open_files.find(value);
  if (it == m.files.open_files.end() || !m.handles.IsOpen(value, sim::HandleKind::kFile)) {
    sim::ReportOutcome(m, "WriteFile", u"", ERROR_INVALID_HANDLE);
    return FALSE;
  }
  sim::OpenFile& open = it->second;
  if ((open.mode.access & GENERIC_WRITE) == 0) {
    sim::ReportOutcome(m, "WriteFile", open.path, ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (auto fault = m.faults.Take("WriteFile", open.path)) {
    sim::ReportOutcome(m, "WriteFile", open.path, *fault);
    return FALSE;
  }
  std::string& content = open.node->content;
  const std::uint64_t end = open.position + cb_to_write;
  const std::uint64_t growth = end > content.size() ? end - content.size() : 0;
  auto space = m.files.free_bytes.find(open.drive);
  if (space != m.files.free_bytes.end()) {
    if (growth > space->second) {
      sim::ReportOutcome(m, "WriteFile", open.path, ERROR_DISK_FULL);
      return FALSE;
    }
    space->second -= growth;
  }
  if (end > content.size()) {
    content.resize(end);
  }
  if (cb_to_write > 0) {
    content.replace(open.position, cb_to_write, static_cast<const char*>(buffer), cb_to_write);
  }
  open.position = end;
  if (cb_written != nullptr) {
    *cb_written = cb_to_write;
  }
  sim::ReportOutcome(m, "WriteFile", open.path, 0);
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  Machine& m = CurrentMachine();
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  auto it = m.files.open_files.find(value);
  if (it == m.files.open_files.end() || !m.handles.Close(value, sim::HandleKind::kFile)) {
    sim::ReportOutcome(m, "CloseHandle", u"", ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::vector<sim::FileOpen>& opens = it->second.node->opens;
  for (auto open = opens.begin(); open != opens.end(); ++open) {
    if (open->access == it->second.mode.access && open->share == it->second.mode.share) {
      opens.erase(open);
      break;
    }
  }
  const std::u16string path = it->second.path;
  m.files.open_files.erase(it);
  sim::ReportOutcome(m, "CloseHandle", path, 0);
  return TRUE;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR name) {
  Machine& m = CurrentMachine();
  const std::u16string path(sim::View(name));
  if (auto fault = m.faults.Take("GetFileAttributesW", path)) {
    sim::ReportOutcome(m, "GetFileAttributesW", path, *fault);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (path.size() >= MAX_PATH) {
    sim::ReportOutcome(m, "GetFileAttributesW", path, ERROR_FILENAME_EXCED_RANGE);
    return INVALID_FILE_ATTRIBUTES;
  }
  // A link answers for itself, not for what it points to.
  sim::FileSystem::Lookup where = m.files.Resolve(path);
  if (!where.node) {
    sim::ReportOutcome(m, "GetFileAttributesW", path, where.error);
    return INVALID_FILE_ATTRIBUTES;
  }
  DWORD attributes = where.node->attributes;
  if (where.node->directory) {
    attributes |= FILE_ATTRIBUTE_DIRECTORY;
  }
  if (where.node->reparse_tag != 0) {
    attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  }
  if (attributes == 0) {
    attributes = FILE_ATTRIBUTE_NORMAL;
  }
  sim::ReportOutcome(m, "GetFileAttributesW", path, 0);
  return attributes;
}

BOOL WINAPI GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information) {
  Machine& m = CurrentMachine();
  const auto value = reinterpret_cast<std::uintptr_t>(file);
  auto it = m.files.open_files.find(value);
  if (it == m.files.open_files.end() || !m.handles.IsOpen(value, sim::HandleKind::kFile) || information == nullptr) {
    sim::ReportOutcome(m, "GetFileInformationByHandle", u"", ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const sim::FsNode& node = *it->second.node;
  *information = BY_HANDLE_FILE_INFORMATION{};
  information->dwFileAttributes = node.attributes | (node.directory ? FILE_ATTRIBUTE_DIRECTORY : 0) |
                                  (node.reparse_tag != 0 ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
  if (information->dwFileAttributes == 0) {
    information->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
  }
  const std::uint64_t cb = node.content.size();
  information->nFileSizeHigh = static_cast<DWORD>(cb >> 32);
  information->nFileSizeLow = static_cast<DWORD>(cb & 0xFFFFFFFFu);
  information->nNumberOfLinks = node.link_count;
  // The node's address stands in for the file index: equal for the names of
  // one file, different for different files.
  const auto index = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&node));
  information->nFileIndexHigh = static_cast<DWORD>(index >> 32);
  information->nFileIndexLow = static_cast<DWORD>(index & 0xFFFFFFFFu);
  sim::ReportOutcome(m, "GetFileInformationByHandle", it->second.path, 0);
  return TRUE;
}

DWORD WINAPI GetFinalPathNameByHandleW(HANDLE file, LPWSTR buffer, DWORD cch_buffer, DWORD flags) {
  Machine& m = CurrentMachine();
  const auto value = reinterpret_cast<std::uintptr_t>(file);
  auto it = m.files.open_files.find(value);
  if (it == m.files.open_files.end() || !m.handles.IsOpen(value, sim::HandleKind::kFile)) {
    sim::ReportOutcome(m, "GetFinalPathNameByHandleW", u"", ERROR_INVALID_HANDLE);
    return 0;
  }
  const std::u16string& path = it->second.path;
  if (auto fault = m.faults.Take("GetFinalPathNameByHandleW", path)) {
    sim::ReportOutcome(m, "GetFinalPathNameByHandleW", path, *fault);
    return 0;
  }
  // Only the long names with the drive letter are given here.
  if (flags != (FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)) {
    sim::ReportOutcome(m, "GetFinalPathNameByHandleW", path, ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::u16string final_path = u"\\\\?\\" + it->second.final_path;
  if (buffer == nullptr || final_path.size() + 1 > cch_buffer) {
    m.journal.Record("GetFinalPathNameByHandleW", path, static_cast<std::int64_t>(final_path.size() + 1));
    return static_cast<DWORD>(final_path.size() + 1);
  }
  std::copy(final_path.begin(), final_path.end(), buffer);
  buffer[final_path.size()] = 0;
  m.journal.Record("GetFinalPathNameByHandleW", path, static_cast<std::int64_t>(final_path.size()));
  return static_cast<DWORD>(final_path.size());
}
