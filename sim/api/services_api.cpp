// Service control functions of the simulated platform. Each call settles
// the controller at the machine's virtual time first, so that a service's
// state is what it would be at that moment; every handle carries the access
// it was opened with, and each call checks the right it needs.
#include <cstring>

#include "sim/api/api_support.h"
#include "sim/win32/windows.h"

using sim::CurrentMachine;
using sim::Machine;

namespace {

constexpr DWORD kErrorBadNetPath = 53;           // ERROR_BAD_NETPATH
constexpr DWORD kErrorInvalidName = 123;         // ERROR_INVALID_NAME
constexpr std::size_t kCchMaxServiceName = 256;  // longest service name the controller takes
constexpr char16_t kActiveDatabase[] = u"ServicesActive";

// What a user without administrator rights may ask of the controller and
// of a service; anything more is refused with ERROR_ACCESS_DENIED.
constexpr DWORD kUserManagerRights =
    SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS | READ_CONTROL;
constexpr DWORD kUserServiceRights = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS |
                                     SERVICE_INTERROGATE | SERVICE_USER_DEFINED_CONTROL | READ_CONTROL;

// An open service handle, resolved: the entry, and the service it names.
struct ServiceAccess {
  const sim::ServiceHandleEntry* entry = nullptr;
  sim::Service* service = nullptr;
};

// Settles the controller and resolves a service handle; the entry is null
// when the value is no open service handle.
ServiceAccess ResolveService(Machine& m, SC_HANDLE handle) {
  m.services.Settle(m.clock_ms);
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  ServiceAccess access;
  const sim::ServiceHandleEntry* entry = m.services.FindHandle(value);
  if (entry == nullptr || entry->is_manager || !m.handles.IsOpen(value, sim::HandleKind::kService)) {
    return access;
  }
  access.service = m.services.Find(entry->name);
  if (access.service != nullptr) {
    access.entry = entry;
  }
  return access;
}

BOOL Fail(Machine& m, const char* call, std::u16string_view subject, DWORD error) {
  sim::ReportOutcome(m, call, subject, error);
  return FALSE;
}

BOOL Succeed(Machine& m, const char* call, std::u16string_view subject) {
  sim::ReportOutcome(m, call, subject, 0);
  return TRUE;
}

DWORD ControlsAccepted(sim::ServiceState state) {
  return state == sim::ServiceState::kRunning || state == sim::ServiceState::kPaused ? SERVICE_ACCEPT_STOP : 0;
}

// The right a control code needs, or 0 for a code that is not defined.
DWORD RightForControl(DWORD control) {
  if (control == SERVICE_CONTROL_STOP) {
    return SERVICE_STOP;
  }
  if (control == SERVICE_CONTROL_PAUSE || control == SERVICE_CONTROL_CONTINUE || (control >= 6 && control <= 10)) {
    return SERVICE_PAUSE_CONTINUE;  // pause, continue, parameter and binding changes
  }
  if (control == SERVICE_CONTROL_INTERROGATE) {
    return SERVICE_INTERROGATE;
  }
  if (control >= 128 && control <= 255) {
    return SERVICE_USER_DEFINED_CONTROL;
  }
  return 0;
}

}  // namespace

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR machine_name, LPCWSTR database_name, DWORD access) {
  Machine& m = CurrentMachine();
  m.services.Settle(m.clock_ms);
  const std::u16string_view subject = sim::View(database_name);
  if (machine_name != nullptr && *machine_name != 0) {
    // Only the local machine is simulated; another one cannot be reached.
    Fail(m, "OpenSCManagerW", subject, kErrorBadNetPath);
    return nullptr;
  }
  if (auto fault = m.faults.Take("OpenSCManagerW", subject)) {
    Fail(m, "OpenSCManagerW", subject, *fault);
    return nullptr;
  }
  if (database_name != nullptr && !sim::EqualsIgnoringCase(subject, kActiveDatabase)) {
    Fail(m, "OpenSCManagerW", subject, ERROR_DATABASE_DOES_NOT_EXIST);
    return nullptr;
  }
  if (!m.process.elevated && (access & ~kUserManagerRights) != 0) {
    Fail(m, "OpenSCManagerW", subject, ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const std::u16string name = database_name == nullptr ? std::u16string(kActiveDatabase) : std::u16string(subject);
  const std::uintptr_t value = m.handles.Open(sim::HandleKind::kServiceManager, name);
  m.services.AddHandle(value, sim::ServiceHandleEntry{true, name, access});
  Succeed(m, "OpenSCManagerW", subject);
  return reinterpret_cast<SC_HANDLE>(value);
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE manager, LPCWSTR service_name, DWORD access) {
  Machine& m = CurrentMachine();
  m.services.Settle(m.clock_ms);
  const std::u16string_view subject = sim::View(service_name);
  const auto manager_value = reinterpret_cast<std::uintptr_t>(manager);
  const sim::ServiceHandleEntry* entry = m.services.FindHandle(manager_value);
  if (entry == nullptr || !entry->is_manager || !m.handles.IsOpen(manager_value, sim::HandleKind::kServiceManager)) {
    Fail(m, "OpenServiceW", subject, ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (service_name == nullptr || subject.empty() || subject.size() > kCchMaxServiceName) {
    Fail(m, "OpenServiceW", subject, kErrorInvalidName);
    return nullptr;
  }
  if ((entry->access & SC_MANAGER_CONNECT) == 0) {
    Fail(m, "OpenServiceW", subject, ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (auto fault = m.faults.Take("OpenServiceW", subject)) {
    Fail(m, "OpenServiceW", subject, *fault);
    return nullptr;
  }
  sim::Service* service = m.services.Find(subject);
  if (service == nullptr) {
    Fail(m, "OpenServiceW", subject, ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
  }
  if (!m.process.elevated && (access & ~kUserServiceRights) != 0) {
    Fail(m, "OpenServiceW", subject, ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const std::uintptr_t value = m.handles.Open(sim::HandleKind::kService, service->name);
  m.services.AddHandle(value, sim::ServiceHandleEntry{false, service->name, access});
  Succeed(m, "OpenServiceW", subject);
  return reinterpret_cast<SC_HANDLE>(value);
}

BOOL WINAPI ChangeServiceConfig2W(SC_HANDLE handle, DWORD info_level, LPVOID info) {
  Machine& m = CurrentMachine();
  const ServiceAccess open = ResolveService(m, handle);
  if (open.entry == nullptr) {
    return Fail(m, "ChangeServiceConfig2W", u"", ERROR_INVALID_HANDLE);
  }
  const std::u16string subject = open.entry->name;
  if ((open.entry->access & SERVICE_CHANGE_CONFIG) == 0) {
    return Fail(m, "ChangeServiceConfig2W", subject, ERROR_ACCESS_DENIED);
  }
  if (auto fault = m.faults.Take("ChangeServiceConfig2W", subject)) {
    return Fail(m, "ChangeServiceConfig2W", subject, *fault);
  }
  // Only the recovery actions are simulated among the optional settings.
  if (info_level != SERVICE_CONFIG_FAILURE_ACTIONS) {
    return Fail(m, "ChangeServiceConfig2W", subject, ERROR_INVALID_LEVEL);
  }
  if (open.service->marked_for_delete) {
    return Fail(m, "ChangeServiceConfig2W", subject, ERROR_SERVICE_MARKED_FOR_DELETE);
  }
  if (open.service->refuse_config != 0) {
    return Fail(m, "ChangeServiceConfig2W", subject, open.service->refuse_config);
  }
  if (info == nullptr) {
    return Succeed(m, "ChangeServiceConfig2W", subject);  // nothing to change
  }
  const auto* actions = static_cast<const SERVICE_FAILURE_ACTIONSW*>(info);
  sim::Recovery& recovery = open.service->recovery;
  if (actions->lpsaActions != nullptr) {
    std::vector<sim::RecoveryAction> replaced;
    for (DWORD i = 0; i < actions->cActions; ++i) {
      const SC_ACTION& action = actions->lpsaActions[i];
      if (action.Type < SC_ACTION_NONE || action.Type > SC_ACTION_RUN_COMMAND) {
        return Fail(m, "ChangeServiceConfig2W", subject, ERROR_INVALID_PARAMETER);
      }
      // Restarting the service on failure needs the right to start it.
      if (action.Type == SC_ACTION_RESTART && (open.entry->access & SERVICE_START) == 0) {
        return Fail(m, "ChangeServiceConfig2W", subject, ERROR_ACCESS_DENIED);
      }
      replaced.push_back(sim::RecoveryAction{static_cast<sim::RecoveryType>(action.Type), action.Delay});
    }
    recovery.actions = std::move(replaced);
    recovery.reset_period_s = actions->dwResetPeriod;
  }
  // A null text leaves the setting as it was; an empty one clears it.
  if (actions->lpRebootMsg != nullptr) {
    recovery.reboot_message = actions->lpRebootMsg;
  }
  if (actions->lpCommand != nullptr) {
    recovery.command = actions->lpCommand;
  }
  return Succeed(m, "ChangeServiceConfig2W", subject);
}

BOOL WINAPI QueryServiceStatusEx(SC_HANDLE handle, int info_level, LPBYTE buffer, DWORD cb_buffer, LPDWORD cb_needed) {
  Machine& m = CurrentMachine();
  const ServiceAccess open = ResolveService(m, handle);
  if (open.entry == nullptr) {
    return Fail(m, "QueryServiceStatusEx", u"", ERROR_INVALID_HANDLE);
  }
  const std::u16string subject = open.entry->name;
  if (info_level != SC_STATUS_PROCESS_INFO) {
    return Fail(m, "QueryServiceStatusEx", subject, ERROR_INVALID_LEVEL);
  }
  if ((open.entry->access & SERVICE_QUERY_STATUS) == 0) {
    return Fail(m, "QueryServiceStatusEx", subject, ERROR_ACCESS_DENIED);
  }
  if (cb_needed == nullptr) {
    return Fail(m, "QueryServiceStatusEx", subject, ERROR_INVALID_PARAMETER);
  }
  if (buffer == nullptr || cb_buffer < sizeof(SERVICE_STATUS_PROCESS)) {
    *cb_needed = sizeof(SERVICE_STATUS_PROCESS);
    return Fail(m, "QueryServiceStatusEx", subject, ERROR_INSUFFICIENT_BUFFER);
  }
  if (auto fault = m.faults.Take("QueryServiceStatusEx", subject)) {
    return Fail(m, "QueryServiceStatusEx", subject, *fault);
  }
  const sim::ServiceState state = open.service->state;
  SERVICE_STATUS_PROCESS status = {};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = static_cast<DWORD>(state);
  status.dwControlsAccepted = ControlsAccepted(state);
  status.dwWaitHint = state == sim::ServiceState::kStopPending ? 2000 : 0;
  status.dwProcessId = state == sim::ServiceState::kStopped ? 0 : 4000;
  std::memcpy(buffer, &status, sizeof(status));
  return Succeed(m, "QueryServiceStatusEx", subject);
}

BOOL WINAPI ControlService(SC_HANDLE handle, DWORD control, LPSERVICE_STATUS status) {
  Machine& m = CurrentMachine();
  const ServiceAccess open = ResolveService(m, handle);
  if (open.entry == nullptr) {
    return Fail(m, "ControlService", u"", ERROR_INVALID_HANDLE);
  }
  const std::u16string subject = open.entry->name;
  const DWORD right = RightForControl(control);
  if (right == 0 || status == nullptr) {
    return Fail(m, "ControlService", subject, ERROR_INVALID_PARAMETER);
  }
  if ((open.entry->access & right) == 0) {
    return Fail(m, "ControlService", subject, ERROR_ACCESS_DENIED);
  }
  if (auto fault = m.faults.Take("ControlService", subject)) {
    return Fail(m, "ControlService", subject, *fault);
  }
  sim::Service& service = *open.service;
  // The controller fills the status in for these outcomes only.
  auto fill_status = [&]() {
    *status = SERVICE_STATUS{};
    status->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status->dwCurrentState = static_cast<DWORD>(service.state);
    status->dwControlsAccepted = ControlsAccepted(service.state);
  };
  DWORD error = 0;
  if (service.state == sim::ServiceState::kStopped) {
    error = ERROR_SERVICE_NOT_ACTIVE;
  } else if (service.state == sim::ServiceState::kStartPending || service.state == sim::ServiceState::kStopPending) {
    error = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  } else if (control != SERVICE_CONTROL_STOP) {
    error = ERROR_INVALID_SERVICE_CONTROL;  // the service accepts the stop request only
  } else if (service.refuse_stop != 0) {
    error = service.refuse_stop;
  }
  if (error == 0) {
    m.services.BeginStop(service);
  }
  if (error == 0 || error == ERROR_SERVICE_NOT_ACTIVE || error == ERROR_SERVICE_CANNOT_ACCEPT_CTRL ||
      error == ERROR_INVALID_SERVICE_CONTROL) {
    fill_status();
  }
  return error == 0 ? Succeed(m, "ControlService", subject) : Fail(m, "ControlService", subject, error);
}

BOOL WINAPI DeleteService(SC_HANDLE handle) {
  Machine& m = CurrentMachine();
  const ServiceAccess open = ResolveService(m, handle);
  if (open.entry == nullptr) {
    return Fail(m, "DeleteService", u"", ERROR_INVALID_HANDLE);
  }
  const std::u16string subject = open.entry->name;
  if ((open.entry->access & DELETE) == 0) {
    return Fail(m, "DeleteService", subject, ERROR_ACCESS_DENIED);
  }
  if (auto fault = m.faults.Take("DeleteService", subject)) {
    return Fail(m, "DeleteService", subject, *fault);
  }
  if (open.service->marked_for_delete) {
    return Fail(m, "DeleteService", subject, ERROR_SERVICE_MARKED_FOR_DELETE);
  }
  open.service->marked_for_delete = true;
  return Succeed(m, "DeleteService", subject);
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) {
  Machine& m = CurrentMachine();
  m.services.Settle(m.clock_ms);
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  const sim::ServiceHandleEntry* entry = m.services.FindHandle(value);
  const sim::HandleKind kind =
      entry != nullptr && entry->is_manager ? sim::HandleKind::kServiceManager : sim::HandleKind::kService;
  if (entry == nullptr || !m.handles.IsOpen(value, kind)) {
    return Fail(m, "CloseServiceHandle", u"", ERROR_INVALID_HANDLE);
  }
  const std::u16string subject = entry->name;
  if (auto fault = m.faults.Take("CloseServiceHandle", subject)) {
    return Fail(m, "CloseServiceHandle", subject, *fault);  // the handle stays open
  }
  m.handles.Close(value, kind);
  m.services.RemoveHandle(value);
  return Succeed(m, "CloseServiceHandle", subject);
}
