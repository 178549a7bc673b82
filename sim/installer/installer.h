// The simulated Windows Installer. It keeps no product data of its own: it
// answers from the registry and the file system the way Windows Installer
// does, so that what the cleaner deletes is what the installer forgets.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace sim {

class Installer {
 public:
  int ui_level = 5;  // INSTALLUILEVEL_FULL until the process changes it
  // Open product handles and the product code each was opened for.
  std::map<std::uint32_t, std::u16string> open_products;
  // Properties of cached packages that differ from what the registry
  // implies, by folded product code; "UpgradeCode" otherwise comes from the
  // UpgradeCodes registration.
  std::map<std::u16string, std::map<std::u16string, std::u16string>> package_properties;
};

// The packed form Windows Installer uses in key and value names, and back.
// Both return the empty text for a text that is not a braced GUID.
std::u16string PackedCode(std::u16string_view braced);
std::u16string UnpackedCode(std::u16string_view packed);

inline constexpr char16_t kComponentsKey[] =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components";
inline constexpr char16_t kUserDataProductsKey[] =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products";
inline constexpr char16_t kClassesUpgradeCodesKey[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\UpgradeCodes";
inline constexpr char16_t kClassesProductsKey[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Products";

}  // namespace sim
