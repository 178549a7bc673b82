// Measuring harness for the cleaner's own operations on a real Windows API
// (run under wine64), side by side with the platform's own tools. Every
// time is taken inside this one process with QueryPerformanceCounter: the
// cleaner's function as a plain call, the platform tool as CreateProcessW
// to its exit, together with a no-op start of the same tool so that its
// process start can be taken off. The cleaner's functions write their run
// log to the temporary directory as in a real run.
//
//   harness files   ROOT COUNT REPS   directory removal vs "cmd /c rd /s /q"
//   harness keys    COUNT REPS        key tree deletion vs "reg delete /f"
//   harness scan    COUNT REPS        component scan vs "reg query /s"
//   harness steps   PRODUCT UPGRADE   each step of a run with these codes
//   harness run     COMMAND LINE...   one process start, timed
//
// Output: one line per repetition, "rep N ours_ms tool_ms tool_start_ms",
// for scripts/benchmark.sh to take medians of. Trees are made fresh for
// every repetition: files natively, registry keys by one "reg import" of a
// generated UTF-16LE file.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "src/driver/identification.h"
#include "src/files/directory_tree.h"
#include "src/installer/component_scan.h"
#include "src/installer/installer_keys.h"
#include "src/installer/packed_guid.h"
#include "src/log/run_log.h"
#include "src/registry/key_tree.h"
#include "src/registry/server_settings.h"
#include "src/services/service_account.h"
#include "src/services/service_removal.h"

