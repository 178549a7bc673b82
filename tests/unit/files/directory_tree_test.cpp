// Removing a directory tree: the log line by line, the machine afterwards,
// the calls made, and the paths that must never be walked.
#include "src/files/directory_tree.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/core/text.h"
#include "src/log/run_log.h"
#include "tests/support/sim_fixture.h"

namespace {

using testing_support::LogLines;

const std::vector<std::string> kFileCalls = {"SetFileAttributesW", "RemoveDirectoryW", "FindFirstFileW",
                                             "FindNextFileW",      "FindClose",        "DeleteFileW"};

class DirectoryTreeTest : public testing_support::SimTest {
 protected:
  // Runs the removal between the log's opening and closing; the log's bytes.
  std::string Remove(const std::u16string& directory, bool* result = nullptr) {
    EXPECT_TRUE(OpenRunLog());
    const bool removed = RemoveDirectoryTree(directory.c_str());
    CloseRunLog();
    if (result != nullptr) {
      *result = removed;
    }
    return LogBytes();
  }

  // Every file and directory of the machine but the run log.
  sim::Inventory FilesBesideTheLog() const {
    sim::Inventory inventory;
    sim::AddFilesInventory(machine.files, inventory);
    inventory.erase("file " + sim::ToUtf8(machine.process.temp_path) + "$vornalet.log");
    return inventory;
  }

