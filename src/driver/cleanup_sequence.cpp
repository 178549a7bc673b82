#include "src/driver/cleanup_sequence.h"

#include "src/files/directory_tree.h"
#include "src/installer/component_scan.h"
#include "src/installer/installer_keys.h"
#include "src/installer/packed_guid.h"
#include "src/log/run_log.h"
#include "src/registry/key_tree.h"
#include "src/registry/server_settings.h"
#include "src/services/service_account.h"
#include "src/services/service_removal.h"

namespace {

// Deletes the component registrations that belong to the product alone,
// each announced by its own line. The list lives only while this runs.
void RemoveProductComponents(const WCHAR* product_code) {
  ComponentKeyList list;
  if (!CollectProductComponents(&list, product_code)) {
    return;
  }
  LogText(TEXT("Removing product components..."), nullptr);
  do {
    for (int i = 0; i < list.count; ++i) {
      LogText(TEXT("Component"), list.paths[i]);
      DeleteKeyTree(HKEY_LOCAL_MACHINE, list.paths[i]);
    }
  } while (CollectMoreProductComponents(&list, product_code));
}

}  // namespace

void RunCleanupSequence(const CleanupTarget& target) {
  RemoveProductServices();
  // The account's name lives below a settings key that is deleted later.
  DeleteServiceAccount();

  // A code that does not pack has no packed form: its line carries no
  // argument, and the keys named after that form are left alone.
  WCHAR packed_upgrade_code[kCchPackedGuid] = {};
  WCHAR packed_product_code[kCchPackedGuid] = {};
  const bool upgrade_code_packed = PackGuid(target.upgrade_code, packed_upgrade_code);
  LogText(TEXT("Packed upgrade code"), upgrade_code_packed ? packed_upgrade_code : nullptr);
  const bool product_code_packed = PackGuid(target.product_code, packed_product_code);
  LogText(TEXT("Packed product code"), product_code_packed ? packed_product_code : nullptr);

  RemoveProductComponents(target.product_code);
  RemoveInstallerKeys(target.product_code, product_code_packed ? packed_product_code : nullptr,
                      upgrade_code_packed ? packed_upgrade_code : nullptr);
  CleanServerSettings();

  // The product directory goes last, after everything that names it.
  if (target.product_directory[0] != 0) {
    RemoveDirectoryTree(target.product_directory);
  }
}
