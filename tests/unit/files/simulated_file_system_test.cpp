// The simulated file system's documented behaviours that the directory
// walk relies on: deletion codes, attributes, listings that go on after
// deletions, links and hard links, and their machine images.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/core/text.h"
#include "sim/image/machine_image.h"
#include "sim/machine.h"
#include "sim/win32/windows.h"

namespace {

struct CallCase {
  const char* name;
  std::function<void(sim::FileSystem&)> build;
  std::function<BOOL()> call;
  bool succeeds;
  DWORD error;  // the last error after a failure
  std::function<bool(const sim::FileSystem&)> afterwards;
};

void RunCallCases(const std::vector<CallCase>& cases) {
  for (const CallCase& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine machine;
    sim::ScopedMachine scope(machine);
    c.build(machine.files);
    SetLastError(0);
    EXPECT_EQ(c.call() != FALSE, c.succeeds);
    if (!c.succeeds) {
      EXPECT_EQ(GetLastError(), c.error);
    }
    if (c.afterwards) {
      EXPECT_TRUE(c.afterwards(machine.files));
    }
  }
}

void FileWithAttributes(sim::FileSystem& fs, const char16_t* path, std::uint32_t attributes) {
  fs.MakeFile(path, "data")->attributes = attributes;
}

TEST(SimulatedFileSystem, RemoveDirectoryWCodes) {
  const std::vector<CallCase> cases = {
      {"empty", [](sim::FileSystem& fs) { fs.MakeDirectory(u"C:\\D"); }, [] { return RemoveDirectoryW(u"C:\\D"); },
       true, 0, [](const sim::FileSystem& fs) { return !fs.Exists(u"C:\\D"); }},
      {"other letter case", [](sim::FileSystem& fs) { fs.MakeDirectory(u"C:\\Data"); },
       [] { return RemoveDirectoryW(u"c:\\DATA"); }, true, 0, nullptr},
      {"not empty", [](sim::FileSystem& fs) { fs.MakeFile(u"C:\\D\\f"); }, [] { return RemoveDirectoryW(u"C:\\D"); },
       false, ERROR_DIR_NOT_EMPTY, nullptr},
      {"hidden entry still counts", [](sim::FileSystem& fs) { FileWithAttributes(fs, u"C:\\D\\f", 2); },
       [] { return RemoveDirectoryW(u"C:\\D"); }, false, ERROR_DIR_NOT_EMPTY, nullptr},
      {"a file", [](sim::FileSystem& fs) { fs.MakeFile(u"C:\\f"); }, [] { return RemoveDirectoryW(u"C:\\f"); }, false,
       ERROR_DIRECTORY, nullptr},
      {"missing", [](sim::FileSystem&) {}, [] { return RemoveDirectoryW(u"C:\\D"); }, false, ERROR_FILE_NOT_FOUND,
       nullptr},
      {"missing parent", [](sim::FileSystem&) {}, [] { return RemoveDirectoryW(u"C:\\X\\D"); }, false,
       ERROR_PATH_NOT_FOUND, nullptr},
      {"read-only", [](sim::FileSystem& fs) { fs.MakeDirectory(u"C:\\D")->attributes = FILE_ATTRIBUTE_READONLY; },
       [] { return RemoveDirectoryW(u"C:\\D"); }, false, ERROR_ACCESS_DENIED, nullptr},
      {"undeletable", [](sim::FileSystem& fs) { fs.MakeDirectory(u"C:\\D")->undeletable = true; },
       [] { return RemoveDirectoryW(u"C:\\D"); }, false, ERROR_ACCESS_DENIED, nullptr},
      {"open without delete sharing",
       [](sim::FileSystem& fs) {
         fs.MakeDirectory(u"C:\\D")->opens.push_back({GENERIC_READ, FILE_SHARE_READ});
       },
       [] { return RemoveDirectoryW(u"C:\\D"); }, false, ERROR_SHARING_VIOLATION, nullptr},
      {"drive root", [](sim::FileSystem&) {}, [] { return RemoveDirectoryW(u"C:\\"); }, false, ERROR_ACCESS_DENIED,
       nullptr},
      {"junction to a full directory goes, its target stays",
       [](sim::FileSystem& fs) {
         fs.MakeFile(u"C:\\Target\\f", "kept");
         fs.MakeLink(u"C:\\D\\link", IO_REPARSE_TAG_MOUNT_POINT, u"C:\\Target");
       },
       [] { return RemoveDirectoryW(u"C:\\D\\link"); }, true, 0,
       [](const sim::FileSystem& fs) { return !fs.Exists(u"C:\\D\\link") && fs.ReadFile(u"C:\\Target\\f") == "kept"; }},
      {"path of MAX_PATH units", [](sim::FileSystem&) {},
       [] { return RemoveDirectoryW((u"C:\\" + std::u16string(MAX_PATH - 3, u'd')).c_str()); }, false,
       ERROR_FILENAME_EXCED_RANGE, nullptr},
  };
  RunCallCases(cases);
}

TEST(SimulatedFileSystem, DeleteFileWAndSetFileAttributesWCodes) {
  constexpr std::uint32_t all = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  const std::vector<CallCase> cases = {
      {"plain file", [](sim::FileSystem& fs) { fs.MakeFile(u"C:\\D\\f"); }, [] { return DeleteFileW(u"C:\\d\\F"); },
       true, 0, [](const sim::FileSystem& fs) { return !fs.Exists(u"C:\\D\\f") && fs.Exists(u"C:\\D"); }},
      {"read-only", [](sim::FileSystem& fs) { FileWithAttributes(fs, u"C:\\f", FILE_ATTRIBUTE_READONLY); },
       [] { return DeleteFileW(u"C:\\f"); }, false, ERROR_ACCESS_DENIED, nullptr},
      {"hidden and system", [](sim::FileSystem& fs) { FileWithAttributes(fs, u"C:\\f", 6); },
       [] { return DeleteFileW(u"C:\\f"); }, true, 0, nullptr},
      {"read-only after NORMAL",
       [](sim::FileSystem& fs) { FileWithAttributes(fs, u"C:\\f", all | FILE_ATTRIBUTE_ARCHIVE); },
       [] { return SetFileAttributesW(u"C:\\f", FILE_ATTRIBUTE_NORMAL) && DeleteFileW(u"C:\\f"); }, true, 0, nullptr},
      {"NORMAL clears read-only, hidden and system", [](sim::FileSystem& fs) { FileWithAttributes(fs, u"C:\\f", all); },
       [] { return SetFileAttributesW(u"C:\\f", FILE_ATTRIBUTE_NORMAL); }, true, 0,
       [](const sim::FileSystem& fs) { return fs.Find(u"C:\\f")->attributes == 0; }},
      {"attributes of a missing file", [](sim::FileSystem&) {},
       [] { return SetFileAttributesW(u"C:\\f", FILE_ATTRIBUTE_NORMAL); }, false, ERROR_FILE_NOT_FOUND, nullptr},
      {"attributes below a missing directory", [](sim::FileSystem&) {},
       [] { return SetFileAttributesW(u"C:\\X\\f", FILE_ATTRIBUTE_NORMAL); }, false, ERROR_PATH_NOT_FOUND, nullptr},
      {"a directory", [](sim::FileSystem& fs) { fs.MakeDirectory(u"C:\\D"); }, [] { return DeleteFileW(u"C:\\D"); },
       false, ERROR_ACCESS_DENIED, nullptr},
      {"undeletable", [](sim::FileSystem& fs) { fs.MakeFile(u"C:\\f")->undeletable = true; },
       [] { return DeleteFileW(u"C:\\f"); }, false, ERROR_ACCESS_DENIED, nullptr},
      {"open without delete sharing",
       [](sim::FileSystem& fs) {
         fs.MakeFile(u"C:\\f")->opens.push_back({GENERIC_READ, FILE_SHARE_READ});
       },
       [] { return DeleteFileW(u"C:\\f"); }, false, ERROR_SHARING_VIOLATION, nullptr},
      {"open with delete sharing",
       [](sim::FileSystem& fs) {
         fs.MakeFile(u"C:\\f")->opens.push_back({GENERIC_READ, FILE_SHARE_DELETE});
       },
       [] { return DeleteFileW(u"C:\\f"); }, true, 0, nullptr},
      {"missing", [](sim::FileSystem&) {}, [] { return DeleteFileW(u"C:\\f"); }, false, ERROR_FILE_NOT_FOUND, nullptr},
      {"missing parent", [](sim::FileSystem&) {}, [] { return DeleteFileW(u"C:\\X\\f"); }, false, ERROR_PATH_NOT_FOUND,
       nullptr},
      {"one name of a hard-linked file",
       [](sim::FileSystem& fs) {
         fs.MakeFile(u"C:\\A\\first", "shared");
         fs.MakeHardLink(u"C:\\A\\first", u"C:\\B\\second");
       },
       [] { return DeleteFileW(u"C:\\A\\first"); }, true, 0,
       [](const sim::FileSystem& fs) {
         return !fs.Exists(u"C:\\A\\first") && fs.ReadFile(u"C:\\B\\second") == "shared" &&
                fs.Find(u"C:\\B\\second")->link_count == 1;
       }},
      {"a file symbolic link: the link goes",
       [](sim::FileSystem& fs) {
         fs.MakeFile(u"C:\\T\\target", "kept");
         fs.MakeLink(u"C:\\D\\link", IO_REPARSE_TAG_SYMLINK, u"C:\\T\\target", false);
       },
       [] { return DeleteFileW(u"C:\\D\\link"); }, true, 0,
       [](const sim::FileSystem& fs) { return !fs.Exists(u"C:\\D\\link") && fs.ReadFile(u"C:\\T\\target") == "kept"; }},
      {"a junction", [](sim::FileSystem& fs) { fs.MakeLink(u"C:\\D\\link", IO_REPARSE_TAG_MOUNT_POINT, u"C:\\T"); },
       [] { return DeleteFileW(u"C:\\D\\link"); }, false, ERROR_ACCESS_DENIED, nullptr},
      {"path of MAX_PATH units", [](sim::FileSystem&) {},
       [] { return DeleteFileW((u"C:\\" + std::u16string(MAX_PATH - 3, u'f')).c_str()); }, false,
       ERROR_FILENAME_EXCED_RANGE, nullptr},
  };
  RunCallCases(cases);
}

class ListingTest : public ::testing::Test {
 protected:
  ListingTest() : scope_(machine) {}

