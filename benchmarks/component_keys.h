// A machine holding many component registrations, a few of them the
// product's alone: what the component scan and the whole run are measured
// on.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sim/machine.h"
#include "tests/support/product_machine.h"
#include "tests/unit/registry/registry_test_support.h"

namespace component_keys {

inline constexpr int kOwnComponents = 5;

// A 32-digit name like a packed component code, spread over the sorted
// order by a multiplicative hash.
inline std::u16string PackedName(std::uint64_t index) {
  char text[33];
  const std::uint64_t hash = (index + 1) * 0x9E3779B97F4A7C15ULL;
  std::snprintf(text, sizeof(text), "%016llX%016llX", static_cast<unsigned long long>(hash),
                static_cast<unsigned long long>(index));
  return std::u16string(text, text + 32);
}

// count component keys, kOwnComponents of them the product's alone, the
// others another product's.
inline void AddComponents(sim::Machine& machine, int count) {
  std::shared_ptr<sim::RegistryKey> components = machine.registry.Create(testing_support::kComponentsKey);
  const std::vector<std::uint8_t> path = registry_testing::SzData(u"C:\\Program Files (x86)\\Product\\file.dll");
  for (int i = 0; i < count; ++i) {
    const bool own = i % (count / kOwnComponents) == 0;
    components->CreateSubkey(PackedName(static_cast<std::uint64_t>(i)))
        ->SetValue(sim::RegistryValue{
            own ? testing_support::kPackedProductCode : testing_support::kOtherPackedProductCode, 1, path});
  }
}

}  // namespace component_keys
