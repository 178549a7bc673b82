#include "sim/files/file_system.h"

#include "sim/core/text.h"
#include "sim/win32/base.h"

namespace sim {

std::shared_ptr<FsNode> FileSystem::Drive(std::u16string_view letter_colon) const {
  auto it = drives_.find(Fold(letter_colon));
  return it == drives_.end() ? nullptr : it->second;
}

std::shared_ptr<FsNode> FileSystem::AddDrive(std::u16string_view letter_colon) {
  std::shared_ptr<FsNode> root = Drive(letter_colon);
  if (!root) {
    root = std::make_shared<FsNode>();
    root->name = std::u16string(letter_colon);
    root->directory = true;
    drives_.emplace(Fold(letter_colon), root);
  }
  return root;
}

FileSystem::Lookup FileSystem::Resolve(std::u16string_view path) const {
  Lookup result;
  std::u16string_view rest = path;
  const std::u16string_view drive = NextPathPart(rest);
  if (drive.size() != 2 || drive[1] != u':' || path.substr(0, 2) != drive) {
    result.error = ERROR_PATH_NOT_FOUND;
    return result;
  }
  std::shared_ptr<FsNode> node = Drive(drive);
  if (!node) {
    result.error = ERROR_PATH_NOT_FOUND;
    return result;
  }
  std::u16string_view part = NextPathPart(rest);
  if (part.empty()) {
    result.node = node;
    result.name = std::u16string(drive);
    return result;
  }
  while (true) {
    std::u16string_view next = NextPathPart(rest);
    auto it = node->children.find(Fold(part));
    std::shared_ptr<FsNode> child = it == node->children.end() ? nullptr : it->second;
    if (next.empty()) {
      result.parent = node;
      result.node = child;
      result.name = std::u16string(part);
      if (!child) {
        result.error = ERROR_FILE_NOT_FOUND;
      }
      return result;
    }
    if (!child || !child->directory) {
      result.error = ERROR_PATH_NOT_FOUND;
      return result;
    }
    node = child;
    part = next;
  }
}

std::shared_ptr<FsNode> FileSystem::MakeDirectory(std::u16string_view path) {
  std::u16string_view rest = path;
  std::shared_ptr<FsNode> node = AddDrive(NextPathPart(rest));
  while (true) {
    std::u16string_view part = NextPathPart(rest);
    if (part.empty()) {
      return node;
    }
    std::shared_ptr<FsNode>& child = node->children[Fold(part)];
    if (!child) {
      child = std::make_shared<FsNode>();
      child->name = std::u16string(part);
      child->directory = true;
    }
    node = child;
  }
}

std::shared_ptr<FsNode> FileSystem::MakeFile(std::u16string_view path, std::string content) {
  const std::size_t cut = path.find_last_of(u'\\');
  std::shared_ptr<FsNode> parent = MakeDirectory(path.substr(0, cut));
  const std::u16string_view name = path.substr(cut + 1);
  std::shared_ptr<FsNode>& node = parent->children[Fold(name)];
  if (!node) {
    node = std::make_shared<FsNode>();
    node->name = std::u16string(name);
  }
  node->content = std::move(content);
  return node;
}

std::shared_ptr<FsNode> FileSystem::Find(std::u16string_view path) const { return Resolve(path).node; }

std::optional<std::string> FileSystem::ReadFile(std::u16string_view path) const {
  std::shared_ptr<FsNode> node = Find(path);
  if (!node || node->directory) {
    return std::nullopt;
  }
  return node->content;
}

}  // namespace sim
