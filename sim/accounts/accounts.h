// The simulated local account database. (Filled in with the accounts.)
#pragma once

namespace sim {

class Accounts {};

}  // namespace sim
