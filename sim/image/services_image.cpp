// The services section of a machine image: one entry per service, by name.
//   "Ostrivel": {
//     "state": "running",            stopped, start_pending, stop_pending,
//                                    running (the default), paused, ...
//     "stop_after_seconds": 2,       from an accepted stop request to stopped
//                                    (default 0); for a service that is
//                                    stop_pending already, counted from the
//                                    machine's start
//     "never_stops": true,           stays stop pending once asked to stop
//     "refuse_stop": 1051,           the stop request fails with this code
//     "refuse_config": 5,            a configuration change fails with it
//     "recovery": {"reset_period_seconds": 86400,
//                  "actions": [{"type": "restart", "delay_ms": 60000}, ...],
//                  "reboot_message": "...", "command": "..."},
//     "marked_for_delete": true }    DeleteService has succeeded already
// A machine is loaded at virtual time 0; a machine is saved as of the latest
// time its controller was asked anything.
#include <algorithm>
#include <cmath>

#include "sim/core/text.h"
#include "sim/image/machine_image.h"

namespace sim {

namespace {

std::uint32_t ImageCode(const nlohmann::json& value, const std::string& where) {
  if (!value.is_number_unsigned() || value.get<std::uint64_t>() > 0xFFFFFFFFu) {
    throw ImageError(where + ": expected an error code (an unsigned 32-bit number), got " + value.dump());
  }
  return value.get<std::uint32_t>();
}

std::uint64_t ImageMilliseconds(const nlohmann::json& value, const std::string& where) {
  if (!value.is_number() || value.get<double>() < 0 || !std::isfinite(value.get<double>()) ||
      value.get<double>() > 1e12) {
    throw ImageError(where + ": expected a number of seconds, 0 or more, got " + value.dump());
  }
  return static_cast<std::uint64_t>(std::llround(value.get<double>() * 1000));
}

bool ImageFlag(const nlohmann::json& value, const std::string& where) {
  if (!value.is_boolean()) {
    throw ImageError(where + ": expected true or false, got " + value.dump());
  }
  return value.get<bool>();
}

Recovery LoadRecovery(const nlohmann::json& entry, const std::string& where) {
  if (!entry.is_object()) {
    throw ImageError(where + ": expected an object");
  }
  Recovery recovery;
  for (const auto& [field, value] : entry.items()) {
    const std::string at = where + "." + field;
    if (field == "reset_period_seconds") {
      recovery.reset_period_s = ImageCode(value, at);
    } else if (field == "reboot_message") {
      recovery.reboot_message = ImageText(value, at);
    } else if (field == "command") {
      recovery.command = ImageText(value, at);
    } else if (field == "actions" && value.is_array()) {
      for (const nlohmann::json& item : value) {
        if (!item.is_object()) {
          throw ImageError(at + ": each action is an object with a \"type\" and a \"delay_ms\"");
        }
        RecoveryAction action;
        for (const auto& [name, part] : item.items()) {
          if (name == "type" && part.is_string() && RecoveryTypeFromName(part.get<std::string>(), &action.type)) {
            continue;
          }
          if (name == "delay_ms") {
            action.delay_ms = ImageCode(part, at + ".delay_ms");
            continue;
          }
          throw ImageError(at + ": unknown or malformed field \"" + name + "\" " + part.dump() +
                           " (types: none, restart, reboot, run_command)");
        }
        recovery.actions.push_back(action);
      }
    } else {
      throw ImageError(where + ": unknown or malformed field \"" + field + "\"");
    }
  }
  return recovery;
}

nlohmann::json SaveRecovery(const Recovery& recovery) {
  nlohmann::json actions = nlohmann::json::array();
  for (const RecoveryAction& action : recovery.actions) {
    actions.push_back(nlohmann::json{{"type", RecoveryTypeName(action.type)}, {"delay_ms", action.delay_ms}});
  }
  nlohmann::json entry = nlohmann::json{{"reset_period_seconds", recovery.reset_period_s}, {"actions", actions}};
  if (!recovery.reboot_message.empty()) {
    entry["reboot_message"] = ToUtf8(recovery.reboot_message);
  }
  if (!recovery.command.empty()) {
    entry["command"] = ToUtf8(recovery.command);
  }
  return entry;
}

Service LoadService(const std::string& name, const nlohmann::json& entry) {
  const std::string where = "service \"" + name + "\"";
  if (name.empty()) {
    throw ImageError("services: a service has a name");
  }
  if (!entry.is_object()) {
    throw ImageError(where + ": expected an object");
  }
  Service service;
  service.name = FromUtf8(name);
  bool has_stop_after = false;
  for (const auto& [field, value] : entry.items()) {
    const std::string at = where + " \"" + field + "\"";
    if (field == "state") {
      if (!value.is_string() || !ServiceStateFromName(value.get<std::string>(), &service.state)) {
        throw ImageError(at + ": unknown state " + value.dump() +
                         " (stopped, start_pending, stop_pending, running, continue_pending, pause_pending, paused)");
      }
    } else if (field == "stop_after_seconds") {
      service.stop_after_ms = ImageMilliseconds(value, at);
      has_stop_after = true;
    } else if (field == "never_stops") {
      service.never_stops = ImageFlag(value, at);
    } else if (field == "refuse_stop") {
      service.refuse_stop = ImageCode(value, at);
    } else if (field == "refuse_config") {
      service.refuse_config = ImageCode(value, at);
    } else if (field == "recovery") {
      service.recovery = LoadRecovery(value, at);
    } else if (field == "marked_for_delete") {
      service.marked_for_delete = ImageFlag(value, at);
    } else {
      throw ImageError(where + ": unknown field \"" + field + "\"");
    }
  }
  if (service.never_stops && has_stop_after) {
    throw ImageError(where + ": \"never_stops\" and \"stop_after_seconds\" contradict each other");
  }
  if (service.state == ServiceState::kStopPending && !service.never_stops) {
    service.stop_due_ms = service.stop_after_ms;
  }
  return service;
}

}  // namespace

nlohmann::json SaveServices(const ServiceController& services) {
  nlohmann::json section = nlohmann::json::object();
  for (const auto& [name, service] : services.services()) {
    nlohmann::json entry = nlohmann::json::object();
    entry["state"] = ServiceStateName(service.state);
    // A stop under way is saved with the time it still takes.
    const std::uint64_t stop_after_ms = service.stop_due_ms
                                            ? *service.stop_due_ms - std::min(*service.stop_due_ms, services.now_ms())
                                            : service.stop_after_ms;
    if (service.never_stops) {
      entry["never_stops"] = true;
    } else if (stop_after_ms % 1000 == 0) {
      entry["stop_after_seconds"] = stop_after_ms / 1000;
    } else {
      entry["stop_after_seconds"] = static_cast<double>(stop_after_ms) / 1000;
    }
    if (service.refuse_stop != 0) {
      entry["refuse_stop"] = service.refuse_stop;
    }
    if (service.refuse_config != 0) {
      entry["refuse_config"] = service.refuse_config;
    }
    entry["recovery"] = SaveRecovery(service.recovery);
    if (service.marked_for_delete) {
      entry["marked_for_delete"] = true;
    }
    section[ToUtf8(service.name)] = entry;
  }
  return section;
}

void LoadServices(const nlohmann::json& section, ServiceController& services) {
  if (!section.is_object()) {
    throw ImageError("services: expected an object of services by name");
  }
  for (const auto& [name, entry] : section.items()) {
    Service service = LoadService(name, entry);
    if (services.Find(service.name) != nullptr) {
      throw ImageError("service \"" + name + "\": named twice (names are compared without regard to case)");
    }
    services.Install(std::move(service));
  }
}

void AddServicesInventory(const ServiceController& services, Inventory& inventory) {
  for (const auto& [name, service] : services.services()) {
    std::string state = ServiceStateName(service.state);
    if (service.marked_for_delete) {
      state += ", marked for deletion";
    }
    const Recovery& recovery = service.recovery;
    state += ", recovery: reset " + std::to_string(recovery.reset_period_s) + " s";
    for (const RecoveryAction& action : recovery.actions) {
      state += std::string(", ") + RecoveryTypeName(action.type) + " " + std::to_string(action.delay_ms) + " ms";
    }
    if (!recovery.reboot_message.empty()) {
      state += ", reboot message \"" + ToUtf8(recovery.reboot_message) + "\"";
    }
    if (!recovery.command.empty()) {
      state += ", command \"" + ToUtf8(recovery.command) + "\"";
    }
    inventory["service " + ToUtf8(service.name)] = state;
  }
}

}  // namespace sim
