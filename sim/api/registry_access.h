// Turning registry handles into keys, for the registry functions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "sim/machine.h"
#include "sim/win32/registry.h"

namespace sim {

// The name of a predefined root handle, or null for any other handle.
const char16_t* PredefinedRootName(HKEY key);

struct KeyAccess {
  std::shared_ptr<RegistryKey> key;  // null: the handle is not valid
  std::uint32_t access = 0;
  std::u16string path;
};
// A predefined root has every right.
KeyAccess ResolveKeyHandle(Machine& m, HKEY handle);

// True when an open with this mask asks for more than reading.
bool AsksForWrite(std::uint32_t access);

// True for a path in the machine's own hive (HKEY_LOCAL_MACHINE, and
// HKEY_CLASSES_ROOT, which shows HKEY_LOCAL_MACHINE\SOFTWARE\Classes):
// changing it needs administrator rights.
bool IsMachineWide(std::u16string_view path);

}  // namespace sim
