// Deleting a registry key with everything below it: DeleteKeyTree by root
// and key path, DeleteKeyByPath by full path with its "Component" line.
#include "src/registry/key_tree.h"

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

const std::vector<std::string> kRegistryCalls = {"RegDeleteKeyW", "RegOpenKeyExW",    "RegEnumKeyExW",
                                                 "RegCloseKey",   "RegQueryValueExW", "RegQueryInfoKeyW"};

class KeyTreeTest : public testing_support::SimTest {
 protected:
  void CreateKeys(std::initializer_list<const char16_t*> paths) {
    for (const char16_t* path : paths) {
      machine.registry.Create(path);
    }
  }

  // The keys RegDeleteKeyW removed, in order.
  std::vector<std::string> Deleted() const {
    std::vector<std::string> deleted;
    for (const std::string& line : Calls({"RegDeleteKeyW"})) {
      if (line.size() > 2 && line.compare(line.size() - 2, 2, "=0") == 0) {
        deleted.push_back(line.substr(14, line.size() - 14 - 3));
      }
    }
    return deleted;
  }

  // A key path below HKEY_LOCAL_MACHINE of exactly cch characters, made of
  // names of at most 100 characters below SOFTWARE\<base>, created in the
  // registry.
  std::u16string CreateLongKey(std::size_t cch, const char16_t* base = u"Long") {
    std::u16string path = u"SOFTWARE\\" + std::u16string(base);
    while (path.size() < cch) {
      const std::size_t cch_left = cch - path.size();
      std::size_t cch_name = std::min<std::size_t>(100, cch_left - 1);
      if (cch_left - 1 - cch_name == 1) {
        --cch_name;  // never leave room for a backslash alone
      }
      path += u"\\" + std::u16string(cch_name, u'n');
    }
    machine.registry.Create(u"HKEY_LOCAL_MACHINE\\" + path);
    return path;
  }
};

TEST_F(KeyTreeTest, KeyWithoutSubkeysGoesWithOneCallAndIsNeverOpened) {
  SetValue(machine, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\V\\Leaf", u"Name", REG_SZ, SzData(u"value"));
  machine.registry.Create(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\V\\Other");
  EXPECT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, u"SOFTWARE\\V\\Leaf"));
  EXPECT_EQ(Calls(kRegistryCalls),
            (std::vector<std::string>{"RegDeleteKeyW(HKEY_LOCAL_MACHINE\\SOFTWARE\\V\\Leaf)=0"}));
  EXPECT_EQ(KeysBelow(machine, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\V"), (std::vector<std::string>{"Other"}));
  ExpectNoOpenHandles();
}

TEST_F(KeyTreeTest, MissingKeyCountsAsDeleted) {
  EXPECT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Missing\\Key"));
  EXPECT_EQ(Calls(kRegistryCalls), (std::vector<std::string>{
                                       "RegDeleteKeyW(HKEY_LOCAL_MACHINE\\SOFTWARE\\Missing\\Key)=2",
                                       "RegOpenKeyExW(HKEY_LOCAL_MACHINE\\SOFTWARE\\Missing\\Key)=2",
                                   }));
  ExpectNoOpenHandles();
}

// Children go through the root and their full path, always found at index
// 0 of the parent's open handle; the handle is closed before the parent's
// own deletion.
TEST_F(KeyTreeTest, TwoLeavesExactCalls) {
  CreateKeys({u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\A", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\B"});
  EXPECT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, u"SOFTWARE\\T"));
  EXPECT_EQ(Calls(kRegistryCalls), (std::vector<std::string>{
                                       "RegDeleteKeyW(HKEY_LOCAL_MACHINE\\SOFTWARE\\T)=5",
                                       "RegOpenKeyExW(HKEY_LOCAL_MACHINE\\SOFTWARE\\T)=0",
                                       "RegEnumKeyExW(HKEY_LOCAL_MACHINE\\SOFTWARE\\T[0])=0",
                                       "RegDeleteKeyW(HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\A)=0",
                                       "RegEnumKeyExW(HKEY_LOCAL_MACHINE\\SOFTWARE\\T[0])=0",
                                       "RegDeleteKeyW(HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\B)=0",
                                       "RegEnumKeyExW(HKEY_LOCAL_MACHINE\\SOFTWARE\\T[0])=259",
                                       "RegCloseKey(HKEY_LOCAL_MACHINE\\SOFTWARE\\T)=0",
                                       "RegDeleteKeyW(HKEY_LOCAL_MACHINE\\SOFTWARE\\T)=0",
                                   }));
  EXPECT_FALSE(KeyExists(machine, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T"));
  ExpectNoOpenHandles();
}

TEST_F(KeyTreeTest, TreeIsDeletedDepthFirstEachKeyAfterItsSubkeys) {
  CreateKeys({u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\b\\B1", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\A\\A2\\X",
              u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\A\\A1", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\C",
              u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T2\\Kept", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\S\\Kept"});
  EXPECT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, u"SOFTWARE\\T"));
  EXPECT_EQ(Deleted(), (std::vector<std::string>{
                           "HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\A\\A1",
                           "HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\A\\A2\\X",
                           "HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\A\\A2",
                           "HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\A",
                           "HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\b\\B1",
                           "HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\b",
                           "HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\C",
                           "HKEY_LOCAL_MACHINE\\SOFTWARE\\T",
                       }));
  EXPECT_EQ(KeysBelow(machine, u"HKEY_LOCAL_MACHINE\\SOFTWARE"),
            (std::vector<std::string>{"Classes", "S", "S\\Kept", "T2", "T2\\Kept"}));
  ExpectNoOpenHandles();
}

