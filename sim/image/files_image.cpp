// The files section of a machine image: one entry per file, and per
// directory that is empty or carries attributes or flags, by full path.
// A directory's path ends with a backslash.
//   "C:\\Program Files\\X\\app.exe": "content",
//   "C:\\Program Files\\X\\conf.ini": {"content": "a=1", "attributes": ["readonly", "hidden"]},
//   "C:\\Data\\Empty\\": {},
//   "C:\\Program Files\\X\\link\\": {"link": "junction", "target": "C:\\Elsewhere"},
//   "C:\\Locked.txt": {"open_without_sharing": true, "undeletable": true},
//   "C:\\Share\\": {"no_dot_entries": true},
//   "C:\\Data\\second name.txt": {"hard_link_to": "C:\\Data\\first name.txt"}
// "drives": {"C:": {"free_bytes": 0}} limits what a drive still takes.
#include <map>
#include <stdexcept>
#include <utility>
#include <vector>

#include "sim/core/text.h"
#include "sim/image/machine_image.h"
#include "sim/win32/files.h"

namespace sim {

namespace {

struct AttributeName {
  std::uint32_t bit;
  const char* name;
};
constexpr AttributeName kAttributeNames[] = {{FILE_ATTRIBUTE_READONLY, "readonly"},
                                             {FILE_ATTRIBUTE_HIDDEN, "hidden"},
                                             {FILE_ATTRIBUTE_SYSTEM, "system"},
                                             {FILE_ATTRIBUTE_ARCHIVE, "archive"}};

std::uint32_t LoadAttributes(const nlohmann::json& list, const std::string& where) {
  std::uint32_t attributes = 0;
  if (!list.is_array()) {
    throw ImageError(where + ": attributes are a list");
  }
  for (const nlohmann::json& item : list) {
    bool known = false;
    for (const AttributeName& entry : kAttributeNames) {
      if (item == entry.name) {
        attributes |= entry.bit;
        known = true;
      }
    }
    if (!known) {
      throw ImageError(where + ": unknown attribute " + item.dump());
    }
  }
  return attributes;
}

nlohmann::json SaveAttributes(std::uint32_t attributes) {
  nlohmann::json list = nlohmann::json::array();
  for (const AttributeName& entry : kAttributeNames) {
    if ((attributes & entry.bit) != 0) {
      list.push_back(entry.name);
    }
  }
  return list;
}

// The flags and attributes that make an entry worth listing on its own.
bool HasDetails(const FsNode& node) {
  return (node.attributes & ~FILE_ATTRIBUTE_ARCHIVE) != 0 || !node.opens.empty() || node.undeletable ||
         node.no_dot_entries || node.reparse_tag != 0 || node.link_count > 1;
}

std::u16string WithoutTrailingBackslashes(std::u16string path) {
  while (!path.empty() && path.back() == u'\\') {
    path.pop_back();
  }
  return path;
}

}  // namespace

void LoadFiles(const nlohmann::json& section, FileSystem& files) {
  if (!section.is_object()) {
    throw ImageError("files: expected an object of paths");
  }
  std::vector<std::pair<std::u16string, std::u16string>> hard_links;  // new name, existing name
  for (const auto& [path_utf8, described] : section.items()) {
    const std::string where = "files entry \"" + path_utf8 + "\"";
    if (path_utf8 == "drives") {
      for (const auto& [drive, drive_described] : described.items()) {
        files.AddDrive(FromUtf8(drive));
        if (drive_described.contains("free_bytes")) {
          files.free_bytes[Fold(FromUtf8(drive))] = drive_described["free_bytes"].get<std::uint64_t>();
        }
      }
      continue;
    }
    std::u16string path = FromUtf8(path_utf8);
    if (path.size() < 2 || path[1] != u':') {
      throw ImageError(where + ": a path begins with a drive letter and a colon");
    }
    const bool directory = path.back() == u'\\';
    path = WithoutTrailingBackslashes(std::move(path));
    if (described.is_object() && described.contains("hard_link_to")) {
      // Made once every file it can name exists.
      if (directory || described.size() != 1) {
        throw ImageError(where + ": a hard link is a file entry with \"hard_link_to\" alone");
      }
      hard_links.emplace_back(path, ImageText(described["hard_link_to"], where + " hard_link_to"));
      continue;
    }
    if (described.is_string()) {
      if (directory) {
        throw ImageError(where + ": a directory has no content");
      }
      try {
        files.MakeFile(path, described.get<std::string>());
      } catch (const std::invalid_argument& error) {
        throw ImageError(where + ": " + error.what());
      }
      continue;
    }
    if (!described.is_object()) {
      throw ImageError(where + ": expected a string or an object");
    }
    std::shared_ptr<FsNode> node;
    try {
      node = directory ? files.MakeDirectory(path) : files.MakeFile(path);
    } catch (const std::invalid_argument& error) {
      throw ImageError(where + ": " + error.what());
    }
    for (const auto& [field, value] : described.items()) {
      if (field == "content" && value.is_string() && !directory) {
        node->content = value.get<std::string>();
      } else if (field == "attributes") {
        node->attributes = LoadAttributes(value, where);
      } else if (field == "undeletable" && value.is_boolean()) {
        node->undeletable = value.get<bool>();
      } else if (field == "no_dot_entries" && value.is_boolean() && directory) {
        node->no_dot_entries = value.get<bool>();
      } else if (field == "open_without_sharing" && value.is_boolean()) {
        if (value.get<bool>()) {
          node->opens.push_back(FileOpen{GENERIC_READ | GENERIC_WRITE, 0});
        }
      } else if (field == "link" && value.is_string()) {
        if (value == "junction") {
          node->reparse_tag = IO_REPARSE_TAG_MOUNT_POINT;
        } else if (value == "symlink") {
          node->reparse_tag = IO_REPARSE_TAG_SYMLINK;
        } else {
          throw ImageError(where + ": a link is \"junction\" or \"symlink\"");
        }
      } else if (field == "target") {
        node->link_target = ImageText(value, where + " target");
      } else {
        throw ImageError(where + ": unknown or malformed field \"" + field + "\"");
      }
    }
    if ((node->reparse_tag != 0) != !node->link_target.empty()) {
      throw ImageError(where + ": a link needs both \"link\" and \"target\"");
    }
  }
  files.Walk([](const std::u16string& path, const FsNode& node) {
    if (node.reparse_tag != 0 && !node.children.empty()) {
      throw ImageError("files entry \"" + ToUtf8(path) + "\\\": a link holds no entries of its own");
    }
  });
  for (const auto& [path, existing] : hard_links) {
    const std::string where = "files entry \"" + ToUtf8(path) + "\"";
    std::shared_ptr<FsNode> node = files.Find(existing);
    if (!node || node->directory || node->reparse_tag != 0) {
      throw ImageError(where + ": \"hard_link_to\" names no file of the image");
    }
    try {
      files.MakeHardLink(existing, path);
    } catch (const std::invalid_argument& error) {
      throw ImageError(where + ": " + error.what());
    }
  }
}

nlohmann::json SaveFiles(const FileSystem& files) {
  nlohmann::json section = nlohmann::json::object();
  nlohmann::json drives = nlohmann::json::object();
  std::map<const FsNode*, std::string> first_names;  // of hard-linked files
  files.Walk([&](const std::u16string& path, const FsNode& node) {
    const bool is_drive = path.find(u'\\') == std::u16string::npos;
    if (is_drive) {
      auto space = files.free_bytes.find(Fold(path));
      drives[ToUtf8(path)] =
          space == files.free_bytes.end() ? nlohmann::json::object() : nlohmann::json{{"free_bytes", space->second}};
      return;
    }
    if (node.directory && !node.children.empty() && !HasDetails(node)) {
      return;
    }
    const std::string name = ToUtf8(path) + (node.directory ? "\\" : "");
    if (node.link_count > 1) {
      auto first = first_names.emplace(&node, name);
      if (!first.second) {
        section[name] = nlohmann::json{{"hard_link_to", first.first->second}};
        return;
      }
    }
    if (!node.directory && !HasDetails(node)) {
      section[name] = node.content;
      return;
    }
    nlohmann::json described = nlohmann::json::object();
    if (!node.directory) {
      described["content"] = node.content;
    }
    if ((node.attributes & ~FILE_ATTRIBUTE_ARCHIVE) != 0) {
      described["attributes"] = SaveAttributes(node.attributes);
    }
    if (node.undeletable) {
      described["undeletable"] = true;
    }
    if (node.no_dot_entries) {
      described["no_dot_entries"] = true;
    }
    for (const FileOpen& open : node.opens) {
      if (open.share == 0) {
        described["open_without_sharing"] = true;
      }
    }
    if (node.reparse_tag != 0) {
      described["link"] = node.reparse_tag == IO_REPARSE_TAG_MOUNT_POINT ? "junction" : "symlink";
      described["target"] = ToUtf8(node.link_target);
    }
    section[name] = described;
  });
  section["drives"] = drives;
  return section;
}

void AddFilesInventory(const FileSystem& files, Inventory& inventory) {
  files.Walk([&](const std::u16string& path, const FsNode& node) {
    std::string state = node.directory ? "" : std::to_string(node.content.size()) + " bytes";
    const nlohmann::json attributes = SaveAttributes(node.attributes);
    for (const nlohmann::json& name : attributes) {
      state += (state.empty() ? "" : ", ") + name.get<std::string>();
    }
    if (node.reparse_tag != 0) {
      state += (state.empty() ? "" : ", ") + std::string("link to ") + ToUtf8(node.link_target);
    }
    if (node.link_count > 1) {
      state += (state.empty() ? "" : ", ") + std::to_string(node.link_count) + " names";
    }
    inventory[(node.directory ? "directory " : "file ") + ToUtf8(path)] = state;
  });
}

}  // namespace sim
