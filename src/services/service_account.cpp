#include "src/services/service_account.h"

#include "src/log/run_log.h"
#include "src/text/wide_text.h"

namespace {

const WCHAR kServiceAccountKey[] = TEXT("SOFTWARE\\Morvathen\\Components\\34\\1093\\1.0.0.0");
const WCHAR kServiceAccountValue[] = TEXT("AutoCreatedServiceAccount");

}  // namespace

void DeleteServiceAccount() {
  // Zero-filled, so that data of up to 518 bytes always ends within it.
  WCHAR account_name[kCchServiceAccountName] = {};
  HKEY key = nullptr;
  LSTATUS read = ERROR_FILE_NOT_FOUND;

  const LSTATUS opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServiceAccountKey, 0, KEY_READ, &key);
  if (opened == ERROR_SUCCESS) {
    // The value's type is not looked at: its bytes are taken as text.
    DWORD type = REG_NONE;
    DWORD cb_data = static_cast<DWORD>(kCchServiceAccountName * sizeof(WCHAR));
    read =
        RegQueryValueExW(key, kServiceAccountValue, nullptr, &type, reinterpret_cast<LPBYTE>(account_name), &cb_data);
    RegCloseKey(key);
  }

  // Data of 519 or 520 bytes without a zero character fills the buffer with
  // no terminator. Its first 259 characters could name another account, so
  // such a value counts as no name at all.
  std::size_t cch_name = 0;
  if (read == ERROR_SUCCESS && TextLengthWithin(account_name, kCchServiceAccountName, &cch_name) && cch_name > 0) {
    LogText(TEXT("Deleting server service account"), account_name);
    const NET_API_STATUS deleted = NetUserDel(nullptr, account_name);
    if (deleted == NERR_Success) {
      LogText(TEXT("OK"), nullptr);
    } else {
      LogCode(TEXT("Error"), deleted);
    }
  }
}
