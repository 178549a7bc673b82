// Small machines with the server product registered the way Windows
// Installer registers a per-machine product.
#pragma once

#include <string>

#include "sim/machine.h"

namespace testing_support {

inline constexpr char16_t kProductCode[] = u"{3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613}";
inline constexpr char16_t kUpgradeCode[] = u"{C7D81E22-4A93-4B6F-9E05-1D2C3B4A5F60}";
inline constexpr char16_t kPackedProductCode[] = u"14C9A2F3E6B751D48A2C950E4D7B6F31";
inline constexpr char16_t kPackedUpgradeCode[] = u"22E18D7C39A4F6B4E950D1C2B3A4F506";
inline constexpr char16_t kServerComponent[] = u"{5B1E6C3A-27D4-4F80-9A6E-C4D2873B1F05}";
inline constexpr char16_t kPackedServerComponent[] = u"A3C6E1B54D7208F4A9E64C2D78B3F150";
inline constexpr char16_t kProductDirectory[] = u"C:\\Program Files (x86)\\Morvathen\\Server";
// Another product's codes, for keys that stand beside the product's.
inline constexpr char16_t kOtherProductCode[] = u"{8E4B2D10-6C3F-4A7E-B1D9-0F2E3C4D5A6B}";
inline constexpr char16_t kOtherPackedProductCode[] = u"01D2B4E8F3C6E7A41B9DF0E2C3D4A5B6";
// Where Windows Installer registers the components of per-machine products.
inline constexpr char16_t kComponentsKey[] =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components";

// Registers the product with its upgrade code and the server component,
// whose key file is written when key_file_exists.
void RegisterProduct(sim::Machine& machine, bool key_file_exists = true,
                     std::u16string key_file = std::u16string(kProductDirectory) + u"\\srvcore.exe");

}  // namespace testing_support
