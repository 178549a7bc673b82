#include "src/installer/installer_keys.h"

#include "src/installer/packed_guid.h"
#include "src/registry/key_tree.h"
#include "src/text/wide_text.h"

const InstallerKeyRow InstallerKeyTable[kInstallerKeyRowCount] = {
    {TEXT("HKEY_CLASSES_ROOT\\Installer\\UpgradeCodes\\"), kPackedUpgradeCode},
    {TEXT("HKEY_CLASSES_ROOT\\Installer\\Features\\"), kPackedProductCode},
    {TEXT("HKEY_CLASSES_ROOT\\Installer\\Products\\"), kPackedProductCode},
    {TEXT("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\UpgradeCodes\\"), kPackedUpgradeCode},
    {TEXT("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Features\\"), kPackedProductCode},
    {TEXT("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Products\\"), kPackedProductCode},
    {TEXT("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\"),
     kPackedUpgradeCode},
    {TEXT("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\")
         TEXT("Products\\"),
     kPackedProductCode},
    {TEXT("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"), kProductCode},
    {TEXT("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\InstallShield_"), kProductCode},
    {TEXT("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\")
         TEXT("InstallShield Uninstall Information\\"),
     kProductCode},
};

const WCHAR kInstallerVendorKey[] = TEXT("HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\28");

namespace {

// A braced GUID text: 38 characters.
constexpr std::size_t kCchProductCodeCharacters = 38;

// True when the code is there, exactly cch_expected characters long, and
// holds no backslash, which would make the row name another key.
bool IsWellFormedCode(const WCHAR* code, std::size_t cch_expected) {
  std::size_t cch_code = 0;
  if (!TextLengthWithin(code, cch_expected + 1, &cch_code) || cch_code != cch_expected) {
    return false;
  }
  for (std::size_t i = 0; i < cch_code; ++i) {
    if (code[i] == TEXT('\\')) {
      return false;
    }
  }
  return true;
}

}  // namespace

void RemoveInstallerKeys(const WCHAR* product_code, const WCHAR* packed_product_code,
                         const WCHAR* packed_upgrade_code) {
  for (const InstallerKeyRow& row : InstallerKeyTable) {
    const WCHAR* code = product_code;
    std::size_t cch_expected = kCchProductCodeCharacters;
    if (row.code_form == kPackedUpgradeCode) {
      code = packed_upgrade_code;
      cch_expected = kCchPackedGuid - 1;
    } else if (row.code_form == kPackedProductCode) {
      code = packed_product_code;
      cch_expected = kCchPackedGuid - 1;
    }
    WCHAR row_path[MAX_PATH] = {};
    if (IsWellFormedCode(code, cch_expected) && TextCopy(row_path, MAX_PATH, row.prefix) &&
        TextAppend(row_path, MAX_PATH, code)) {
      DeleteKeyByPath(row_path);
    }
  }
  DeleteKeyByPath(kInstallerVendorKey);
}