  std::size_t FileCallCount() const {
    std::size_t count = 0;
    for (const std::string& call : kFileCalls) {
      count += machine.journal.Count(call);
    }
    return count;
  }
};

// The worked example: D holds a file a and a subdirectory S with a file b.
// The second removal of S by the level above finds it gone (2); D itself
// goes last without a line.
TEST_F(DirectoryTreeTest, ExampleTreeLogsEveryEntryInOrder) {
  machine.files.MakeFile(u"C:\\D\\a", "a");
  machine.files.MakeFile(u"C:\\D\\S\\b", "b");

  bool result = false;
  EXPECT_EQ(Remove(u"C:\\D", &result), LogLines({
                                           "Removing Dir C:\\D",
                                           "Deleting file C:\\D\\a",
                                           "OK",
                                           "Removing Dir C:\\D\\S",
                                           "Deleting file C:\\D\\S\\b",
                                           "OK",
                                           "Cannot remove dir 2",
                                       }));
  EXPECT_TRUE(result);
  EXPECT_FALSE(machine.files.Exists(u"C:\\D"));
  // clang-format off
  EXPECT_EQ(Calls(kFileCalls), (std::vector<std::string>{
      "SetFileAttributesW(C:\\D)=0",
      "RemoveDirectoryW(C:\\D)=145",
      "FindFirstFileW(C:\\D\\*)=0",
      "FindNextFileW(C:\\D\\*)=0",
      "FindNextFileW(C:\\D\\*)=0",
      "SetFileAttributesW(C:\\D\\a)=0",
      "DeleteFileW(C:\\D\\a)=0",
      "FindNextFileW(C:\\D\\*)=0",
      "SetFileAttributesW(C:\\D\\S)=0",
      "RemoveDirectoryW(C:\\D\\S)=145",
      "FindFirstFileW(C:\\D\\S\\*)=0",
      "FindNextFileW(C:\\D\\S\\*)=0",
      "FindNextFileW(C:\\D\\S\\*)=0",
      "SetFileAttributesW(C:\\D\\S\\b)=0",
      "DeleteFileW(C:\\D\\S\\b)=0",
      "FindNextFileW(C:\\D\\S\\*)=18",
      "FindClose(C:\\D\\S\\*)=0",
      "RemoveDirectoryW(C:\\D\\S)=0",
      "RemoveDirectoryW(C:\\D\\S)=2",
      "FindNextFileW(C:\\D\\*)=18",
      "FindClose(C:\\D\\*)=0",
      "RemoveDirectoryW(C:\\D)=0",
  }));
  // clang-format on
  ExpectNoOpenHandles();
}

TEST_F(DirectoryTreeTest, EmptyDirectoryGoesAtOnceWithOneLine) {
  machine.files.MakeDirectory(u"C:\\Empty");
  EXPECT_EQ(Remove(u"C:\\Empty"), LogLines({"Removing Dir C:\\Empty"}));
  EXPECT_FALSE(machine.files.Exists(u"C:\\Empty"));
  EXPECT_EQ(machine.journal.Count("FindFirstFileW"), 0U);
  ExpectNoOpenHandles();
}

// A missing directory: its attributes cannot be dropped, it cannot be
// removed, and nothing is listed. The code says whether its parent exists.
TEST_F(DirectoryTreeTest, MissingDirectoryIsReportedAndNotListed) {
  struct Case {
    std::u16string path;
    std::string log;
  };
  const Case cases[] = {
      {u"C:\\Missing", LogLines({"Removing Dir C:\\Missing", "cannot drop attributes 2", "Cannot remove dir 2"})},
      {u"C:\\NoParent\\Missing",
       LogLines({"Removing Dir C:\\NoParent\\Missing", "cannot drop attributes 3", "Cannot remove dir 3"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::ToUtf8(c.path));
    machine.journal.Clear();
    EXPECT_EQ(Remove(c.path), c.log);
    EXPECT_EQ(machine.journal.Count("FindFirstFileW"), 0U);
  }
  ExpectNoOpenHandles();
}

// Read-only, hidden and system entries are listed by "*" and removed like
// any other once their attributes are dropped.
TEST_F(DirectoryTreeTest, ReadOnlyHiddenAndSystemEntriesAreRemoved) {
  struct Case {
    const char* name;
    std::function<void(sim::FileSystem&)> build;
    std::string log;
  };
  constexpr std::uint32_t all = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  const Case cases[] = {
      {"read-only file",
       [](sim::FileSystem& fs) { fs.MakeFile(u"C:\\P\\conf.ini")->attributes = FILE_ATTRIBUTE_READONLY; },
       LogLines({"Removing Dir C:\\P", "Deleting file C:\\P\\conf.ini", "OK"})},
      {"hidden file", [](sim::FileSystem& fs) { fs.MakeFile(u"C:\\P\\.state")->attributes = FILE_ATTRIBUTE_HIDDEN; },
       LogLines({"Removing Dir C:\\P", "Deleting file C:\\P\\.state", "OK"})},
      {"system file", [](sim::FileSystem& fs) { fs.MakeFile(u"C:\\P\\boot.sys")->attributes = FILE_ATTRIBUTE_SYSTEM; },
       LogLines({"Removing Dir C:\\P", "Deleting file C:\\P\\boot.sys", "OK"})},
      {"read-only, hidden and system directory holding such a file",
       [](sim::FileSystem& fs) {
         fs.MakeDirectory(u"C:\\P\\Sub")->attributes = all;
         fs.MakeFile(u"C:\\P\\Sub\\f")->attributes = all;
       },
       LogLines({"Removing Dir C:\\P", "Removing Dir C:\\P\\Sub", "Deleting file C:\\P\\Sub\\f", "OK",
                 "Cannot remove dir 2"})},
      {"read-only empty directory handed in",
       [](sim::FileSystem& fs) { fs.MakeDirectory(u"C:\\P")->attributes = FILE_ATTRIBUTE_READONLY; },
       LogLines({"Removing Dir C:\\P"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.build(machine.files);
    EXPECT_EQ(Remove(u"C:\\P"), c.log);
    EXPECT_FALSE(machine.files.Exists(u"C:\\P"));
  }
  ExpectNoOpenHandles();
}

// A file that stays: its own line with its code, the walk goes on, its
// directory stays and the level above reports that with 145. The directory
// handed in stays too, silently.
TEST_F(DirectoryTreeTest, FileThatCannotBeDeletedKeepsItsDirectories) {
  struct Case {
    std::string dir;
    std::function<void(sim::FsNode&)> lock;
    const char* code;
  };
  const Case cases[] = {
      {"C:\\Undeletable", [](sim::FsNode& node) { node.undeletable = true; }, "5"},
      {"C:\\HeldElsewhere",
       [](sim::FsNode& node) {
         node.opens.push_back({GENERIC_READ, FILE_SHARE_READ});
       },
       "32"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dir);
    const std::u16string dir = sim::FromUtf8(c.dir);
    machine.files.MakeFile(dir + u"\\after.txt");
    c.lock(*machine.files.MakeFile(dir + u"\\sub\\locked.dll"));
    machine.files.MakeFile(dir + u"\\sub\\other.txt");

    EXPECT_EQ(Remove(dir), LogLines({
                               "Removing Dir " + c.dir,
                               "Deleting file " + c.dir + "\\after.txt",
                               "OK",
                               "Removing Dir " + c.dir + "\\sub",
                               "Deleting file " + c.dir + "\\sub\\locked.dll",
                               c.dir + "\\sub\\locked.dll " + c.code,
                               "Deleting file " + c.dir + "\\sub\\other.txt",
                               "OK",
                               "Cannot remove dir 145",
                           }));
    EXPECT_TRUE(machine.files.Exists(dir + u"\\sub\\locked.dll"));
    EXPECT_FALSE(machine.files.Exists(dir + u"\\sub\\other.txt"));
    EXPECT_FALSE(machine.files.Exists(dir + u"\\after.txt"));
    // Step 3 and the silent last removal; no "Cannot remove dir" of its own.
    EXPECT_EQ(machine.journal.Count("RemoveDirectoryW", dir), 2U);
  }
  ExpectNoOpenHandles();
}

// Every subdirectory gets its "Removing Dir" line before its contents and
// the "Cannot remove dir" line of the second removal after them.
TEST_F(DirectoryTreeTest, TreeOfSeveralLevels) {
  machine.files.MakeFile(u"C:\\T\\L1\\L2\\L3\\f.txt");
  machine.files.MakeFile(u"C:\\T\\L1\\g.txt");
  machine.files.MakeDirectory(u"C:\\T\\L1\\L2\\Empty");
  machine.files.MakeFile(u"C:\\T\\z.txt");

  EXPECT_EQ(Remove(u"C:\\T"), LogLines({
                                  "Removing Dir C:\\T",
                                  "Removing Dir C:\\T\\L1",
                                  "Deleting file C:\\T\\L1\\g.txt",
                                  "OK",
                                  "Removing Dir C:\\T\\L1\\L2",
                                  "Removing Dir C:\\T\\L1\\L2\\Empty",
                                  "Cannot remove dir 2",
                                  "Removing Dir C:\\T\\L1\\L2\\L3",
                                  "Deleting file C:\\T\\L1\\L2\\L3\\f.txt",
                                  "OK",
                                  "Cannot remove dir 2",
                                  "Cannot remove dir 2",
                                  "Cannot remove dir 2",
                                  "Deleting file C:\\T\\z.txt",
                                  "OK",
                              }));
  EXPECT_FALSE(machine.files.Exists(u"C:\\T"));
  ExpectNoOpenHandles();
}

// A directory that cannot be removed for a reason other than 145 is
// reported and never listed; the platform's refusal to clear attributes is
// logged and the walk goes on.
TEST_F(DirectoryTreeTest, FailuresBeforeTheListing) {
  machine.files.MakeFile(u"C:\\Held\\f.txt");
  machine.files.Find(u"C:\\Held")->opens.push_back({GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE});
  EXPECT_EQ(Remove(u"C:\\Held"), LogLines({"Removing Dir C:\\Held", "Cannot remove dir 32"}));
  EXPECT_TRUE(machine.files.Exists(u"C:\\Held\\f.txt"));
  EXPECT_EQ(machine.journal.Count("FindFirstFileW"), 0U);

  machine.files.MakeFile(u"C:\\Attr\\f.txt");
  machine.faults.Add({"SetFileAttributesW", u"C:\\Attr", 0, -1, ERROR_ACCESS_DENIED});
  EXPECT_EQ(Remove(u"C:\\Attr"), LogLines({"Removing Dir C:\\Attr", "cannot drop attributes 5",
                                           "Deleting file C:\\Attr\\f.txt", "cannot drop attributes 5", "OK"}));
  EXPECT_FALSE(machine.files.Exists(u"C:\\Attr"));
  ExpectNoOpenHandles();
}

// A listing that fails at its start or midway: the directory is only tried
// once more, silently, and the search is closed.
TEST_F(DirectoryTreeTest, ListingThatFailsEndsTheLevel) {
  machine.files.MakeFile(u"C:\\L\\a.txt");
  machine.files.MakeFile(u"C:\\L\\b.txt");
  machine.faults.Add({"FindFirstFileW", u"C:\\L\\*", 0, 1, ERROR_ACCESS_DENIED});
  EXPECT_EQ(Remove(u"C:\\L"), LogLines({"Removing Dir C:\\L"}));
  EXPECT_TRUE(machine.files.Exists(u"C:\\L\\a.txt"));

  // ".", ".." and a.txt come through; then the listing breaks off.
  machine.faults.Add({"FindNextFileW", u"C:\\L\\*", 2, 1, ERROR_ACCESS_DENIED});
  EXPECT_EQ(Remove(u"C:\\L"), LogLines({"Removing Dir C:\\L", "Deleting file C:\\L\\a.txt", "OK"}));
  EXPECT_TRUE(machine.files.Exists(u"C:\\L\\b.txt"));
  EXPECT_EQ(machine.journal.Count("FindClose"), 1U);
  ExpectNoOpenHandles();
}

// "." and ".." are passed over by name, so a listing without them loses no
// entry: the first two entries are removed like the rest.
TEST_F(DirectoryTreeTest, ListingWithoutDotEntriesRemovesEveryEntry) {
  machine.files.MakeDirectory(u"C:\\Share")->no_dot_entries = true;
  machine.files.MakeFile(u"C:\\Share\\a.txt");
  machine.files.MakeFile(u"C:\\Share\\b.txt");
  machine.files.MakeFile(u"C:\\Share\\S\\c.txt");

  EXPECT_EQ(Remove(u"C:\\Share"), LogLines({
                                      "Removing Dir C:\\Share",
                                      "Deleting file C:\\Share\\a.txt",
                                      "OK",
                                      "Deleting file C:\\Share\\b.txt",
                                      "OK",
                                      "Removing Dir C:\\Share\\S",
                                      "Deleting file C:\\Share\\S\\c.txt",
                                      "OK",
                                      "Cannot remove dir 2",
                                  }));
  EXPECT_FALSE(machine.files.Exists(u"C:\\Share"));
  ExpectNoOpenHandles();
}

// A link inside the tree goes as a link; what it points to stays whole.
TEST_F(DirectoryTreeTest, LinksAreRemovedWithoutTouchingTheirTargets) {
  const std::u16string product = u"C:\\Program Files (x86)\\Morvathen\\Server";
  struct Case {
    const char* name;
    std::uint32_t tag;
    bool directory;
    std::u16string target;
  };
  const Case cases[] = {
      {"junction", IO_REPARSE_TAG_MOUNT_POINT, true, u"C:\\Shared"},
      {"directory symbolic link", IO_REPARSE_TAG_SYMLINK, true, u"C:\\Shared"},
      {"file symbolic link", IO_REPARSE_TAG_SYMLINK, false, u"C:\\Shared\\data.bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine.files.MakeFile(u"C:\\Shared\\data.bin", "theirs")->attributes = FILE_ATTRIBUTE_READONLY;
    machine.files.MakeFile(u"C:\\Shared\\deep\\more.txt", "theirs too");
    machine.files.MakeFile(product + u"\\srvcore.exe", "MZ");
    machine.files.MakeLink(product + u"\\shared", c.tag, c.target, c.directory);
    const sim::Inventory before = FilesBesideTheLog();

    EXPECT_EQ(Remove(product), LogLines({
                                   "Removing Dir C:\\Program Files (x86)\\Morvathen\\Server",
                                   "Removing link C:\\Program Files (x86)\\Morvathen\\Server\\shared",
                                   "OK",
                                   "Deleting file C:\\Program Files (x86)\\Morvathen\\Server\\srvcore.exe",
                                   "OK",
                               }));
    EXPECT_FALSE(machine.files.Exists(product));
    sim::Inventory expected = before;
    for (auto it = expected.begin(); it != expected.end();) {
      it = it->first.find("Morvathen\\Server") != std::string::npos ? expected.erase(it) : std::next(it);
    }
    EXPECT_EQ(FilesBesideTheLog(), expected);
    EXPECT_EQ(machine.journal.Count("FindFirstFileW", u"C:\\Shared\\*"), 0U);
    EXPECT_EQ(machine.journal.Count("SetFileAttributesW", product + u"\\shared"), 0U);
  }
  ExpectNoOpenHandles();
}

// A link that cannot be removed is reported; the walk goes on and its
// directory stays.
TEST_F(DirectoryTreeTest, LinkThatCannotBeRemoved) {
  machine.files.MakeFile(u"C:\\Shared\\data.bin", "theirs");
  machine.files.MakeLink(u"C:\\P\\shared", IO_REPARSE_TAG_MOUNT_POINT, u"C:\\Shared")->undeletable = true;
  EXPECT_EQ(Remove(u"C:\\P"), LogLines({"Removing Dir C:\\P", "Removing link C:\\P\\shared", "Cannot remove link 5"}));
  EXPECT_TRUE(machine.files.Exists(u"C:\\P\\shared"));
  EXPECT_EQ(machine.files.ReadFile(u"C:\\Shared\\data.bin"), "theirs");
  ExpectNoOpenHandles();
}

// A directory handed in that is itself a junction: removing it removes the
// link, as RemoveDirectoryW does, and nothing behind it.
TEST_F(DirectoryTreeTest, DirectoryHandedInThatIsALink) {
  machine.files.MakeFile(u"D:\\Real\\Server\\srvcore.exe", "MZ");
  machine.files.MakeLink(u"C:\\Apps\\Server", IO_REPARSE_TAG_MOUNT_POINT, u"D:\\Real\\Server");
  EXPECT_EQ(Remove(u"C:\\Apps\\Server"), LogLines({"Removing Dir C:\\Apps\\Server"}));
  EXPECT_FALSE(machine.files.Exists(u"C:\\Apps\\Server"));
  EXPECT_TRUE(machine.files.Exists(u"D:\\Real\\Server\\srvcore.exe"));
  ExpectNoOpenHandles();
}

// Paths that must never be walked: one line, nothing touched, not even an
// attribute. Below those folders, removal goes on as usual.
TEST_F(DirectoryTreeTest, RefusedPathsTouchNothing) {
  for (const char16_t* file :
       {u"C:\\Windows\\System32\\kernel32.dll", u"C:\\Program Files\\Other\\app.exe",
        u"C:\\Program Files (x86)\\Morvathen\\Common\\mvcommon.dll", u"C:\\ProgramData\\Other\\data.bin",
        u"C:\\Users\\Public\\Documents\\shared.txt", u"C:\\Users\\Administrator\\Documents\\report.txt",
        u"C:\\Users\\Administrator\\AppData\\Local\\Temp\\scratch.tmp", u"C:\\top.txt", u"D:\\data.bin"}) {
    machine.files.MakeFile(file, "keep");
  }
  const std::string long_path = "C:\\" + std::string(MAX_PATH, 'x');
  struct Case {
    std::u16string path;
    const char* refusal;
  };
  const Case cases[] = {
      {u"C:", "Refusing to remove root dir"},
      {u"C:\\", "Refusing to remove root dir"},
      {u"d:", "Refusing to remove root dir"},
      {u"\\\\server\\share", "Refusing to remove root dir"},
      {u"\\\\server\\share\\", "Refusing to remove root dir"},
      {u"", "Refusing to remove dir, not a full path"},
      {u"Windows", "Refusing to remove dir, not a full path"},
      {u"C:Windows", "Refusing to remove dir, not a full path"},
      {u"\\Windows", "Refusing to remove dir, not a full path"},
      {u"\\\\server", "Refusing to remove dir, not a full path"},
      {u"\\\\?\\C:\\Windows", "Refusing to remove dir, not a full path"},
      {u"C:/Windows", "Refusing to remove dir, not a full path"},
      {u"C:\\Program Files (x86)\\Morvathen\\..", "Refusing to remove dir, not a full path"},
      {u"C:\\Program Files (x86)\\.\\Morvathen", "Refusing to remove dir, not a full path"},
      {u"C:\\Windows.", "Refusing to remove dir, not a full path"},
      {u"C:\\Windows ", "Refusing to remove dir, not a full path"},
      {u"C:\\\\Windows", "Refusing to remove dir, not a full path"},
      {u"C:\\Windows", "Refusing to remove system dir"},
      {u"c:\\windows\\", "Refusing to remove system dir"},
      {u"C:\\Program Files", "Refusing to remove system dir"},
      {u"C:\\PROGRAM FILES (X86)", "Refusing to remove system dir"},
      {u"C:\\ProgramData", "Refusing to remove system dir"},
      {u"C:\\Users", "Refusing to remove system dir"},
      {u"C:\\Users\\Public", "Refusing to remove system dir"},
      {u"C:\\Users\\Administrator", "Refusing to remove system dir"},
      {u"C:\\Users\\Administrator\\AppData", "Refusing to remove system dir"},
      {u"C:\\Users\\Administrator\\AppData\\Local\\Temp", "Refusing to remove system dir"},
      {sim::FromUtf8(long_path), "Refusing to remove dir, path too long"},
  };
  const sim::Inventory before = FilesBesideTheLog();
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::ToUtf8(c.path));
    machine.journal.Clear();
    bool result = true;
    const std::string log = Remove(c.path, &result);
    EXPECT_EQ(log, LogLines({std::string(c.refusal) + " " + sim::ToUtf8(c.path)}));
    EXPECT_FALSE(result);
    EXPECT_EQ(FileCallCount(), 0U) << ::testing::PrintToString(Calls(kFileCalls));
    EXPECT_EQ(FilesBesideTheLog(), before);
  }

  // The product's own directories below those folders go as usual.
  for (const char16_t* below : {u"C:\\Program Files (x86)\\Morvathen\\Common", u"C:\\ProgramData\\Other",
                                u"C:\\Users\\Public\\Documents", u"C:\\Program Files\\Other"}) {
    SCOPED_TRACE(sim::ToUtf8(below));
    bool result = false;
    Remove(below, &result);
    EXPECT_TRUE(result);
    EXPECT_FALSE(machine.files.Exists(below));
  }
  ExpectNoOpenHandles();
}

// The system's folders come from the platform, not from fixed names: a
// Windows directory elsewhere is protected with every folder above it.
TEST_F(DirectoryTreeTest, SystemFoldersAreAskedOfThePlatform) {
  machine.process.windows_directory = u"D:\\OS\\Win";
  machine.process.environment[u"ProgramFiles(x86)"] = u"E:\\Apps\\";
  machine.files.MakeFile(u"D:\\OS\\Win\\kernel32.dll");
  machine.files.MakeFile(u"E:\\Apps\\Tool\\tool.exe");
  for (const char16_t* refused : {u"D:\\OS", u"D:\\OS\\Win", u"E:\\Apps"}) {
    SCOPED_TRACE(sim::ToUtf8(refused));
    EXPECT_EQ(Remove(refused), LogLines({"Refusing to remove system dir " + sim::ToUtf8(refused)}));
  }
  EXPECT_TRUE(machine.files.Exists(u"D:\\OS\\Win\\kernel32.dll"));
  EXPECT_EQ(Remove(u"E:\\Apps\\Tool"),
            LogLines({"Removing Dir E:\\Apps\\Tool", "Deleting file E:\\Apps\\Tool\\tool.exe", "OK"}));
  // "C:\Windows" is no longer the Windows directory here, and nothing else
  // names it.
  machine.process.environment.erase(u"SystemRoot");
  machine.files.MakeDirectory(u"C:\\Windows\\Old");
  EXPECT_EQ(Remove(u"C:\\Windows"),
            LogLines({"Removing Dir C:\\Windows", "Removing Dir C:\\Windows\\Old", "Cannot remove dir 2"}));
  ExpectNoOpenHandles();
}

// A path is judged by where it really leads: a link above the directory
// is followed before deciding, the directory itself when it is a link is
// not (the walk removes the link and never lists its target), and a place
// that cannot be learnt is refused.
TEST_F(DirectoryTreeTest, LinksAboveTheDirectoryAreFollowedBeforeDeciding) {
  machine.files.MakeFile(u"C:\\Windows\\win.ini", "system");
  machine.files.MakeFile(u"C:\\Tools\\tool.exe", "MZ");
  machine.files.MakeLink(u"C:\\Data\\rootlink", IO_REPARSE_TAG_MOUNT_POINT, u"C:\\");
  machine.files.MakeLink(u"C:\\Data\\winlink", IO_REPARSE_TAG_MOUNT_POINT, u"C:\\Windows");

  for (const char16_t* refused :
       {u"C:\\Data\\rootlink\\Windows", u"C:\\Data\\rootlink\\Users", u"C:\\Data\\winlink\\System32\\..\\.."}) {
    SCOPED_TRACE(sim::ToUtf8(refused));
    machine.journal.Clear();
    bool result = true;
    const std::string log = Remove(refused, &result);
    EXPECT_FALSE(result);
    EXPECT_EQ(FileCallCount(), 0U);
    EXPECT_EQ(log.rfind("Refusing to remove dir", 0), 0U) << log;
  }
  EXPECT_EQ(Remove(u"C:\\Data\\rootlink\\Windows"),
            LogLines({"Refusing to remove dir, it resolves to a root or system dir C:\\Data\\rootlink\\Windows"}));
  EXPECT_EQ(machine.files.ReadFile(u"C:\\Windows\\win.ini"), "system");

  // Below a link, but not in a protected place: removed as usual.
  EXPECT_EQ(
      Remove(u"C:\\Data\\rootlink\\Tools"),
      LogLines({"Removing Dir C:\\Data\\rootlink\\Tools", "Deleting file C:\\Data\\rootlink\\Tools\\tool.exe", "OK"}));
  EXPECT_FALSE(machine.files.Exists(u"C:\\Tools"));

  // The directory itself a link to the Windows directory: the link goes,
  // nothing behind it is listed or deleted.
  machine.journal.Clear();
  EXPECT_EQ(Remove(u"C:\\Data\\winlink"), LogLines({"Removing Dir C:\\Data\\winlink"}));
  EXPECT_FALSE(machine.files.Exists(u"C:\\Data\\winlink"));
  EXPECT_EQ(machine.files.ReadFile(u"C:\\Windows\\win.ini"), "system");
  EXPECT_EQ(machine.journal.Count("FindFirstFileW") + machine.journal.Count("DeleteFileW"), 0U);

  // Where the directory lies cannot be learnt: refused, nothing touched,
  // whatever the code.
  machine.files.MakeFile(u"C:\\Product\\app.exe");
  const std::pair<const char*, DWORD> failures[] = {{"CreateFileW", ERROR_ACCESS_DENIED},
                                                    {"GetFinalPathNameByHandleW", ERROR_ACCESS_DENIED},
                                                    {"GetFinalPathNameByHandleW", ERROR_PATH_NOT_FOUND}};
  for (const auto& [call, error] : failures) {
    SCOPED_TRACE(call);
    machine.faults.Add({call, u"C:\\Product", 0, 1, error});
    EXPECT_EQ(Remove(u"C:\\Product"), LogLines({"Refusing to remove dir, cannot resolve where it lies C:\\Product"}));
    EXPECT_TRUE(machine.files.Exists(u"C:\\Product\\app.exe"));
  }
  // Said to be missing while it is there: tried, reported, never listed.
  machine.faults.Add({"CreateFileW", u"C:\\Product", 0, 1, ERROR_PATH_NOT_FOUND});
  EXPECT_EQ(Remove(u"C:\\Product"), LogLines({"Removing Dir C:\\Product", "Cannot remove dir 145"}));
  EXPECT_TRUE(machine.files.Exists(u"C:\\Product\\app.exe"));
  EXPECT_EQ(machine.journal.Count("FindFirstFileW"), 0U);
  ExpectNoOpenHandles();
}

// Paths that would not fit their MAX_PATH buffers are never shortened and
// used: the entry is skipped with a line, the walk goes on, and what stays
// keeps its directories.
TEST_F(DirectoryTreeTest, OverlongPathsAreSkippedNotShortened) {
  // C:\ and a name: 250 units. A subdirectory "sub12345" makes 259 units, as
  // long as a path may be; its search pattern would need 261.
  const std::u16string top = u"C:\\" + std::u16string(247, u'd');
  ASSERT_EQ(top.size(), 250U);
  const std::u16string sub = top + u"\\sub12345";
  ASSERT_EQ(sub.size(), 259U);
  machine.files.MakeFile(sub + u"\\f");
  const std::u16string long_name = u"a-name-of-twenty-one";  // 250 + 1 + 20 = 271 units
  machine.files.MakeFile(top + u"\\" + long_name);
  machine.files.MakeFile(top + u"\\b");

  const std::string top8 = sim::ToUtf8(top);
  EXPECT_EQ(Remove(top), LogLines({
                             "Removing Dir " + top8,
                             "Skipping entry, path too long " + top8 + "\\" + sim::ToUtf8(long_name),
                             "Deleting file " + top8 + "\\b",
                             "OK",
                             "Removing Dir " + top8 + "\\sub12345",
                             "Cannot list dir, path too long " + top8 + "\\sub12345",
                             "Cannot remove dir 145",
                         }));
  EXPECT_TRUE(machine.files.Exists(top + u"\\" + long_name));
  EXPECT_TRUE(machine.files.Exists(sub + u"\\f"));
  EXPECT_FALSE(machine.files.Exists(top + u"\\b"));
  // No call ever named a path that does not fit.
  for (const sim::CallRecord& call : machine.journal.calls()) {
    EXPECT_LT(call.subject.size(), static_cast<std::size_t>(MAX_PATH)) << call.call;
  }
  ExpectNoOpenHandles();
}

}  // namespace
