// The accounts section of a machine image: the local user accounts, each a
// name, or an object for an account with a test flag:
//   "accounts": ["MvSrvSvc", {"name": "Guest", "undeletable": true}]
#include "sim/core/text.h"
#include "sim/image/machine_image.h"

namespace sim {

nlohmann::json SaveAccounts(const Accounts& accounts) {
  nlohmann::json section = nlohmann::json::array();
  for (const auto& [name, account] : accounts.accounts()) {
    if (account.undeletable) {
      section.push_back(nlohmann::json{{"name", ToUtf8(account.name)}, {"undeletable", true}});
    } else {
      section.push_back(ToUtf8(account.name));
    }
  }
  return section;
}

void LoadAccounts(const nlohmann::json& section, Accounts& accounts) {
  if (!section.is_array()) {
    throw ImageError("accounts: expected an array of account names");
  }
  for (const nlohmann::json& item : section) {
    Account account;
    if (item.is_string()) {
      account.name = ImageText(item, "accounts");
    } else if (item.is_object()) {
      for (const auto& [field, value] : item.items()) {
        if (field == "name") {
          account.name = ImageText(value, "accounts: an account's \"name\"");
        } else if (field == "undeletable" && value.is_boolean()) {
          account.undeletable = value.get<bool>();
        } else {
          throw ImageError("accounts: unknown or malformed field \"" + field + "\" in " + item.dump());
        }
      }
    } else {
      throw ImageError("accounts: an account is a name or an object with a \"name\", got " + item.dump());
    }
    if (account.name.empty()) {
      throw ImageError("accounts: an account has a name that is not empty, got " + item.dump());
    }
    if (accounts.Find(account.name) != nullptr) {
      throw ImageError(ImageWhere("account", account.name) +
                       ": named twice (names are compared without regard to case)");
    }
    accounts.Add(std::move(account));
  }
}

void AddAccountsInventory(const Accounts& accounts, Inventory& inventory) {
  for (const auto& [name, account] : accounts.accounts()) {
    inventory["account " + ToUtf8(account.name)] = account.undeletable ? "undeletable" : "";
  }
}

}  // namespace sim
