// Windows Installer functions of the simulated platform. They answer from
// the registry and the file system, as Windows Installer does.
#include <cstring>

#include "sim/api/api_support.h"
#include "sim/win32/windows.h"

using sim::CurrentMachine;
using sim::Machine;

namespace {

// A REG_SZ value's text up to its first zero unit.
std::u16string ValueText(const sim::RegistryValue& value) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
    const auto unit = static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8));
    if (unit == 0) {
      break;
    }
    text += unit;
  }
  return text;
}

std::shared_ptr<sim::RegistryKey> ComponentKey(Machine& m, std::u16string_view component) {
  const std::u16string packed = sim::PackedCode(component);
  return m.registry.Find(std::u16string(sim::kComponentsKey) + u"\\" + packed);
}

// The upgrade code of a product: the UpgradeCodes key that lists it.
std::u16string UpgradeCodeOf(Machine& m, const std::u16string& product) {
  auto overrides = m.installer.package_properties.find(sim::Fold(product));
  if (overrides != m.installer.package_properties.end()) {
    auto it = overrides->second.find(u"UpgradeCode");
    if (it != overrides->second.end()) {
      return it->second;
    }
  }
  std::shared_ptr<sim::RegistryKey> codes = m.registry.Find(sim::kClassesUpgradeCodesKey);
  const std::u16string packed = sim::PackedCode(product);
  for (std::size_t i = 0; codes && i < codes->SubkeyCount(); ++i) {
    std::shared_ptr<sim::RegistryKey> code = codes->SubkeyAt(i);
    if (code->FindValue(packed) != nullptr) {
      return sim::UnpackedCode(code->name());
    }
  }
  return {};
}

}  // namespace

INSTALLUILEVEL WINAPI MsiSetInternalUI(INSTALLUILEVEL level, HWND* /*window*/) {
  Machine& m = CurrentMachine();
  const auto previous = static_cast<INSTALLUILEVEL>(m.installer.ui_level);
  m.installer.ui_level = level;
  m.journal.Record("MsiSetInternalUI", u"", level);
  return previous;
}

UINT WINAPI MsiGetProductCodeW(LPCWSTR component, LPWSTR product_code_39) {
  Machine& m = CurrentMachine();
  const std::u16string subject(sim::View(component));
  if (component == nullptr || product_code_39 == nullptr || sim::PackedCode(subject).empty()) {
    return sim::Report<UINT>(m, "MsiGetProductCodeW", subject, ERROR_INVALID_PARAMETER);
  }
  if (auto fault = m.faults.Take("MsiGetProductCodeW", subject)) {
    return sim::Report<UINT>(m, "MsiGetProductCodeW", subject, *fault);
  }
  std::shared_ptr<sim::RegistryKey> key = ComponentKey(m, subject);
  if (key) {
    for (const sim::RegistryValue& value : key->values()) {
      const std::u16string product = sim::UnpackedCode(value.name);
      if (!product.empty()) {
        std::memcpy(product_code_39, product.c_str(), 39 * sizeof(WCHAR));
        return sim::Report<UINT>(m, "MsiGetProductCodeW", subject, ERROR_SUCCESS);
      }
    }
  }
  return sim::Report<UINT>(m, "MsiGetProductCodeW", subject, ERROR_UNKNOWN_COMPONENT);
}

UINT WINAPI MsiOpenProductW(LPCWSTR product, MSIHANDLE* handle) {
  Machine& m = CurrentMachine();
  const std::u16string subject(sim::View(product));
  if (product == nullptr || handle == nullptr || sim::PackedCode(subject).empty()) {
    return sim::Report<UINT>(m, "MsiOpenProductW", subject, ERROR_INVALID_PARAMETER);
  }
  if (auto fault = m.faults.Take("MsiOpenProductW", subject)) {
    return sim::Report<UINT>(m, "MsiOpenProductW", subject, *fault);
  }
  if (!m.registry.Find(std::u16string(sim::kUserDataProductsKey) + u"\\" + sim::PackedCode(subject))) {
    return sim::Report<UINT>(m, "MsiOpenProductW", subject, ERROR_UNKNOWN_PRODUCT);
  }
  const auto value = static_cast<MSIHANDLE>(m.handles.Open(sim::HandleKind::kInstaller, subject));
  m.installer.open_products.emplace(value, subject);
  *handle = value;
  return sim::Report<UINT>(m, "MsiOpenProductW", subject, ERROR_SUCCESS);
}

