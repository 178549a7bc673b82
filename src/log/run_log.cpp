#include "src/log/run_log.h"

#include "src/text/wide_text.h"

namespace {

constexpr DWORD kCbOutputBuffer = 1024;

struct RunLog {
  HANDLE file = INVALID_HANDLE_VALUE;
  bool failed = false;
  DWORD cb_pending = 0;
  BYTE pending[kCbOutputBuffer] = {};
};

RunLog g_log;

// Hands the buffered bytes to the file. False when the file refused them.
bool FlushPending() {
  if (g_log.cb_pending == 0) {
    return true;
  }
  DWORD cb_written = 0;
  const BOOL written = WriteFile(g_log.file, g_log.pending, g_log.cb_pending, &cb_written, nullptr);
  if (!written || cb_written != g_log.cb_pending) {
    return false;
  }
  g_log.cb_pending = 0;
  return true;
}

bool PutByte(BYTE byte) {
  if (g_log.cb_pending == kCbOutputBuffer && !FlushPending()) {
    g_log.failed = true;
    return false;
  }
  g_log.pending[g_log.cb_pending++] = byte;
  return true;
}

// One code unit; false once the log is failed.
bool WriteUnit(WCHAR unit) {
  if (g_log.failed || g_log.file == INVALID_HANDLE_VALUE) {
    return false;
  }
  // A unit that one byte cannot hold is written as "?", so that the line
  // and the rest of the log stay readable.
  if (unit > 0xFF) {
    unit = static_cast<WCHAR>('?');
  }
  if (unit == static_cast<WCHAR>('\n') && !PutByte('\r')) {
    return false;
  }
  return PutByte(static_cast<BYTE>(unit));
}

void WriteText(const WCHAR* text) {
  if (text == nullptr) {
    return;
  }
  for (const WCHAR* unit = text; *unit != 0; ++unit) {
    if (!WriteUnit(*unit)) {
      return;
    }
  }
}

void WriteDecimal(DWORD code) {
  WCHAR digits[11] = {};
  int first = 10;
  do {
    digits[--first] = static_cast<WCHAR>('0' + code % 10);
    code /= 10;
  } while (code != 0);
  WriteText(digits + first);
}

void EndLine() {
  if (!WriteUnit(static_cast<WCHAR>('\n'))) {
    return;
  }
  if (!FlushPending()) {
    g_log.failed = true;
  }
}

// The temporary directory can be one where other users create files. An
// existing "$vornalet.log" that is a link of any kind (symbolic link,
// junction, a file with more than one name) is removed, never followed, so
// that creating the log cannot empty or overwrite what the link points to.
// False when such a link is there and cannot be removed.
bool RemoveLinkInPlaceOfLog(const WCHAR* name) {
  const DWORD attributes = GetFileAttributesW(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return true;
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? RemoveDirectoryW(name) != FALSE : DeleteFileW(name) != FALSE;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return true;  // a real directory of that name: the log cannot be created
  }
  HANDLE existing = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (existing == INVALID_HANDLE_VALUE) {
    return true;  // held without sharing, for instance: creating it fails as well
  }
  BY_HANDLE_FILE_INFORMATION information = {};
  const bool has_other_names = GetFileInformationByHandle(existing, &information) && information.nNumberOfLinks > 1;
  CloseHandle(existing);
  return !has_other_names || DeleteFileW(name) != FALSE;
}

}  // namespace

bool OpenRunLog() {
  CloseRunLog();
  g_log = RunLog{};
  WCHAR name[MAX_PATH] = {};
  const DWORD cch_temp = GetTempPathW(MAX_PATH, name);
  // No temporary directory, or a name that does not fit: the run goes on
  // without a log.
  if (cch_temp == 0 || cch_temp >= MAX_PATH || !TextAppend(name, MAX_PATH, TEXT("$vornalet.log"))) {
    g_log.failed = true;
    return false;
  }
  if (!RemoveLinkInPlaceOfLog(name)) {
    g_log.failed = true;
    return false;
  }
  g_log.file = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (g_log.file == INVALID_HANDLE_VALUE) {
    g_log.failed = true;
    return false;
  }
  return true;
}

void LogText(const WCHAR* text, const WCHAR* argument) {
  WriteText(text);
  if (argument != nullptr) {
    WriteUnit(static_cast<WCHAR>(' '));
    WriteText(argument);
  }
  EndLine();
}

void LogCode(const WCHAR* text, DWORD code) {
  WriteText(text);
  if (code != 0) {
    WriteUnit(static_cast<WCHAR>(' '));
    WriteDecimal(code);
  }
  EndLine();
}

void CloseRunLog() {
  if (g_log.file == INVALID_HANDLE_VALUE) {
    return;
  }
  FlushPending();
  CloseHandle(g_log.file);
  g_log.file = INVALID_HANDLE_VALUE;
  g_log.failed = true;
  g_log.cb_pending = 0;
}
