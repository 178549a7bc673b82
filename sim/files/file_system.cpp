#include "sim/files/file_system.h"

#include <stdexcept>

#include "sim/core/text.h"
#include "sim/win32/base.h"

namespace sim {

namespace {

// Links followed for one path before the lookup gives up, as Windows does
// after a bounded number of reparse points.
constexpr int kMaxLinkHops = 31;

// Splits a full path into its drive ("C:") and its parts, "." dropped and
// ".." taking away the part before it (never the drive). False when the path
// does not begin with a drive letter and a colon.
bool SplitPath(std::u16string_view path, std::u16string_view& drive, std::vector<std::u16string_view>& parts) {
  std::u16string_view rest = path;
  drive = NextPathPart(rest);
  if (drive.size() != 2 || drive[1] != u':' || path.substr(0, 2) != drive) {
    return false;
  }
  for (std::u16string_view part = NextPathPart(rest); !part.empty(); part = NextPathPart(rest)) {
    if (part == u".") {
      continue;
    }
    if (part == u"..") {
      if (!parts.empty()) {
        parts.pop_back();
      }
      continue;
    }
    parts.push_back(part);
  }
  return true;
}

std::u16string_view ParentPart(std::u16string_view path) {
  const std::size_t cut = path.find_last_of(u'\\');
  return cut == std::u16string_view::npos ? std::u16string_view() : path.substr(0, cut);
}

std::u16string_view NamePart(std::u16string_view path) {
  const std::size_t cut = path.find_last_of(u'\\');
  return cut == std::u16string_view::npos ? path : path.substr(cut + 1);
}

}  // namespace

bool MatchesPattern(std::u16string_view pattern, std::u16string_view name) {
  if (pattern == u"*.*") {
    pattern = u"*";
  }
  // The usual wildcard walk: remember the last "*" and where the name stood
  // then, and let that "*" take one more unit when a later match fails.
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t star = std::u16string_view::npos;
  std::size_t star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || FoldUnit(pattern[p]) == FoldUnit(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      star_n = n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') {
    ++p;
  }
  return p == pattern.size();
}

std::shared_ptr<FsNode> FileSystem::Drive(std::u16string_view letter_colon) const {
  auto it = drives_.find(Fold(letter_colon));
  return it == drives_.end() ? nullptr : it->second.node;
}

std::shared_ptr<FsNode> FileSystem::AddDrive(std::u16string_view letter_colon) {
  std::shared_ptr<FsNode> root = Drive(letter_colon);
  if (!root) {
    root = std::make_shared<FsNode>();
    root->directory = true;
    drives_.emplace(Fold(letter_colon), DirEntry{std::u16string(letter_colon), root});
  }
  return root;
}

FileSystem::Lookup FileSystem::Resolve(std::u16string_view path, bool follow_last_link) const {
  std::u16string current(path);
  for (int hops = 0;; ++hops) {
    Lookup result;
    if (hops > kMaxLinkHops) {
      result.error = ERROR_CANT_RESOLVE_FILENAME;
      return result;
    }
    if (current.rfind(u"\\\\", 0) == 0) {
      result.error = ERROR_BAD_NETPATH;  // no network here
      return result;
    }
    std::u16string_view drive;
    std::vector<std::u16string_view> parts;
    std::shared_ptr<FsNode> node;
    if (!SplitPath(current, drive, parts) || !(node = Drive(drive))) {
      result.error = ERROR_PATH_NOT_FOUND;
      return result;
    }
    result.final_path = drives_.find(Fold(drive))->second.name;
    if (parts.empty()) {
      result.node = node;
      result.name = std::u16string(drive);
      result.final_path += u"\\";
      result.drive_root = true;
      return result;
    }
    std::u16string next;  // set when a link sends the lookup elsewhere
    for (std::size_t i = 0; i < parts.size(); ++i) {
      const bool last = i + 1 == parts.size();
      auto it = node->children.find(Fold(parts[i]));
      std::shared_ptr<FsNode> child = it == node->children.end() ? nullptr : it->second.node;
      result.final_path += u"\\";
      result.final_path += child ? it->second.name : std::u16string(parts[i]);
      if (child && child->reparse_tag != 0 && (!last || follow_last_link)) {
        next = child->link_target;
        for (std::size_t j = i + 1; j < parts.size(); ++j) {
          next += u"\\";
          next += parts[j];
        }
        break;
      }
      if (last) {
        result.parent = node;
        result.node = child;
        result.name = std::u16string(parts[i]);
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
    }
    current = std::move(next);
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
    DirEntry& child = node->children[Fold(part)];
    if (!child.node) {
      child.name = std::u16string(part);
      child.node = std::make_shared<FsNode>();
      child.node->directory = true;
    } else if (!child.node->directory) {
      throw std::invalid_argument("a file stands where a directory is needed: " + ToUtf8(path));
    }
    node = child.node;
  }
}

std::shared_ptr<FsNode> FileSystem::MakeFile(std::u16string_view path, std::string content) {
  std::shared_ptr<FsNode> parent = MakeDirectory(ParentPart(path));
  const std::u16string_view name = NamePart(path);
  DirEntry& entry = parent->children[Fold(name)];
  if (!entry.node) {
    entry.name = std::u16string(name);
    entry.node = std::make_shared<FsNode>();
  } else if (entry.node->directory) {
    throw std::invalid_argument("a directory stands where a file is wanted: " + ToUtf8(path));
  }
  entry.node->content = std::move(content);
  return entry.node;
}

std::shared_ptr<FsNode> FileSystem::MakeLink(std::u16string_view path, std::uint32_t reparse_tag,
                                             std::u16string_view target, bool directory) {
  std::shared_ptr<FsNode> parent = MakeDirectory(ParentPart(path));
  const std::u16string_view name = NamePart(path);
  DirEntry& entry = parent->children[Fold(name)];
  if (entry.node) {
    throw std::invalid_argument("an entry already stands where a link is wanted: " + ToUtf8(path));
  }
  entry.name = std::u16string(name);
  entry.node = std::make_shared<FsNode>();
  entry.node->directory = directory;
  entry.node->reparse_tag = reparse_tag;
  entry.node->link_target = std::u16string(target);
  return entry.node;
}

std::shared_ptr<FsNode> FileSystem::MakeHardLink(std::u16string_view existing, std::u16string_view path) {
  std::shared_ptr<FsNode> node = Find(existing);
  if (!node || node->directory) {
    throw std::invalid_argument("a hard link needs an existing file: " + ToUtf8(existing));
  }
  std::shared_ptr<FsNode> parent = MakeDirectory(ParentPart(path));
  const std::u16string_view name = NamePart(path);
  DirEntry& entry = parent->children[Fold(name)];
  if (entry.node) {
    throw std::invalid_argument("an entry already stands where a hard link is wanted: " + ToUtf8(path));
  }
  entry.name = std::u16string(name);
  entry.node = node;
  ++node->link_count;
  return node;
}

std::shared_ptr<FsNode> FileSystem::Find(std::u16string_view path) const { return Resolve(path).node; }

std::optional<std::string> FileSystem::ReadFile(std::u16string_view path) const {
  std::shared_ptr<FsNode> node = Resolve(path, true).node;
  if (!node || node->directory) {
    return std::nullopt;
  }
  return node->content;
}

void FileSystem::Unlink(FsNode& parent, std::u16string_view name) {
  auto it = parent.children.find(Fold(name));
  if (it == parent.children.end()) {
    return;
  }
  std::shared_ptr<FsNode> node = it->second.node;
  parent.children.erase(it);
  if (node->link_count > 0) {
    --node->link_count;
  }
  if (node->link_count == 0) {
    node->deleted = true;
  }
}

std::optional<FoundEntry> FileSystem::NextFound(FindSearch& search) const {
  while (search.dots_listed < 2) {
    const bool self = search.dots_listed++ == 0;
    const std::u16string name = self ? u"." : u"..";
    if (MatchesPattern(search.pattern, name)) {
      return FoundEntry{name, self || !search.parent ? search.directory : search.parent};
    }
  }
  const auto& children = search.directory->children;
  auto it = search.last_listed ? children.upper_bound(*search.last_listed) : children.begin();
  for (; it != children.end(); ++it) {
    search.last_listed = it->first;
    if (MatchesPattern(search.pattern, it->second.name)) {
      return FoundEntry{it->second.name, it->second.node};
    }
  }
  return std::nullopt;
}

}  // namespace sim
