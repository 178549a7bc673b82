#include "src/services/service_removal.h"

#include "src/log/run_log.h"

const WCHAR* const ServiceNameTable[kServiceNameCount] = {
    TEXT("Ostrivel"),
    TEXT("Pennaquist"),
    TEXT("Brolmidas"),
};

namespace {

constexpr DWORD kStopPollIntervalMs = 1000;
constexpr DWORD kRecoveryActionCount = 3;

// The code of the call that has just failed. A failure that leaves no code
// behind is still a failure: it is reported as ERROR_INVALID_FUNCTION rather
// than as 0, which would read as success.
DWORD FailureCode() {
  const DWORD code = GetLastError();
  return code != ERROR_SUCCESS ? code : static_cast<DWORD>(ERROR_INVALID_FUNCTION);
}

// Sets the service's recovery actions to three of "take no action", so that
// the controller neither restarts the service nor reboots nor runs a command
// when it ends. The reboot message and the command stay as they are.
DWORD ClearRecoveryActions(SC_HANDLE service) {
  SC_ACTION actions[kRecoveryActionCount] = {};
  for (SC_ACTION& action : actions) {
    action.Type = SC_ACTION_NONE;
    action.Delay = 0;
  }
  SERVICE_FAILURE_ACTIONSW failure_actions = {};
  failure_actions.dwResetPeriod = 0;
  failure_actions.lpRebootMsg = nullptr;
  failure_actions.lpCommand = nullptr;
  failure_actions.cActions = kRecoveryActionCount;
  failure_actions.lpsaActions = actions;
  DWORD result = ERROR_SUCCESS;
  if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure_actions)) {
    result = FailureCode();
  }
  return result;
}

// The service's current state in *state; the error code when the query
// fails, *state then unchanged.
DWORD QueryServiceState(SC_HANDLE service, DWORD* state) {
  SERVICE_STATUS_PROCESS status = {};
  DWORD cb_needed = 0;
  DWORD result = ERROR_SUCCESS;
  if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status),
                            static_cast<DWORD>(sizeof(status)), &cb_needed)) {
    result = FailureCode();
  } else {
    *state = status.dwCurrentState;
  }
  return result;
}

// Asks the service to stop, then looks at its state once a second until it
// is stopped or ServiceStopPollLimit looks were taken. Only a refused stop
// request is a failure; a failed look uses up one of the looks.
DWORD StopAndWait(SC_HANDLE service) {
  SERVICE_STATUS status = {};
  DWORD result = ERROR_SUCCESS;
  if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    result = FailureCode();
  } else {
    for (DWORD poll = 0; poll < ServiceStopPollLimit; ++poll) {
      Sleep(kStopPollIntervalMs);
      DWORD state = 0;
      if (QueryServiceState(service, &state) == ERROR_SUCCESS && state == SERVICE_STOPPED) {
        break;
      }
    }
  }
  return result;
}

}  // namespace

DWORD RemoveService(const WCHAR* service_name) {
  DWORD result = ERROR_SUCCESS;
  SC_HANDLE manager = nullptr;
  SC_HANDLE service = nullptr;
  DWORD state = 0;

  manager = OpenSCManagerW(nullptr, TEXT("ServicesActive"), SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    result = FailureCode();
  }
  // The same mask as the manager's, not SERVICE_ALL_ACCESS: it holds DELETE
  // and the rights to change the configuration, query the status and stop.
  if (result == ERROR_SUCCESS) {
    service = OpenServiceW(manager, service_name, SC_MANAGER_ALL_ACCESS);
    if (service == nullptr) {
      result = FailureCode();
    }
  }
  if (result == ERROR_SUCCESS) {
    result = ClearRecoveryActions(service);
  }
  if (result == ERROR_SUCCESS) {
    result = QueryServiceState(service, &state);
  }
  if (result == ERROR_SUCCESS && state != SERVICE_STOPPED) {
    result = StopAndWait(service);
  }
  if (result == ERROR_SUCCESS && !DeleteService(service)) {
    result = FailureCode();
  }

  if (service != nullptr) {
    CloseServiceHandle(service);
  }
  if (manager != nullptr) {
    CloseServiceHandle(manager);
  }
  return result;
}

void RemoveProductServices() {
  for (const WCHAR* service_name : ServiceNameTable) {
    const DWORD result = RemoveService(service_name);
    if (result == ERROR_SUCCESS) {
      LogText(TEXT("Service was successfully deleted"), service_name);
    } else {
      LogText(TEXT("Service was not deleted"), service_name);
      LogCode(TEXT("Error code is"), result);
    }
  }
}
