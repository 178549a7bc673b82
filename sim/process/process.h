// The process the cleaner runs in: its command line, the user's temporary
// directory, the system's own folders, its heap and its last error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

class Process {
 public:
  // What wWinMain receives: the command line without the program name.
  std::u16string command_line;
  // GetTempPathW's answer, with its trailing backslash.
  std::u16string temp_path = u"C:\\Users\\Administrator\\AppData\\Local\\Temp\\";
  std::uint32_t temp_path_error = 0;  // nonzero: GetTempPathW fails with it
  bool elevated = true;               // runs with administrator rights
  std::u16string windows_directory = u"C:\\Windows";
  // Environment as a 32-bit process sees it on a 64-bit system.
  std::map<std::u16string, std::u16string> environment = {
      {u"ProgramFiles", u"C:\\Program Files (x86)"},
      {u"ProgramFiles(x86)", u"C:\\Program Files (x86)"},
      {u"ProgramW6432", u"C:\\Program Files"},
      {u"ProgramData", u"C:\\ProgramData"},
      {u"SystemDrive", u"C:"},
      {u"SystemRoot", u"C:\\Windows"},
      {u"PUBLIC", u"C:\\Users\\Public"},
      {u"USERPROFILE", u"C:\\Users\\Administrator"},
  };
  std::uint32_t last_error = 0;

  // The process heap: allocations are tracked so that a test can see that
  // everything handed out was released.
  void* Allocate(std::size_t cb);
  bool Free(void* memory);
  std::size_t LiveAllocations() const { return allocations_.size(); }

 private:
  std::map<void*, std::vector<std::uint64_t>> allocations_;
};

// Splits a command line the way CommandLineToArgvW does.
std::vector<std::u16string> SplitCommandLine(std::u16string_view command_line);

}  // namespace sim
