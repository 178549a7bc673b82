// Registry functions of the simulated platform.
//
// What each call does here, as the cleaner relies on it and as Windows and
// Wine document or show it:
//
// | call             | behaviour                                                              |
// |------------------|------------------------------------------------------------------------|
// | RegOpenKeyExW    | 2 for a missing key; 5 for a write open of a key that denies it, or of |
// |                  | a machine-wide key without administrator rights; 1018 under a deleted  |
// |                  | key                                                                    |
// | RegQueryValueExW | needs KEY_QUERY_VALUE; 2 for a missing value; 234 with the size needed |
// |                  | when the data does not fit                                             |
// | RegEnumKeyExW    | needs KEY_ENUMERATE_SUB_KEYS; index into the sorted order of subkey    |
// |                  | names (letter case ignored) in logarithmic time; *cch_name gives the   |
// |                  | capacity with the terminator and receives the length without it; 234,  |
// |                  | nothing written and *cch_name unchanged, when the name does not fit;   |
// |                  | 259 past the last subkey                                               |
// | RegEnumValueW    | needs KEY_QUERY_VALUE; values in the order they were created; name     |
// |                  | sizes as RegEnumKeyExW, data sizes as RegQueryValueExW; 259 past the   |
// |                  | last value                                                             |
// | RegQueryInfoKeyW | needs KEY_QUERY_VALUE; every count asked for; no class, no time        |
// | RegDeleteKeyW    | deletes a key without subkeys below any handle; 2 when it is missing;  |
// |                  | 5 when it has subkeys, denies deletion, is machine-wide without        |
// |                  | administrator rights, or is a predefined root                          |
// | RegDeleteValueW  | needs KEY_SET_VALUE; 2 for a missing value                             |
//
// Every call gives 6 for a handle that is not open and 1018 for a handle
// whose key has been deleted through any path; a key deleted through one
// handle vanishes at once from every other handle's enumeration, the tree
// being shared. Every call is recorded in the journal and asks the faults
// first, with the key's full path as subject ("path@value" for values,
// "path[index]" for enumerations).
//
// Known differences from Windows: a key path's doubled and trailing
// backslashes count as one separator; names compare without regard to the
// case of Basic Latin and Latin-1 letters only; a predefined root has every
// right.
#include <algorithm>
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

