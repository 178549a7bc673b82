// The simulated registry: a tree of keys per root, with case-insensitive
// names, typed values held as raw bytes, lookup of a subkey by name in
// constant time, and enumeration by index in the registry's sorted order in
// constant time from one index to the next (logarithmic for a jump).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ext/pb_ds/assoc_container.hpp>
#include <ext/pb_ds/tree_policy.hpp>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sim/core/text.h"

namespace sim {

struct RegistryValue {
  std::u16string name;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

class RegistryKey;
// Marks a key and everything below it deleted, for handles still open on them.
void MarkDeleted(RegistryKey& key);

class RegistryKey {
 public:
  explicit RegistryKey(std::u16string name) : name_(std::move(name)) {}

  const std::u16string& name() const { return name_; }
  bool deleted() const { return deleted_; }

  std::size_t SubkeyCount() const { return subkeys_ ? subkeys_->sorted.size() : 0; }
  // The subkey at this index of the sorted order, or null past the end.
  std::shared_ptr<RegistryKey> SubkeyAt(std::size_t index) const;
  std::shared_ptr<RegistryKey> FindSubkey(std::u16string_view name) const;
  // Returns the existing subkey of that name or a new one.
  std::shared_ptr<RegistryKey> CreateSubkey(std::u16string_view name);
  // Removes a subkey without looking at what it holds.
  bool RemoveSubkey(std::u16string_view name);

  // Values keep the order in which they were created.
  const std::vector<RegistryValue>& values() const { return values_; }
  const RegistryValue* FindValue(std::u16string_view name) const;
  void SetValue(RegistryValue value);
  bool RemoveValue(std::u16string_view name);

  // Test hooks: an open asking for more than KEY_READ is refused; deletion
  // is refused.
  bool deny_write_access = false;
  bool deny_delete = false;

 private:
  // Subkeys keyed by a view of each one's own name, which never changes and
  // lives as long as the node that holds the subkey.
  using SortedSubkeys = __gnu_pbds::tree<std::u16string_view, std::shared_ptr<RegistryKey>, CaseInsensitiveLess,
                                         __gnu_pbds::rb_tree_tag, __gnu_pbds::tree_order_statistics_node_update>;
  // A subkey as found by name: the key itself, and its place in the order
  // for removing it.
  struct NamedSubkey {
    std::shared_ptr<RegistryKey> key;
    SortedSubkeys::iterator place;
  };
  struct Subkeys {
    SortedSubkeys sorted;
    // The same subkeys by name: a lookup costs the same among ten siblings
    // as among a hundred thousand.
    std::unordered_map<std::u16string_view, NamedSubkey, CaseInsensitiveHash, CaseInsensitiveEqual> by_name;
    // Where the last access by index ended, so that an enumeration steps
    // from one node to the next instead of descending from the root for
    // every index; forgotten whenever a subkey comes or goes.
    bool cursor_valid = false;
    std::size_t cursor_index = 0;
    SortedSubkeys::iterator cursor;
  };

  std::u16string name_;
  bool deleted_ = false;
  // Made with the first subkey, as most keys have none.
  std::unique_ptr<Subkeys> subkeys_;
  std::vector<RegistryValue> values_;

  friend class Registry;
  friend void MarkDeleted(RegistryKey& key);
};

// A handle the registry handed out, with the access it was opened with.
struct OpenKey {
  std::shared_ptr<RegistryKey> key;
  std::uint32_t access = 0;
  std::u16string path;  // full path as opened, for the journal and messages
};

class Registry {
 public:
  Registry();

  // Handles opened through RegOpenKeyExW, by handle value.
  std::map<std::uintptr_t, OpenKey> open_keys;

  // The root of a predefined handle's tree, by its full name
  // ("HKEY_LOCAL_MACHINE"). HKEY_CLASSES_ROOT is HKLM\SOFTWARE\Classes.
  std::shared_ptr<RegistryKey> Root(std::u16string_view root_name);

  // Looks a key up by full path ("HKEY_LOCAL_MACHINE\SOFTWARE\..."), or null.
  std::shared_ptr<RegistryKey> Find(std::u16string_view full_path);
  std::shared_ptr<RegistryKey> Find(const std::shared_ptr<RegistryKey>& from, std::u16string_view relative_path);
  // Creates a key and every missing key above it.
  std::shared_ptr<RegistryKey> Create(std::u16string_view full_path);
  void SetString(std::u16string_view full_path, std::u16string_view value_name, std::u16string_view text);
  // Removes a key with everything below it, marking each removed key deleted.
  bool RemoveTree(std::u16string_view full_path);

  // Every key with its full path, depth first in sorted order; roots are
  // "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_USERS".
  void Walk(const std::function<void(const std::u16string& path, const RegistryKey& key)>& visit) const;

 private:
  std::shared_ptr<RegistryKey> local_machine_;
  std::shared_ptr<RegistryKey> current_user_;
  std::shared_ptr<RegistryKey> users_;
};

}  // namespace sim
