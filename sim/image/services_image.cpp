// The services section of a machine image. (Filled in with the services.)
#include "sim/image/machine_image.h"

namespace sim {

nlohmann::json SaveServices(const ServiceController& /*services*/) { return nlohmann::json::object(); }

void LoadServices(const nlohmann::json& section, ServiceController& /*services*/) {
  if (!section.is_object() || !section.empty()) {
    throw ImageError("services: not simulated yet");
  }
}

void AddServicesInventory(const ServiceController& /*services*/, Inventory& /*inventory*/) {}

}  // namespace sim
