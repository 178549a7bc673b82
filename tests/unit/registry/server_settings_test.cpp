// Cleaning the server's settings: the settings-store directories and the
// library beside the first, every value of the server component key, and
// the seven subkeys of ServerSubkeyTable, with the log they leave.
#include "src/registry/server_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "src/log/run_log.h"
#include "tests/support/sim_fixture.h"
#include "tests/unit/registry/registry_test_support.h"

namespace {

using registry_testing::KeyExists;
using registry_testing::KeysBelow;
using registry_testing::SetValue;
using registry_testing::SzData;
using testing_support::LogLines;

const char16_t kServerKey[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\34";

// The seven "Component" lines, in table order.
std::string ComponentLines() {
  std::string lines;
  for (const char* subkey : {".core", "1093", "1102", "1103", "Connectors_", "EventsFilter", "TestProduct"}) {
    lines += LogLines({std::string("Component HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\34\\") + subkey});
  }
  return lines;
}

class ServerSettingsTest : public testing_support::SimTest {
 protected:
  // The server key with its seven subkeys (one of them deeper) and one
  // subkey that is not in the table.
  void BuildServerKey() {
    for (const char16_t* subkey : {u"\\.core", u"\\1093\\1.0.0.0", u"\\1102", u"\\1103", u"\\Connectors_\\Mail",
                                   u"\\EventsFilter", u"\\TestProduct", u"\\Licensing"}) {
      machine.registry.Create(std::u16string(kServerKey) + subkey);
    }
  }

  void SetText(const char16_t* name, std::u16string_view text) { machine.registry.SetString(kServerKey, name, text); }

  std::vector<std::string> ValueNames() {
    std::vector<std::string> names;
    if (auto key = machine.registry.Find(kServerKey)) {
      for (const sim::RegistryValue& value : key->values()) {
        names.push_back(sim::ToUtf8(value.name));
      }
    }
    return names;
  }

  // Runs the cleanup between the log's opening and closing; the log's bytes.
  std::string Clean() {
    EXPECT_TRUE(OpenRunLog());
    EXPECT_TRUE(CleanServerSettings());
    CloseRunLog();
    return LogBytes();
  }

  // Only the subkey outside the table is left, and the key itself.
  void ExpectOnlyForeignSubkeyLeft() {
    EXPECT_TRUE(KeyExists(machine, kServerKey));
    EXPECT_EQ(KeysBelow(machine, kServerKey), std::vector<std::string>{"Licensing"});
  }
};

TEST_F(ServerSettingsTest, AbsentOrRefusedKeyLeavesNoLineAndTouchesNothing) {
  // Absent: nothing is deleted, not even the subkeys that might exist
  // elsewhere, and the log stays empty.
  EXPECT_EQ(Clean(), "");
  EXPECT_EQ(machine.journal.Count("RegDeleteKeyW"), 0U);

  // Present but refused for writing: the same.
  BuildServerKey();
  SetText(u"SS_SETTINGS", u"C:\\Data\\Store\\settings.dat");
  machine.files.MakeFile(u"C:\\Data\\Store\\settings.dat");
  machine.registry.Find(kServerKey)->deny_write_access = true;
  EXPECT_EQ(Clean(), "");
  EXPECT_TRUE(machine.files.Exists(u"C:\\Data\\Store\\settings.dat"));
  EXPECT_EQ(ValueNames(), std::vector<std::string>{"SS_SETTINGS"});
  EXPECT_EQ(KeysBelow(machine, kServerKey).size(), 10U);
  EXPECT_EQ(machine.journal.Count("RegDeleteKeyW"), 0U);
  EXPECT_EQ(machine.journal.Count("RegDeleteValueW"), 0U);
  ExpectNoOpenHandles();
}

TEST_F(ServerSettingsTest, KeyWithoutValuesStillLosesItsSevenSubkeys) {
  BuildServerKey();
  EXPECT_EQ(Clean(), ComponentLines());
  EXPECT_EQ(Calls({"RegEnumValueW", "RegDeleteValueW"}),
            std::vector<std::string>{"RegEnumValueW(" + sim::ToUtf8(kServerKey) + "[0])=259"});
  ExpectOnlyForeignSubkeyLeft();
  ExpectNoOpenHandles();
}

// The whole step: the store directory, then the library in the folder above
// it; the second store without a library; every value; the seven subkeys.
TEST_F(ServerSettingsTest, StoresLibraryValuesAndSubkeysGo) {
  BuildServerKey();
  SetText(u"SS_SETTINGS", u"C:\\Data\\Store\\settings.dat");
  SetText(u"InstallDir", u"C:\\Program Files (x86)\\Morvathen\\Server");
  SetText(u"SS_E2S", u"C:\\Data\\E2S\\e2s.dat");
  SetValue(machine, kServerKey, u"Version", REG_DWORD, {4, 0, 0, 0});
  machine.files.MakeFile(u"C:\\Data\\Store\\settings.dat", "s");
  machine.files.MakeFile(u"C:\\Data\\E2S\\e2s.dat", "e");
  machine.files.MakeFile(u"C:\\Data\\nq.dll", "MZ");
  machine.files.MakeFile(u"C:\\Data\\kept.txt", "kept");
  machine.files.MakeFile(u"C:\\nq.dll", "not beside the store");

  EXPECT_EQ(Clean(), LogLines({
                         "Removing Dir C:\\Data\\Store",
                         "Deleting file C:\\Data\\Store\\settings.dat",
                         "OK",
                         "Removing Dir C:\\Data\\E2S",
                         "Deleting file C:\\Data\\E2S\\e2s.dat",
                         "OK",
                     }) + ComponentLines());
  EXPECT_FALSE(machine.files.Exists(u"C:\\Data\\Store"));
  EXPECT_FALSE(machine.files.Exists(u"C:\\Data\\E2S"));
  EXPECT_FALSE(machine.files.Exists(u"C:\\Data\\nq.dll"));
  EXPECT_TRUE(machine.files.Exists(u"C:\\Data\\kept.txt"));
  EXPECT_TRUE(machine.files.Exists(u"C:\\nq.dll"));
  // The library goes after its store's directory, and only once.
  const std::vector<std::string> file_calls = Calls({"DeleteFileW", "RemoveDirectoryW"});
  const auto store_gone = std::find(file_calls.begin(), file_calls.end(), "RemoveDirectoryW(C:\\Data\\Store)=0");
  const auto library_gone = std::find(file_calls.begin(), file_calls.end(), "DeleteFileW(C:\\Data\\nq.dll)=0");
  EXPECT_LT(store_gone, library_gone);
  EXPECT_EQ(machine.journal.Count("DeleteFileW", u"C:\\Data\\nq.dll"), 1U);
  // Every name is collected before the first deletion, deleted in order.
  const std::string key = sim::ToUtf8(kServerKey);
  EXPECT_EQ(Calls({"RegEnumValueW", "RegDeleteValueW"}), (std::vector<std::string>{
                                                             "RegEnumValueW(" + key + "[0])=0",
                                                             "RegEnumValueW(" + key + "[1])=0",
                                                             "RegEnumValueW(" + key + "[2])=0",
                                                             "RegEnumValueW(" + key + "[3])=0",
                                                             "RegEnumValueW(" + key + "[4])=259",
                                                             "RegDeleteValueW(" + key + "@SS_SETTINGS)=0",
                                                             "RegDeleteValueW(" + key + "@InstallDir)=0",
                                                             "RegDeleteValueW(" + key + "@SS_E2S)=0",
                                                             "RegDeleteValueW(" + key + "@Version)=0",
                                                         }));
  EXPECT_TRUE(ValueNames().empty());
  ExpectOnlyForeignSubkeyLeft();
  ExpectNoOpenHandles();
}

// Both values in one directory: the second removal finds it gone, and no
// library is deleted for the second value.
TEST_F(ServerSettingsTest, BothValuesInOneDirectory) {
  BuildServerKey();
  SetText(u"SS_SETTINGS", u"C:\\Data\\Store\\settings.dat");
  SetText(u"SS_E2S", u"C:\\Data\\Store\\e2s.dat");
  machine.files.MakeFile(u"C:\\Data\\Store\\settings.dat");
  machine.files.MakeFile(u"C:\\Data\\nq.dll");

  EXPECT_EQ(Clean(), LogLines({
                         "Removing Dir C:\\Data\\Store",
                         "Deleting file C:\\Data\\Store\\settings.dat",
                         "OK",
                         "Removing Dir C:\\Data\\Store",
                         "cannot drop attributes 2",
                         "Cannot remove dir 2",
                     }) + ComponentLines());
  EXPECT_EQ(machine.journal.Count("DeleteFileW", u"C:\\Data\\nq.dll"), 1U);
  EXPECT_FALSE(machine.files.Exists(u"C:\\Data\\nq.dll"));
  ExpectNoOpenHandles();
}

// Values that name no usable directory leave the files alone; the rest of
// the step goes on: the values are deleted and the subkeys too.
TEST_F(ServerSettingsTest, ValuesThatNameNoDirectoryTouchNoFile) {
  const std::u16string long_text = u"C:\\" + std::u16string(2100, u'x') + u"\\s.dat";
  std::vector<std::uint8_t> unterminated_full(4096, 'a');  // 2048 units of U+6161, no terminator
  struct Case {
    const char* name;
    std::function<void(sim::Machine&)> set;
  };
  const Case cases[] = {
      {"missing", [](sim::Machine&) {}},
      {"REG_EXPAND_SZ",
       [](sim::Machine& m) {
         SetValue(m, kServerKey, u"SS_SETTINGS", REG_EXPAND_SZ, SzData(u"C:\\Data\\Store\\settings.dat"));
       }},
      {"larger than 4096 bytes", [&](sim::Machine& m) { m.registry.SetString(kServerKey, u"SS_SETTINGS", long_text); }},
      {"4096 bytes without a terminator",
       [&](sim::Machine& m) { SetValue(m, kServerKey, u"SS_SETTINGS", REG_SZ, unterminated_full); }},
      {"no backslash", [](sim::Machine& m) { m.registry.SetString(kServerKey, u"SS_SETTINGS", u"settings.dat"); }},
      {"directory of 260 units",
       [](sim::Machine& m) {
         m.registry.SetString(kServerKey, u"SS_SETTINGS", u"C:\\" + std::u16string(257, u'd') + u"\\s.dat");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine fresh;
    sim::ScopedMachine scope(fresh);
    fresh.registry.Create(std::u16string(kServerKey) + u"\\.core");
    c.set(fresh);
    fresh.files.MakeFile(u"C:\\Data\\Store\\settings.dat");
    fresh.files.MakeFile(u"C:\\Data\\nq.dll");
    ASSERT_TRUE(OpenRunLog());
    CleanServerSettings();
    CloseRunLog();
    EXPECT_EQ(fresh.files.ReadFile(fresh.process.temp_path + u"$vornalet.log"), ComponentLines());
    EXPECT_EQ(fresh.journal.Count("RemoveDirectoryW") + fresh.journal.Count("DeleteFileW"), 0U);
    EXPECT_TRUE(fresh.registry.Find(kServerKey)->values().empty());
    EXPECT_EQ(fresh.registry.Find(std::u16string(kServerKey) + u"\\.core"), nullptr);
    EXPECT_EQ(fresh.handles.OpenCount(), 0U);
  }
}

// A text stored without its terminator, shorter than the buffer, is the
// whole of its data.
TEST_F(ServerSettingsTest, TextStoredWithoutTerminatorIsUsedWhole) {
  BuildServerKey();
  std::vector<std::uint8_t> data = SzData(u"C:\\Data\\Store\\settings.dat");
  data.resize(data.size() - 2);
  SetValue(machine, kServerKey, u"SS_SETTINGS", REG_SZ, data);
  machine.files.MakeFile(u"C:\\Data\\Store\\settings.dat");
  machine.files.MakeFile(u"C:\\Data\\nq.dll");
  EXPECT_EQ(Clean(), LogLines({"Removing Dir C:\\Data\\Store", "Deleting file C:\\Data\\Store\\settings.dat", "OK"}) +
                         ComponentLines());
  EXPECT_FALSE(machine.files.Exists(u"C:\\Data\\nq.dll"));
  ExpectNoOpenHandles();
}

// Directories go through the tree removal's refusals; a refused store has
// no library of ours beside it either.
TEST_F(ServerSettingsTest, RefusedStoreDirectoriesKeepEverything) {
  struct Case {
    std::u16string settings;
    std::string line;
  };
  const Case cases[] = {
      {u"D:\\settings.dat", "Refusing to remove root dir D:"},
      {u"C:\\Windows\\settings.dat", "Refusing to remove system dir C:\\Windows"},
      {u"C:\\ProgramData\\settings.dat", "Refusing to remove system dir C:\\ProgramData"},
      {u"Store\\settings.dat", "Refusing to remove dir, not a full path Store"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    sim::Machine fresh;
    sim::ScopedMachine scope(fresh);
    fresh.registry.SetString(kServerKey, u"SS_SETTINGS", c.settings);
    fresh.files.MakeFile(u"D:\\settings.dat");
    fresh.files.MakeFile(u"C:\\Windows\\settings.dat");
    fresh.files.MakeFile(u"C:\\ProgramData\\settings.dat");
    fresh.files.MakeFile(u"C:\\nq.dll");
    ASSERT_TRUE(OpenRunLog());
    CleanServerSettings();
    CloseRunLog();
    EXPECT_EQ(fresh.files.ReadFile(fresh.process.temp_path + u"$vornalet.log"), LogLines({c.line}) + ComponentLines());
    EXPECT_EQ(fresh.journal.Count("RemoveDirectoryW") + fresh.journal.Count("DeleteFileW"), 0U);
    EXPECT_TRUE(fresh.files.Exists(u"C:\\nq.dll"));
    EXPECT_EQ(fresh.handles.OpenCount(), 0U);
  }
}

// A store directly in a drive root is the product's own; the library then
// sits in the root.
TEST_F(ServerSettingsTest, StoreInADriveRootTakesTheLibraryFromTheRoot) {
  SetText(u"SS_SETTINGS", u"C:\\Store\\settings.dat");
  machine.files.MakeFile(u"C:\\Store\\settings.dat");
  machine.files.MakeFile(u"C:\\nq.dll");
  Clean();
  EXPECT_FALSE(machine.files.Exists(u"C:\\Store"));
  EXPECT_FALSE(machine.files.Exists(u"C:\\nq.dll"));
  ExpectNoOpenHandles();
}

// A library path that would pass 259 units deletes nothing: the file that
// a shortened path would name stays.
TEST_F(ServerSettingsTest, OverlongLibraryPathDeletesNothing) {
  const std::u16string parent = u"C:\\" + std::u16string(251, u'p');  // 254 units; with "\nq.dll" 261
  SetText(u"SS_SETTINGS", parent + u"\\S\\s");
  machine.files.MakeFile(parent + u"\\S\\s");
  machine.files.MakeFile(parent + u"\\nq.dll");
  machine.files.MakeFile(parent + u"\\nq.d");  // the first 259 units of the library path
  Clean();
  EXPECT_FALSE(machine.files.Exists(parent + u"\\S"));
  EXPECT_TRUE(machine.files.Exists(parent + u"\\nq.dll"));
  EXPECT_TRUE(machine.files.Exists(parent + u"\\nq.d"));
  EXPECT_EQ(machine.journal.Count("DeleteFileW"), 1U);  // the store's file alone
  ExpectNoOpenHandles();
}

// More values than one round of names holds, some of which stay (a
// deletion refused, a name of 1024 units): every other value goes, each
// round collects all its names before deleting, and the rounds end.
TEST_F(ServerSettingsTest, ManyValuesAreDeletedInRounds) {
  BuildServerKey();
  const std::u16string long_name(1024, u'L');
  std::vector<std::string> expected;
  for (int i = 0; i < 40; ++i) {
    const std::u16string name = sim::FromUtf8((i < 10 ? "Value0" : "Value") + std::to_string(i));
    SetText(name.c_str(), u"x");
    // More values stay than one round holds names.
    if (i % 2 == 1) {
      machine.faults.Add({"RegDeleteValueW", u"@" + name, 0, -1, ERROR_ACCESS_DENIED});
      expected.push_back(sim::ToUtf8(name));
    }
    if (i == 20) {
      SetText(long_name.c_str(), u"x");
      expected.push_back(sim::ToUtf8(long_name));
    }
  }
  EXPECT_EQ(Clean(), ComponentLines());
  EXPECT_EQ(ValueNames(), expected);
  // Within each round, enumerations come first, then deletions.
  std::vector<std::string> calls = Calls({"RegEnumValueW", "RegDeleteValueW"});
  int rounds = 0;
  bool deleting = true;
  for (const std::string& call : calls) {
    const bool enumerates = call.rfind("RegEnumValueW", 0) == 0;
    if (enumerates && deleting) {
      ++rounds;
    }
    deleting = !enumerates;
  }
  EXPECT_GE(rounds, 3);
  EXPECT_LT(calls.size(), 200U);
  ExpectOnlyForeignSubkeyLeft();
  ExpectNoOpenHandles();
}

// An enumeration that fails midway ends the collection: the names
// collected before are deleted, the rest stays, and the step goes on.
TEST_F(ServerSettingsTest, EnumerationThatFailsEndsTheCollection) {
  BuildServerKey();
  for (const char16_t* name : {u"A", u"B", u"C", u"D"}) {
    SetText(name, u"x");
  }
  machine.faults.Add({"RegEnumValueW", u"[2]", 0, 1, ERROR_KEY_DELETED});
  EXPECT_EQ(Clean(), ComponentLines());
  EXPECT_EQ(ValueNames(), (std::vector<std::string>{"C", "D"}));
  ExpectOnlyForeignSubkeyLeft();
  ExpectNoOpenHandles();
}

}  // namespace
