// The product's Windows Installer registration and uninstall entries named
// after its codes, and the vendor's key that goes with them.
#pragma once

#include "src/platform/win32.h"

// The code form a row of InstallerKeyTable appends to its prefix.
enum InstallerCodeForm {
  kPackedUpgradeCode,
  kPackedProductCode,
  kProductCode,
};

struct InstallerKeyRow {
  const WCHAR* prefix;  // a full key path that begins with its root's name
  InstallerCodeForm code_form;
};

constexpr int kInstallerKeyRowCount = 11;

// The registration and uninstall keys, in the order they are deleted.
extern const InstallerKeyRow InstallerKeyTable[kInstallerKeyRowCount];

// Deleted last, whatever became of the rows.
extern const WCHAR kInstallerVendorKey[];

// Deletes, with DeleteKeyByPath (one "Component" line each), every row of
// InstallerKeyTable whose code form is well formed, then kInstallerVendorKey.
// A row is built only from its own code form: the braced product code
// exactly as identified, 38 characters; a packed code of 32 characters, or
// null when PackGuid failed for that code ("did not pack"). A row whose code
// form is null, of another length or holds a backslash, or whose path would
// not fit MAX_PATH, is skipped without a line, so that an empty or partial
// code never names a parent key. Results are not looked at; nothing else is
// logged.
void RemoveInstallerKeys(const WCHAR* product_code, const WCHAR* packed_product_code, const WCHAR* packed_upgrade_code);
