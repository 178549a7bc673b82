#include "tests/property/cleanup_model.h"

#include <algorithm>
#include <cstring>

#include "sim/core/text.h"
#include "sim/win32/windows.h"

namespace cleanup_model {

namespace {

// Where a packed code takes each of its 32 units from in the braced text.
constexpr int kPackOrder[32] = {8,  7,  6,  5,  4,  3,  2,  1,  13, 12, 11, 10, 18, 17, 16, 15,
                                21, 20, 23, 22, 26, 25, 28, 27, 30, 29, 32, 31, 34, 33, 36, 35};

enum class CodeForm { kPackedUpgrade, kPackedProduct, kProduct };

struct InstallerRow {
  const char16_t* prefix;
  CodeForm form;
};

// The registration and uninstall keys, each a prefix and the code form
// appended to it.
constexpr InstallerRow kInstallerRows[] = {
    {u"HKEY_CLASSES_ROOT\\Installer\\UpgradeCodes\\", CodeForm::kPackedUpgrade},
    {u"HKEY_CLASSES_ROOT\\Installer\\Features\\", CodeForm::kPackedProduct},
    {u"HKEY_CLASSES_ROOT\\Installer\\Products\\", CodeForm::kPackedProduct},
    {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\UpgradeCodes\\", CodeForm::kPackedUpgrade},
    {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Features\\", CodeForm::kPackedProduct},
    {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Products\\", CodeForm::kPackedProduct},
    {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\",
     CodeForm::kPackedUpgrade},
    {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\",
     CodeForm::kPackedProduct},
    {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\", CodeForm::kProduct},
    {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\InstallShield_",
     CodeForm::kProduct},
    {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\InstallShield Uninstall "
     u"Information\\",
     CodeForm::kProduct},
};

constexpr std::size_t kCchPath = 260;           // MAX_PATH: 259 units and the terminator
constexpr std::size_t kCbSettingsValue = 4096;  // what a settings-store value is read into
constexpr std::size_t kCbAccountName = 520;     // the zero-filled account name buffer
constexpr std::size_t kCchMaxComponentName = 178;
constexpr std::size_t kCchMaxValueName = 1023;

std::string Utf8(std::u16string_view text) { return sim::ToUtf8(text); }

// A registry path as the registry resolves it: the classes root shown
// below the machine's software key, empty parts dropped, letter case
// folded. Nothing for a root the registry does not know.
std::optional<std::u16string> CanonicalKeyPath(std::u16string_view full_path) {
  std::u16string_view rest = full_path;
  const std::u16string_view root = sim::NextPathPart(rest);
  std::u16string path;
  if (root == u"HKEY_CLASSES_ROOT") {
    path = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes";
  } else if (root == u"HKEY_LOCAL_MACHINE" || root == u"HKEY_CURRENT_USER" || root == u"HKEY_USERS") {
    path = std::u16string(root);
  } else {
    return std::nullopt;
  }
  for (std::u16string_view part = sim::NextPathPart(rest); !part.empty(); part = sim::NextPathPart(rest)) {
    path += u'\\';
    path += part;
  }
  return sim::Fold(path);
}

bool IsAtOrBelow(std::u16string_view path, std::u16string_view root) {
  return path.size() >= root.size() && path.substr(0, root.size()) == root &&
         (path.size() == root.size() || path[root.size()] == u'\\');
}

constexpr std::size_t kCchKeyPath = 520;  // a key path below its root, the terminator included

// A key tree that deletion can take apart to the last key: nothing in it
// refuses deletion, every name fits the enumeration buffer, and every path
// below the root (cch_path units for this key) fits with a backslash after
// it.
bool KeyTreeDeletable(const sim::RegistryKey& key, std::size_t cch_path) {
  if (key.deny_delete || key.name().size() >= kCchPath || cch_path + 1 >= kCchKeyPath) {
    return false;
  }
  for (std::size_t i = 0; i < key.SubkeyCount(); ++i) {
    const sim::RegistryKey& child = *key.SubkeyAt(i);
    if (!KeyTreeDeletable(child, cch_path + 1 + child.name().size())) {
      return false;
    }
  }
  return true;
}

// The length of a full key path without its root name and backslash.
std::size_t BelowRoot(std::u16string_view full_path) {
  const std::size_t cut = full_path.find(u'\\');
  return cut == std::u16string_view::npos ? 0 : full_path.size() - cut - 1;
}

std::vector<char16_t> Units(const std::vector<std::uint8_t>& data, std::size_t cb_buffer) {
  std::vector<std::uint8_t> bytes(std::max(cb_buffer, data.size()), 0);
  std::copy(data.begin(), data.end(), bytes.begin());
  std::vector<char16_t> units(bytes.size() / 2);
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return units;
}

// The account name: the value's bytes in a zero-filled 520-byte buffer,
// taken up to the first zero unit, which has to lie within the buffer.
std::optional<std::u16string> AccountName(sim::Machine& machine) {
  std::shared_ptr<sim::RegistryKey> key = machine.registry.Find(kAccountKey);
  const sim::RegistryValue* value = key ? key->FindValue(kAccountValue) : nullptr;
  if (value == nullptr || value->data.size() > kCbAccountName) {
    return std::nullopt;
  }
  const std::vector<char16_t> units = Units(value->data, kCbAccountName);
  auto end = std::find(units.begin(), units.end(), u'\0');
  if (end == units.end() || end == units.begin()) {
    return std::nullopt;
  }
  return std::u16string(units.begin(), end);
}

// A settings-store value's text: REG_SZ data of at most 4096 bytes whose
// text ends within them. Data without a terminating zero unit is read as
// far as it goes but marked uncertain: the cleaner may also leave it alone.
struct SettingText {
  std::u16string text;
  bool certain = true;
};

std::optional<SettingText> ReadSetting(const sim::RegistryKey& key, std::u16string_view name) {
  const sim::RegistryValue* value = key.FindValue(name);
  if (value == nullptr || value->type != REG_SZ || value->data.size() > kCbSettingsValue) {
    return std::nullopt;
  }
  SettingText setting;
  setting.certain = value->data.size() % 2 == 0;
  const std::vector<char16_t> units = Units(value->data, 0);
  auto end = std::find(units.begin(), units.end(), u'\0');
  if (end == units.end()) {
    if (value->data.size() == kCbSettingsValue) {
      return std::nullopt;  // the text does not end within the 4096 bytes
    }
    setting.certain = false;
  }
  setting.text.assign(units.begin(), end);
  return setting;
}

// Where a file system path leads, as the platform resolves it: the entry
// named by the last part is not followed when it is a link.
struct RealEntry {
  std::u16string path;  // the entry's canonical path, names as stored
  std::shared_ptr<sim::FsNode> node;
  bool drive_root = false;
  bool through_link = false;  // a link on the way was followed
};

bool IsAbsolute(std::u16string_view text) {
  return text.size() >= 3 && ((text[0] >= u'A' && text[0] <= u'Z') || (text[0] >= u'a' && text[0] <= u'z')) &&
         text[1] == u':' && text[2] == u'\\';
}

// An absolute path with no empty, "." or ".." part: the text names its
// entry the way the walk builds its own paths.
bool IsPlainText(std::u16string_view text) {
  if (!IsAbsolute(text) || text.size() == 3) {
    return false;
  }
  std::size_t start = 3;
  while (true) {
    const std::size_t cut = text.find(u'\\', start);
    const std::u16string_view part = text.substr(start, cut == std::u16string_view::npos ? cut : cut - start);
    if (part.empty() || part == u"." || part == u"..") {
      return false;
    }
    if (cut == std::u16string_view::npos) {
      return true;
    }
    start = cut + 1;
  }
}

std::optional<RealEntry> Resolve(const sim::FileSystem& files, std::u16string_view text) {
  std::u16string current(text);
  RealEntry real;
  for (int hops = 0; hops < 32; ++hops) {
    if (!IsAbsolute(current)) {
      return std::nullopt;
    }
    std::shared_ptr<sim::FsNode> node = files.Drive(current.substr(0, 2));
    if (!node) {
      return std::nullopt;
    }
    std::vector<std::u16string_view> parts;
    std::u16string_view rest = std::u16string_view(current).substr(3);
    for (std::u16string_view part = sim::NextPathPart(rest); !part.empty(); part = sim::NextPathPart(rest)) {
      if (part == u"..") {
        if (!parts.empty()) {
          parts.pop_back();
        }
      } else if (part != u".") {
        parts.push_back(part);
      }
    }
    std::u16string path = sim::Fold(current.substr(0, 2));
    if (parts.empty()) {
      real.path = path;
      real.node = node;
      real.drive_root = true;
      return real;
    }
    std::u16string next;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      const bool last = i + 1 == parts.size();
      auto it = node->children.find(sim::Fold(parts[i]));
      if (it == node->children.end()) {
        return std::nullopt;
      }
      const sim::DirEntry& entry = it->second;
      if (entry.node->reparse_tag != 0 && !last) {
        next = entry.node->link_target;
        for (std::size_t j = i + 1; j < parts.size(); ++j) {
          next += u'\\';
          next += parts[j];
        }
        real.through_link = true;
        break;
      }
      path += u'\\';
      path += entry.name;
      node = entry.node;
      if (last) {
        real.path = path;
        real.node = node;
        return real;
      }
      if (!node->directory) {
        return std::nullopt;
      }
    }
    current = std::move(next);
  }
  return std::nullopt;
}

// The folders no walk may take: the Windows directory, the program files
// folders, the program data folder, the users folder, as the machine's
// process sees them.
std::vector<std::u16string> ProtectedFolders(const sim::Machine& machine) {
  std::vector<std::u16string> folders = {machine.process.windows_directory};
  for (const char16_t* name : {u"ProgramFiles", u"ProgramFiles(x86)", u"ProgramW6432", u"ProgramData"}) {
    auto it = machine.process.environment.find(name);
    if (it != machine.process.environment.end()) {
      folders.push_back(it->second);
    }
  }
  for (const char16_t* name : {u"USERPROFILE", u"PUBLIC"}) {
    auto it = machine.process.environment.find(name);
    if (it != machine.process.environment.end()) {
      if (std::optional<std::u16string> users = ParentOf(it->second)) {
        folders.push_back(*users);
      }
    }
  }
  std::vector<std::u16string> folded;
  for (const std::u16string& folder : folders) {
    if (std::optional<RealEntry> real = Resolve(machine.files, folder)) {
      folded.push_back(sim::Fold(real->path));
    } else {
      folded.push_back(sim::Fold(folder));
    }
  }
  return folded;
}

bool IsProtected(const std::vector<std::u16string>& folders, const RealEntry& real) {
  if (real.drive_root) {
    return true;
  }
  const std::u16string folded = sim::Fold(real.path);
  return std::any_of(folders.begin(), folders.end(),
                     [&](const std::u16string& folder) { return IsAtOrBelow(folder, folded); });
}

// A directory tree the walk can empty and remove without help: its paths,
// built from the text the walk is given, stay within the limits, and
// nothing in it is held open or refuses deletion. Links are entries of
// their own, removed without being entered.
bool TreeRemovable(const sim::FsNode& node, const std::u16string& text) {
  if (node.undeletable || !node.opens.empty() || text.size() >= kCchPath) {
    return false;
  }
  if (node.reparse_tag != 0) {
    return (node.attributes & FILE_ATTRIBUTE_READONLY) == 0;
  }
  if (!node.directory || node.children.empty()) {
    return true;
  }
  if (text.size() + 2 >= kCchPath) {
    return false;  // the search pattern would not fit
  }
  return std::all_of(node.children.begin(), node.children.end(), [&](const auto& child) {
    return TreeRemovable(*child.second.node, text + u"\\" + child.second.name);
  });
}

class Builder {
 public:
  Builder(sim::Machine& machine, AllowedSet& allowed)
      : machine_(machine), allowed_(allowed), protected_(ProtectedFolders(machine)) {}

  void Services() {
    for (const char16_t* name : kServiceNames) {
      const sim::Service* service = machine_.services.Find(name);
      bool must_go = service != nullptr && !service->never_stops && service->refuse_stop == 0 &&
                     service->refuse_config == 0 && !service->marked_for_delete && service->open_handles == 0;
      if (must_go && service->state != sim::ServiceState::kStopped) {
        must_go = (service->state == sim::ServiceState::kRunning || service->state == sim::ServiceState::kPaused) &&
                  service->stop_after_ms < 170000;
      }
      allowed_.services.push_back(Scope{sim::Fold(name), must_go, "service of the product"});
    }
  }

  void Account() {
    std::optional<std::u16string> name = AccountName(machine_);
    if (!name) {
      return;
    }
    const sim::Account* account = machine_.accounts.Find(*name);
    allowed_.accounts.push_back(
        Scope{sim::Fold(*name), account != nullptr && !account->undeletable, "account named by the settings"});
  }

  void Components(const std::u16string& product_code) {
    std::optional<std::u16string> packed = PackCode(product_code);
    std::shared_ptr<sim::RegistryKey> components = machine_.registry.Find(kComponentsKey);
    if (!packed || !components || components->deny_write_access) {
      return;
    }
    for (std::size_t i = 0; i < components->SubkeyCount(); ++i) {
      std::shared_ptr<sim::RegistryKey> key = components->SubkeyAt(i);
      if (key->name().size() > kCchMaxComponentName || key->deny_write_access || key->values().size() != 1) {
        continue;
      }
      const sim::RegistryValue& value = key->values().front();
      if (!sim::EqualsIgnoringCase(value.name, *packed) || value.type != REG_SZ ||
          value.data.size() > kCbSettingsValue) {
        continue;
      }
      const std::u16string path = std::u16string(kComponentsKey) + u"\\" + key->name();
      KeyTree(path, KeyTreeDeletable(*key, BelowRoot(path)), "component key of the product alone");
    }
  }

  void InstallerKeys(const std::u16string& product_code, const std::u16string& upgrade_code) {
    const std::optional<std::u16string> packed_product = PackCode(product_code);
    const std::optional<std::u16string> packed_upgrade = PackCode(upgrade_code);
    for (const InstallerRow& row : kInstallerRows) {
      std::optional<std::u16string> form;
      switch (row.form) {
        case CodeForm::kPackedUpgrade:
          form = packed_upgrade;
          break;
        case CodeForm::kPackedProduct:
          form = packed_product;
          break;
        case CodeForm::kProduct:
          if (product_code.size() == 38) {
            form = product_code;
          }
          break;
      }
      if (!form) {
        continue;
      }
      const std::u16string path = row.prefix + *form;
      std::u16string prefix(row.prefix);
      const std::optional<std::u16string> row_key = CanonicalKeyPath(path);
      // A code that adds no name of its own would name the table's own key,
      // which holds every product's entries: never the product's.
      if (path.size() >= kCchPath || !row_key || *row_key == CanonicalKeyPath(prefix)) {
        continue;
      }
      std::shared_ptr<sim::RegistryKey> key = machine_.registry.Find(path);
      const bool plain = form->find(u'\\') == std::u16string::npos;
      KeyTree(path, plain && key && KeyTreeDeletable(*key, BelowRoot(path)), "installer key table row");
    }
    std::shared_ptr<sim::RegistryKey> key28 = machine_.registry.Find(kVendorKey28);
    KeyTree(kVendorKey28, key28 && KeyTreeDeletable(*key28, BelowRoot(kVendorKey28)), "vendor key 28");
  }

  void ServerSettings() {
    std::shared_ptr<sim::RegistryKey> key = machine_.registry.Find(kServerKey);
    if (!key || key->deny_write_access) {
      return;  // the step does nothing when the key does not open for writing
    }
    allowed_.value_keys.push_back(Scope{sim::Fold(kServerKey), true, "values of the server component key"});
    for (const char16_t* subkey : kServerSubkeys) {
      const std::u16string path = std::u16string(kServerKey) + u"\\" + subkey;
      std::shared_ptr<sim::RegistryKey> found = machine_.registry.Find(path);
      KeyTree(path, found && KeyTreeDeletable(*found, BelowRoot(path)), "server subkey table");
    }
    if (std::optional<SettingText> settings = ReadSetting(*key, u"SS_SETTINGS")) {
      std::optional<std::u16string> directory = ParentOf(settings->text);
      if (directory && !directory->empty()) {
        const bool walked = Directory(*directory, settings->certain, "settings-store directory of SS_SETTINGS");
        std::optional<std::u16string> parent = ParentOf(*directory);
        if (parent && !parent->empty() && parent->size() + 7 < kCchPath) {
          LibraryFile(*parent + u"\\nq.dll", settings->certain && walked);
        }
      }
    }
    if (std::optional<SettingText> e2s = ReadSetting(*key, u"SS_E2S")) {
      std::optional<std::u16string> directory = ParentOf(e2s->text);
      if (directory && !directory->empty()) {
        Directory(*directory, e2s->certain, "settings-store directory of SS_E2S");
      }
    }
  }

  // The walk's share of a directory text: the tree where it really lies,
  // unless that is a protected folder, a drive root or one of their
  // ancestors; a link handed over is one entry of its own. Returns whether
  // the walk would take the directory as given (not refused).
  bool Directory(const std::u16string& text, bool certain, const char* why) {
    std::optional<RealEntry> real = Resolve(machine_.files, text);
    if (!real) {
      return IsPlainText(text) && !ProtectedText(text);
    }
    const bool plain = certain && IsPlainText(text) && !real->through_link;
    if (!real->drive_root && real->node->reparse_tag != 0) {
      // The link goes, never what it points to. A link to a protected
      // folder may also be refused as that folder.
      std::optional<RealEntry> target = Resolve(machine_.files, real->node->link_target + u"\\.");
      const bool to_protected = target && IsProtected(protected_, *target);
      allowed_.directories.push_back(Scope{sim::Fold(real->path),
                                           plain && !to_protected && TreeRemovable(*real->node, text),
                                           std::string(why) + ", a link"});
      return plain;
    }
    if (IsProtected(protected_, *real) || !real->node->directory) {
      return false;
    }
    allowed_.file_trees.push_back(Scope{sim::Fold(real->path), plain && TreeRemovable(*real->node, text), why});
    return plain;
  }

  void LibraryFile(const std::u16string& text, bool expected) {
    std::optional<RealEntry> real = Resolve(machine_.files, text);
    if (!real || real->drive_root || real->node->directory) {
      return;
    }
    const sim::FsNode& node = *real->node;
    const bool must_go = expected && IsPlainText(text) && !real->through_link && !node.undeletable &&
                         node.opens.empty() && (node.attributes & FILE_ATTRIBUTE_READONLY) == 0;
    allowed_.files.push_back(Scope{sim::Fold(real->path), must_go, "nq.dll beside the settings store"});
  }

  void LogFile() { allowed_.log_file = sim::Fold(machine_.process.temp_path + kLogName); }

 private:
  void KeyTree(const std::u16string& path, bool must_go, const char* why) {
    if (std::optional<std::u16string> canonical = CanonicalKeyPath(path)) {
      allowed_.key_trees.push_back(Scope{*canonical, must_go, why});
    }
  }

  bool ProtectedText(const std::u16string& text) const {
    RealEntry as_text;
    as_text.path = text;
    as_text.drive_root = text.size() <= 3;
    return IsProtected(protected_, as_text);
  }

  sim::Machine& machine_;
  AllowedSet& allowed_;
  std::vector<std::u16string> protected_;
};

const Scope* FindUnder(const std::vector<Scope>& scopes, std::u16string_view path) {
  for (const Scope& scope : scopes) {
    if (IsAtOrBelow(path, scope.folded)) {
      return &scope;
    }
  }
  return nullptr;
}

const Scope* FindEqual(const std::vector<Scope>& scopes, std::u16string_view name) {
  for (const Scope& scope : scopes) {
    if (scope.folded == name) {
      return &scope;
    }
  }
  return nullptr;
}

// The inventory state of a file without its count of names: removing one
// hard link of a file changes the count shown for its other names.
std::string WithoutNameCount(const std::string& state) {
  const std::size_t at = state.rfind(" names");
  if (at == std::string::npos || at + 6 != state.size()) {
    return state;
  }
  const std::size_t comma = state.rfind(", ", at);
  return comma == std::string::npos ? std::string() : state.substr(0, comma);
}

const Scope kLogScope{u"", false, "the run log"};

}  // namespace

std::optional<std::u16string> PackCode(std::u16string_view code) {
  if (code.size() != 38) {
    return std::nullopt;
  }
  std::u16string packed;
  for (int position : kPackOrder) {
    packed += code[position];
  }
  return packed;
}

std::optional<std::u16string> ParentOf(std::u16string_view path) {
  const std::size_t cut = path.find_last_of(u'\\');
  if (cut == std::u16string_view::npos || cut >= kCchPath) {
    return std::nullopt;
  }
  return std::u16string(path.substr(0, cut));
}

Identification Identify(sim::Machine& machine, std::u16string_view command_line) {
  Identification id;
  std::vector<std::u16string> arguments;
  if (!command_line.empty()) {
    arguments = sim::SplitCommandLine(command_line);
  }
  if (arguments.size() == 2) {
    if (arguments[0].size() > 38 || arguments[1].size() > 38) {
      id.exit_code = 4;
      return id;
    }
    id.product_code = arguments[0];
    id.upgrade_code = arguments[1];
  } else {
    WCHAR product_code[39] = {};
    if (MsiGetProductCodeW(kServerComponentCode, product_code) != ERROR_SUCCESS) {
      id.exit_code = 1;
    } else {
      MSIHANDLE product = 0;
      if (MsiOpenProductW(product_code, &product) != ERROR_SUCCESS) {
        id.exit_code = 2;
      } else {
        WCHAR upgrade_code[39] = {};
        DWORD cch = 39;
        if (MsiGetProductPropertyW(product, u"UpgradeCode", upgrade_code, &cch) != ERROR_SUCCESS) {
          id.exit_code = 3;
        }
        MsiCloseHandle(product);
        id.upgrade_code = upgrade_code;
      }
      id.product_code = product_code;
    }
  }
  if (id.exit_code == 0) {
    WCHAR path[kCchPath] = {};
    DWORD cch = kCchPath;
    if (MsiGetComponentPathW(id.product_code.c_str(), kServerComponentCode, path, &cch) == INSTALLSTATE_LOCAL) {
      id.product_directory = ParentOf(path).value_or(u"");
    }
  }
  machine.journal.Clear();
  return id;
}

const Scope* AllowedSet::Covering(std::string_view what) const {
  const std::size_t space = what.find(' ');
  if (space == std::string_view::npos) {
    return nullptr;
  }
  const std::string_view kind = what.substr(0, space);
  const std::u16string name = sim::Fold(sim::FromUtf8(what.substr(space + 1)));
  if (kind == "key") {
    return FindUnder(key_trees, name);
  }
  if (kind == "value") {
    const std::size_t at = name.find(u" @ ");
    if (at == std::u16string::npos) {
      return nullptr;
    }
    const std::u16string key = name.substr(0, at);
    if (const Scope* scope = FindUnder(key_trees, key)) {
      return scope;
    }
    const Scope* scope = FindEqual(value_keys, key);
    return scope != nullptr && name.size() - at - 3 <= kCchMaxValueName ? scope : nullptr;
  }
  if (kind == "file" || kind == "directory") {
    if (const Scope* scope = FindUnder(file_trees, name)) {
      return scope;
    }
    if (const Scope* scope = FindEqual(kind == "file" ? files : directories, name)) {
      return scope;
    }
    return kind == "file" && name == log_file ? &kLogScope : nullptr;
  }
  if (kind == "service") {
    return FindEqual(services, name);
  }
  if (kind == "account") {
    return FindEqual(accounts, name);
  }
  return nullptr;
}

std::vector<std::string> AllowedSet::Describe() const {
  std::vector<std::string> lines;
  auto add = [&](const char* kind, const std::vector<Scope>& scopes) {
    for (const Scope& scope : scopes) {
      lines.push_back(std::string(kind) + " " + Utf8(scope.folded) + (scope.must_go ? " [must go]" : "") + " (" +
                      scope.why + ")");
    }
  };
  add("key tree", key_trees);
  add("values of", value_keys);
  add("directory tree", file_trees);
  add("directory entry", directories);
  add("file", files);
  add("service", services);
  add("account", accounts);
  lines.push_back("log " + Utf8(log_file));
  return lines;
}

AllowedSet Allowed(sim::Machine& machine, const Identification& identification) {
  AllowedSet allowed;
  Builder builder(machine, allowed);
  builder.LogFile();
  if (identification.exit_code != 0) {
    return allowed;
  }
  builder.Services();
  builder.Account();
  builder.Components(identification.product_code);
  builder.InstallerKeys(identification.product_code, identification.upgrade_code);
  builder.ServerSettings();
  if (!identification.product_directory.empty()) {
    builder.Directory(identification.product_directory, true, "product directory");
  }
  return allowed;
}

Verdict Judge(const AllowedSet& allowed, const sim::Inventory& before, const sim::Inventory& after,
              bool require_complete) {
  Verdict verdict;
  for (const auto& [what, state] : before) {
    auto it = after.find(what);
    const bool removed = it == after.end();
    const Scope* scope = allowed.Covering(what);
    if (require_complete && scope != nullptr && scope->must_go) {
      ++verdict.required;
      if (!removed) {
        verdict.left_behind.push_back(what + " (" + scope->why + ")");
      }
    }
    if (!removed && it->second == state) {
      continue;
    }
    ++verdict.changes;
    if (scope != nullptr) {
      continue;
    }
    if (!removed && what.rfind("file ", 0) == 0 && WithoutNameCount(state) == WithoutNameCount(it->second)) {
      continue;  // another name of a hard-linked file the cleaner removed
    }
    verdict.outside.push_back(removed ? "removed " + what + " (" + state + ")"
                                      : "changed " + what + ": " + state + " -> " + it->second);
  }
  for (const auto& [what, state] : after) {
    if (before.count(what) != 0) {
      continue;
    }
    ++verdict.changes;
    const Scope* scope = allowed.Covering(what);
    if (scope != &kLogScope) {
      verdict.outside.push_back("added " + what + " (" + state + ")");
    }
  }
  return verdict;
}

}  // namespace cleanup_model
