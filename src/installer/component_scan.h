// The scan for the component registrations that belong to the product
// alone, under the LocalSystem user data of Windows Installer.
#pragma once

#include "src/platform/win32.h"

// The key under HKEY_LOCAL_MACHINE that holds one subkey per component.
extern const WCHAR kComponentsKeyPath[];

// Paths collected in one pass of the scan. A product may own thousands of
// components (often one per file), more than a fixed list can hold without
// weighing on the stack, so the scan works in passes of at most
// kMaxComponentKeys paths (66 KB): it stops when the list is full and
// remembers where, and the next pass goes on below that point once the
// caller has deleted what was collected. No qualifying component is ever
// dropped: every one is collected by some pass, in the same order as by a
// single pass over an unbounded list.
constexpr int kMaxComponentKeys = 128;

struct ComponentKeyList {
  // Component key paths relative to HKEY_LOCAL_MACHINE, kComponentsKeyPath
  // followed by a backslash and the component key's name, each at most
  // MAX_PATH - 1 characters; from the highest enumeration index down.
  WCHAR paths[kMaxComponentKeys][MAX_PATH];
  int count;
  // The subkeys at enumeration indices below this one have not been looked
  // at yet; 0 when the scan has reached the first subkey.
  DWORD subkeys_left;
};

// First pass: empties the list and collects, from the highest enumeration
// index down, every component key that holds exactly one value, the
// product's, named by its packed code, of type REG_SZ with at most 4096
// bytes of data. Keys that cannot be opened with KEY_ALL_ACCESS, and
// subkey names that would make a path of more than MAX_PATH - 1 characters,
// are skipped. True when at least one path was collected. False with the
// list untouched when the product code does not pack (nothing is opened);
// false with an empty list when the Components key does not open or
// nothing qualifies. Writes nothing to the run log and deletes nothing.
//
// The caller deletes what a pass collected, then asks for the next pass:
//   if (CollectProductComponents(&list, code)) {
//     do { ...each of list.paths[0..count)... } while (CollectMoreProductComponents(&list, code));
//   }
bool CollectProductComponents(ComponentKeyList* list, const WCHAR* product_code);

// Next pass: empties the list and goes on with the subkeys below
// list->subkeys_left, as the first pass does. Indices below that point do
// not move when the keys collected above it are deleted (the registry lists
// subkeys in sorted order), so each subkey is looked at once. False, with
// an empty list, when the scan had already reached the first subkey or no
// more component qualifies; false with the list untouched when the product
// code does not pack.
bool CollectMoreProductComponents(ComponentKeyList* list, const WCHAR* product_code);
