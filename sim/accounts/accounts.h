// The simulated local account database: the machine's user accounts by
// name, compared without regard to case.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "sim/core/text.h"

namespace sim {

struct Account {
  std::u16string name;
  // Test hook: deleting the account is refused with ERROR_ACCESS_DENIED.
  bool undeletable = false;
};

using AccountMap = std::map<std::u16string, Account, CaseInsensitiveLess>;

class Accounts {
 public:
  // Adds an account, replacing one of the same name.
  void Add(Account account);
  const Account* Find(std::u16string_view name) const;
  // False when there is no such account.
  bool Remove(std::u16string_view name);
  const AccountMap& accounts() const { return accounts_; }

 private:
  AccountMap accounts_;
};

}  // namespace sim