UINT WINAPI MsiGetProductPropertyW(MSIHANDLE product, LPCWSTR property, LPWSTR value, LPDWORD cch_value) {
  Machine& m = CurrentMachine();
  const std::u16string subject(sim::View(property));
  auto it = m.installer.open_products.find(product);
  if (it == m.installer.open_products.end()) {
    return sim::Report<UINT>(m, "MsiGetProductPropertyW", subject, ERROR_INVALID_HANDLE);
  }
  if (property == nullptr || (value != nullptr && cch_value == nullptr)) {
    return sim::Report<UINT>(m, "MsiGetProductPropertyW", subject, ERROR_INVALID_PARAMETER);
  }
  if (auto fault = m.faults.Take("MsiGetProductPropertyW", subject)) {
    return sim::Report<UINT>(m, "MsiGetProductPropertyW", subject, *fault);
  }
  // An unknown property reads as the empty text, as Windows Installer does.
  std::u16string text;
  if (sim::EqualsIgnoringCase(subject, u"UpgradeCode")) {
    text = UpgradeCodeOf(m, it->second);
  } else if (sim::EqualsIgnoringCase(subject, u"ProductCode")) {
    text = it->second;
  }
  if (cch_value == nullptr) {
    return sim::Report<UINT>(m, "MsiGetProductPropertyW", subject, ERROR_SUCCESS);
  }
  const DWORD capacity = *cch_value;
  *cch_value = static_cast<DWORD>(text.size());
  if (value == nullptr) {
    return sim::Report<UINT>(m, "MsiGetProductPropertyW", subject, ERROR_SUCCESS);
  }
  if (text.size() + 1 > capacity) {
    if (capacity > 0) {
      std::memcpy(value, text.c_str(), (capacity - 1) * sizeof(WCHAR));
      value[capacity - 1] = 0;
    }
    return sim::Report<UINT>(m, "MsiGetProductPropertyW", subject, ERROR_MORE_DATA);
  }
  std::memcpy(value, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
  return sim::Report<UINT>(m, "MsiGetProductPropertyW", subject, ERROR_SUCCESS);
}

UINT WINAPI MsiCloseHandle(MSIHANDLE handle) {
  Machine& m = CurrentMachine();
  if (handle == 0) {
    return sim::Report<UINT>(m, "MsiCloseHandle", u"", ERROR_SUCCESS);
  }
  auto it = m.installer.open_products.find(handle);
  if (it == m.installer.open_products.end() || !m.handles.Close(handle, sim::HandleKind::kInstaller)) {
    return sim::Report<UINT>(m, "MsiCloseHandle", u"", ERROR_INVALID_HANDLE);
  }
  const std::u16string subject = it->second;
  m.installer.open_products.erase(it);
  return sim::Report<UINT>(m, "MsiCloseHandle", subject, ERROR_SUCCESS);
}

INSTALLSTATE WINAPI MsiGetComponentPathW(LPCWSTR product, LPCWSTR component, LPWSTR path, LPDWORD cch_path) {
  Machine& m = CurrentMachine();
  const std::u16string subject(sim::View(component));
  const std::u16string packed_product = sim::PackedCode(sim::View(product));
  if (packed_product.empty() || sim::PackedCode(subject).empty() || (path != nullptr && cch_path == nullptr)) {
    return sim::Report<INSTALLSTATE>(m, "MsiGetComponentPathW", subject, INSTALLSTATE_INVALIDARG);
  }
  if (auto fault = m.faults.Take("MsiGetComponentPathW", subject)) {
    return sim::Report<INSTALLSTATE>(m, "MsiGetComponentPathW", subject, static_cast<INSTALLSTATE>(*fault));
  }
  std::shared_ptr<sim::RegistryKey> key = ComponentKey(m, subject);
  const sim::RegistryValue* registration = key ? key->FindValue(packed_product) : nullptr;
  if (registration == nullptr) {
    return sim::Report<INSTALLSTATE>(m, "MsiGetComponentPathW", subject, INSTALLSTATE_UNKNOWN);
  }
  const std::u16string text = ValueText(*registration);
  const INSTALLSTATE state = m.files.Exists(text) ? INSTALLSTATE_LOCAL : INSTALLSTATE_ABSENT;
  if (cch_path != nullptr) {
    const DWORD capacity = *cch_path;
    *cch_path = static_cast<DWORD>(text.size());
    if (path != nullptr) {
      if (text.size() + 1 > capacity) {
        return sim::Report<INSTALLSTATE>(m, "MsiGetComponentPathW", subject, INSTALLSTATE_MOREDATA);
      }
      std::memcpy(path, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    }
  }
  return sim::Report<INSTALLSTATE>(m, "MsiGetComponentPathW", subject, state);
}
