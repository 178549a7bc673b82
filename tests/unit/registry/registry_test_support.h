// Small helpers for tests that build registry keys and look at them after.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/core/text.h"
#include "sim/machine.h"

namespace registry_testing {

// The bytes of a string value: each unit little-endian, then the terminator.
inline std::vector<std::uint8_t> SzData(std::u16string_view text) {
  std::vector<std::uint8_t> data;
  for (char16_t unit : text) {
    data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    data.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  data.push_back(0);
  data.push_back(0);
  return data;
}

// Creates the key (and the keys above it) and sets one value on it.
inline void SetValue(sim::Machine& machine, std::u16string_view key_path, std::u16string_view name, std::uint32_t type,
                     std::vector<std::uint8_t> data) {
  machine.registry.Create(key_path)->SetValue(sim::RegistryValue{std::u16string(name), type, std::move(data)});
}

inline bool KeyExists(sim::Machine& machine, std::u16string_view key_path) {
  return machine.registry.Find(key_path) != nullptr;
}

// Every key below key_path, as paths relative to it, in the registry's
// sorted order, depth first; empty when the key does not exist.
inline std::vector<std::string> KeysBelow(sim::Machine& machine, std::u16string_view key_path) {
  std::vector<std::string> keys;
  const std::u16string prefix = std::u16string(key_path) + u"\\";
  machine.registry.Walk([&](const std::u16string& path, const sim::RegistryKey&) {
    if (path.size() > prefix.size() && sim::EqualsIgnoringCase(path.substr(0, prefix.size()), prefix)) {
      keys.push_back(sim::ToUtf8(path.substr(prefix.size())));
    }
  });
  return keys;
}

}  // namespace registry_testing
