#include "tests/support/product_machine.h"

#include "sim/installer/installer.h"

namespace testing_support {

void RegisterProduct(sim::Machine& machine, bool key_file_exists, std::u16string key_file) {
  const std::u16string packed_product = kPackedProductCode;
  machine.registry.SetString(std::u16string(sim::kComponentsKey) + u"\\" + kPackedServerComponent, packed_product,
                             key_file);
  machine.registry.SetString(
      std::u16string(sim::kUserDataProductsKey) + u"\\" + packed_product + u"\\InstallProperties", u"DisplayName",
      u"Morvathen Server");
  machine.registry.SetString(std::u16string(sim::kClassesProductsKey) + u"\\" + packed_product, u"ProductName",
                             u"Morvathen Server");
  machine.registry.SetString(std::u16string(sim::kClassesUpgradeCodesKey) + u"\\" + kPackedUpgradeCode, packed_product,
                             u"");
  if (key_file_exists) {
    machine.files.MakeFile(key_file, "MZ");
  }
}

}  // namespace testing_support
