// The built-in machine holds the server's registration under every key the
// cleaner deletes, beside a product that shares one of its components and
// an unrelated product. Run the installer steps on it the way the cleanup
// sequence does, and compare the machine before and after.
#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sim/image/machine_image.h"
#include "sim/installer/installer.h"
#include "src/installer/component_scan.h"
#include "src/installer/installer_keys.h"
#include "src/installer/packed_guid.h"
#include "src/log/run_log.h"
#include "src/registry/key_tree.h"
#include "tests/support/product_machine.h"
#include "tests/support/sim_fixture.h"

namespace {

using testing_support::kProductCode;
using testing_support::kUpgradeCode;
constexpr char16_t kConsoleProductCode[] = u"{8E4B2D10-6C3F-4A7E-B1D9-0F2E3C4D5A6B}";
constexpr char16_t kServerComponentCode[] = u"{5B1E6C3A-27D4-4F80-9A6E-C4D2873B1F05}";

class BuiltinRegistrationTest : public testing_support::SimTest {
 protected:
  void SetUp() override {
    std::ifstream file(VORNALET_SOURCE_DIR "/machines/builtin.json");
    ASSERT_TRUE(file) << "machines/builtin.json";
    std::stringstream text;
    text << file.rdbuf();
    Load(text.str());
  }

  // The component and installer steps of the cleanup sequence.
  void RemoveRegistration() {
    WCHAR packed_upgrade_code[kCchPackedGuid] = {};
    WCHAR packed_product_code[kCchPackedGuid] = {};
    ASSERT_TRUE(PackGuid(kUpgradeCode, packed_upgrade_code));
    ASSERT_TRUE(PackGuid(kProductCode, packed_product_code));
    auto list = std::make_unique<ComponentKeyList>();
    if (CollectProductComponents(list.get(), kProductCode)) {
      LogText(u"Removing product components...", nullptr);
      do {
        for (int i = 0; i < list->count; ++i) {
          LogText(u"Component", list->paths[i]);
          DeleteKeyTree(HKEY_LOCAL_MACHINE, list->paths[i]);
        }
      } while (CollectMoreProductComponents(list.get(), kProductCode));
    }
    RemoveInstallerKeys(kProductCode, packed_product_code, packed_upgrade_code);
  }
};

TEST_F(BuiltinRegistrationTest, CodesOfTheImageAgreeWithEachOther) {
  EXPECT_EQ(sim::UnpackedCode(u"22E18D7C39A4F6B4E950D1C2B3A4F506"), kUpgradeCode);
  EXPECT_EQ(sim::UnpackedCode(u"14C9A2F3E6B751D48A2C950E4D7B6F31"), kProductCode);
  WCHAR product_code[39] = {};
  ASSERT_EQ(MsiGetProductCodeW(kServerComponentCode, product_code), static_cast<UINT>(ERROR_SUCCESS));
  EXPECT_EQ(std::u16string(product_code), kProductCode);
}

TEST_F(BuiltinRegistrationTest, RemovesTheServersRegistrationAndNothingElse) {
  const sim::Inventory before = sim::TakeInventory(machine);
  OpenRunLog();
  RemoveRegistration();
  CloseRunLog();
  std::vector<std::string> removed_keys;
  for (const std::string& change : sim::DescribeChanges(before, sim::TakeInventory(machine))) {
    if (change.rfind("removed key ", 0) == 0) {
      removed_keys.push_back(change.substr(12));
    } else if (change.rfind("removed value ", 0) != 0 && change.find("$vornalet.log") == std::string::npos) {
      ADD_FAILURE() << change;
    }
  }
  const std::string components =
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\";
  const std::string user_data_products =
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\";
  const std::string uninstall = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  const std::string product = "14C9A2F3E6B751D48A2C950E4D7B6F31";
  std::vector<std::string> expected = {
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Features\\" + product,
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Products\\" + product,
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Products\\" + product + "\\SourceList",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\UpgradeCodes\\22E18D7C39A4F6B4E950D1C2B3A4F506",
      components + "A3C6E1B54D7208F4A9E64C2D78B3F150",
      components + "D3C2B1A0F5E416042837495A6B7C8D9E",
      components + "E4D3C2B106F5271438485A6B7C8D9E0F",
      components + "F5E4D3C21706382449596B7C8D9E0F1A",
      user_data_products + product,
      user_data_products + product + "\\Features",
      user_data_products + product + "\\InstallProperties",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\"
      "22E18D7C39A4F6B4E950D1C2B3A4F506",
      uninstall + "InstallShield Uninstall Information\\{3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613}",
      uninstall + "InstallShield Uninstall Information\\{3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613}\\Setup",
      uninstall + "InstallShield_{3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613}",
      uninstall + "{3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613}",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\28",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\28\\Plugins",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\28\\Plugins\\Audit",
  };
  std::sort(expected.begin(), expected.end());
  std::sort(removed_keys.begin(), removed_keys.end());
  EXPECT_EQ(removed_keys, expected);
  // Four own components, each announced before its deletion; the shared
  // one stays.
  const std::string log = LogBytes();
  EXPECT_EQ(log.rfind("Removing product components...\r\nComponent SOFTWARE\\Microsoft\\", 0), 0U) << log;
  ExpectNoOpenHandles();
}

// Afterwards Windows Installer no longer knows the server, and still knows
// the console that shared a component with it.
TEST_F(BuiltinRegistrationTest, InstallerForgetsTheServerAndKeepsTheConsole) {
  RemoveRegistration();
  WCHAR product_code[39] = {};
  EXPECT_EQ(MsiGetProductCodeW(kServerComponentCode, product_code), static_cast<UINT>(ERROR_UNKNOWN_COMPONENT));
  MSIHANDLE handle = 0;
  EXPECT_EQ(MsiOpenProductW(kProductCode, &handle), static_cast<UINT>(ERROR_UNKNOWN_PRODUCT));
  ASSERT_EQ(MsiOpenProductW(kConsoleProductCode, &handle), static_cast<UINT>(ERROR_SUCCESS));
  MsiCloseHandle(handle);
  ExpectNoOpenHandles();
}

}  // namespace
