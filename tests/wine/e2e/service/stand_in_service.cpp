// A stand-in for one of the server product's Windows services, for the
// end-to-end test under Wine. It runs as a service of its own process:
//
//   stand_in_service.exe NAME [STOP_DELAY_SECONDS]
//
// It reports running, and on a stop request reports stop pending, waits
// STOP_DELAY_SECONDS (0 when absent) and reports stopped. Every event is
// appended as one line to C:\stand-in\NAME.txt ("running", "stop requested",
// "stopped"), so that the test can see which controls the service received,
// after the service and its directory are gone.
//
// Built with: x86_64-w64-mingw32-g++ -municode -static -O2 -o stand_in_service.exe stand_in_service.cpp -ladvapi32
#include <windows.h>

namespace {

constexpr DWORD kCchName = 64;

WCHAR g_name[kCchName] = L"";
DWORD g_stop_delay_seconds = 0;
SERVICE_STATUS_HANDLE g_status_handle = nullptr;
HANDLE g_stop_event = nullptr;

// Appends one line to the service's journal; failures are ignored, the
// journal is the test's aid, not the service's purpose.
void Journal(const char* event) {
  WCHAR path[MAX_PATH] = L"C:\\stand-in";
  CreateDirectoryW(path, nullptr);
  if (lstrlenW(path) + 1 + lstrlenW(g_name) + 4 >= MAX_PATH) return;
  lstrcatW(path, L"\\");
  lstrcatW(path, g_name);
  lstrcatW(path, L".txt");
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD cb_written = 0;
  WriteFile(file, event, static_cast<DWORD>(lstrlenA(event)), &cb_written, nullptr);
  WriteFile(file, "\r\n", 2, &cb_written, nullptr);
  CloseHandle(file);
}

void ReportState(DWORD state, DWORD check_point, DWORD wait_hint_ms) {
  SERVICE_STATUS status = {};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  status.dwWin32ExitCode = NO_ERROR;
  status.dwCheckPoint = check_point;
  status.dwWaitHint = wait_hint_ms;
  SetServiceStatus(g_status_handle, &status);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD /*event_type*/, void* /*event_data*/, void* /*context*/) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      Journal("stop requested");
      ReportState(SERVICE_STOP_PENDING, 1, (g_stop_delay_seconds + 1) * 1000);
      SetEvent(g_stop_event);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD /*argc*/, LPWSTR* /*argv*/) {
  g_status_handle = RegisterServiceCtrlHandlerExW(g_name, ControlHandler, nullptr);
  if (g_status_handle == nullptr) return;
  g_stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ReportState(SERVICE_START_PENDING, 1, 3000);
  ReportState(SERVICE_RUNNING, 0, 0);
  Journal("running");
  WaitForSingleObject(g_stop_event, INFINITE);
  // A slow stop: the service stays in stop pending, and says so each second.
  for (DWORD second = 0; second < g_stop_delay_seconds; ++second) {
    Sleep(1000);
    ReportState(SERVICE_STOP_PENDING, second + 2, 2000);
  }
  Journal("stopped");
  CloseHandle(g_stop_event);
  ReportState(SERVICE_STOPPED, 0, 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2 || lstrlenW(argv[1]) >= static_cast<int>(kCchName)) return 87;
  lstrcpyW(g_name, argv[1]);
  if (argc >= 3) {
    for (const wchar_t* digit = argv[2]; *digit >= L'0' && *digit <= L'9'; ++digit) {
      g_stop_delay_seconds = g_stop_delay_seconds * 10 + static_cast<DWORD>(*digit - L'0');
    }
  }
  SERVICE_TABLE_ENTRYW table[] = {{g_name, ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) return static_cast<int>(GetLastError());
  return 0;
}
