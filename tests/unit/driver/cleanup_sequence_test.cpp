// The order of the cleanup actions in a whole run on the built-in machine,
// seen in the journal of platform calls and in the log.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/core/text.h"
#include "tests/support/sim_fixture.h"

namespace {

std::string ReadBuiltinImage() {
  std::ifstream in(std::string(VORNALET_SOURCE_DIR) + "/machines/builtin.json", std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

class CleanupSequenceTest : public testing_support::SimTest {
 protected:
  void SetUp() override { Load(ReadBuiltinImage()); }

  // Index in the journal of the first call of this name whose subject
  // contains the text; the journal's size when there is none.
  std::size_t FirstCall(const std::string& call, std::u16string_view contains = u"") const {
    const std::vector<sim::CallRecord>& calls = machine.journal.calls();
    for (std::size_t i = 0; i < calls.size(); ++i) {
      if (calls[i].call == call && sim::Fold(calls[i].subject).find(sim::Fold(contains)) != std::u16string::npos) {
        return i;
      }
    }
    return calls.size();
  }
  std::size_t LastCall(const std::string& call, std::u16string_view contains = u"") const {
    const std::vector<sim::CallRecord>& calls = machine.journal.calls();
    for (std::size_t i = calls.size(); i > 0; --i) {
      if (calls[i - 1].call == call &&
          sim::Fold(calls[i - 1].subject).find(sim::Fold(contains)) != std::u16string::npos) {
        return i - 1;
      }
    }
    return calls.size();
  }
};

TEST_F(CleanupSequenceTest, ActionsRunInTheirFixedOrder) {
  ASSERT_EQ(Run(u""), 0);
  const std::size_t end = machine.journal.calls().size();
  const std::size_t last_service = LastCall("DeleteService");
  const std::size_t account = FirstCall("NetUserDel");
  const std::size_t first_component = FirstCall("RegDeleteKeyW", u"UserData\\S-1-5-18\\Components\\");
  const std::size_t last_component = LastCall("RegDeleteKeyW", u"UserData\\S-1-5-18\\Components\\");
  const std::size_t first_registration = FirstCall("RegDeleteKeyW", u"Installer\\UpgradeCodes");
  const std::size_t vendor_key_28 = FirstCall("RegDeleteKeyW", u"Morvathen\\Components\\28");
  const std::size_t settings_directory = FirstCall("RemoveDirectoryW", u"C:\\ProgramData\\Morvathen");
  const std::size_t settings_keys = FirstCall("RegDeleteKeyW", u"Components\\34\\");
  const std::size_t account_key = FirstCall("RegDeleteKeyW", u"34\\1093\\1.0.0.0");
  const std::size_t product_directory = FirstCall("RemoveDirectoryW", u"Program Files (x86)\\Morvathen\\Server");
  for (std::size_t index : {last_service, account, first_component, first_registration, vendor_key_28,
                            settings_directory, settings_keys, account_key, product_directory}) {
    ASSERT_LT(index, end);
  }
  EXPECT_LT(last_service, account);
  EXPECT_LT(account, account_key) << "the account is deleted before the key that names it";
  EXPECT_LT(account, first_component);
  EXPECT_LT(last_component, first_registration);
  EXPECT_LT(first_registration, vendor_key_28);
  EXPECT_LT(vendor_key_28, settings_directory);
  EXPECT_LT(settings_directory, settings_keys);
  EXPECT_LT(settings_keys, product_directory);
  EXPECT_EQ(LastCall("RemoveDirectoryW"), LastCall("RemoveDirectoryW", u"Program Files (x86)\\Morvathen\\Server"))
      << "the product directory is the last thing removed";
  ExpectNoOpenHandles();
}

TEST_F(CleanupSequenceTest, ComponentsAreLoggedAndDeletedBeforeTheRegistrationKeys) {
  ASSERT_EQ(Run(u""), 0);
  const std::string log = LogBytes();
  const std::string components = "Removing product components...\r\n";
  const std::size_t start = log.find(components);
  ASSERT_NE(start, std::string::npos);
  const std::size_t first_full_path = log.find("Component HKEY_");
  std::vector<std::string> listed;
  std::istringstream lines(log.substr(start + components.size(), first_full_path - start - components.size()));
  for (std::string line; std::getline(lines, line);) {
    listed.push_back(line);
  }
  const std::string prefix =
      "Component SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\";
  ASSERT_EQ(listed.size(), 4U);
  for (const std::string& line : listed) {
    EXPECT_EQ(line.rfind(prefix, 0), 0U) << line;
  }
  // From the highest enumeration index down: names in descending order.
  EXPECT_TRUE(std::is_sorted(listed.rbegin(), listed.rend()));
  // The component shared with the console stays, and so does its product.
  EXPECT_TRUE(
      machine.registry.Find(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\"
                            u"UserData\\S-1-5-18\\Products\\01D2B4E8F3C6E7A41B9DF0E2C3D4A5B6"));
}

// Every action failing changes nothing about the exit code: without
// administrator rights no service, account or machine-wide key can be
// touched, and the run still ends with 0 once the product is identified.
TEST_F(CleanupSequenceTest, ExitCodeIsZeroWhateverTheActionsReport) {
  machine.process.elevated = false;
  EXPECT_EQ(Run(u""), 0);
  const std::string log = LogBytes();
  for (const char* expected : {"Service was not deleted Ostrivel\r\nError code is 5\r\n",
                               "Deleting server service account MvSrvSvc\r\nError 5\r\n"}) {
    EXPECT_NE(log.find(expected), std::string::npos) << expected;
  }
  EXPECT_TRUE(machine.registry.Find(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\28"));
  ExpectNoOpenHandles();
}

}  // namespace
