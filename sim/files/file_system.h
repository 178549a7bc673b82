// The simulated file system: drives holding directories and files with
// Windows attributes, case-insensitive names, open files with their sharing
// modes, directory searches, links, hard links, and hooks for entries that
// cannot be deleted.
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

struct FsNode;

// One name in a directory. The hard links of a file are several entries
// sharing one node.
struct DirEntry {
  std::u16string name;  // as written when it was created
  std::shared_ptr<FsNode> node;
};

struct FsNode {
  bool directory = false;
  std::uint32_t attributes = 0;  // FILE_ATTRIBUTE_* bits besides DIRECTORY and REPARSE_POINT
  std::string content;           // a file's bytes
  // A directory's entries by folded name, listed in that order.
  std::map<std::u16string, DirEntry> children;
  std::vector<FileOpen> opens;  // open handles on this entry, ours and others'
  bool undeletable = false;     // test hook: deletion refused with access denied
  // Test hook: a directory listed without "." and "..", as the root of a
  // volume mounted in a folder or some network shares are.
  bool no_dot_entries = false;
  std::uint32_t reparse_tag = 0;  // a link: IO_REPARSE_TAG_MOUNT_POINT or _SYMLINK
  std::u16string link_target;     // what a link points to, a full path
  std::uint32_t link_count = 1;   // names of this file (hard links)
  bool deleted = false;           // no name left; open handles may still hold it
};

// A file opened through CreateFileW.
struct OpenFile {
  std::shared_ptr<FsNode> node;
  FileOpen mode;
  std::u16string path;
  std::u16string final_path;  // where the path led, for GetFinalPathNameByHandleW
  std::u16string drive;       // folded "C:", for the free space of the drive
  std::uint64_t position = 0;
};

// A directory search of FindFirstFileW. It remembers the last name it
// listed, not a copy of the listing, so that entries deleted meanwhile are
// never listed and each step costs one lookup.
struct FindSearch {
  std::shared_ptr<FsNode> directory;
  std::shared_ptr<FsNode> parent;             // what ".." describes; null at a drive root
  std::u16string pattern;                     // the name part of the search pattern
  std::u16string subject;                     // the pattern as given, for the journal
  int dots_listed = 2;                        // "." and ".." listed so far; 2 at a drive root
  std::optional<std::u16string> last_listed;  // folded name
};

// One entry a search lists.
struct FoundEntry {
  std::u16string name;
  std::shared_ptr<FsNode> node;
};

// Whether a name matches a search pattern: "*" any run of units, "?" any
// one unit, letters without regard to case; "*.*" matches every name.
bool MatchesPattern(std::u16string_view pattern, std::u16string_view name);

class FileSystem {
 public:
  std::map<std::uintptr_t, OpenFile> open_files;
  std::map<std::uintptr_t, FindSearch> searches;

  // Where a path leads: the node, or the error code a call reports for it
  // (ERROR_FILE_NOT_FOUND when only the last part is missing,
  // ERROR_PATH_NOT_FOUND when a directory above it is). "." and ".." parts
  // are taken away from the text first, as Windows does. Links met on the
  // way are followed; the last part is followed only when asked, so that
  // deleting a link deletes the link.
  struct Lookup {
    std::shared_ptr<FsNode> parent;
    std::shared_ptr<FsNode> node;
    std::u16string name;  // the last part as written
    // Where the path really leads, links followed: the drive and the names
    // as stored ("C:\\Windows"), the last part as written when missing.
    std::u16string final_path;
    bool drive_root = false;
    std::uint32_t error = 0;
  };
  Lookup Resolve(std::u16string_view path, bool follow_last_link = false) const;

  std::shared_ptr<FsNode> Drive(std::u16string_view letter_colon) const;
  std::shared_ptr<FsNode> AddDrive(std::u16string_view letter_colon);

  // Building machines: creates missing directories on the way, without
  // following links. Throws std::invalid_argument when a file stands where a
  // directory is needed.
  std::shared_ptr<FsNode> MakeDirectory(std::u16string_view path);
  std::shared_ptr<FsNode> MakeFile(std::u16string_view path, std::string content = {});
  // A junction or symbolic link to a directory, or a symbolic link to a file.
  std::shared_ptr<FsNode> MakeLink(std::u16string_view path, std::uint32_t reparse_tag, std::u16string_view target,
                                   bool directory = true);
  // A second name for an existing file.
  std::shared_ptr<FsNode> MakeHardLink(std::u16string_view existing, std::u16string_view path);
  std::shared_ptr<FsNode> Find(std::u16string_view path) const;
  bool Exists(std::u16string_view path) const { return Find(path) != nullptr; }
  std::optional<std::string> ReadFile(std::u16string_view path) const;

  // Takes one name away from its directory; the node is marked deleted when
  // it has no name left.
  void Unlink(FsNode& parent, std::u16string_view name);

  // The next entry of a search, or nothing at its end.
  std::optional<FoundEntry> NextFound(FindSearch& search) const;

  // Bytes a drive still takes; absent: no limit.
  std::map<std::u16string, std::uint64_t> free_bytes;

  // Every entry with its full path, drives first, depth first in listing
  // order; a hard-linked file once per name.
  template <typename Visit>
  void Walk(Visit visit) const {
    for (const auto& [letter, root] : drives_) {
      WalkNode(root.name, *root.node, visit);
    }
  }

 private:
  template <typename Visit>
  static void WalkNode(const std::u16string& path, const FsNode& node, Visit& visit) {
    visit(path, node);
    for (const auto& [folded, child] : node.children) {
      WalkNode(path + u"\\" + child.name, *child.node, visit);
    }
  }
  std::map<std::u16string, DirEntry> drives_;  // by folded "C:"
};

}  // namespace sim
