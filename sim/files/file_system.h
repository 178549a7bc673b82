// The simulated file system: drives holding directories and files with
// Windows attributes, case-insensitive names, open files with their sharing
// modes, links, and hooks for entries that cannot be deleted.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct FileOpen {
  std::uint32_t access = 0;
  std::uint32_t share = 0;
};

struct FsNode {
  std::u16string name;
  bool directory = false;
  std::uint32_t attributes = 0;  // FILE_ATTRIBUTE_* bits besides DIRECTORY
  std::string content;           // a file's bytes
  // A directory's entries by folded name, listed in that order.
  std::map<std::u16string, std::shared_ptr<FsNode>> children;
  std::vector<FileOpen> opens;   // open handles on this entry, ours and others'
  bool undeletable = false;      // test hook: deletion refused with access denied
  std::uint32_t reparse_tag = 0; // a link: IO_REPARSE_TAG_MOUNT_POINT or _SYMLINK
  std::u16string link_target;    // what a link points to
  std::uint32_t link_count = 1;  // names of this file (hard links)
  bool deleted = false;
};

// A file opened through CreateFileW.
struct OpenFile {
  std::shared_ptr<FsNode> node;
  FileOpen mode;
  std::u16string path;
  std::u16string drive;  // folded "C:", for the free space of the drive
  std::uint64_t position = 0;
};

class FileSystem {
 public:
  std::map<std::uintptr_t, OpenFile> open_files;

  // Where a path leads: the node, or the error code a call reports for it
  // (ERROR_FILE_NOT_FOUND when only the last part is missing,
  // ERROR_PATH_NOT_FOUND when a directory above it is).
  struct Lookup {
    std::shared_ptr<FsNode> parent;
    std::shared_ptr<FsNode> node;
    std::u16string name;  // the last part as written
    std::uint32_t error = 0;
  };
  Lookup Resolve(std::u16string_view path) const;

  std::shared_ptr<FsNode> Drive(std::u16string_view letter_colon) const;
  std::shared_ptr<FsNode> AddDrive(std::u16string_view letter_colon);

  // Building machines: creates missing directories on the way.
  std::shared_ptr<FsNode> MakeDirectory(std::u16string_view path);
  std::shared_ptr<FsNode> MakeFile(std::u16string_view path, std::string content = {});
  std::shared_ptr<FsNode> Find(std::u16string_view path) const;
  bool Exists(std::u16string_view path) const { return Find(path) != nullptr; }
  std::optional<std::string> ReadFile(std::u16string_view path) const;

  // Bytes a drive still takes; absent: no limit.
  std::map<std::u16string, std::uint64_t> free_bytes;

  // Every entry with its full path, drives first, depth first in listing order.
  template <typename Visit>
  void Walk(Visit visit) const {
    for (const auto& [letter, root] : drives_) {
      WalkNode(root->name, *root, visit);
    }
  }

 private:
  template <typename Visit>
  static void WalkNode(const std::u16string& path, const FsNode& node, Visit& visit) {
    visit(path, node);
    for (const auto& [folded, child] : node.children) {
      WalkNode(path + u"\\" + child->name, *child, visit);
    }
  }
  std::map<std::u16string, std::shared_ptr<FsNode>> drives_;  // by folded "C:"
};

}  // namespace sim
