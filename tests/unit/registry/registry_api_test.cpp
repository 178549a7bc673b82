// The simulated registry's calls, as the cleaner relies on them: what each
// returns, what it writes into the caller's buffers, and that handles see
// deletions made through any other path at once.
#include <functional>
#include <string>
#include <vector>

#include "sim/win32/windows.h"
#include "tests/support/sim_fixture.h"
#include "tests/unit/registry/registry_test_support.h"

namespace {

using registry_testing::KeyExists;
using registry_testing::KeysBelow;
using registry_testing::SetValue;
using registry_testing::SzData;

class RegistryApiTest : public testing_support::SimTest {
 protected:
  HKEY Open(const char16_t* sub_key, REGSAM access) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, sub_key, 0, access, &key), ERROR_SUCCESS) << sim::ToUtf8(sub_key);
    return key;
  }

  // The name RegEnumKeyExW gives at this index, or "<code>" on failure.
  std::string EnumKey(HKEY key, DWORD index) {
    WCHAR name[MAX_PATH] = {};
    DWORD cch_name = MAX_PATH;
    const LSTATUS result = RegEnumKeyExW(key, index, name, &cch_name, nullptr, nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS) {
      return "<" + std::to_string(result) + ">";
    }
    EXPECT_EQ(cch_name, std::u16string_view(name).size());
    return sim::ToUtf8(name);
  }
};

TEST_F(RegistryApiTest, EnumKeyListsSubkeysInSortedOrderIgnoringCaseThenNoMoreItems) {
  for (const char16_t* name : {u"gamma", u"Beta", u"alpha2", u"ALPHA"}) {
    machine.registry.Create(std::u16string(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\") + name);
  }
  HKEY key = Open(u"SOFTWARE\\T", KEY_READ);
  std::vector<std::string> names;
  for (DWORD index = 0; index < 5; ++index) {
    names.push_back(EnumKey(key, index));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"ALPHA", "alpha2", "Beta", "gamma", "<259>"}));
  EXPECT_EQ(EnumKey(key, 0xFFFFFFFF), "<259>");
  RegCloseKey(key);
  EXPECT_EQ(Calls({"RegEnumKeyExW"})[1], "RegEnumKeyExW(HKEY_LOCAL_MACHINE\\SOFTWARE\\T[1])=0");
  ExpectNoOpenHandles();
}