  // Every name a search lists from start to end, or the error of
  // FindFirstFileW as "error N".
  std::vector<std::string> List(const std::u16string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW data = {};
    HANDLE search = FindFirstFileW(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
      return {"error " + std::to_string(GetLastError())};
    }
    do {
      names.push_back(sim::ToUtf8(data.cFileName));
    } while (FindNextFileW(search, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(search));
    return names;
  }

  sim::Machine machine;

 private:
  sim::ScopedMachine scope_;
};

using Names = std::vector<std::string>;

// "." and ".." first in a directory, never in a drive root; then the
// entries by name, letter case ignored.
TEST_F(ListingTest, DotEntriesFirstExceptInADriveRoot) {
  machine.files.MakeFile(u"D:\\Dir\\beta.txt");
  machine.files.MakeFile(u"D:\\Dir\\Alpha.txt");
  machine.files.MakeDirectory(u"D:\\Dir\\gamma");
  machine.files.MakeFile(u"D:\\top.txt");
  EXPECT_EQ(List(u"D:\\Dir\\*"), (Names{".", "..", "Alpha.txt", "beta.txt", "gamma"}));
  EXPECT_EQ(List(u"D:\\*"), (Names{"Dir", "top.txt"}));
  EXPECT_EQ(List(u"D:\\Dir\\*.txt"), (Names{"Alpha.txt", "beta.txt"}));
  EXPECT_EQ(List(u"D:\\Dir\\*.*"), (Names{".", "..", "Alpha.txt", "beta.txt", "gamma"}));
  EXPECT_EQ(List(u"D:\\Dir\\B?TA.TXT"), (Names{"beta.txt"}));
  EXPECT_EQ(machine.handles.OpenCount(), 0U);
}

TEST_F(ListingTest, FindFirstFileWCodes) {
  machine.files.MakeFile(u"C:\\D\\f.txt");
  machine.files.AddDrive(u"E:");
  const std::pair<std::u16string, std::string> cases[] = {
      {u"C:\\Missing\\*", "error 3"}, {u"C:\\X\\Missing\\*", "error 3"}, {u"C:\\D\\f.txt\\*", "error 267"},
      {u"E:\\*", "error 2"},          {u"C:\\D\\*.dll", "error 2"},      {u"D\\*", "error 3"},
      {u"C:\\D\\", "error 2"},
  };
  for (const auto& [pattern, result] : cases) {
    SCOPED_TRACE(sim::ToUtf8(pattern));
    EXPECT_EQ(List(pattern), Names{result});
  }
  EXPECT_EQ(machine.handles.OpenCount(), 0U);
}

// A search remembers where it stands, not a copy of the listing: entries
// deleted after they were listed do not disturb it, entries deleted before
// it reached them are not listed.
TEST_F(ListingTest, SearchGoesOnAfterDeletions) {
  for (const char16_t* name : {u"C:\\D\\a", u"C:\\D\\b", u"C:\\D\\c", u"C:\\D\\d"}) {
    machine.files.MakeFile(name);
  }
  WIN32_FIND_DATAW data = {};
  HANDLE search = FindFirstFileW(u"C:\\D\\*", &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  std::vector<std::string> names = {sim::ToUtf8(data.cFileName)};
  while (FindNextFileW(search, &data)) {
    const std::string name = sim::ToUtf8(data.cFileName);
    names.push_back(name);
    if (name == "a") {
      EXPECT_TRUE(DeleteFileW(u"C:\\D\\a"));
      EXPECT_TRUE(DeleteFileW(u"C:\\D\\c"));
    }
  }
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_EQ(names, (Names{".", "..", "a", "b", "d"}));
  EXPECT_EQ(machine.handles.OpenCount(), 1U);
  EXPECT_TRUE(FindClose(search));
  EXPECT_EQ(machine.handles.OpenCount(), 0U);
  // A closed search is no search any more.
  EXPECT_FALSE(FindNextFileW(search, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(FindClose(search));
}

// What an entry record says: the directory and reparse bits the walk
// tests, the link's tag, NORMAL for a file without attributes.
TEST_F(ListingTest, EntryRecordsCarryAttributesAndLinkTags) {
  machine.files.MakeFile(u"C:\\D\\plain", "12345");
  machine.files.MakeFile(u"C:\\D\\secret")->attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  machine.files.MakeDirectory(u"C:\\D\\sub");
  machine.files.MakeLink(u"C:\\D\\zlink", IO_REPARSE_TAG_MOUNT_POINT, u"C:\\Elsewhere");
  std::vector<std::pair<DWORD, DWORD>> records;
  WIN32_FIND_DATAW data = {};
  HANDLE search = FindFirstFileW(u"C:\\D\\*", &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  do {
    records.emplace_back(data.dwFileAttributes, data.dwReserved0);
  } while (FindNextFileW(search, &data));
  FindClose(search);
  const std::vector<std::pair<DWORD, DWORD>> expected = {
      {FILE_ATTRIBUTE_DIRECTORY, 0},
      {FILE_ATTRIBUTE_DIRECTORY, 0},
      {FILE_ATTRIBUTE_NORMAL, 0},
      {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, 0},
      {FILE_ATTRIBUTE_DIRECTORY, 0},
      {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, IO_REPARSE_TAG_MOUNT_POINT},
  };
  EXPECT_EQ(records, expected);
}

// Walking through a junction lists what it points to, which is why the
// directory walk must never step into one. Links met inside a path are
// followed, "." and ".." in a path are taken away, and a loop of links ends.
TEST_F(ListingTest, PathsThroughLinks) {
  machine.files.MakeFile(u"C:\\Elsewhere\\theirs.txt", "theirs");
  machine.files.MakeLink(u"C:\\P\\link", IO_REPARSE_TAG_MOUNT_POINT, u"C:\\Elsewhere");
  machine.files.MakeLink(u"C:\\Loop\\a", IO_REPARSE_TAG_SYMLINK, u"C:\\Loop\\b");
  machine.files.MakeLink(u"C:\\Loop\\b", IO_REPARSE_TAG_SYMLINK, u"C:\\Loop\\a");
  EXPECT_EQ(List(u"C:\\P\\link\\*"), (Names{".", "..", "theirs.txt"}));
  EXPECT_EQ(List(u"C:\\P\\.\\link\\..\\link\\*"), (Names{".", "..", "theirs.txt"}));
  EXPECT_EQ(machine.files.ReadFile(u"C:\\P\\link\\theirs.txt"), "theirs");
  EXPECT_EQ(List(u"C:\\Loop\\a\\*"), Names{"error 3"});
  EXPECT_EQ(machine.files.Resolve(u"C:\\Loop\\a\\x").error, static_cast<std::uint32_t>(ERROR_CANT_RESOLVE_FILENAME));
  // An open handle knows where it led: through links, with the names as
  // stored; the link itself when asked for it.
  const std::pair<DWORD, std::string> opens[] = {{0, "\\\\?\\C:\\Elsewhere\\theirs.txt"},
                                                 {FILE_FLAG_OPEN_REPARSE_POINT, "\\\\?\\C:\\P\\link"}};
  for (const auto& [flag, expected] : opens) {
    const std::u16string path = flag == 0 ? u"c:\\p\\LINK\\THEIRS.TXT" : u"C:\\P\\link";
    HANDLE file =
        CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flag, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    WCHAR final_path[MAX_PATH] = {};
    EXPECT_EQ(GetFinalPathNameByHandleW(file, final_path, MAX_PATH, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS),
              expected.size());
    EXPECT_EQ(sim::ToUtf8(final_path), expected);
    EXPECT_TRUE(CloseHandle(file));
  }
  // GetFileAttributesW answers for the link itself.
  EXPECT_EQ(GetFileAttributesW(u"C:\\P\\link"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
}

// Links, hard links and the test hooks survive a machine image.
TEST(SimulatedFileSystemImage, LinksAndHardLinksRoundTrip) {
  const nlohmann::json section = nlohmann::json::parse(R"({
    "C:\\Data\\first.txt": "shared",
    "C:\\Other\\second.txt": {"hard_link_to": "C:\\Data\\first.txt"},
    "C:\\App\\link\\": {"link": "junction", "target": "C:\\Data"},
    "C:\\App\\file link": {"link": "symlink", "target": "C:\\Data\\first.txt"},
    "C:\\Share\\": {"no_dot_entries": true},
    "C:\\Locked.txt": {"content": "x", "undeletable": true, "attributes": ["readonly", "hidden"]}
  })");
  sim::Machine machine;
  sim::LoadFiles(section, machine.files);
  EXPECT_EQ(machine.files.Find(u"C:\\Other\\second.txt"), machine.files.Find(u"C:\\Data\\first.txt"));
  EXPECT_EQ(machine.files.Find(u"C:\\Data\\first.txt")->link_count, 2U);
  EXPECT_EQ(machine.files.ReadFile(u"C:\\App\\file link"), "shared");

  sim::Machine copy;
  sim::LoadFiles(sim::SaveFiles(machine.files), copy.files);
  EXPECT_EQ(sim::SaveFiles(copy.files), sim::SaveFiles(machine.files));
  EXPECT_EQ(copy.files.Find(u"C:\\Other\\second.txt"), copy.files.Find(u"C:\\Data\\first.txt"));
  EXPECT_TRUE(copy.files.Find(u"C:\\Share")->no_dot_entries);

  for (const char* broken : {R"({"C:\\A.txt": {"hard_link_to": "C:\\Missing.txt"}})",
                             R"({"C:\\L\\": {"link": "junction", "target": "C:\\T"}, "C:\\L\\inside.txt": "x"})",
                             R"({"C:\\F.txt": "x", "C:\\F.txt\\below.txt": "y"})"}) {
    SCOPED_TRACE(broken);
    sim::Machine fresh;
    EXPECT_THROW(sim::LoadFiles(nlohmann::json::parse(broken), fresh.files), sim::ImageError);
  }
}

}  // namespace