// The second of three subkeys cannot be deleted: the first is gone, the
// second, the third and every key above them stay, and the false result
// travels up so that no later sibling of an ancestor is touched either.
TEST_F(KeyTreeTest, UndeletableSubkeyStopsItsParentAndEveryAncestor) {
  CreateKeys({u"HKEY_LOCAL_MACHINE\\SOFTWARE\\P\\T\\A", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\P\\T\\C",
              u"HKEY_LOCAL_MACHINE\\SOFTWARE\\P\\Z"});
  machine.registry.Create(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\P\\T\\B")->deny_delete = true;
  EXPECT_FALSE(DeleteKeyTree(HKEY_LOCAL_MACHINE, u"SOFTWARE\\P"));
  EXPECT_EQ(KeysBelow(machine, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\P"),
            (std::vector<std::string>{"T", "T\\B", "T\\C", "Z"}));
  EXPECT_EQ(Deleted(), (std::vector<std::string>{"HKEY_LOCAL_MACHINE\\SOFTWARE\\P\\T\\A"}));
  EXPECT_EQ(machine.journal.Count("RegDeleteKeyW", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\P\\T\\C"), 0U);
  EXPECT_EQ(machine.journal.Count("RegDeleteKeyW", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\P\\Z"), 0U);
  ExpectNoOpenHandles();
}

// Failures inside the tree: each leaves the key, and the result is false.
TEST_F(KeyTreeTest, FailuresLeaveTheKeyAndGiveFalse) {
  struct Case {
    const char* what;
    sim::FaultRule fault;
    bool deny_delete_of_key;
    std::vector<std::string> left;  // below SOFTWARE\T afterwards
  };
  const Case cases[] = {
      {"the key cannot be opened", {"RegOpenKeyExW", u"SOFTWARE\\T", 0, 1, 5}, false, {"A", "B"}},
      {"the enumeration fails", {"RegEnumKeyExW", u"SOFTWARE\\T[", 0, 1, 5}, false, {"A", "B"}},
      {"the enumeration fails after the first child", {"RegEnumKeyExW", u"SOFTWARE\\T[", 1, 1, 1234}, false, {"B"}},
      {"the key's own final deletion fails", {}, true, {}},
  };
  for (const Case& c : cases) {
    sim::Machine fresh;
    sim::ScopedMachine scope(fresh);
    fresh.registry.Create(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\A");
    fresh.registry.Create(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\B");
    fresh.registry.Find(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T")->deny_delete = c.deny_delete_of_key;
    if (!c.fault.call.empty()) {
      fresh.faults.Add(c.fault);
    }
    EXPECT_FALSE(DeleteKeyTree(HKEY_LOCAL_MACHINE, u"SOFTWARE\\T")) << c.what;
    EXPECT_TRUE(KeyExists(fresh, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T")) << c.what;
    EXPECT_EQ(KeysBelow(fresh, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T"), c.left) << c.what;
    EXPECT_EQ(fresh.handles.OpenCount(), 0U) << c.what;
  }
}

// Windows limits key names to 255 characters; the simulated registry does
// not, which lets a name reach the enumeration's 260-character buffer.
TEST_F(KeyTreeTest, SubkeyNameTooLongForTheNameBufferEndsTheLoop) {
  const std::u16string long_name(MAX_PATH, u'x');
  CreateKeys({u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\z"});
  machine.registry.Create(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\" + long_name);
  EXPECT_FALSE(DeleteKeyTree(HKEY_LOCAL_MACHINE, u"SOFTWARE\\T"));
  EXPECT_EQ(KeysBelow(machine, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T").size(), 2U);
  EXPECT_EQ(Calls({"RegEnumKeyExW"}),
            (std::vector<std::string>{"RegEnumKeyExW(HKEY_LOCAL_MACHINE\\SOFTWARE\\T[0])=234"}));
  ExpectNoOpenHandles();
}

TEST_F(KeyTreeTest, KeyPathEndingInBackslashGetsNoSecondBackslash) {
  CreateKeys({u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\A\\B"});
  EXPECT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, u"SOFTWARE\\T\\"));
  EXPECT_EQ(Deleted(), (std::vector<std::string>{
                           "HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\A\\B",
                           "HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\A",
                           "HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\",
                       }));
  EXPECT_FALSE(KeyExists(machine, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T"));
  ExpectNoOpenHandles();
}

// A key path that names the root, or that does not fit the path buffer
// with its trailing backslash, deletes nothing and makes no registry call,
// even when the key it would name exists without subkeys.
TEST_F(KeyTreeTest, KeyPathsThatNameTheRootOrDoNotFitDeleteNothing) {
  const std::u16string cch520 = CreateLongKey(520);
  struct Case {
    const char* what;
    const char16_t* key_path;
  };
  const Case cases[] = {
      {"null", nullptr},
      {"empty", u""},
      {"one backslash", u"\\"},
      {"only backslashes", u"\\\\\\"},
      {"520 characters", cch520.c_str()},
  };
  for (const Case& c : cases) {
    machine.journal.Clear();
    EXPECT_FALSE(DeleteKeyTree(HKEY_LOCAL_MACHINE, c.key_path)) << c.what;
    EXPECT_EQ(Calls(kRegistryCalls), std::vector<std::string>{}) << c.what;
  }
  EXPECT_TRUE(KeyExists(machine, u"HKEY_LOCAL_MACHINE\\" + cch520));
  ExpectNoOpenHandles();
}

TEST_F(KeyTreeTest, KeyPathsAtTheLimit) {
  // 518 characters: the key's path with its backslash fits, but no
  // child's path does.
  const std::u16string cch518 = CreateLongKey(518);
  machine.registry.Create(u"HKEY_LOCAL_MACHINE\\" + cch518 + u"\\c");
  EXPECT_FALSE(DeleteKeyTree(HKEY_LOCAL_MACHINE, cch518.c_str())) << "its child's path has 520 characters";
  EXPECT_TRUE(KeyExists(machine, u"HKEY_LOCAL_MACHINE\\" + cch518 + u"\\c"));

  // 519 characters: a key without subkeys is deleted whole by the first
  // call; one with subkeys has no room for the backslash in front of their
  // names, so the subkeys are never named and everything stays.
  const std::u16string cch519 = CreateLongKey(519);
  EXPECT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, cch519.c_str()));
  EXPECT_FALSE(KeyExists(machine, u"HKEY_LOCAL_MACHINE\\" + cch519));
  machine.registry.Create(u"HKEY_LOCAL_MACHINE\\" + cch519 + u"\\c");
  machine.journal.Clear();
  EXPECT_FALSE(DeleteKeyTree(HKEY_LOCAL_MACHINE, cch519.c_str()));
  EXPECT_TRUE(KeyExists(machine, u"HKEY_LOCAL_MACHINE\\" + cch519 + u"\\c"));
  EXPECT_EQ(Calls({"RegEnumKeyExW"}), std::vector<std::string>{});
  EXPECT_EQ(machine.journal.Count("RegDeleteKeyW"), 2U);

  // A child path of exactly 519 characters is deleted.
  const std::u16string cch517 = CreateLongKey(517, u"Other");
  machine.registry.Create(u"HKEY_LOCAL_MACHINE\\" + cch517 + u"\\c");
  EXPECT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, cch517.c_str()));
  EXPECT_FALSE(KeyExists(machine, u"HKEY_LOCAL_MACHINE\\" + cch517));
  ExpectNoOpenHandles();
}

// A child whose path would pass 519 characters is never shortened and
// used: the loop ends, child and key stay, and the only deletions tried
// are the key's own.
TEST_F(KeyTreeTest, ChildPathThatDoesNotFitIsNeverShortened) {
  const std::u16string cch510 = CreateLongKey(510);
  const std::u16string key = u"HKEY_LOCAL_MACHINE\\" + cch510;
  machine.registry.Create(key + u"\\child_name");
  EXPECT_FALSE(DeleteKeyTree(HKEY_LOCAL_MACHINE, cch510.c_str()));
  EXPECT_EQ(KeysBelow(machine, key), (std::vector<std::string>{"child_name"}));
  EXPECT_EQ(machine.journal.Count("RegDeleteKeyW"), 2U);
  EXPECT_EQ(machine.journal.Count("RegDeleteKeyW", key), 2U);
  EXPECT_EQ(machine.journal.Count("RegOpenKeyExW"), 1U);
  ExpectNoOpenHandles();
}

TEST_F(KeyTreeTest, ByPathLogsComponentAndDeletesTheKey) {
  CreateKeys({u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\34\\.core\\Sub",
              u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\34\\1102"});
  WCHAR full_path[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\34\\.core";
  const std::u16string before = full_path;
  OpenRunLog();
  EXPECT_TRUE(DeleteKeyByPath(full_path));
  EXPECT_TRUE(DeleteKeyByPath(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\34\\Missing"));
  CloseRunLog();
  EXPECT_EQ(std::u16string(full_path), before);
  EXPECT_EQ(LogBytes(), LogLines({
                            "Component HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\34\\.core",
                            "Component HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\34\\Missing",
                        }));
  EXPECT_EQ(KeysBelow(machine, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\34"),
            (std::vector<std::string>{"1102"}));
  ExpectNoOpenHandles();
}

// Each root of the table, by its exact name; HKEY_CLASSES_ROOT shows the
// machine's classes.
TEST_F(KeyTreeTest, ByPathRecognisesTheFourRootNames) {
  struct Case {
    const char16_t* full_path;
    const char16_t* key;  // where the key lives
  };
  const Case cases[] = {
      {u"HKEY_CLASSES_ROOT\\Installer\\Products\\P", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Products\\P"},
      {u"HKEY_CURRENT_USER\\Software\\V\\K", u"HKEY_CURRENT_USER\\Software\\V\\K"},
      {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\V\\K", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\V\\K"},
      {u"HKEY_USERS\\S-1-5-18\\Software\\K", u"HKEY_USERS\\S-1-5-18\\Software\\K"},
  };
  for (const Case& c : cases) {
    machine.registry.Create(std::u16string(c.key) + u"\\Sub");
    EXPECT_TRUE(DeleteKeyByPath(c.full_path)) << sim::ToUtf8(c.full_path);
    EXPECT_FALSE(KeyExists(machine, c.key)) << sim::ToUtf8(c.full_path);
  }
  ExpectNoOpenHandles();
}

// Texts whose root name is not one of the table exactly, that have no key
// path below the root, or that do not fit: false after the "Component"
// line, no registry call, every key in place.
TEST_F(KeyTreeTest, ByPathRefusesAnythingButAnExactRootAndAKeyBelowIt) {
  CreateKeys({u"HKEY_LOCAL_MACHINE\\SOFTWARE\\V\\K", u"HKEY_CURRENT_USER\\Software\\V\\K"});
  // 520 characters; its first 519 name an existing key, long_key.
  const std::u16string long_key = CreateLongKey(499);
  const std::u16string too_long = u"HKEY_LOCAL_MACHINE\\" + long_key + u"\\k";
  ASSERT_EQ(too_long.size(), 520U);
  machine.registry.Create(too_long);
  const char16_t* const texts[] = {
      u"hkey_local_machine\\SOFTWARE\\V\\K",
      u"HKEY_Local_Machine\\SOFTWARE\\V\\K",
      u"HKLM\\SOFTWARE\\V\\K",
      u"HKCU\\Software\\V\\K",
      u"HKEY_LOCAL_MACHINE \\SOFTWARE\\V\\K",
      u"HKEY_LOCAL_MACHINEX\\SOFTWARE\\V\\K",
      u"HKEY_CURRENT_CONFIG\\Software\\V\\K",
      u"\\SOFTWARE\\V\\K",
      u"HKEY_LOCAL_MACHINE",
      u"HKEY_LOCAL_MACHINE\\",
      u"HKEY_LOCAL_MACHINE\\\\",
      u"HKEY_LOCAL_MACHINE\\\\\\\\",
      u"HKEY_CURRENT_USER\\",
      u"",
      too_long.c_str(),
  };
  OpenRunLog();
  std::string expected_log;
  for (const char16_t* text : texts) {
    EXPECT_FALSE(DeleteKeyByPath(text)) << sim::ToUtf8(text);
    expected_log += "Component " + sim::ToUtf8(text) + "\r\n";
  }
  CloseRunLog();
  EXPECT_EQ(LogBytes(), expected_log);
  EXPECT_EQ(Calls(kRegistryCalls), std::vector<std::string>{});
  EXPECT_TRUE(KeyExists(machine, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\V\\K"));
  EXPECT_TRUE(KeyExists(machine, u"HKEY_CURRENT_USER\\Software\\V\\K"));
  EXPECT_TRUE(KeyExists(machine, too_long));
  ExpectNoOpenHandles();
}

TEST_F(KeyTreeTest, ByPathWithNullTextLogsTheMessageAlone) {
  OpenRunLog();
  EXPECT_FALSE(DeleteKeyByPath(nullptr));
  CloseRunLog();
  EXPECT_EQ(LogBytes(), LogLines({"Component"}));
  EXPECT_EQ(Calls(kRegistryCalls), std::vector<std::string>{});
}

// Without administrator rights a machine-wide key cannot be deleted: the
// key is opened for reading, its subkeys refuse, and everything stays.
TEST_F(KeyTreeTest, WithoutAdministratorRightsNothingMachineWideIsDeleted) {
  machine.process.elevated = false;
  CreateKeys({u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\A", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\B"});
  EXPECT_FALSE(DeleteKeyByPath(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T"));
  EXPECT_EQ(KeysBelow(machine, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T"), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(Deleted(), std::vector<std::string>{});
  ExpectNoOpenHandles();
}

}  // namespace
