// RemoveInstallerKeys: the eleven registration and uninstall keys named
// after the product's codes, then the vendor's key 28.
#include "src/installer/installer_keys.h"

#include <algorithm>
#include <string>
#include <vector>

#include "src/installer/packed_guid.h"
#include "src/log/run_log.h"
#include "tests/support/product_machine.h"
#include "tests/support/sim_fixture.h"
#include "tests/unit/registry/registry_test_support.h"

namespace {

using registry_testing::KeyExists;
using registry_testing::KeysBelow;
using registry_testing::SetValue;
using registry_testing::SzData;

using testing_support::kOtherPackedProductCode;
using testing_support::kOtherProductCode;
using testing_support::kPackedProductCode;
using testing_support::kPackedUpgradeCode;
using testing_support::kProductCode;
// The other product's upgrade code, packed.
constexpr char16_t kOtherPackedUpgradeCode[] = u"D4C3B2A1F6E5B8A4C9D01E2F3A4B5C6D";

constexpr char16_t kClasses[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\";
constexpr char16_t kInstaller[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\";
constexpr char16_t kUninstall[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr char16_t kVendor[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\";

// The log line of each row for the product's codes, rows 1 to 11.
const std::vector<std::string> kRowLines = {
    "Component HKEY_CLASSES_ROOT\\Installer\\UpgradeCodes\\22E18D7C39A4F6B4E950D1C2B3A4F506",
    "Component HKEY_CLASSES_ROOT\\Installer\\Features\\14C9A2F3E6B751D48A2C950E4D7B6F31",
    "Component HKEY_CLASSES_ROOT\\Installer\\Products\\14C9A2F3E6B751D48A2C950E4D7B6F31",
    "Component HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\UpgradeCodes\\22E18D7C39A4F6B4E950D1C2B3A4F506",
    "Component HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Features\\14C9A2F3E6B751D48A2C950E4D7B6F31",
    "Component HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Products\\14C9A2F3E6B751D48A2C950E4D7B6F31",
    "Component HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\"
    "22E18D7C39A4F6B4E950D1C2B3A4F506",
    "Component HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\"
    "Products\\14C9A2F3E6B751D48A2C950E4D7B6F31",
    "Component HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "{3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613}",
    "Component HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "InstallShield_{3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613}",
    "Component HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "InstallShield Uninstall Information\\{3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613}",
};
const std::string kVendorLine = "Component HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\28";

// The log of a run of these rows (1 to 11), then the vendor key.
std::string ExpectedLog(const std::vector<int>& rows) {
  std::string log;
  for (int row : rows) {
    log += kRowLines[row - 1] + "\r\n";
  }
  return log + kVendorLine + "\r\n";
}

class InstallerKeysTest : public testing_support::SimTest {
 protected:
  // The registration of one product, as Windows Installer and the
  // product's setup leave it, with subkeys and values below each key.
  static void Register(sim::Machine& m, std::u16string code, std::u16string packed, std::u16string packed_upgrade) {
    const std::u16string classes = kClasses;
    const std::u16string installer = kInstaller;
    const std::u16string uninstall = kUninstall;
    SetValue(m, classes + u"UpgradeCodes\\" + packed_upgrade, packed, REG_SZ, SzData(u""));
    SetValue(m, classes + u"Features\\" + packed, u"Complete", REG_SZ, SzData(u""));
    SetValue(m, classes + u"Products\\" + packed + u"\\SourceList\\Media", u"1", REG_SZ, SzData(u"DISK1"));
    SetValue(m, installer + u"UpgradeCodes\\" + packed_upgrade, packed, REG_SZ, SzData(u""));
    SetValue(m, installer + u"UserData\\S-1-5-18\\Products\\" + packed + u"\\InstallProperties", u"DisplayName", REG_SZ,
             SzData(u"Server"));
    m.registry.Create(installer + u"UserData\\S-1-5-18\\Products\\" + packed + u"\\Features");
    SetValue(m, uninstall + code, u"DisplayName", REG_SZ, SzData(u"Server"));
    SetValue(m, uninstall + u"InstallShield_" + code, u"DisplayName", REG_SZ, SzData(u"Server"));
    SetValue(m, uninstall + u"InstallShield Uninstall Information\\" + code + u"\\Setup", u"Version", REG_SZ,
             SzData(u"1.0"));
  }

  static void RegisterBoth(sim::Machine& m) {
    Register(m, kProductCode, kPackedProductCode, kPackedUpgradeCode);
    Register(m, kOtherProductCode, kOtherPackedProductCode, kOtherPackedUpgradeCode);
    SetValue(m, std::u16string(kVendor) + u"28\\Plugins\\Audit", u"Path", REG_SZ, SzData(u"audit.dll"));
    SetValue(m, std::u16string(kVendor) + u"28", u"Installed", REG_DWORD, {1, 0, 0, 0});
    SetValue(m, std::u16string(kVendor) + u"280", u"Kept", REG_DWORD, {1, 0, 0, 0});
    SetValue(m, std::u16string(kVendor) + u"34", u"Kept", REG_DWORD, {1, 0, 0, 0});
  }

  // The keys of the product named by each row (where they live: the
  // classes root shows HKEY_LOCAL_MACHINE\SOFTWARE\Classes).
  static std::u16string RowKey(int row) {
    const std::u16string packed = kPackedProductCode;
    const std::u16string packed_upgrade = kPackedUpgradeCode;
    const std::u16string code = kProductCode;
    switch (row) {
      case 1:
      case 4:
        return kClasses + std::u16string(u"UpgradeCodes\\") + packed_upgrade;
      case 2:
      case 5:
        return kClasses + std::u16string(u"Features\\") + packed;
      case 3:
      case 6:
        return kClasses + std::u16string(u"Products\\") + packed;
      case 7:
        return kInstaller + std::u16string(u"UpgradeCodes\\") + packed_upgrade;
      case 8:
        return kInstaller + std::u16string(u"UserData\\S-1-5-18\\Products\\") + packed;
      case 9:
        return kUninstall + code;
      case 10:
        return kUninstall + std::u16string(u"InstallShield_") + code;
      default:
        return kUninstall + std::u16string(u"InstallShield Uninstall Information\\") + code;
    }
  }

  // Every key of the other product and the parents of the rows, which no
  // run may touch.
  static std::vector<std::string> UntouchedKeys(sim::Machine& m) {
    std::vector<std::string> keys;
    for (const std::u16string& key :
         {std::u16string(kClasses) + u"UpgradeCodes\\" + kOtherPackedUpgradeCode,
          std::u16string(kClasses) + u"Features\\" + kOtherPackedProductCode,
          std::u16string(kClasses) + u"Products\\" + kOtherPackedProductCode + u"\\SourceList\\Media",
          std::u16string(kInstaller) + u"UpgradeCodes\\" + kOtherPackedUpgradeCode,
          std::u16string(kInstaller) + u"UserData\\S-1-5-18\\Products\\" + kOtherPackedProductCode +
              u"\\InstallProperties",
          std::u16string(kUninstall) + kOtherProductCode,
          std::u16string(kUninstall) + u"InstallShield_" + kOtherProductCode,
          std::u16string(kUninstall) + u"InstallShield Uninstall Information\\" + kOtherProductCode + u"\\Setup",
          std::u16string(kVendor) + u"280", std::u16string(kVendor) + u"34"}) {
      if (!KeyExists(m, key)) {
        keys.push_back("missing: " + sim::ToUtf8(key));
      }
    }
    return keys;
  }
};

TEST_F(InstallerKeysTest, WithNoKeyPresentAllTwelveAreTriedAndLogged) {
  OpenRunLog();
  RemoveInstallerKeys(kProductCode, kPackedProductCode, kPackedUpgradeCode);
  CloseRunLog();
  EXPECT_EQ(LogBytes(), ExpectedLog({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
  EXPECT_EQ(machine.journal.Count("RegDeleteKeyW"), 12U);
  ExpectNoOpenHandles();
}

// Each row's key goes with everything below it; the other product's keys
// beside them, the parents of the rows and the vendor's other keys stay.
TEST_F(InstallerKeysTest, DeletesTheProductsKeysWholeAndNothingBeside) {
  RegisterBoth(machine);
  OpenRunLog();
  RemoveInstallerKeys(kProductCode, kPackedProductCode, kPackedUpgradeCode);
  CloseRunLog();
  EXPECT_EQ(LogBytes(), ExpectedLog({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
  for (int row = 1; row <= kInstallerKeyRowCount; ++row) {
    EXPECT_FALSE(KeyExists(machine, RowKey(row))) << "row " << row;
  }
  EXPECT_FALSE(KeyExists(machine, std::u16string(kVendor) + u"28"));
  EXPECT_EQ(UntouchedKeys(machine), std::vector<std::string>{});
  // The classes root rows delete in HKEY_LOCAL_MACHINE\SOFTWARE\Classes;
  // rows 4 to 6 then find their keys gone.
  EXPECT_EQ(machine.journal.Count("RegDeleteKeyW",
                                  u"HKEY_CLASSES_ROOT\\Installer\\Features\\" + std::u16string(kPackedProductCode)),
            1U);
  const std::vector<std::string> opens = Calls({"RegOpenKeyExW"});
  EXPECT_NE(std::find(opens.begin(), opens.end(),
                      "RegOpenKeyExW(HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\UpgradeCodes\\"
                      "22E18D7C39A4F6B4E950D1C2B3A4F506)=2"),
            opens.end());
  ExpectNoOpenHandles();
}

// Row 10 names "InstallShield_" directly followed by the braced code, a
// key of its own beside the one row 9 names.
TEST_F(InstallerKeysTest, Rows9And10NameDifferentKeys) {
  SetValue(machine, std::u16string(kUninstall) + u"InstallShield_" + kProductCode, u"DisplayName", REG_SZ,
           SzData(u"Server"));
  machine.registry.Create(std::u16string(kUninstall) + kProductCode)->deny_delete = true;
  RemoveInstallerKeys(kProductCode, kPackedProductCode, kPackedUpgradeCode);
  EXPECT_TRUE(KeyExists(machine, std::u16string(kUninstall) + kProductCode));
  EXPECT_FALSE(KeyExists(machine, std::u16string(kUninstall) + u"InstallShield_" + kProductCode));
  EXPECT_EQ(KeysBelow(machine, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"),
            (std::vector<std::string>{"{3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613}"}));
  ExpectNoOpenHandles();
}

// The registry ignores letter case: codes given in lower case still name
// the keys Windows Installer wrote in upper case. The log shows the codes
// as given.
TEST_F(InstallerKeysTest, LowerCaseCodesNameKeysWrittenInUpperCase) {
  RegisterBoth(machine);
  const char16_t product_code[] = u"{3f2a9c41-7b6e-4d15-a8c2-59e0d4b7f613}";
  WCHAR packed_product_code[kCchPackedGuid] = {};
  WCHAR packed_upgrade_code[kCchPackedGuid] = {};
  ASSERT_TRUE(PackGuid(product_code, packed_product_code));
  ASSERT_TRUE(PackGuid(u"{c7d81e22-4a93-4b6f-9e05-1d2c3b4a5f60}", packed_upgrade_code));
  OpenRunLog();
  RemoveInstallerKeys(product_code, packed_product_code, packed_upgrade_code);
  CloseRunLog();
  for (int row = 1; row <= kInstallerKeyRowCount; ++row) {
    EXPECT_FALSE(KeyExists(machine, RowKey(row))) << "row " << row;
  }
  EXPECT_EQ(UntouchedKeys(machine), std::vector<std::string>{});
  EXPECT_NE(LogBytes().find("Uninstall\\InstallShield_{3f2a9c41-7b6e-4d15-a8c2-59e0d4b7f613}\r\n"), std::string::npos);
  EXPECT_NE(LogBytes().find("Products\\14c9a2f3e6b751d48a2c950e4d7b6f31\r\n"), std::string::npos);
  ExpectNoOpenHandles();
}

// A row runs only with its own code form, well formed: a packed code the
// caller could not make (null), or a code of another length or with a
// backslash, skips the rows that need it, without a line. The vendor key
// is deleted in every case, and no parent of a row is ever touched.
TEST_F(InstallerKeysTest, RowsWhoseCodeIsNotWellFormedAreSkipped) {
  struct Case {
    const char* what;
    const char16_t* product_code;
    const char16_t* packed_product_code;
    const char16_t* packed_upgrade_code;
    std::vector<int> rows;
  };
  const std::u16string product = kProductCode;
  const std::u16string packed = kPackedProductCode;
  const std::u16string with_backslash = u"{3F2A9C41\\7B6E-4D15-A8C2-59E0D4B7F613}";
  const std::u16string packed_with_backslash = u"14C9A2F3E6B751D4\\A2C950E4D7B6F31";
  const std::u16string product37 = product.substr(0, 37);
  const std::u16string product39 = product + u"}";
  const std::u16string packed31 = packed.substr(0, 31);
  const std::u16string packed33 = packed + u"1";
  const Case cases[] = {
      {"the product code did not pack", kProductCode, nullptr, kPackedUpgradeCode, {1, 4, 7, 9, 10, 11}},
      {"the upgrade code did not pack", kProductCode, kPackedProductCode, nullptr, {2, 3, 5, 6, 8, 9, 10, 11}},
      {"neither code packed", kProductCode, nullptr, nullptr, {9, 10, 11}},
      {"a product code of 37 characters",
       product37.c_str(),
       kPackedProductCode,
       kPackedUpgradeCode,
       {1, 2, 3, 4, 5, 6, 7, 8}},
      {"a product code of 39 characters",
       product39.c_str(),
       kPackedProductCode,
       kPackedUpgradeCode,
       {1, 2, 3, 4, 5, 6, 7, 8}},
      {"an empty product code", u"", kPackedProductCode, kPackedUpgradeCode, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"no product code", nullptr, kPackedProductCode, kPackedUpgradeCode, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"a product code with a backslash",
       with_backslash.c_str(),
       kPackedProductCode,
       kPackedUpgradeCode,
       {1, 2, 3, 4, 5, 6, 7, 8}},
      {"empty packed codes", kProductCode, u"", u"", {9, 10, 11}},
      {"packed codes of 31 and 33 characters", kProductCode, packed31.c_str(), packed33.c_str(), {9, 10, 11}},
      {"a packed code with a backslash",
       kProductCode,
       packed_with_backslash.c_str(),
       kPackedUpgradeCode,
       {1, 4, 7, 9, 10, 11}},
      {"nothing well formed", u"", nullptr, nullptr, {}},
  };
  for (const Case& c : cases) {
    sim::Machine fresh;
    sim::ScopedMachine scope(fresh);
    RegisterBoth(fresh);
    OpenRunLog();
    RemoveInstallerKeys(c.product_code, c.packed_product_code, c.packed_upgrade_code);
    CloseRunLog();
    auto log = fresh.files.ReadFile(fresh.process.temp_path + u"$vornalet.log");
    ASSERT_TRUE(log.has_value()) << c.what;
    EXPECT_EQ(*log, ExpectedLog(c.rows)) << c.what;
    for (int row = 1; row <= kInstallerKeyRowCount; ++row) {
      const bool run = std::find(c.rows.begin(), c.rows.end(), row) != c.rows.end();
      EXPECT_EQ(KeyExists(fresh, RowKey(row)), !run) << c.what << ", row " << row;
    }
    EXPECT_FALSE(KeyExists(fresh, std::u16string(kVendor) + u"28")) << c.what;
    EXPECT_EQ(UntouchedKeys(fresh), std::vector<std::string>{}) << c.what;
    EXPECT_EQ(fresh.handles.OpenCount(), 0U) << c.what;
  }
}

// Failing rows do not stop the step: every later row and the vendor key
// are still deleted.
TEST_F(InstallerKeysTest, FailingRowsDoNotStopTheOthers) {
  RegisterBoth(machine);
  machine.faults.Add({"RegDeleteKeyW", u"\\Installer\\", 0, -1, 5});
  RemoveInstallerKeys(kProductCode, kPackedProductCode, kPackedUpgradeCode);
  for (int row = 1; row <= 8; ++row) {
    EXPECT_TRUE(KeyExists(machine, RowKey(row))) << "row " << row;
  }
  for (int row = 9; row <= 11; ++row) {
    EXPECT_FALSE(KeyExists(machine, RowKey(row))) << "row " << row;
  }
  EXPECT_FALSE(KeyExists(machine, std::u16string(kVendor) + u"28"));
  ExpectNoOpenHandles();
}

}  // namespace
