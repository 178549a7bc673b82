// CollectProductComponents: the component registrations that belong to the
// product alone, collected from the highest enumeration index down, in
// passes of at most kMaxComponentKeys paths.
#include "src/installer/component_scan.h"

#include <memory>
#include <string>
#include <vector>

#include "src/log/run_log.h"
#include "src/registry/key_tree.h"
#include "tests/support/product_machine.h"
#include "tests/support/sim_fixture.h"
#include "tests/unit/registry/registry_test_support.h"

namespace {

using registry_testing::KeyExists;
using registry_testing::KeysBelow;
using registry_testing::SetValue;
using registry_testing::SzData;

using testing_support::kComponentsKey;
using testing_support::kOtherPackedProductCode;
using testing_support::kPackedProductCode;
using testing_support::kProductCode;
constexpr char kComponentsPath[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\";

class ComponentScanTest : public testing_support::SimTest {
 protected:
  ComponentScanTest() : list_(new ComponentKeyList()) {}

  static std::u16string Component(std::u16string_view name) { return kComponentsKey + (u"\\" + std::u16string(name)); }

  // A component key holding the product's value alone, a path.
  void AddOwn(sim::Machine& m, std::u16string_view name) {
    SetValue(m, Component(name), kPackedProductCode, REG_SZ, SzData(u"C:\\Server\\file.dll"));
  }
  void AddShared(sim::Machine& m, std::u16string_view name) {
    AddOwn(m, name);
    SetValue(m, Component(name), kOtherPackedProductCode, REG_SZ, SzData(u"C:\\Server\\file.dll"));
  }

  std::vector<std::string> Paths() const {
    std::vector<std::string> paths;
    for (int i = 0; i < list_->count; ++i) {
      paths.push_back(sim::ToUtf8(list_->paths[i]));
    }
    return paths;
  }

  // Every pass, each followed by the deletion of what it collected, as the
  // cleanup sequence does it: the paths in the order they were collected.
  std::vector<std::string> CollectAndDeleteInPasses(int* passes) {
    std::vector<std::string> collected;
    *passes = 0;
    if (CollectProductComponents(list_.get(), kProductCode)) {
      do {
        ++*passes;
        for (int i = 0; i < list_->count; ++i) {
          collected.push_back(sim::ToUtf8(list_->paths[i]));
          DeleteKeyTree(HKEY_LOCAL_MACHINE, list_->paths[i]);
        }
      } while (CollectMoreProductComponents(list_.get(), kProductCode));
    }
    return collected;
  }

  std::unique_ptr<ComponentKeyList> list_;
};

// A component is collected only when its one value is the product's, of
// type REG_SZ, readable into 4096 bytes; anything else skips it silently.
TEST_F(ComponentScanTest, QualifiesOnlyWithTheProductsStringValueAlone) {
  const auto text_of_bytes = [](std::size_t cb) { return SzData(std::u16string(cb / 2 - 1, u'p')); };
  struct Value {
    const char16_t* name;
    std::uint32_t type;
    std::vector<std::uint8_t> data;
  };
  struct Case {
    const char* what;
    std::vector<Value> values;
    bool deny_write_access;
    bool collected;
  };
  const Case cases[] = {
      {"the product's path", {{kPackedProductCode, REG_SZ, SzData(u"C:\\Server\\a.dll")}}, false, true},
      {"an empty string", {{kPackedProductCode, REG_SZ, SzData(u"")}}, false, true},
      {"string data of 4096 bytes", {{kPackedProductCode, REG_SZ, text_of_bytes(4096)}}, false, true},
      {"string data of 4098 bytes", {{kPackedProductCode, REG_SZ, text_of_bytes(4098)}}, false, false},
      {"odd data of 4097 bytes", {{kPackedProductCode, REG_SZ, std::vector<std::uint8_t>(4097, 0x41)}}, false, false},
      {"the value name in lower case",
       {{u"14c9a2f3e6b751d48a2c950e4d7b6f31", REG_SZ, SzData(u"C:\\Server\\a.dll")}},
       false,
       true},
      {"an expandable string", {{kPackedProductCode, REG_EXPAND_SZ, SzData(u"%ProgramFiles%\\a.dll")}}, false, false},
      {"a multi-string", {{kPackedProductCode, REG_MULTI_SZ, SzData(u"a")}}, false, false},
      {"raw bytes", {{kPackedProductCode, REG_BINARY, {1, 2, 3}}}, false, false},
      {"a number", {{kPackedProductCode, REG_DWORD, {1, 0, 0, 0}}}, false, false},
      {"shared with another product",
       {{kPackedProductCode, REG_SZ, SzData(u"a")}, {kOtherPackedProductCode, REG_SZ, SzData(u"a")}},
       false,
       false},
      {"with a default value", {{kPackedProductCode, REG_SZ, SzData(u"a")}, {u"", REG_SZ, SzData(u"")}}, false, false},
      {"another product's value alone", {{kOtherPackedProductCode, REG_SZ, SzData(u"a")}}, false, false},
      {"no value at all", {}, false, false},
      {"readable but not openable with KEY_ALL_ACCESS", {{kPackedProductCode, REG_SZ, SzData(u"a")}}, true, false},
  };
  for (const Case& c : cases) {
    sim::Machine fresh;
    sim::ScopedMachine scope(fresh);
    std::shared_ptr<sim::RegistryKey> key = fresh.registry.Create(Component(u"C"));
    for (const Value& value : c.values) {
      key->SetValue(sim::RegistryValue{value.name, value.type, value.data});
    }
    key->deny_write_access = c.deny_write_access;
    list_->count = 0;
    EXPECT_EQ(CollectProductComponents(list_.get(), kProductCode), c.collected) << c.what;
    EXPECT_EQ(list_->count, c.collected ? 1 : 0) << c.what;
    EXPECT_TRUE(KeyExists(fresh, Component(u"C"))) << c.what;
    EXPECT_EQ(fresh.handles.OpenCount(), 0U) << c.what;
  }
}

// Qualifying components at enumeration indices 2, 5 and 7 are listed 7, 5,
// 2; each path is relative to HKEY_LOCAL_MACHINE. The scan deletes
// nothing and writes no log line.
TEST_F(ComponentScanTest, ListsFromTheHighestIndexDownAndChangesNothing) {
  for (const char16_t* name : {u"C0", u"C1", u"C3", u"C4", u"C6"}) {
    AddShared(machine, name);
  }
  for (const char16_t* name : {u"C2", u"c5", u"C7"}) {
    AddOwn(machine, name);
  }
  OpenRunLog();
  EXPECT_TRUE(CollectProductComponents(list_.get(), kProductCode));
  CloseRunLog();
  EXPECT_EQ(Paths(), (std::vector<std::string>{std::string(kComponentsPath) + "C7", std::string(kComponentsPath) + "c5",
                                               std::string(kComponentsPath) + "C2"}));
  EXPECT_EQ(list_->subkeys_left, 0U);
  EXPECT_EQ(LogBytes(), "");
  EXPECT_EQ(KeysBelow(machine, kComponentsKey).size(), 8U);
  EXPECT_EQ(machine.journal.Count("RegDeleteKeyW") + machine.journal.Count("RegDeleteValueW"), 0U);
  ExpectNoOpenHandles();
}

// A lower-case product code packs to lower case, which still names the
// values Windows Installer wrote in upper case.
TEST_F(ComponentScanTest, LowerCaseProductCodeFindsUpperCaseValueNames) {
  AddOwn(machine, u"C1");
  EXPECT_TRUE(CollectProductComponents(list_.get(), u"{3f2a9c41-7b6e-4d15-a8c2-59e0d4b7f613}"));
  EXPECT_EQ(Paths(), (std::vector<std::string>{std::string(kComponentsPath) + "C1"}));
  ExpectNoOpenHandles();
}

TEST_F(ComponentScanTest, NothingFoundGivesFalseWithAnEmptyList) {
  struct Case {
    const char* what;
    bool create_components_key;
    bool add_shared;
    bool elevated;
  };
  const Case cases[] = {
      {"no Components key", false, false, true},
      {"no component", true, false, true},
      {"only shared components", true, true, true},
      {"no administrator rights to open Components with KEY_ALL_ACCESS", true, true, false},
  };
  for (const Case& c : cases) {
    sim::Machine fresh;
    sim::ScopedMachine scope(fresh);
    if (c.create_components_key) {
      fresh.registry.Create(kComponentsKey);
    }
    if (c.add_shared) {
      AddShared(fresh, u"C1");
    }
    if (!c.elevated) {
      AddOwn(fresh, u"C2");
      fresh.process.elevated = false;
    }
    list_->count = 3;
    EXPECT_FALSE(CollectProductComponents(list_.get(), kProductCode)) << c.what;
    EXPECT_EQ(list_->count, 0) << c.what;
    EXPECT_EQ(fresh.handles.OpenCount(), 0U) << c.what;
  }
}

// A product code that does not pack: false at once, the list as it was,
// and no registry call.
TEST_F(ComponentScanTest, ProductCodeThatDoesNotPackLeavesTheListAndTheRegistryAlone) {
  AddOwn(machine, u"C1");
  const std::u16string codes[] = {u"", u"3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613", std::u16string(kProductCode) + u"}"};
  for (const std::u16string& code : codes) {
    list_->count = 1;
    list_->paths[0][0] = u'#';
    list_->paths[0][1] = 0;
    EXPECT_FALSE(CollectProductComponents(list_.get(), code.c_str())) << sim::ToUtf8(code);
    EXPECT_FALSE(CollectMoreProductComponents(list_.get(), code.c_str())) << sim::ToUtf8(code);
    EXPECT_EQ(Paths(), (std::vector<std::string>{"#"})) << sim::ToUtf8(code);
  }
  EXPECT_FALSE(CollectProductComponents(list_.get(), nullptr));
  EXPECT_FALSE(CollectProductComponents(nullptr, kProductCode));
  EXPECT_TRUE(machine.journal.calls().empty());
}

// The Components path has 80 characters: a name of 178 gives a path of
// 259 and is collected; a longer name is skipped, and no shortened path is
// ever opened or collected.
TEST_F(ComponentScanTest, SubkeyNamesTooLongForThePathAreSkipped) {
  ASSERT_EQ(std::string(kComponentsPath).size(), 81U);
  const std::u16string name178(178, u'a');
  const std::u16string name179(179, u'b');
  const std::u16string name259(259, u'c');
  const std::u16string name260(260, u'd');  // does not even fit the name buffer
  for (const std::u16string& name : {name178, name179, name259, name260}) {
    AddOwn(machine, name);
  }
  // The path a shortened 179-character name would give.
  AddOwn(machine, name179.substr(0, 178));
  EXPECT_TRUE(CollectProductComponents(list_.get(), kProductCode));
  EXPECT_EQ(Paths(), (std::vector<std::string>{std::string(kComponentsPath) + sim::ToUtf8(name179.substr(0, 178)),
                                               std::string(kComponentsPath) + sim::ToUtf8(name178)}));
  EXPECT_EQ(machine.journal.Count("RegOpenKeyExW"), 3U);
  EXPECT_EQ(machine.journal.Count("RegOpenKeyExW", Component(name179.substr(0, 178))), 1U);
  ExpectNoOpenHandles();
}

// A failure on one subkey skips it; a failed count of the subkeys walks
// nothing.
TEST_F(ComponentScanTest, FailuresSkipTheirSubkey) {
  for (const char16_t* name : {u"C0", u"C1", u"C2", u"C3"}) {
    AddOwn(machine, name);
  }
  machine.faults.Add({"RegEnumKeyExW", u"Components[3]", 0, 1, 5});
  machine.faults.Add({"RegOpenKeyExW", u"Components\\C2", 0, 1, 5});
  machine.faults.Add({"RegQueryValueExW", u"Components\\C1@", 0, 1, ERROR_MORE_DATA});
  machine.faults.Add({"RegQueryInfoKeyW", u"Components\\C0", 0, 1, 5});
  EXPECT_FALSE(CollectProductComponents(list_.get(), kProductCode));
  EXPECT_EQ(machine.faults.fired(), 4U);
  EXPECT_TRUE(CollectProductComponents(list_.get(), kProductCode));
  EXPECT_EQ(list_->count, 4);

  machine.faults.Add({"RegQueryInfoKeyW", u"Components", 0, 1, 5});
  EXPECT_FALSE(CollectProductComponents(list_.get(), kProductCode));
  EXPECT_EQ(Calls({"RegEnumKeyExW"}).size(), 4U + 4U);
  ExpectNoOpenHandles();
}

// More qualifying components than one list holds: each pass collects the
// next ones below the point where the last stopped, so that all of them
// are collected once, from the highest index down, as by one unbounded
// pass.
TEST_F(ComponentScanTest, PassesCollectEveryComponentOnceInOrder) {
  constexpr int kOwn = 2 * kMaxComponentKeys + 44;
  std::vector<std::string> expected;
  for (int i = 0; i < kOwn; ++i) {
    char16_t name[16];
    for (int k = 0, n = i; k < 4; ++k, n /= 10) {
      name[3 - k] = static_cast<char16_t>(u'0' + n % 10);
    }
    name[4] = u'o';
    name[5] = 0;
    AddOwn(machine, name);
    name[4] = u's';
    AddShared(machine, name);
    expected.insert(expected.begin(), std::string(kComponentsPath) + sim::ToUtf8(std::u16string(name, 4)) + "o");
  }
  int passes = 0;
  EXPECT_EQ(CollectAndDeleteInPasses(&passes), expected);
  EXPECT_EQ(passes, 3);
  EXPECT_EQ(KeysBelow(machine, kComponentsKey).size(), static_cast<std::size_t>(kOwn));
  // Each subkey was looked at once.
  EXPECT_EQ(machine.journal.Count("RegEnumKeyExW"), 2U * kOwn);
  ExpectNoOpenHandles();
}

// When nothing collected can be deleted, the passes still go on below the
// point where each stopped and end.
TEST_F(ComponentScanTest, PassesEndWhenDeletionsFail) {
  constexpr int kOwn = kMaxComponentKeys + 1;
  for (int i = 0; i < kOwn; ++i) {
    const std::u16string name = u"C" + sim::FromUtf8(std::to_string(1000 + i));
    AddOwn(machine, name);
    machine.registry.Find(Component(name))->deny_delete = true;
  }
  int passes = 0;
  EXPECT_EQ(CollectAndDeleteInPasses(&passes).size(), static_cast<std::size_t>(kOwn));
  EXPECT_EQ(passes, 2);
  EXPECT_EQ(KeysBelow(machine, kComponentsKey).size(), static_cast<std::size_t>(kOwn));
  ExpectNoOpenHandles();
}

// A list filled exactly by the last qualifying component: the next pass
// finds nothing more and empties the list.
TEST_F(ComponentScanTest, NextPassAfterAnExactlyFullListFindsNothing) {
  for (int i = 0; i < kMaxComponentKeys; ++i) {
    AddOwn(machine, u"C" + sim::FromUtf8(std::to_string(1000 + i)));
  }
  AddShared(machine, u"A");
  ASSERT_TRUE(CollectProductComponents(list_.get(), kProductCode));
  EXPECT_EQ(list_->count, kMaxComponentKeys);
  EXPECT_EQ(list_->subkeys_left, 1U);
  EXPECT_FALSE(CollectMoreProductComponents(list_.get(), kProductCode));
  EXPECT_EQ(list_->count, 0);
  EXPECT_EQ(list_->subkeys_left, 0U);
  EXPECT_FALSE(CollectMoreProductComponents(list_.get(), kProductCode));
  ExpectNoOpenHandles();
}

}  // namespace
