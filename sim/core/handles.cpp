#include "sim/core/handles.h"

#include "sim/core/text.h"

namespace sim {

const char* HandleKindName(HandleKind kind) {
  switch (kind) {
    case HandleKind::kRegistryKey:
      return "registry key";
    case HandleKind::kFile:
      return "file";
    case HandleKind::kFindSearch:
      return "find search";
    case HandleKind::kServiceManager:
      return "service manager";
    case HandleKind::kService:
      return "service";
    case HandleKind::kInstaller:
      return "installer";
  }
  return "unknown";
}

std::uintptr_t HandleTable::Open(HandleKind kind, std::u16string what) {
  const std::uintptr_t value = next_;
  next_ += 4;
  open_.emplace(value, Entry{kind, std::move(what)});
  return value;
}

bool HandleTable::Close(std::uintptr_t value, HandleKind kind) {
  auto it = open_.find(value);
  if (it == open_.end() || it->second.kind != kind) {
    return false;
  }
  open_.erase(it);
  return true;
}

bool HandleTable::IsOpen(std::uintptr_t value, HandleKind kind) const {
  auto it = open_.find(value);
  return it != open_.end() && it->second.kind == kind;
}

std::vector<std::string> HandleTable::Describe() const {
  std::vector<std::string> lines;
  for (const auto& [value, entry] : open_) {
    lines.push_back(std::string(HandleKindName(entry.kind)) + ": " + ToUtf8(entry.what));
  }
  return lines;
}

}  // namespace sim
