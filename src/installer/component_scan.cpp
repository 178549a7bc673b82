#include "src/installer/component_scan.h"

#include "src/installer/packed_guid.h"
#include "src/text/wide_text.h"

const WCHAR kComponentsKeyPath[] =
    TEXT("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components");

namespace {

constexpr DWORD kCchSubkeyName = MAX_PATH;
constexpr DWORD kCbValueData = 4096;

// True when the component key holds the product's REG_SZ value, readable
// into kCbValueData bytes, and no other value. The key is opened with
// KEY_ALL_ACCESS, as the keys the scan collects are deleted afterwards.
bool BelongsToProductAlone(const WCHAR* component_key_path, const WCHAR* packed_product_code) {
  bool alone = false;
  HKEY component = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, component_key_path, 0, KEY_ALL_ACCESS, &component) == ERROR_SUCCESS) {
    BYTE data[kCbValueData] = {};
    DWORD cb_data = kCbValueData;
    DWORD type = REG_NONE;
    DWORD values = 0;
    alone = RegQueryValueExW(component, packed_product_code, nullptr, &type, data, &cb_data) == ERROR_SUCCESS &&
            type == REG_SZ &&
            RegQueryInfoKeyW(component, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr) == ERROR_SUCCESS &&
            values == 1;
    RegCloseKey(component);
  }
  return alone;
}

// Walks the open Components key's subkeys from index min(subkeys_left,
// its subkey count) - 1 down to 0, or until the list is full, and appends
// the path of each component that belongs to the product alone.
void WalkComponents(HKEY components, const WCHAR* packed_product_code, DWORD subkeys_left, ComponentKeyList* list) {
  // A failed query leaves the count at 0, and nothing is walked.
  DWORD subkeys = 0;
  RegQueryInfoKeyW(components, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr, nullptr);
  WCHAR name[kCchSubkeyName] = {};
  WCHAR path[MAX_PATH] = {};
  for (DWORD index = subkeys < subkeys_left ? subkeys : subkeys_left; index > 0; --index) {
    DWORD cch_name = kCchSubkeyName;
    // A name that would make the path longer than MAX_PATH - 1 characters
    // is skipped: the path is never shortened and used.
    if (RegEnumKeyExW(components, index - 1, name, &cch_name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        TextCopy(path, MAX_PATH, kComponentsKeyPath) && TextAppend(path, MAX_PATH, TEXT("\\")) &&
        TextAppend(path, MAX_PATH, name) && BelongsToProductAlone(path, packed_product_code)) {
      TextCopy(list->paths[list->count], MAX_PATH, path);
      ++list->count;
      if (list->count == kMaxComponentKeys) {
        list->subkeys_left = index - 1;
        break;
      }
    }
  }
}

// One pass: the first walks from the last subkey, a later one from where
// the pass before stopped.
bool CollectPass(ComponentKeyList* list, const WCHAR* product_code, bool first_pass) {
  bool collected = false;
  HKEY components = nullptr;
  WCHAR packed_product_code[kCchPackedGuid] = {};
  if (list != nullptr && PackGuid(product_code, packed_product_code)) {
    const DWORD subkeys_left = first_pass ? 0xFFFFFFFF : list->subkeys_left;
    list->count = 0;
    list->subkeys_left = 0;
    if (subkeys_left > 0 &&
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kComponentsKeyPath, 0, KEY_ALL_ACCESS, &components) == ERROR_SUCCESS) {
      WalkComponents(components, packed_product_code, subkeys_left, list);
      RegCloseKey(components);
    }
    collected = list->count > 0;
  }
  return collected;
}

}  // namespace

bool CollectProductComponents(ComponentKeyList* list, const WCHAR* product_code) {
  return CollectPass(list, product_code, true);
}

bool CollectMoreProductComponents(ComponentKeyList* list, const WCHAR* product_code) {
  return CollectPass(list, product_code, false);
}
