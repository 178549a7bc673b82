// The simulated service controller: the installed services with their
// states and recovery actions, how each behaves when asked to stop, and the
// handles opened on the controller and on its services.
//
// Time is the machine's virtual clock. A service's state is brought up to
// date lazily: every platform call first settles the controller at the
// current time, which completes the stops that have come due and removes the
// services marked for deletion that are stopped with no handle left open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/core/text.h"

namespace sim {

// Service states, with the platform's values (SERVICE_STOPPED ...).
enum class ServiceState : std::uint32_t {
  kStopped = 1,
  kStartPending = 2,
  kStopPending = 3,
  kRunning = 4,
  kContinuePending = 5,
  kPausePending = 6,
  kPaused = 7,
};

// "stopped", "start_pending", ... as machine images write them.
const char* ServiceStateName(ServiceState state);
// False when the name is none of those.
bool ServiceStateFromName(std::string_view name, ServiceState* state);

// Recovery action types, with the platform's values (SC_ACTION_NONE ...).
enum class RecoveryType : std::uint32_t { kNone = 0, kRestart = 1, kReboot = 2, kRunCommand = 3 };

// "none", "restart", "reboot", "run_command".
const char* RecoveryTypeName(RecoveryType type);
bool RecoveryTypeFromName(std::string_view name, RecoveryType* type);

struct RecoveryAction {
  RecoveryType type = RecoveryType::kNone;
  std::uint32_t delay_ms = 0;
};

// What the controller does when the service ends without being asked to:
// the actions in order, the failure count reset after reset_period_s.
struct Recovery {
  std::uint32_t reset_period_s = 0;
  std::u16string reboot_message;
  std::u16string command;
  std::vector<RecoveryAction> actions;
};

struct Service {
  std::u16string name;
  ServiceState state = ServiceState::kRunning;
  Recovery recovery;
  // DeleteService succeeded; the service goes once it is stopped and its
  // last handle is closed.
  bool marked_for_delete = false;

  // Scripted behaviour, for tests and machine images.
  // Time from an accepted stop request to the stopped state.
  std::uint64_t stop_after_ms = 0;
  // An accepted stop request leaves the service stop pending for ever.
  bool never_stops = false;
  // Nonzero: a stop request of a running or paused service fails with it.
  std::uint32_t refuse_stop = 0;
  // Nonzero: a change of the configuration fails with it.
  std::uint32_t refuse_config = 0;

  // A stop under way reaches the stopped state at this time of the clock;
  // empty when no stop is under way or it never completes.
  std::optional<std::uint64_t> stop_due_ms;
  // Handles open on the service; kept by the controller.
  std::size_t open_handles = 0;
};

// A handle the controller handed out: on the controller itself (the name is
// the database's) or on one service (the name is the service's).
struct ServiceHandleEntry {
  bool is_manager = false;
  std::u16string name;
  std::uint32_t access = 0;
};

using ServiceMap = std::map<std::u16string, Service, CaseInsensitiveLess>;

class ServiceController {
 public:
  // Installs a service, replacing one of the same name (compared without
  // regard to case). Returns the installed service.
  Service& Install(Service service);
  Service* Find(std::u16string_view name);
  const Service* Find(std::u16string_view name) const;
  const ServiceMap& services() const { return services_; }

  // Brings every service up to this time of the virtual clock. The time
  // the controller knows never goes back.
  void Settle(std::uint64_t now_ms);
  // The latest time the controller was settled at.
  std::uint64_t now_ms() const { return now_ms_; }

  // An accepted stop request: the service is stop pending and reaches the
  // stopped state as its script says (at once when that takes no time).
  void BeginStop(Service& service);

  // Handles, by the value the machine's handle table gave them.
  void AddHandle(std::uintptr_t value, ServiceHandleEntry entry);
  const ServiceHandleEntry* FindHandle(std::uintptr_t value) const;
  // Every handle handed out, in order, with the access it was opened with;
  // for tests that state which rights a caller asked for.
  const std::vector<ServiceHandleEntry>& opened() const { return opened_; }
  // Forgets a handle. A service marked for deletion goes when it is stopped
  // and this was its last handle. False when the handle is unknown.
  bool RemoveHandle(std::uintptr_t value);

 private:
  // Removes the service when it is marked, stopped and unused.
  void RemoveIfDone(const std::u16string& name);

  ServiceMap services_;
  std::map<std::uintptr_t, ServiceHandleEntry> handles_;
  std::vector<ServiceHandleEntry> opened_;
  std::uint64_t now_ms_ = 0;
};

}  // namespace sim
