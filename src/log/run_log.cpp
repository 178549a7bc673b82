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
  g_log.file = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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
