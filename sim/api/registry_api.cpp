// Registry functions of the simulated platform.
#include <cstring>

#include "sim/api/api_support.h"
#include "sim/api/registry_access.h"
#include "sim/win32/windows.h"

namespace sim {

const char16_t* PredefinedRootName(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) {
    return u"HKEY_CLASSES_ROOT";
  }
  if (key == HKEY_CURRENT_USER) {
    return u"HKEY_CURRENT_USER";
  }
  if (key == HKEY_LOCAL_MACHINE) {
    return u"HKEY_LOCAL_MACHINE";
  }
  if (key == HKEY_USERS) {
    return u"HKEY_USERS";
  }
  return nullptr;
}

KeyAccess ResolveKeyHandle(Machine& m, HKEY handle) {
  if (const char16_t* root = PredefinedRootName(handle)) {
    return KeyAccess{m.registry.Root(root), KEY_ALL_ACCESS, root};
  }
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  auto it = m.registry.open_keys.find(value);
  if (it == m.registry.open_keys.end() || !m.handles.IsOpen(value, HandleKind::kRegistryKey)) {
    return KeyAccess{};
  }
  return KeyAccess{it->second.key, it->second.access, it->second.path};
}

bool AsksForWrite(std::uint32_t access) {
  constexpr std::uint32_t kReadRights = KEY_READ | KEY_WOW64_32KEY | KEY_WOW64_64KEY;
  return (access & ~kReadRights) != 0;
}

}  // namespace sim

using sim::CurrentMachine;
using sim::Machine;

LSTATUS WINAPI RegOpenKeyExW(HKEY root, LPCWSTR sub_key, DWORD /*options*/, REGSAM access, PHKEY result) {
  Machine& m = CurrentMachine();
  sim::KeyAccess parent = sim::ResolveKeyHandle(m, root);
  std::u16string path = parent.path;
  if (sub_key != nullptr && *sub_key != 0) {
    path += u"\\";
    path += sub_key;
  }
  if (result == nullptr) {
    return sim::Report<LSTATUS>(m, "RegOpenKeyExW", path, ERROR_INVALID_PARAMETER);
  }
  *result = nullptr;
  if (!parent.key) {
    return sim::Report<LSTATUS>(m, "RegOpenKeyExW", path, ERROR_INVALID_HANDLE);
  }
  if (parent.key->deleted()) {
    return sim::Report<LSTATUS>(m, "RegOpenKeyExW", path, ERROR_KEY_DELETED);
  }
  if (auto fault = m.faults.Take("RegOpenKeyExW", path)) {
    return sim::Report<LSTATUS>(m, "RegOpenKeyExW", path, static_cast<LSTATUS>(*fault));
  }
  std::shared_ptr<sim::RegistryKey> key = m.registry.Find(parent.key, sim::View(sub_key));
  if (!key) {
    return sim::Report<LSTATUS>(m, "RegOpenKeyExW", path, ERROR_FILE_NOT_FOUND);
  }
  const bool machine_wide = path.rfind(u"HKEY_LOCAL_MACHINE", 0) == 0 || path.rfind(u"HKEY_CLASSES_ROOT", 0) == 0;
  if (sim::AsksForWrite(access) && (key->deny_write_access || (machine_wide && !m.process.elevated))) {
    return sim::Report<LSTATUS>(m, "RegOpenKeyExW", path, ERROR_ACCESS_DENIED);
  }
  const std::uintptr_t value = m.handles.Open(sim::HandleKind::kRegistryKey, path);
  m.registry.open_keys.emplace(value, sim::OpenKey{key, access, path});
  *result = reinterpret_cast<HKEY>(value);
  return sim::Report<LSTATUS>(m, "RegOpenKeyExW", path, ERROR_SUCCESS);
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
  Machine& m = CurrentMachine();
  if (sim::PredefinedRootName(key) != nullptr) {
    // Closing a predefined root is allowed and does nothing; the journal
    // records it so that tests can see it never happens.
    return sim::Report<LSTATUS>(m, "RegCloseKey", sim::PredefinedRootName(key), ERROR_SUCCESS);
  }
  const auto value = reinterpret_cast<std::uintptr_t>(key);
  auto it = m.registry.open_keys.find(value);
  if (it == m.registry.open_keys.end() || !m.handles.Close(value, sim::HandleKind::kRegistryKey)) {
    return sim::Report<LSTATUS>(m, "RegCloseKey", u"", ERROR_INVALID_HANDLE);
  }
  const std::u16string path = it->second.path;
  m.registry.open_keys.erase(it);
  return sim::Report<LSTATUS>(m, "RegCloseKey", path, ERROR_SUCCESS);
}

LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR value_name, LPDWORD /*reserved*/, LPDWORD type, LPBYTE data,
                                LPDWORD cb_data) {
  Machine& m = CurrentMachine();
  sim::KeyAccess open = sim::ResolveKeyHandle(m, key);
  const std::u16string subject = open.path + u"@" + std::u16string(sim::View(value_name));
  if (!open.key) {
    return sim::Report<LSTATUS>(m, "RegQueryValueExW", subject, ERROR_INVALID_HANDLE);
  }
  if (open.key->deleted()) {
    return sim::Report<LSTATUS>(m, "RegQueryValueExW", subject, ERROR_KEY_DELETED);
  }
  if ((open.access & KEY_QUERY_VALUE) == 0) {
    return sim::Report<LSTATUS>(m, "RegQueryValueExW", subject, ERROR_ACCESS_DENIED);
  }
  if (data != nullptr && cb_data == nullptr) {
    return sim::Report<LSTATUS>(m, "RegQueryValueExW", subject, ERROR_INVALID_PARAMETER);
  }
  if (auto fault = m.faults.Take("RegQueryValueExW", subject)) {
    return sim::Report<LSTATUS>(m, "RegQueryValueExW", subject, static_cast<LSTATUS>(*fault));
  }
  const sim::RegistryValue* value = open.key->FindValue(sim::View(value_name));
  if (value == nullptr) {
    return sim::Report<LSTATUS>(m, "RegQueryValueExW", subject, ERROR_FILE_NOT_FOUND);
  }
  if (type != nullptr) {
    *type = value->type;
  }
  const auto cb_value = static_cast<DWORD>(value->data.size());
  if (cb_data == nullptr) {
    return sim::Report<LSTATUS>(m, "RegQueryValueExW", subject, ERROR_SUCCESS);
  }
  if (data == nullptr) {
    *cb_data = cb_value;
    return sim::Report<LSTATUS>(m, "RegQueryValueExW", subject, ERROR_SUCCESS);
  }
  if (cb_value > *cb_data) {
    *cb_data = cb_value;
    return sim::Report<LSTATUS>(m, "RegQueryValueExW", subject, ERROR_MORE_DATA);
  }
  if (cb_value > 0) {
    std::memcpy(data, value->data.data(), cb_value);
  }
  *cb_data = cb_value;
  return sim::Report<LSTATUS>(m, "RegQueryValueExW", subject, ERROR_SUCCESS);
}
