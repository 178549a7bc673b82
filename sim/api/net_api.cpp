// Network management functions of the simulated platform: the local
// account database.
#include "sim/api/api_support.h"
#include "sim/win32/windows.h"

using sim::CurrentMachine;
using sim::Machine;

namespace {
constexpr NET_API_STATUS kErrorBadNetPath = 53;  // ERROR_BAD_NETPATH
}  // namespace

// The result is the status itself; the last error is left alone.
NET_API_STATUS WINAPI NetUserDel(LPCWSTR server_name, LPCWSTR user_name) {
  Machine& m = CurrentMachine();
  const std::u16string_view subject = sim::View(user_name);
  if (server_name != nullptr && *server_name != 0) {
    // Only the local machine is simulated; another one cannot be reached.
    return sim::Report<NET_API_STATUS>(m, "NetUserDel", subject, kErrorBadNetPath);
  }
  if (user_name == nullptr) {
    return sim::Report<NET_API_STATUS>(m, "NetUserDel", subject, ERROR_INVALID_PARAMETER);
  }
  if (auto fault = m.faults.Take("NetUserDel", subject)) {
    return sim::Report<NET_API_STATUS>(m, "NetUserDel", subject, *fault);
  }
  const sim::Account* account = m.accounts.Find(subject);
  if (account == nullptr) {
    return sim::Report<NET_API_STATUS>(m, "NetUserDel", subject, NERR_UserNotFound);
  }
  // The account is found with any rights; deleting it needs an
  // administrator.
  if (!m.process.elevated || account->undeletable) {
    return sim::Report<NET_API_STATUS>(m, "NetUserDel", subject, ERROR_ACCESS_DENIED);
  }
  m.accounts.Remove(subject);
  return sim::Report<NET_API_STATUS>(m, "NetUserDel", subject, NERR_Success);
}
