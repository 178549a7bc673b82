#include "sim/registry/registry.h"

#include "sim/core/text.h"

namespace sim {

std::shared_ptr<RegistryKey> RegistryKey::SubkeyAt(std::size_t index) const {
  if (index >= SubkeyCount()) {
    return nullptr;
  }
  Subkeys& subkeys = *subkeys_;
  if (subkeys.cursor_valid && index == subkeys.cursor_index + 1) {
    ++subkeys.cursor;
  } else if (subkeys.cursor_valid && index + 1 == subkeys.cursor_index) {
    --subkeys.cursor;
  } else if (!subkeys.cursor_valid || index != subkeys.cursor_index) {
    // Index 0, which a deletion loop asks for again and again, is the
    // tree's first node, kept at hand.
    subkeys.cursor = index == 0 ? subkeys.sorted.begin() : subkeys.sorted.find_by_order(index);
  }
  subkeys.cursor_valid = true;
  subkeys.cursor_index = index;
  return subkeys.cursor->second;
}

std::shared_ptr<RegistryKey> RegistryKey::FindSubkey(std::u16string_view name) const {
  if (!subkeys_) {
    return nullptr;
  }
  auto found = subkeys_->by_name.find(name);
  return found == subkeys_->by_name.end() ? nullptr : found->second.key;
}

std::shared_ptr<RegistryKey> RegistryKey::CreateSubkey(std::u16string_view name) {
  if (!subkeys_) {
    subkeys_ = std::make_unique<Subkeys>();
  }
  if (std::shared_ptr<RegistryKey> existing = FindSubkey(name)) {
    return existing;
  }
  auto key = std::make_shared<RegistryKey>(std::u16string(name));
  const std::u16string_view own_name = key->name_;
  auto placed = subkeys_->sorted.insert({own_name, key}).first;
  subkeys_->by_name.emplace(own_name, NamedSubkey{key, placed});
  subkeys_->cursor_valid = false;
  return key;
}

bool RegistryKey::RemoveSubkey(std::u16string_view name) {
  if (!subkeys_) {
    return false;
  }
  auto found = subkeys_->by_name.find(name);
  if (found == subkeys_->by_name.end()) {
    return false;
  }
  const SortedSubkeys::iterator place = found->second.place;
  MarkDeleted(*place->second);
  // The map's key views the subkey's name: it goes first.
  subkeys_->by_name.erase(found);
  subkeys_->sorted.erase(place);
  subkeys_->cursor_valid = false;
  return true;
}

const RegistryValue* RegistryKey::FindValue(std::u16string_view name) const {
  for (const RegistryValue& value : values_) {
    if (EqualsIgnoringCase(value.name, name)) {
      return &value;
    }
  }
  return nullptr;
}

void RegistryKey::SetValue(RegistryValue value) {
  for (RegistryValue& existing : values_) {
    if (EqualsIgnoringCase(existing.name, value.name)) {
      existing.type = value.type;
      existing.data = std::move(value.data);
      return;
    }
  }
  values_.push_back(std::move(value));
}

bool RegistryKey::RemoveValue(std::u16string_view name) {
  for (auto it = values_.begin(); it != values_.end(); ++it) {
    if (EqualsIgnoringCase(it->name, name)) {
      values_.erase(it);
      return true;
    }
  }
  return false;
}

void MarkDeleted(RegistryKey& key) {
  key.deleted_ = true;
  if (key.subkeys_) {
    for (auto& child : key.subkeys_->sorted) {
      MarkDeleted(*child.second);
    }
  }
}

Registry::Registry()
    : local_machine_(std::make_shared<RegistryKey>(u"HKEY_LOCAL_MACHINE")),
      current_user_(std::make_shared<RegistryKey>(u"HKEY_CURRENT_USER")),
      users_(std::make_shared<RegistryKey>(u"HKEY_USERS")) {
  local_machine_->CreateSubkey(u"SOFTWARE")->CreateSubkey(u"Classes");
}

std::shared_ptr<RegistryKey> Registry::Root(std::u16string_view root_name) {
  if (root_name == u"HKEY_LOCAL_MACHINE") {
    return local_machine_;
  }
  if (root_name == u"HKEY_CURRENT_USER") {
    return current_user_;
  }
  if (root_name == u"HKEY_USERS") {
    return users_;
  }
  if (root_name == u"HKEY_CLASSES_ROOT") {
    return local_machine_->CreateSubkey(u"SOFTWARE")->CreateSubkey(u"Classes");
  }
  return nullptr;
}

std::shared_ptr<RegistryKey> Registry::Find(const std::shared_ptr<RegistryKey>& from,
                                            std::u16string_view relative_path) {
  std::shared_ptr<RegistryKey> key = from;
  std::u16string_view rest = relative_path;
  while (key) {
    std::u16string_view part = NextPathPart(rest);
    if (part.empty()) {
      return key;
    }
    key = key->FindSubkey(part);
  }
  return nullptr;
}

std::shared_ptr<RegistryKey> Registry::Find(std::u16string_view full_path) {
  std::u16string_view rest = full_path;
  std::shared_ptr<RegistryKey> root = Root(NextPathPart(rest));
  return root ? Find(root, rest) : nullptr;
}

std::shared_ptr<RegistryKey> Registry::Create(std::u16string_view full_path) {
  std::u16string_view rest = full_path;
  std::shared_ptr<RegistryKey> key = Root(NextPathPart(rest));
  while (key) {
    std::u16string_view part = NextPathPart(rest);
    if (part.empty()) {
      return key;
    }
    key = key->CreateSubkey(part);
  }
  return nullptr;
}

void Registry::SetString(std::u16string_view full_path, std::u16string_view value_name, std::u16string_view text) {
  RegistryValue value{std::u16string(value_name), 1, {}};
  for (char16_t unit : text) {
    value.data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    value.data.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  value.data.push_back(0);
  value.data.push_back(0);
  Create(full_path)->SetValue(std::move(value));
}

bool Registry::RemoveTree(std::u16string_view full_path) {
  const std::size_t cut = full_path.find_last_of(u'\\');
  if (cut == std::u16string_view::npos) {
    return false;
  }
  std::shared_ptr<RegistryKey> parent = Find(full_path.substr(0, cut));
  return parent && parent->RemoveSubkey(full_path.substr(cut + 1));
}

namespace {

void WalkKey(const std::u16string& path, const RegistryKey& key,
             const std::function<void(const std::u16string&, const RegistryKey&)>& visit) {
  visit(path, key);
  for (std::size_t i = 0; i < key.SubkeyCount(); ++i) {
    std::shared_ptr<RegistryKey> child = key.SubkeyAt(i);
    WalkKey(path + u"\\" + child->name(), *child, visit);
  }
}

}  // namespace

void Registry::Walk(const std::function<void(const std::u16string& path, const RegistryKey& key)>& visit) const {
  WalkKey(u"HKEY_LOCAL_MACHINE", *local_machine_, visit);
  WalkKey(u"HKEY_CURRENT_USER", *current_user_, visit);
  WalkKey(u"HKEY_USERS", *users_, visit);
}

}  // namespace sim
