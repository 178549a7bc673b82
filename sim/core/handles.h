// Every handle the simulated platform hands out, so that a test can say that
// none is left open. Values are never reused, so a handle used after it was
// closed is caught.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

enum class HandleKind { kRegistryKey, kFile, kFindSearch, kServiceManager, kService, kInstaller };

const char* HandleKindName(HandleKind kind);

class HandleTable {
 public:
  std::uintptr_t Open(HandleKind kind, std::u16string what);
  // False when the value is not an open handle of that kind.
  bool Close(std::uintptr_t value, HandleKind kind);
  bool IsOpen(std::uintptr_t value, HandleKind kind) const;
  std::size_t OpenCount() const { return open_.size(); }
  // One readable line per handle still open: "kind: what".
  std::vector<std::string> Describe() const;

 private:
  struct Entry {
    HandleKind kind;
    std::u16string what;
  };
  std::uintptr_t next_ = 0x1000;
  std::map<std::uintptr_t, Entry> open_;
};

}  // namespace sim
