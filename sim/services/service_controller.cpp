#include "sim/services/service_controller.h"

#include <algorithm>
#include <iterator>

namespace sim {

namespace {

struct StateName {
  ServiceState state;
  const char* name;
};
constexpr StateName kStateNames[] = {
    {ServiceState::kStopped, "stopped"},
    {ServiceState::kStartPending, "start_pending"},
    {ServiceState::kStopPending, "stop_pending"},
    {ServiceState::kRunning, "running"},
    {ServiceState::kContinuePending, "continue_pending"},
    {ServiceState::kPausePending, "pause_pending"},
    {ServiceState::kPaused, "paused"},
};

struct TypeName {
  RecoveryType type;
  const char* name;
};
constexpr TypeName kTypeNames[] = {
    {RecoveryType::kNone, "none"},
    {RecoveryType::kRestart, "restart"},
    {RecoveryType::kReboot, "reboot"},
    {RecoveryType::kRunCommand, "run_command"},
};

}  // namespace

const char* ServiceStateName(ServiceState state) {
  for (const StateName& entry : kStateNames) {
    if (entry.state == state) {
      return entry.name;
    }
  }
  return "unknown";
}

bool ServiceStateFromName(std::string_view name, ServiceState* state) {
  for (const StateName& entry : kStateNames) {
    if (name == entry.name) {
      *state = entry.state;
      return true;
    }
  }
  return false;
}

const char* RecoveryTypeName(RecoveryType type) {
  for (const TypeName& entry : kTypeNames) {
    if (entry.type == type) {
      return entry.name;
    }
  }
  return "unknown";
}

bool RecoveryTypeFromName(std::string_view name, RecoveryType* type) {
  for (const TypeName& entry : kTypeNames) {
    if (name == entry.name) {
      *type = entry.type;
      return true;
    }
  }
  return false;
}

Service& ServiceController::Install(Service service) {
  auto existing = services_.find(service.name);
  if (existing != services_.end()) {
    services_.erase(existing);
  }
  const std::u16string name = service.name;
  return services_.emplace(name, std::move(service)).first->second;
}

Service* ServiceController::Find(std::u16string_view name) {
  auto it = services_.find(name);
  return it == services_.end() ? nullptr : &it->second;
}

const Service* ServiceController::Find(std::u16string_view name) const {
  auto it = services_.find(name);
  return it == services_.end() ? nullptr : &it->second;
}

void ServiceController::Settle(std::uint64_t now_ms) {
  now_ms_ = std::max(now_ms_, now_ms);
  for (auto it = services_.begin(); it != services_.end();) {
    Service& service = it->second;
    if (service.stop_due_ms && *service.stop_due_ms <= now_ms_) {
      service.state = ServiceState::kStopped;
      service.stop_due_ms.reset();
    }
    const bool done = service.marked_for_delete && service.state == ServiceState::kStopped && service.open_handles == 0;
    it = done ? services_.erase(it) : std::next(it);
  }
}

void ServiceController::BeginStop(Service& service) {
  service.state = ServiceState::kStopPending;
  service.stop_due_ms.reset();
  if (!service.never_stops) {
    service.stop_due_ms = now_ms_ + service.stop_after_ms;
    if (*service.stop_due_ms <= now_ms_) {
      service.state = ServiceState::kStopped;
      service.stop_due_ms.reset();
    }
  }
}

void ServiceController::AddHandle(std::uintptr_t value, ServiceHandleEntry entry) {
  if (!entry.is_manager) {
    if (Service* service = Find(entry.name)) {
      ++service->open_handles;
    }
  }
  opened_.push_back(entry);
  handles_[value] = std::move(entry);
}

const ServiceHandleEntry* ServiceController::FindHandle(std::uintptr_t value) const {
  auto it = handles_.find(value);
  return it == handles_.end() ? nullptr : &it->second;
}

bool ServiceController::RemoveHandle(std::uintptr_t value) {
  auto it = handles_.find(value);
  if (it == handles_.end()) {
    return false;
  }
  const ServiceHandleEntry entry = it->second;
  handles_.erase(it);
  if (!entry.is_manager) {
    if (Service* service = Find(entry.name)) {
      if (service->open_handles > 0) {
        --service->open_handles;
      }
      RemoveIfDone(entry.name);
    }
  }
  return true;
}

void ServiceController::RemoveIfDone(const std::u16string& name) {
  auto it = services_.find(name);
  if (it != services_.end() && it->second.marked_for_delete && it->second.state == ServiceState::kStopped &&
      it->second.open_handles == 0) {
    services_.erase(it);
  }
}

}  // namespace sim