// The name capacity counts the terminator; a name that does not fit gives
// 234 and leaves both the buffer and the size as they were.
TEST_F(RegistryApiTest, EnumKeyNameSizes) {
  machine.registry.Create(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\Seven77");
  HKEY key = Open(u"SOFTWARE\\T", KEY_READ);
  struct Case {
    DWORD cch_in;
    LSTATUS result;
    DWORD cch_out;
    std::u16string buffer;
  };
  const Case cases[] = {
      {8, ERROR_SUCCESS, 7, u"Seven77"},    {260, ERROR_SUCCESS, 7, u"Seven77"},  {7, ERROR_MORE_DATA, 7, u"########"},
      {1, ERROR_MORE_DATA, 1, u"########"}, {0, ERROR_MORE_DATA, 0, u"########"},
  };
  for (const Case& c : cases) {
    WCHAR name[9] = u"########";
    DWORD cch_name = c.cch_in;
    EXPECT_EQ(RegEnumKeyExW(key, 0, name, &cch_name, nullptr, nullptr, nullptr, nullptr), c.result) << c.cch_in;
    EXPECT_EQ(cch_name, c.cch_out) << c.cch_in;
    EXPECT_EQ(std::u16string(name), c.buffer) << c.cch_in;
  }
  RegCloseKey(key);
  ExpectNoOpenHandles();
}

// A key deleted through the root vanishes at once from a handle's
// enumeration of its parent: index 0 then names the next remaining subkey.
TEST_F(RegistryApiTest, DeletionThroughAnotherPathShowsAtOnceInOpenEnumeration) {
  for (const char16_t* name : {u"A", u"B", u"C"}) {
    machine.registry.Create(std::u16string(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\") + name);
  }
  HKEY key = Open(u"SOFTWARE\\T", KEY_READ);
  EXPECT_EQ(EnumKey(key, 0), "A");
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\T\\A"), ERROR_SUCCESS);
  EXPECT_EQ(EnumKey(key, 0), "B");
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"software\\t\\c"), ERROR_SUCCESS);
  EXPECT_EQ(EnumKey(key, 1), "<259>");
  RegCloseKey(key);
  ExpectNoOpenHandles();
}

TEST_F(RegistryApiTest, EveryCallOnHandleWhoseKeyWasDeletedGivesKeyDeleted) {
  SetValue(machine, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\Gone", u"V", REG_SZ, SzData(u"x"));
  HKEY key = Open(u"SOFTWARE\\T\\Gone", KEY_ALL_ACCESS);
  ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\T\\Gone"), ERROR_SUCCESS);
  WCHAR name[MAX_PATH] = {};
  DWORD cch_name = MAX_PATH;
  BYTE data[16] = {};
  DWORD cb_data = sizeof(data);
  DWORD count = 0;
  HKEY below = nullptr;
  EXPECT_EQ(RegEnumKeyExW(key, 0, name, &cch_name, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(RegEnumValueW(key, 0, name, &cch_name, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegQueryValueExW(key, u"V", nullptr, nullptr, data, &cb_data), ERROR_KEY_DELETED);
  EXPECT_EQ(RegDeleteValueW(key, u"V"), ERROR_KEY_DELETED);
  EXPECT_EQ(RegOpenKeyExW(key, u"Sub", 0, KEY_READ, &below), ERROR_KEY_DELETED);
  EXPECT_EQ(RegDeleteKeyW(key, u"Sub"), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  ExpectNoOpenHandles();
}

// Each call needs its right on the handle, as on Windows.
TEST_F(RegistryApiTest, CallsNeedTheirAccessRight) {
  SetValue(machine, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\Sub", u"V", REG_SZ, SzData(u"x"));
  SetValue(machine, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T", u"V", REG_SZ, SzData(u"x"));
  struct Case {
    const char* what;
    REGSAM access;
    std::function<LSTATUS(HKEY)> call;
    LSTATUS result;
  };
  auto enum_key = [](HKEY key) {
    WCHAR name[MAX_PATH] = {};
    DWORD cch_name = MAX_PATH;
    return RegEnumKeyExW(key, 0, name, &cch_name, nullptr, nullptr, nullptr, nullptr);
  };
  auto enum_value = [](HKEY key) {
    WCHAR name[MAX_PATH] = {};
    DWORD cch_name = MAX_PATH;
    return RegEnumValueW(key, 0, name, &cch_name, nullptr, nullptr, nullptr, nullptr);
  };
  auto query_info = [](HKEY key) {
    DWORD subkeys = 0;
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr);
  };
  auto delete_value = [](HKEY key) { return RegDeleteValueW(key, u"V"); };
  const Case cases[] = {
      {"enumerate keys without KEY_ENUMERATE_SUB_KEYS", KEY_QUERY_VALUE, enum_key, ERROR_ACCESS_DENIED},
      {"enumerate keys with it", KEY_ENUMERATE_SUB_KEYS, enum_key, ERROR_SUCCESS},
      {"enumerate values without KEY_QUERY_VALUE", KEY_ENUMERATE_SUB_KEYS, enum_value, ERROR_ACCESS_DENIED},
      {"enumerate values with it", KEY_QUERY_VALUE, enum_value, ERROR_SUCCESS},
      {"query info without KEY_QUERY_VALUE", KEY_ENUMERATE_SUB_KEYS, query_info, ERROR_ACCESS_DENIED},
      {"query info with it", KEY_QUERY_VALUE, query_info, ERROR_SUCCESS},
      {"delete a value with KEY_READ", KEY_READ, delete_value, ERROR_ACCESS_DENIED},
      {"delete a value with KEY_SET_VALUE", KEY_SET_VALUE, delete_value, ERROR_SUCCESS},
  };
  for (const Case& c : cases) {
    HKEY key = Open(u"SOFTWARE\\T", c.access);
    EXPECT_EQ(c.call(key), c.result) << c.what;
    RegCloseKey(key);
  }
  EXPECT_EQ(machine.registry.Find(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T")->FindValue(u"V"), nullptr);
  ExpectNoOpenHandles();
}

TEST_F(RegistryApiTest, DeleteKeyResults) {
  struct Case {
    const char* what;
    bool elevated;
    HKEY root;
    const char16_t* sub_key;
    LSTATUS result;
    const char16_t* key_after;  // the key named, by its full path
    bool exists_after;
  };
  const Case cases[] = {
      {"a key without subkeys", true, HKEY_LOCAL_MACHINE, u"SOFTWARE\\T\\Leaf", ERROR_SUCCESS,
       u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\Leaf", false},
      {"letter case ignored", true, HKEY_LOCAL_MACHINE, u"software\\t\\LEAF", ERROR_SUCCESS,
       u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\Leaf", false},
      {"a key with subkeys", true, HKEY_LOCAL_MACHINE, u"SOFTWARE\\T\\Tree", ERROR_ACCESS_DENIED,
       u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\Tree\\Sub", true},
      {"a missing key", true, HKEY_LOCAL_MACHINE, u"SOFTWARE\\T\\Missing", ERROR_FILE_NOT_FOUND,
       u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\Missing", false},
      {"below a missing key", true, HKEY_LOCAL_MACHINE, u"SOFTWARE\\Missing\\Leaf", ERROR_FILE_NOT_FOUND,
       u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\Leaf", true},
      {"a key that denies deletion", true, HKEY_LOCAL_MACHINE, u"SOFTWARE\\T\\Kept", ERROR_ACCESS_DENIED,
       u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\Kept", true},
      {"machine-wide without administrator rights", false, HKEY_LOCAL_MACHINE, u"SOFTWARE\\T\\Leaf",
       ERROR_ACCESS_DENIED, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\Leaf", true},
      {"classes root without administrator rights", false, HKEY_CLASSES_ROOT, u"Installer\\Leaf", ERROR_ACCESS_DENIED,
       u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Leaf", true},
      {"the user's own key without administrator rights", false, HKEY_CURRENT_USER, u"Software\\Leaf", ERROR_SUCCESS,
       u"HKEY_CURRENT_USER\\Software\\Leaf", false},
      {"classes root shows the machine's classes", true, HKEY_CLASSES_ROOT, u"Installer\\Leaf", ERROR_SUCCESS,
       u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Leaf", false},
      {"the root itself", true, HKEY_LOCAL_MACHINE, u"", ERROR_ACCESS_DENIED, u"HKEY_LOCAL_MACHINE\\SOFTWARE", true},
      {"backslashes alone name the root", true, HKEY_LOCAL_MACHINE, u"\\\\", ERROR_ACCESS_DENIED,
       u"HKEY_LOCAL_MACHINE\\SOFTWARE", true},
      {"no subkey text", true, HKEY_LOCAL_MACHINE, nullptr, ERROR_INVALID_PARAMETER, u"HKEY_LOCAL_MACHINE\\SOFTWARE",
       true},
  };
  for (const Case& c : cases) {
    sim::Machine fresh;
    sim::ScopedMachine scope(fresh);
    for (const char16_t* path :
         {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\Leaf", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\Tree\\Sub",
          u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Leaf", u"HKEY_CURRENT_USER\\Software\\Leaf"}) {
      fresh.registry.Create(path);
    }
    fresh.registry.Create(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\Kept")->deny_delete = true;
    fresh.process.elevated = c.elevated;
    EXPECT_EQ(RegDeleteKeyW(c.root, c.sub_key), c.result) << c.what;
    EXPECT_EQ(fresh.registry.Find(c.key_after) != nullptr, c.exists_after) << c.what;
    EXPECT_EQ(fresh.journal.Count("RegDeleteKeyW"), 1U) << c.what;
    EXPECT_EQ(fresh.handles.OpenCount(), 0U) << c.what;
  }
}

// Through an open handle: its subkeys by relative path, and with an empty
// subkey the handle's own key, which needs DELETE access on the handle.
TEST_F(RegistryApiTest, DeleteKeyBelowAnOpenHandle) {
  machine.registry.Create(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\Sub");
  HKEY read = Open(u"SOFTWARE\\T", KEY_READ);
  EXPECT_EQ(RegDeleteKeyW(read, u"Sub"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(read, u""), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(KeyExists(machine, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T"));
  HKEY all = Open(u"SOFTWARE\\T", KEY_ALL_ACCESS);
  EXPECT_EQ(RegDeleteKeyW(all, u""), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(machine, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T"));
  EXPECT_EQ(RegQueryInfoKeyW(read, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_KEY_DELETED);
  RegCloseKey(all);
  RegCloseKey(read);
  ExpectNoOpenHandles();
}

TEST_F(RegistryApiTest, EnumValueListsValuesInCreationOrderWithTheirSizes) {
  const char16_t* key_path = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T";
  SetValue(machine, key_path, u"zeta", REG_SZ, SzData(u"last letter"));
  SetValue(machine, key_path, u"Alpha", REG_DWORD, {1, 0, 0, 0});
  SetValue(machine, key_path, u"", REG_SZ, SzData(u"default"));
  HKEY key = Open(u"SOFTWARE\\T", KEY_READ);
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    WCHAR name[1024] = {};
    DWORD cch_name = 1024;
    const LSTATUS result = RegEnumValueW(key, index, name, &cch_name, nullptr, nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS) {
      EXPECT_EQ(result, ERROR_NO_MORE_ITEMS);
      break;
    }
    EXPECT_EQ(cch_name, std::u16string_view(name).size());
    names.push_back("[" + sim::ToUtf8(name) + "]");
  }
  EXPECT_EQ(names, (std::vector<std::string>{"[zeta]", "[Alpha]", "[]"}));

  // A name that does not fit: 234, buffer and size unchanged.
  WCHAR name[5] = u"####";
  DWORD cch_name = 4;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &cch_name, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(cch_name, 4U);
  EXPECT_EQ(std::u16string(name), u"####");
  cch_name = 5;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &cch_name, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(cch_name, 4U);

  // Data that does not fit: 234 with the size needed; then type and data.
  BYTE data[24] = {};
  DWORD cb_data = 8;
  DWORD type = REG_NONE;
  cch_name = 5;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &cch_name, nullptr, &type, data, &cb_data), ERROR_MORE_DATA);
  EXPECT_EQ(cb_data, 24U);
  cch_name = 5;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &cch_name, nullptr, &type, data, &cb_data), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(std::vector<std::uint8_t>(data, data + cb_data), SzData(u"last letter"));
  RegCloseKey(key);
  ExpectNoOpenHandles();
}

TEST_F(RegistryApiTest, QueryInfoGivesTheCountsAskedFor) {
  const char16_t* key_path = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T";
  for (const char16_t* name : {u"A", u"Longest", u"B"}) {
    machine.registry.Create(std::u16string(key_path) + u"\\" + name + u"\\Below");
  }
  SetValue(machine, key_path, u"Value", REG_SZ, SzData(u"12345"));
  SetValue(machine, key_path, u"V", REG_DWORD, {1, 0, 0, 0});
  HKEY key = Open(u"SOFTWARE\\T", KEY_READ);
  DWORD subkeys = 99;
  DWORD values = 99;
  EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 3U);
  EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 2U);
  DWORD cch_max_sub_key = 0;
  DWORD cch_max_value_name = 0;
  DWORD cb_max_value = 0;
  EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, &cch_max_sub_key, nullptr, nullptr,
                             &cch_max_value_name, &cb_max_value, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(cch_max_sub_key, 7U);
  EXPECT_EQ(cch_max_value_name, 5U);
  EXPECT_EQ(cb_max_value, 12U);
  RegCloseKey(key);
  ExpectNoOpenHandles();
}

TEST_F(RegistryApiTest, DeleteValueRemovesTheValueOrGivesFileNotFound) {
  const char16_t* key_path = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T";
  SetValue(machine, key_path, u"First", REG_SZ, SzData(u"1"));
  SetValue(machine, key_path, u"Second", REG_SZ, SzData(u"2"));
  HKEY key = Open(u"SOFTWARE\\T", KEY_ALL_ACCESS);
  EXPECT_EQ(RegDeleteValueW(key, u"FIRST"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key, u"First"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
  const auto& values = machine.registry.Find(key_path)->values();
  ASSERT_EQ(values.size(), 1U);
  EXPECT_EQ(values[0].name, u"Second");
  EXPECT_EQ(Calls({"RegDeleteValueW"}), (std::vector<std::string>{
                                            "RegDeleteValueW(HKEY_LOCAL_MACHINE\\SOFTWARE\\T@FIRST)=0",
                                            "RegDeleteValueW(HKEY_LOCAL_MACHINE\\SOFTWARE\\T@First)=2",
                                        }));
  ExpectNoOpenHandles();
}

// A fault rule makes any registry call fail with its code, once, and the
// journal records the failed call like any other.
TEST_F(RegistryApiTest, EveryCallAsksTheFaultsAndIsJournaled) {
  SetValue(machine, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\Sub", u"V", REG_SZ, SzData(u"x"));
  SetValue(machine, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T", u"V", REG_SZ, SzData(u"x"));
  constexpr std::uint32_t kInjected = 1234;
  struct Case {
    const char* call;
    std::function<LSTATUS(HKEY)> run;
  };
  const Case cases[] = {
      {"RegOpenKeyExW",
       [](HKEY key) {
         HKEY sub = nullptr;
         const LSTATUS result = RegOpenKeyExW(key, u"Sub", 0, KEY_READ, &sub);
         if (sub != nullptr) {
           RegCloseKey(sub);
         }
         return result;
       }},
      {"RegQueryValueExW",
       [](HKEY key) {
         BYTE data[8] = {};
         DWORD cb_data = sizeof(data);
         return RegQueryValueExW(key, u"V", nullptr, nullptr, data, &cb_data);
       }},
      {"RegEnumKeyExW",
       [](HKEY key) {
         WCHAR name[MAX_PATH] = {};
         DWORD cch_name = MAX_PATH;
         return RegEnumKeyExW(key, 0, name, &cch_name, nullptr, nullptr, nullptr, nullptr);
       }},
      {"RegEnumValueW",
       [](HKEY key) {
         WCHAR name[MAX_PATH] = {};
         DWORD cch_name = MAX_PATH;
         return RegEnumValueW(key, 0, name, &cch_name, nullptr, nullptr, nullptr, nullptr);
       }},
      {"RegQueryInfoKeyW",
       [](HKEY key) {
         DWORD values = 0;
         return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                                 nullptr, nullptr);
       }},
      {"RegDeleteValueW", [](HKEY key) { return RegDeleteValueW(key, u"V"); }},
      {"RegDeleteKeyW", [](HKEY key) { return RegDeleteKeyW(key, u"Sub"); }},
  };
  for (const Case& c : cases) {
    HKEY key = Open(u"SOFTWARE\\T", KEY_ALL_ACCESS);
    machine.faults.Add({c.call, u"software\\T", 0, 1, kInjected});
    EXPECT_EQ(c.run(key), static_cast<LSTATUS>(kInjected)) << c.call;
    ASSERT_FALSE(machine.journal.calls().empty());
    EXPECT_EQ(machine.journal.calls().back().call, c.call);
    EXPECT_EQ(machine.journal.calls().back().result, kInjected) << c.call;
    EXPECT_EQ(c.run(key), ERROR_SUCCESS) << c.call << " after the one fault";
    RegCloseKey(key);
  }
  EXPECT_EQ(machine.faults.fired(), std::size(cases));
  EXPECT_TRUE(KeysBelow(machine, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T").empty());
  ExpectNoOpenHandles();
}

}  // namespace
