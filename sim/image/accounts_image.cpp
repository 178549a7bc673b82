// The accounts section of a machine image. (Filled in with the accounts.)
#include "sim/image/machine_image.h"

namespace sim {

nlohmann::json SaveAccounts(const Accounts& /*accounts*/) { return nlohmann::json::array(); }

void LoadAccounts(const nlohmann::json& section, Accounts& /*accounts*/) {
  if (!section.is_array() || !section.empty()) {
    throw ImageError("accounts: not simulated yet");
  }
}

void AddAccountsInventory(const Accounts& /*accounts*/, Inventory& /*inventory*/) {}

}  // namespace sim
