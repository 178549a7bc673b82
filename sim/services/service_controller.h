// The simulated service controller. (Filled in with the services.)
#pragma once

namespace sim {

class ServiceController {};

}  // namespace sim
