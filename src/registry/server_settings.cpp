#include "src/registry/server_settings.h"

#include "src/files/directory_tree.h"
#include "src/files/parent_directory.h"
#include "src/registry/key_tree.h"
#include "src/text/wide_text.h"

const WCHAR* const ServerSubkeyTable[kServerSubkeyCount] = {
    TEXT("HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\34\\.core"),
    TEXT("HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\34\\1093"),
    TEXT("HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\34\\1102"),
    TEXT("HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\34\\1103"),
    TEXT("HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\34\\Connectors_"),
    TEXT("HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\34\\EventsFilter"),
    TEXT("HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\34\\TestProduct"),
};

namespace {

const WCHAR kServerComponentKey[] = TEXT("SOFTWARE\\Morvathen\\Components\\34");
const WCHAR kLibraryName[] = TEXT("\\nq.dll");

constexpr DWORD kCbSettingsValue = 4096;
constexpr DWORD kCchSettingsValue = kCbSettingsValue / sizeof(WCHAR);
constexpr DWORD kCchValueName = 1024;
// Value names held at once: 16 names of 1024 units take 32 KB of stack.
constexpr int kValueNamesPerRound = 16;
// Far more values than the key ever holds; only a registry that keeps
// answering with new values meets it.
constexpr int kMaxValueRounds = 4096;

// Reads a REG_SZ value into text (kCchSettingsValue units, all zero). True
// when the text ends within the data read; data stored without its
// terminator is the whole text when there is room left to end it.
bool ReadSettingsPath(HKEY key, const WCHAR* value_name, WCHAR* text) {
  DWORD type = 0;
  DWORD cb_data = kCbSettingsValue;
  const LSTATUS status = RegQueryValueExW(key, value_name, nullptr, &type, reinterpret_cast<LPBYTE>(text), &cb_data);
  if (status != ERROR_SUCCESS || type != REG_SZ || cb_data > kCbSettingsValue) {
    return false;
  }
  const DWORD cch_data = cb_data / sizeof(WCHAR);
  std::size_t cch_text = 0;
  if (TextLengthWithin(text, cch_data, &cch_text)) {
    return true;
  }
  if (cch_data < kCchSettingsValue) {
    text[cch_data] = 0;
    return true;
  }
  return false;
}

// Removes the settings-store directory that a value names, and with
// with_library the library in the folder above it, after the directory.
void RemoveSettingsStore(HKEY key, const WCHAR* value_name, bool with_library) {
  WCHAR text[kCchSettingsValue] = {};
  WCHAR directory[MAX_PATH] = {};
  WCHAR library[MAX_PATH] = {};
  if (!ReadSettingsPath(key, value_name, text) || !GetParentDirectory(text, directory) || directory[0] == 0) {
    return;
  }
  // A refused directory is no store of the product's: nothing beside it
  // is touched either.
  const bool removed = RemoveDirectoryTree(directory);
  if (removed && with_library && GetParentDirectory(directory, library) && library[0] != 0 &&
      TextAppend(library, MAX_PATH, kLibraryName)) {
    DeleteFileW(library);
  }
}

// Deletes every value of the key, in rounds of at most kValueNamesPerRound
// names, each round collecting all its names before its first deletion.
void DeleteAllValues(HKEY key) {
  WCHAR names[kValueNamesPerRound][kCchValueName];
  DWORD first_index = 0;  // values in front of it stayed in earlier rounds
  bool more = true;
  for (int round = 0; more && round < kMaxValueRounds; ++round) {
    int count = 0;
    DWORD index = first_index;
    bool ended = false;
    while (!ended && count < kValueNamesPerRound) {
      DWORD cch_name = kCchValueName;
      const LSTATUS status = RegEnumValueW(key, index, names[count], &cch_name, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_SUCCESS) {
        ++count;
        ++index;
      } else if (status == ERROR_MORE_DATA) {
        ++index;  // a name of 1024 units or more is not collected; that value stays
      } else {
        ended = true;  // ERROR_NO_MORE_ITEMS, or a failure that ends the enumeration
      }
    }
    // A round that filled up before the enumeration ended is followed by another.
    more = !ended;
    DWORD deleted = 0;
    for (int i = 0; i < count; ++i) {
      if (RegDeleteValueW(key, names[i]) == ERROR_SUCCESS) {
        ++deleted;
      }
    }
    // The values of this round that stayed now follow those of the earlier
    // rounds; the next round starts behind them.
    first_index = index - deleted;
  }
}

}  // namespace

bool CleanServerSettings() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServerComponentKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    RemoveSettingsStore(key, TEXT("SS_SETTINGS"), true);
    RemoveSettingsStore(key, TEXT("SS_E2S"), false);
    DeleteAllValues(key);
    RegCloseKey(key);
    for (const WCHAR* subkey : ServerSubkeyTable) {
      DeleteKeyByPath(subkey);
    }
  }
  return true;
}
