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

// Registers the product with its upgrade code and the server component,
// whose key file is written when key_file_exists.
void RegisterProduct(sim::Machine& machine, bool key_file_exists = true,
                     std::u16string key_file = std::u16string(kProductDirectory) + u"\\srvcore.exe");

}  // namespace testing_support