bool IsMachineWide(std::u16string_view path) {
  return path.rfind(u"HKEY_LOCAL_MACHINE", 0) == 0 || path.rfind(u"HKEY_CLASSES_ROOT", 0) == 0;
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
  if (sim::AsksForWrite(access) && (key->deny_write_access || (sim::IsMachineWide(path) && !m.process.elevated))) {
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

namespace {

// The key behind a handle, for a call that needs these rights on it; the
// error code when the handle is not open, its key was deleted, or it was
// opened without them.
LSTATUS UsableKey(Machine& m, HKEY handle, std::uint32_t rights, sim::KeyAccess* open) {
  *open = sim::ResolveKeyHandle(m, handle);
  if (!open->key) {
    return ERROR_INVALID_HANDLE;
  }
  if (open->key->deleted()) {
    return ERROR_KEY_DELETED;
  }
  if ((open->access & rights) != rights) {
    return ERROR_ACCESS_DENIED;
  }
  return ERROR_SUCCESS;
}

std::u16string IndexSubject(const std::u16string& path, DWORD index) {
  return path + u"[" + sim::FromUtf8(std::to_string(index)) + u"]";
}

// Puts a name into a caller's buffer whose capacity *cch_name gives with the
// terminator. On success *cch_name receives the length without it; when the
// name does not fit, nothing is written and *cch_name is left as it was.
LSTATUS PutName(std::u16string_view name, LPWSTR buffer, LPDWORD cch_name) {
  if (name.size() + 1 > *cch_name) {
    return ERROR_MORE_DATA;
  }
  std::copy(name.begin(), name.end(), buffer);
  buffer[name.size()] = 0;
  *cch_name = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

// A class text is never stored: an asked-for class is the empty text.
void PutNoClass(LPWSTR class_name, LPDWORD cch_class) {
  if (cch_class != nullptr) {
    if (class_name != nullptr && *cch_class > 0) {
      class_name[0] = 0;
    }
    *cch_class = 0;
  }
}

void PutNoTime(PFILETIME time) {
  if (time != nullptr) {
    time->dwLowDateTime = 0;
    time->dwHighDateTime = 0;
  }
}

}  // namespace

LSTATUS WINAPI RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD cch_name, LPDWORD /*reserved*/,
                             LPWSTR class_name, LPDWORD cch_class, PFILETIME last_write_time) {
  Machine& m = CurrentMachine();
  sim::KeyAccess open;
  const LSTATUS usable = UsableKey(m, key, KEY_ENUMERATE_SUB_KEYS, &open);
  const std::u16string subject = IndexSubject(open.path, index);
  if (usable != ERROR_SUCCESS) {
    return sim::Report<LSTATUS>(m, "RegEnumKeyExW", subject, usable);
  }
  if (name == nullptr || cch_name == nullptr || (class_name != nullptr && cch_class == nullptr)) {
    return sim::Report<LSTATUS>(m, "RegEnumKeyExW", subject, ERROR_INVALID_PARAMETER);
  }
  if (auto fault = m.faults.Take("RegEnumKeyExW", subject)) {
    return sim::Report<LSTATUS>(m, "RegEnumKeyExW", subject, static_cast<LSTATUS>(*fault));
  }
  std::shared_ptr<sim::RegistryKey> subkey = open.key->SubkeyAt(index);
  if (!subkey) {
    return sim::Report<LSTATUS>(m, "RegEnumKeyExW", subject, ERROR_NO_MORE_ITEMS);
  }
  const LSTATUS put = PutName(subkey->name(), name, cch_name);
  if (put == ERROR_SUCCESS) {
    PutNoClass(class_name, cch_class);
    PutNoTime(last_write_time);
  }
  return sim::Report<LSTATUS>(m, "RegEnumKeyExW", subject, put);
}

LSTATUS WINAPI RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD cch_name, LPDWORD /*reserved*/, LPDWORD type,
                             LPBYTE data, LPDWORD cb_data) {
  Machine& m = CurrentMachine();
  sim::KeyAccess open;
  const LSTATUS usable = UsableKey(m, key, KEY_QUERY_VALUE, &open);
  const std::u16string subject = IndexSubject(open.path, index);
  if (usable != ERROR_SUCCESS) {
    return sim::Report<LSTATUS>(m, "RegEnumValueW", subject, usable);
  }
  if (name == nullptr || cch_name == nullptr || (data != nullptr && cb_data == nullptr)) {
    return sim::Report<LSTATUS>(m, "RegEnumValueW", subject, ERROR_INVALID_PARAMETER);
  }
  if (auto fault = m.faults.Take("RegEnumValueW", subject)) {
    return sim::Report<LSTATUS>(m, "RegEnumValueW", subject, static_cast<LSTATUS>(*fault));
  }
  if (index >= open.key->values().size()) {
    return sim::Report<LSTATUS>(m, "RegEnumValueW", subject, ERROR_NO_MORE_ITEMS);
  }
  const sim::RegistryValue& value = open.key->values()[index];
  const auto cb_value = static_cast<DWORD>(value.data.size());
  if (data != nullptr && cb_value > *cb_data) {
    *cb_data = cb_value;
    return sim::Report<LSTATUS>(m, "RegEnumValueW", subject, ERROR_MORE_DATA);
  }
  const LSTATUS put = PutName(value.name, name, cch_name);
  if (put != ERROR_SUCCESS) {
    return sim::Report<LSTATUS>(m, "RegEnumValueW", subject, put);
  }
  if (type != nullptr) {
    *type = value.type;
  }
  if (data != nullptr && cb_value > 0) {
    std::memcpy(data, value.data.data(), cb_value);
  }
  if (cb_data != nullptr) {
    *cb_data = cb_value;
  }
  return sim::Report<LSTATUS>(m, "RegEnumValueW", subject, ERROR_SUCCESS);
}

LSTATUS WINAPI RegQueryInfoKeyW(HKEY key, LPWSTR class_name, LPDWORD cch_class, LPDWORD /*reserved*/, LPDWORD sub_keys,
                                LPDWORD cch_max_sub_key, LPDWORD cch_max_class, LPDWORD values,
                                LPDWORD cch_max_value_name, LPDWORD cb_max_value, LPDWORD cb_security_descriptor,
                                PFILETIME last_write_time) {
  Machine& m = CurrentMachine();
  sim::KeyAccess open;
  const LSTATUS usable = UsableKey(m, key, KEY_QUERY_VALUE, &open);
  if (usable != ERROR_SUCCESS) {
    return sim::Report<LSTATUS>(m, "RegQueryInfoKeyW", open.path, usable);
  }
  if (class_name != nullptr && cch_class == nullptr) {
    return sim::Report<LSTATUS>(m, "RegQueryInfoKeyW", open.path, ERROR_INVALID_PARAMETER);
  }
  if (auto fault = m.faults.Take("RegQueryInfoKeyW", open.path)) {
    return sim::Report<LSTATUS>(m, "RegQueryInfoKeyW", open.path, static_cast<LSTATUS>(*fault));
  }
  const sim::RegistryKey& info = *open.key;
  PutNoClass(class_name, cch_class);
  PutNoTime(last_write_time);
  if (sub_keys != nullptr) {
    *sub_keys = static_cast<DWORD>(info.SubkeyCount());
  }
  if (cch_max_sub_key != nullptr) {
    // Walks every subkey: asked for only when wanted.
    std::size_t cch_max = 0;
    for (std::size_t i = 0; i < info.SubkeyCount(); ++i) {
      cch_max = std::max(cch_max, info.SubkeyAt(i)->name().size());
    }
    *cch_max_sub_key = static_cast<DWORD>(cch_max);
  }
  if (cch_max_class != nullptr) {
    *cch_max_class = 0;
  }
  if (values != nullptr) {
    *values = static_cast<DWORD>(info.values().size());
  }
  std::size_t cch_max_name = 0;
  std::size_t cb_max_data = 0;
  for (const sim::RegistryValue& value : info.values()) {
    cch_max_name = std::max(cch_max_name, value.name.size());
    cb_max_data = std::max(cb_max_data, value.data.size());
  }
  if (cch_max_value_name != nullptr) {
    *cch_max_value_name = static_cast<DWORD>(cch_max_name);
  }
  if (cb_max_value != nullptr) {
    *cb_max_value = static_cast<DWORD>(cb_max_data);
  }
  if (cb_security_descriptor != nullptr) {
    *cb_security_descriptor = 0;
  }
  return sim::Report<LSTATUS>(m, "RegQueryInfoKeyW", open.path, ERROR_SUCCESS);
}

LSTATUS WINAPI RegDeleteKeyW(HKEY root, LPCWSTR sub_key) {
  Machine& m = CurrentMachine();
  const sim::KeyAccess parent = sim::ResolveKeyHandle(m, root);
  std::u16string path = parent.path;
  if (sub_key != nullptr && *sub_key != 0) {
    path += u"\\";
    path += sub_key;
  }
  if (!parent.key) {
    return sim::Report<LSTATUS>(m, "RegDeleteKeyW", path, ERROR_INVALID_HANDLE);
  }
  if (sub_key == nullptr) {
    return sim::Report<LSTATUS>(m, "RegDeleteKeyW", path, ERROR_INVALID_PARAMETER);
  }
  if (parent.key->deleted()) {
    return sim::Report<LSTATUS>(m, "RegDeleteKeyW", path, ERROR_KEY_DELETED);
  }
  if (auto fault = m.faults.Take("RegDeleteKeyW", path)) {
    return sim::Report<LSTATUS>(m, "RegDeleteKeyW", path, static_cast<LSTATUS>(*fault));
  }
  // The key and the key that holds it.
  std::shared_ptr<sim::RegistryKey> above;
  std::shared_ptr<sim::RegistryKey> key = parent.key;
  std::u16string_view rest = sim::View(sub_key);
  for (std::u16string_view part = sim::NextPathPart(rest); !part.empty(); part = sim::NextPathPart(rest)) {
    above = key;
    key = key->FindSubkey(part);
    if (!key) {
      return sim::Report<LSTATUS>(m, "RegDeleteKeyW", path, ERROR_FILE_NOT_FOUND);
    }
  }
  if (!above) {
    // An empty subkey names the handle's own key: a predefined root is
    // never deleted, an open key only through a handle with DELETE access.
    if (sim::PredefinedRootName(root) != nullptr || (parent.access & DELETE) == 0) {
      return sim::Report<LSTATUS>(m, "RegDeleteKeyW", path, ERROR_ACCESS_DENIED);
    }
    const std::size_t cut = parent.path.find_last_of(u'\\');
    above = m.registry.Find(std::u16string_view(parent.path).substr(0, cut));
    if (!above || above->FindSubkey(key->name()) != key) {
      return sim::Report<LSTATUS>(m, "RegDeleteKeyW", path, ERROR_KEY_DELETED);
    }
  }
  if ((sim::IsMachineWide(path) && !m.process.elevated) || key->deny_delete || key->SubkeyCount() > 0) {
    return sim::Report<LSTATUS>(m, "RegDeleteKeyW", path, ERROR_ACCESS_DENIED);
  }
  above->RemoveSubkey(key->name());
  return sim::Report<LSTATUS>(m, "RegDeleteKeyW", path, ERROR_SUCCESS);
}

LSTATUS WINAPI RegDeleteValueW(HKEY key, LPCWSTR value_name) {
  Machine& m = CurrentMachine();
  sim::KeyAccess open;
  LSTATUS usable = UsableKey(m, key, KEY_SET_VALUE, &open);
  if (usable == ERROR_SUCCESS && sim::PredefinedRootName(key) != nullptr && sim::IsMachineWide(open.path) &&
      !m.process.elevated) {
    usable = ERROR_ACCESS_DENIED;
  }
  const std::u16string subject = open.path + u"@" + std::u16string(sim::View(value_name));
  if (usable != ERROR_SUCCESS) {
    return sim::Report<LSTATUS>(m, "RegDeleteValueW", subject, usable);
  }
  if (auto fault = m.faults.Take("RegDeleteValueW", subject)) {
    return sim::Report<LSTATUS>(m, "RegDeleteValueW", subject, static_cast<LSTATUS>(*fault));
  }
  if (!open.key->RemoveValue(sim::View(value_name))) {
    return sim::Report<LSTATUS>(m, "RegDeleteValueW", subject, ERROR_FILE_NOT_FOUND);
  }
  return sim::Report<LSTATUS>(m, "RegDeleteValueW", subject, ERROR_SUCCESS);
}
