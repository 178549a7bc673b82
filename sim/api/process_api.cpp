// Process, heap, time and environment functions of the simulated platform.
#include <cstring>
#include <string>
#include <vector>

#include "sim/api/api_support.h"
#include "sim/win32/windows.h"

using sim::CurrentMachine;
using sim::Machine;

DWORD WINAPI GetLastError() { return CurrentMachine().process.last_error; }

void WINAPI SetLastError(DWORD code) { CurrentMachine().process.last_error = code; }

void WINAPI Sleep(DWORD milliseconds) {
  Machine& m = CurrentMachine();
  m.clock_ms += milliseconds;
  m.journal.Record("Sleep", std::u16string(), milliseconds);
}

HANDLE WINAPI GetProcessHeap() {
  static int heap_marker = 0;
  return &heap_marker;
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD /*flags*/, LPVOID memory) {
  Machine& m = CurrentMachine();
  const bool freed = heap == GetProcessHeap() && m.process.Free(memory);
  sim::ReportOutcome(m, "HeapFree", u"", freed ? 0 : ERROR_INVALID_PARAMETER);
  return freed ? TRUE : FALSE;
}

// One heap block: the pointer array, then the texts it points to.
LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR command_line, int* count) {
  Machine& m = CurrentMachine();
  if (count == nullptr) {
    sim::ReportOutcome(m, "CommandLineToArgvW", u"", ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (auto fault = m.faults.Take("CommandLineToArgvW", sim::View(command_line))) {
    sim::ReportOutcome(m, "CommandLineToArgvW", sim::View(command_line), *fault);
    return nullptr;
  }
  std::vector<std::u16string> args;
  if (command_line == nullptr || *command_line == 0) {
    args.push_back(u"C:\\Program Files\\vornalet\\vornalet.exe");
  } else {
    args = sim::SplitCommandLine(command_line);
  }
  std::size_t cb = (args.size() + 1) * sizeof(LPWSTR);
  for (const std::u16string& arg : args) {
    cb += (arg.size() + 1) * sizeof(WCHAR);
  }
  auto* block = static_cast<unsigned char*>(m.process.Allocate(cb));
  auto* pointers = reinterpret_cast<LPWSTR*>(block);
  auto* text = reinterpret_cast<WCHAR*>(block + (args.size() + 1) * sizeof(LPWSTR));
  for (std::size_t i = 0; i < args.size(); ++i) {
    pointers[i] = text;
    std::memcpy(text, args[i].c_str(), (args[i].size() + 1) * sizeof(WCHAR));
    text += args[i].size() + 1;
  }
  pointers[args.size()] = nullptr;
  *count = static_cast<int>(args.size());
  sim::ReportOutcome(m, "CommandLineToArgvW", sim::View(command_line), 0);
  return pointers;
}

namespace {

// Copies text with its terminator when it fits; returns the length written,
// or the size needed with the terminator when it does not.
DWORD CopyOut(const std::u16string& text, LPWSTR buffer, DWORD cch_buffer) {
  if (buffer == nullptr || text.size() + 1 > cch_buffer) {
    return static_cast<DWORD>(text.size() + 1);
  }
  std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
  return static_cast<DWORD>(text.size());
}

}  // namespace

DWORD WINAPI GetTempPathW(DWORD cch_buffer, LPWSTR buffer) {
  Machine& m = CurrentMachine();
  std::uint32_t error = m.process.temp_path_error;
  if (auto fault = m.faults.Take("GetTempPathW", m.process.temp_path)) {
    error = *fault;
  }
  if (error != 0) {
    sim::ReportOutcome(m, "GetTempPathW", u"", error);
    return 0;
  }
  const DWORD result = CopyOut(m.process.temp_path, buffer, cch_buffer);
  m.journal.Record("GetTempPathW", m.process.temp_path, result);
  return result;
}

UINT WINAPI GetWindowsDirectoryW(LPWSTR buffer, UINT cch_buffer) {
  Machine& m = CurrentMachine();
  const DWORD result = CopyOut(m.process.windows_directory, buffer, cch_buffer);
  m.journal.Record("GetWindowsDirectoryW", m.process.windows_directory, result);
  return result;
}

DWORD WINAPI GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD cch_buffer) {
  Machine& m = CurrentMachine();
  for (const auto& [key, value] : m.process.environment) {
    if (name != nullptr && sim::EqualsIgnoringCase(key, name)) {
      const DWORD result = CopyOut(value, buffer, cch_buffer);
      m.journal.Record("GetEnvironmentVariableW", key, result);
      return result;
    }
  }
  sim::ReportOutcome(m, "GetEnvironmentVariableW", sim::View(name), 203);  // ERROR_ENVVAR_NOT_FOUND
  return 0;
}