namespace {

constexpr wchar_t kProductCode[] = L"{3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613}";
constexpr wchar_t kPackedProductCode[] = L"14C9A2F3E6B751D48A2C950E4D7B6F31";
constexpr wchar_t kOtherPackedProductCode[] = L"01D2B4E8F3C6E7A41B9DF0E2C3D4A5B6";
constexpr wchar_t kComponents[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components";
constexpr wchar_t kBenchKey[] = L"SOFTWARE\\VornaletBench";
constexpr int kFilesPerDirectory = 50;
constexpr int kDirectoriesPerGroup = 20;
constexpr int kKeysPerGroup = 100;
constexpr int kOwnComponents = 5;

double Milliseconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Runs the command line with its output going nowhere; the wall time from
// CreateProcessW to the process's exit, or -1 when it could not start.
double TimeProcess(const std::wstring& command_line, DWORD* exit_code = nullptr) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul;
  startup.hStdOutput = nul;
  startup.hStdError = nul;
  PROCESS_INFORMATION process = {};
  std::vector<wchar_t> text(command_line.begin(), command_line.end());
  text.push_back(0);
  double ms = -1;
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  if (CreateProcessW(nullptr, text.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    QueryPerformanceCounter(&end);
    ms = Milliseconds(start, end);
    if (exit_code != nullptr) {
      GetExitCodeProcess(process.hProcess, exit_code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(nul);
  return ms;
}

bool MakeDirectory(const std::wstring& path) {
  return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

// count files of a few bytes in nested folders below root:
// root\gGGG\dDDDD\fNNNNN.dat, kFilesPerDirectory files to a folder.
bool MakeTree(const std::wstring& root, int count) {
  if (!MakeDirectory(root)) {
    return false;
  }
  static const char kContent[] = "vornalet benchmark file\r\n";
  wchar_t name[64];
  std::wstring folder;
  for (int file = 0; file < count; ++file) {
    const int directory = file / kFilesPerDirectory;
    if (file % kFilesPerDirectory == 0) {
      swprintf(name, 64, L"\\g%03d", directory / kDirectoriesPerGroup);
      const std::wstring group = root + name;
      if (directory % kDirectoriesPerGroup == 0 && !MakeDirectory(group)) {
        return false;
      }
      swprintf(name, 64, L"\\d%04d", directory);
      folder = group + name;
      if (!MakeDirectory(folder)) {
        return false;
      }
    }
    swprintf(name, 64, L"\\f%05d.dat", file);
    HANDLE handle =
        CreateFileW((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      return false;
    }
    DWORD cb_written = 0;
    WriteFile(handle, kContent, sizeof(kContent) - 1, &cb_written, nullptr);
    CloseHandle(handle);
  }
  return true;
}

// A .reg file in UTF-16LE, as reg import takes it, with a byte order mark.
class RegFile {
 public:
  RegFile() { text_ = L"\xFEFFWindows Registry Editor Version 5.00\r\n\r\n"; }
  void Key(const std::wstring& path) { text_ += L"[HKEY_LOCAL_MACHINE\\" + path + L"]\r\n"; }
  void StringValue(const std::wstring& name, const std::wstring& data) {
    text_ += L"\"" + name + L"\"=\"" + data + L"\"\r\n";
  }
  void EndKey() { text_ += L"\r\n"; }
  bool Save(const std::wstring& path) const {
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      return false;
    }
    DWORD cb_written = 0;
    const DWORD cb_text = static_cast<DWORD>(text_.size() * sizeof(wchar_t));
    const BOOL written = WriteFile(handle, text_.data(), cb_text, &cb_written, nullptr);
    CloseHandle(handle);
    return written && cb_written == cb_text;
  }

 private:
  std::wstring text_;
};

std::wstring TempFile(const wchar_t* name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  return std::wstring(temp) + name;
}

bool Import(const std::wstring& reg_file) {
  DWORD exit_code = 1;
  return TimeProcess(L"reg import \"" + reg_file + L"\"", &exit_code) >= 0 && exit_code == 0;
}

// The two identical trees below kBenchKey\NAME: count keys in groups of
// kKeysPerGroup, each key with one value, as an installation leaves them.
void AddKeyTree(RegFile* file, const wchar_t* tree, int count) {
  const std::wstring top = std::wstring(kBenchKey) + L"\\" + tree;
  file->Key(top);
  file->EndKey();
  wchar_t name[64];
  std::wstring group;
  for (int key = 0; key < count; ++key) {
    if (key % kKeysPerGroup == 0) {
      swprintf(name, 64, L"\\group%03d", key / kKeysPerGroup);
      group = top + name;
      file->Key(group);
      file->EndKey();
    }
    swprintf(name, 64, L"\\key%05d", key);
    file->Key(group + name);
    file->StringValue(L"Path", L"C:\\\\Program Files\\\\Product\\\\file.dll");
    file->EndKey();
  }
}

// A 32-digit name like a packed component code, spread over the sorted
// order.
std::wstring PackedName(unsigned long long index) {
  wchar_t text[40];
  const unsigned long long hash = (index + 1) * 0x9E3779B97F4A7C15ULL;
  swprintf(text, 40, L"%08llX%08llX%016llX", hash >> 32, hash & 0xFFFFFFFFULL, index);
  return std::wstring(text, 32);
}

double TimeRemoveDirectoryTree(const std::wstring& directory) {
  OpenRunLog();
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  RemoveDirectoryTree(directory.c_str());
  QueryPerformanceCounter(&end);
  CloseRunLog();
  return Milliseconds(start, end);
}

double TimeDeleteKeyTree(const std::wstring& key_path) {
  OpenRunLog();
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  const bool gone = DeleteKeyTree(HKEY_LOCAL_MACHINE, key_path.c_str());
  QueryPerformanceCounter(&end);
  CloseRunLog();
  return gone ? Milliseconds(start, end) : -1;
}

// The whole scan, pass after pass, without deleting what it finds; the
// number of components found goes to *found.
double TimeScan(int* found) {
  static ComponentKeyList list;
  OpenRunLog();
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  *found = 0;
  if (CollectProductComponents(&list, kProductCode)) {
    do {
      *found += list.count;
    } while (CollectMoreProductComponents(&list, kProductCode));
  }
  QueryPerformanceCounter(&end);
  CloseRunLog();
  return Milliseconds(start, end);
}

void Report(int rep, double ours, double tool, double tool_start) {
  std::printf("rep %d %.3f %.3f %.3f\n", rep, ours, tool, tool_start);
  std::fflush(stdout);
}

int Files(const std::wstring& root, int count, int reps) {
  MakeDirectory(root);
  for (int rep = 0; rep < reps; ++rep) {
    const std::wstring ours = root + L"\\cleaner";
    const std::wstring theirs = root + L"\\rd";
    if (!MakeTree(ours, count) || !MakeTree(theirs, count)) {
      std::fprintf(stderr, "cannot make the trees: %lu\n", GetLastError());
      return 1;
    }
    const std::wstring rd = L"cmd /c rd /s /q " + theirs;
    double ours_ms = 0, tool_ms = 0;
    // Which of the two goes first alternates, so that neither always finds
    // the other's leftovers in the caches.
    if (rep % 2 == 0) {
      ours_ms = TimeRemoveDirectoryTree(ours);
      tool_ms = TimeProcess(rd);
    } else {
      tool_ms = TimeProcess(rd);
      ours_ms = TimeRemoveDirectoryTree(ours);
    }
    const double start_ms = TimeProcess(L"cmd /c rem");
    if (GetFileAttributesW(ours.c_str()) != INVALID_FILE_ATTRIBUTES ||
        GetFileAttributesW(theirs.c_str()) != INVALID_FILE_ATTRIBUTES) {
      std::fprintf(stderr, "a tree was not removed\n");
      return 1;
    }
    Report(rep, ours_ms, tool_ms, start_ms);
  }
  return 0;
}

int Keys(int count, int reps) {
  RegFile file;
  AddKeyTree(&file, L"cleaner", count);
  AddKeyTree(&file, L"reg", count);
  file.Key(std::wstring(kBenchKey) + L"\\empty");
  file.EndKey();
  const std::wstring reg_file = TempFile(L"vornalet-bench-keys.reg");
  if (!file.Save(reg_file)) {
    std::fprintf(stderr, "cannot write %ls\n", reg_file.c_str());
    return 1;
  }
  const std::wstring ours = std::wstring(kBenchKey) + L"\\cleaner";
  const std::wstring reg_delete = L"reg delete HKLM\\" + std::wstring(kBenchKey) + L"\\reg /f";
  const std::wstring reg_start = L"reg query HKLM\\" + std::wstring(kBenchKey) + L"\\empty";
  for (int rep = 0; rep < reps; ++rep) {
    if (!Import(reg_file)) {
      std::fprintf(stderr, "reg import failed\n");
      return 1;
    }
    double ours_ms = 0, tool_ms = 0;
    if (rep % 2 == 0) {
      ours_ms = TimeDeleteKeyTree(ours);
      tool_ms = TimeProcess(reg_delete);
    } else {
      tool_ms = TimeProcess(reg_delete);
      ours_ms = TimeDeleteKeyTree(ours);
    }
    if (ours_ms < 0) {
      std::fprintf(stderr, "the cleaner's tree was not deleted\n");
      return 1;
    }
    Report(rep, ours_ms, tool_ms, TimeProcess(reg_start));
  }
  DeleteFileW(reg_file.c_str());
  return 0;
}

// Fills the Components key up to count component keys (the ones already
// there from a smaller count are kept), kOwnComponents of them the
// product's alone, then times the scan against reg query /s of that key.
int Scan(int count, int reps) {
  HKEY components = nullptr;
  DWORD present = 0;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kComponents, 0, KEY_READ, &components) == ERROR_SUCCESS) {
    RegQueryInfoKeyW(components, nullptr, nullptr, nullptr, &present, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(components);
  }
  if (static_cast<int>(present) < count) {
    RegFile file;
    for (int i = static_cast<int>(present); i < count; ++i) {
      file.Key(std::wstring(kComponents) + L"\\" + PackedName(static_cast<unsigned long long>(i)));
      const bool own = i % (count / kOwnComponents) == 1;
      file.StringValue(own ? kPackedProductCode : kOtherPackedProductCode,
                       L"C:\\\\Program Files\\\\Product\\\\file.dll");
      file.EndKey();
    }
    file.Key(std::wstring(kBenchKey) + L"\\empty");
    file.EndKey();
    const std::wstring reg_file = TempFile(L"vornalet-bench-components.reg");
    if (!file.Save(reg_file) || !Import(reg_file)) {
      std::fprintf(stderr, "cannot import the component keys\n");
      return 1;
    }
    DeleteFileW(reg_file.c_str());
  }
  const std::wstring reg_query = L"reg query HKLM\\" + std::wstring(kComponents) + L" /s";
  const std::wstring reg_start = L"reg query HKLM\\" + std::wstring(kBenchKey) + L"\\empty";
  for (int rep = 0; rep < reps; ++rep) {
    int found = 0;
    double ours_ms = 0, tool_ms = 0;
    if (rep % 2 == 0) {
      ours_ms = TimeScan(&found);
      tool_ms = TimeProcess(reg_query);
    } else {
      tool_ms = TimeProcess(reg_query);
      ours_ms = TimeScan(&found);
    }
    std::fprintf(stderr, "components found: %d\n", found);
    Report(rep, ours_ms, tool_ms, TimeProcess(reg_start));
  }
  return 0;
}

// The steps of a run with two codes, in the order of a run, each timed on
// its own: where the time of a run goes on a machine where nothing of the
// product is left.
int Steps(const wchar_t* product_code, const wchar_t* upgrade_code) {
  static CleanupTarget target;
  static ComponentKeyList list;
  static WCHAR packed_product_code[kCchPackedGuid];
  static WCHAR packed_upgrade_code[kCchPackedGuid];
  LARGE_INTEGER start, end;
  auto step = [&](const char* name, auto&& action) {
    QueryPerformanceCounter(&start);
    action();
    QueryPerformanceCounter(&end);
    std::printf("step %s %.3f\n", name, Milliseconds(start, end));
  };
  step("OpenRunLog", [] { OpenRunLog(); });
  step("MsiSetInternalUI", [] { MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr); });
  step("IdentifyFromCommandLine", [&] { IdentifyFromCommandLine(product_code, upgrade_code, &target); });
  step("FindProductDirectory", [] { FindProductDirectory(&target); });
  step("RemoveProductServices", [] { RemoveProductServices(); });
  step("DeleteServiceAccount", [] { DeleteServiceAccount(); });
  step("PackGuid", [] {
    PackGuid(target.upgrade_code, packed_upgrade_code);
    PackGuid(target.product_code, packed_product_code);
  });
  step("CollectProductComponents", [] { CollectProductComponents(&list, target.product_code); });
  step("RemoveInstallerKeys",
       [] { RemoveInstallerKeys(target.product_code, packed_product_code, packed_upgrade_code); });
  step("CleanServerSettings", [] { CleanServerSettings(); });
  step("CloseRunLog", [] { CloseRunLog(); });
  std::fflush(stdout);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 5 && std::wcscmp(argv[1], L"files") == 0) {
    return Files(argv[2], _wtoi(argv[3]), _wtoi(argv[4]));
  }
  if (argc >= 4 && std::wcscmp(argv[1], L"keys") == 0) {
    return Keys(_wtoi(argv[2]), _wtoi(argv[3]));
  }
  if (argc >= 4 && std::wcscmp(argv[1], L"scan") == 0) {
    return Scan(_wtoi(argv[2]), _wtoi(argv[3]));
  }
  if (argc >= 4 && std::wcscmp(argv[1], L"steps") == 0) {
    return Steps(argv[2], argv[3]);
  }
  if (argc >= 3 && std::wcscmp(argv[1], L"run") == 0) {
    std::wstring command_line;
    for (int i = 2; i < argc; ++i) {
      command_line += (i > 2 ? L" " : L"") + std::wstring(argv[i]);
    }
    DWORD exit_code = 0;
    const double ms = TimeProcess(command_line, &exit_code);
    std::printf("run %.3f exit %lu\n", ms, exit_code);
    return 0;
  }
  std::fprintf(stderr,
               "usage: harness files ROOT COUNT REPS | keys COUNT REPS | scan COUNT REPS | steps PRODUCT UPGRADE | run "
               "COMMAND...\n");
  return 2;
}
