#include "sim/accounts/accounts.h"

namespace sim {

void Accounts::Add(Account account) {
  accounts_.erase(account.name);
  const std::u16string name = account.name;
  accounts_.emplace(name, std::move(account));
}

const Account* Accounts::Find(std::u16string_view name) const {
  auto it = accounts_.find(name);
  return it == accounts_.end() ? nullptr : &it->second;
}

bool Accounts::Remove(std::u16string_view name) {
  auto it = accounts_.find(name);
  if (it == accounts_.end()) {
    return false;
  }
  accounts_.erase(it);
  return true;
}

}  // namespace sim
