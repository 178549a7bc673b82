#include "tests/property/machine_generator.h"

#include <random>
#include <vector>

#include "sim/core/text.h"
#include "sim/installer/installer.h"
#include "sim/win32/windows.h"

namespace machine_generator {

namespace {

constexpr char16_t kBuiltinProductCode[] = u"{3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613}";
constexpr char16_t kBuiltinUpgradeCode[] = u"{C7D81E22-4A93-4B6F-9E05-1D2C3B4A5F60}";
constexpr char16_t kServerComponentCode[] = u"{5B1E6C3A-27D4-4F80-9A6E-C4D2873B1F05}";
constexpr char16_t kAccountValueName[] = u"AutoCreatedServiceAccount";

const std::u16string kMachineSoftware = u"HKEY_LOCAL_MACHINE\\SOFTWARE";
const std::u16string kWindowsCurrent = kMachineSoftware + u"\\Microsoft\\Windows\\CurrentVersion";
const std::u16string kUninstall = kWindowsCurrent + u"\\Uninstall";
const std::u16string kInstaller = kWindowsCurrent + u"\\Installer";
const std::u16string kSystemUserData = kInstaller + u"\\UserData\\S-1-5-18";
const std::u16string kComponents = kSystemUserData + u"\\Components";
const std::u16string kClassesInstaller = kMachineSoftware + u"\\Classes\\Installer";
const std::u16string kVendorComponents = kMachineSoftware + u"\\Morvathen\\Components";
const std::u16string kServerKey = kVendorComponents + u"\\34";

const std::u16string kProgramFiles86 = u"C:\\Program Files (x86)";
const std::u16string kNormalProductDirectory = kProgramFiles86 + u"\\Morvathen\\Server";
const std::u16string kNormalStoreBase = u"C:\\ProgramData\\Morvathen\\Server";

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed * 0x9E3779B97F4A7C15ULL + 0x2545F4914F6CDD1DULL) {}
  std::uint64_t Below(std::uint64_t n) { return engine_() % n; }
  bool Chance(int percent) { return static_cast<int>(Below(100)) < percent; }
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[Below(items.size())];
  }
  // One of the weighted choices: {weight, name}.
  std::string Choose(const std::vector<std::pair<int, std::string>>& choices) {
    int total = 0;
    for (const auto& choice : choices) {
      total += choice.first;
    }
    int at = static_cast<int>(Below(static_cast<std::uint64_t>(total)));
    for (const auto& choice : choices) {
      if (at < choice.first) {
        return choice.second;
      }
      at -= choice.first;
    }
    return choices.back().second;
  }

 private:
  std::mt19937_64 engine_;
};

bool IsHexDigit(char16_t unit) {
  return (unit >= u'0' && unit <= u'9') || (unit >= u'A' && unit <= u'F') || (unit >= u'a' && unit <= u'f');
}

std::u16string Lower(std::u16string text) {
  for (char16_t& unit : text) {
    if (unit >= u'A' && unit <= u'Z') {
      unit = static_cast<char16_t>(unit + 0x20);
    }
  }
  return text;
}

std::u16string Upper(std::u16string text) {
  for (char16_t& unit : text) {
    if (unit >= u'a' && unit <= u'z') {
      unit = static_cast<char16_t>(unit - 0x20);
    }
  }
  return text;
}

std::u16string Number(std::uint64_t n) {
  const std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

std::u16string RandomCode(Random& r) {
  std::u16string code = u"{00000000-0000-0000-0000-000000000000}";
  for (std::size_t i = 1; i + 1 < code.size(); ++i) {
    if (code[i] != u'-') {
      code[i] = kHexDigits[r.Below(16)];
    }
  }
  return code;
}

std::u16string RandomPacked(Random& r) {
  std::u16string packed;
  for (int i = 0; i < 32; ++i) {
    packed += kHexDigits[r.Below(16)];
  }
  return packed;
}

// The same text with one hexadecimal digit replaced by another value: a
// name that differs from the original however letters are compared.
std::u16string OneDigitOff(const std::u16string& text, Random& r) {
  std::u16string changed = text;
  while (true) {
    const std::size_t i = r.Below(text.size());
    if (!IsHexDigit(text[i])) {
      continue;
    }
    const char16_t digit = kHexDigits[r.Below(16)];
    if (sim::FoldUnit(digit) != sim::FoldUnit(text[i])) {
      changed[i] = digit;
      return changed;
    }
  }
}

std::u16string Packed(const std::u16string& code) { return sim::PackedCode(code); }

std::vector<std::uint8_t> TextBytes(std::u16string_view text, bool terminated) {
  std::vector<std::uint8_t> data;
  for (char16_t unit : text) {
    data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    data.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  if (terminated) {
    data.push_back(0);
    data.push_back(0);
  }
  return data;
}

struct Context {
  Context(sim::Machine& machine, Random& random, GeneratedMachine& generated) : m(machine), r(random), g(generated) {}

  sim::Machine& m;
  Random& r;
  GeneratedMachine& g;
  int mode = 0;  // 0: none of the product, 1 and 2: all of it, others: some
  std::u16string product;
  std::u16string upgrade;
  std::vector<std::u16string> others;  // other products' codes
  std::u16string product_directory;    // where the product's tree was made, or empty

  void Note(const std::string& word) { g.summary += word + " "; }
  // Whether a part of the product is on the machine.
  bool Has(int percent) { return mode != 0 && (mode <= 2 || r.Chance(percent)); }
  // Whether a part that keeps the cleaner from finishing is there.
  bool Hazard(int percent) { return mode > 2 && r.Chance(percent); }

  void Text(const std::u16string& key, std::u16string_view name, std::u16string_view text) {
    m.registry.SetString(key, name, text);
  }
  void Raw(const std::u16string& key, std::u16string_view name, std::uint32_t type, std::vector<std::uint8_t> data) {
    m.registry.Create(key)->SetValue(sim::RegistryValue{std::u16string(name), type, std::move(data)});
  }
  void Dword(const std::u16string& key, std::u16string_view name, std::uint32_t number) {
    Raw(key, name, REG_DWORD,
        {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
         static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)});
  }
  void File(const std::u16string& path, std::string content = "MZ", std::uint32_t attributes = 0) {
    m.files.MakeFile(path, std::move(content))->attributes = attributes;
  }
  // A small key tree of settings below a key.
  void KeyTree(const std::u16string& key, int depth) {
    Dword(key, u"Enabled", static_cast<std::uint32_t>(r.Below(2)));
    if (r.Chance(50)) {
      Text(key, u"Path", u"C:\\Data\\" + Number(r.Below(100)));
    }
    if (depth > 0) {
      const std::vector<std::u16string> names = {u"Mail", u"Options", u"1.0.0.0", u"Cache", u"Sub"};
      for (std::uint64_t i = r.Below(3); i > 0; --i) {
        KeyTree(key + u"\\" + r.Pick(names), depth - 1);
      }
    }
  }
};

// A bare Windows installation with other software on it, and the places
// the walk must never empty.
void BaseSystem(Context& c) {
  for (const char16_t* path :
       {u"C:\\Windows\\System32\\kernel32.dll", u"C:\\Windows\\win.ini", u"C:\\Windows\\Installer\\a1b2c3.msi",
        u"C:\\Program Files\\Common Files\\shared.dll", u"C:\\Program Files (x86)\\Tervani\\Notes\\notes.exe",
        u"C:\\Program Files (x86)\\Morvathen\\Common\\mvcommon.dll", u"C:\\ProgramData\\Tervani\\state.bin",
        u"C:\\Users\\Public\\Documents\\public.txt", u"C:\\Users\\Administrator\\Documents\\report.txt",
        u"C:\\pagefile.sys", u"C:\\Data\\keep.txt", u"D:\\Apps\\Other\\other.exe"}) {
    c.File(path);
  }
  c.Text(kMachineSoftware + u"\\Tervani\\Notes", u"Path", u"C:\\Program Files (x86)\\Tervani\\Notes");
  c.Text(kUninstall + u"\\Tervani Notes", u"DisplayName", u"Tervani Notes");
  c.Text(kWindowsCurrent + u"\\Run", u"Notes", u"C:\\Program Files (x86)\\Tervani\\Notes\\notes.exe");
  c.Text(u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\TervaniSync", u"ImagePath", u"sync.exe");
  sim::Service sync;
  sync.name = u"TervaniSync";
  sync.recovery.actions = {{sim::RecoveryType::kRestart, 60000}};
  c.m.services.Install(sync);
  for (const char16_t* name : {u"Administrator", u"Guest", u"TervaniSvc"}) {
    c.m.accounts.Add(sim::Account{name, false});
  }
}

// A directory tree of a product's files, with the entries that make a walk
// interesting: attributes, links out of the tree, and, on some machines,
// entries the walk cannot remove.
void FileTree(Context& c, const std::u16string& root, int depth) {
  c.m.files.MakeDirectory(root);
  const std::vector<std::u16string> file_names = {u"srvcore.exe", u"readme.txt", u"server.ini",
                                                  u"data.bin",    u".state",     u"module.dll"};
  for (std::uint64_t i = c.r.Below(4); i > 0; --i) {
    std::uint32_t attributes = 0;
    if (c.r.Chance(15)) {
      attributes |= FILE_ATTRIBUTE_READONLY;
    }
    if (c.r.Chance(10)) {
      attributes |= FILE_ATTRIBUTE_HIDDEN;
    }
    if (c.r.Chance(5)) {
      attributes |= FILE_ATTRIBUTE_SYSTEM;
    }
    c.File(root + u"\\" + c.r.Pick(file_names), "content", attributes);
  }
  if (c.r.Chance(8)) {
    const std::u16string link = root + u"\\outside";
    if (!c.m.files.Exists(link)) {
      const std::u16string target =
          c.r.Pick(std::vector<std::u16string>{u"C:\\Users\\Public\\Documents", u"C:\\Windows", u"C:\\",
                                               u"D:\\Apps\\Other", kNormalProductDirectory + u"2"});
      c.m.files.MakeDirectory(target);
      c.m.files.MakeLink(link, c.r.Chance(50) ? IO_REPARSE_TAG_MOUNT_POINT : IO_REPARSE_TAG_SYMLINK, target);
      c.Note("link_out");
    }
  }
  if (c.r.Chance(4) && !c.m.files.Exists(root + u"\\report.lnk")) {
    c.m.files.MakeLink(root + u"\\report.lnk", IO_REPARSE_TAG_SYMLINK,
                       u"C:\\Users\\Administrator\\Documents\\report.txt", false);
    c.Note("file_link_out");
  }
  if (c.r.Chance(3) && !c.m.files.Exists(root + u"\\shared.txt")) {
    c.File(u"C:\\Data\\shared.txt", "shared");
    c.m.files.MakeHardLink(u"C:\\Data\\shared.txt", root + u"\\shared.txt");
    c.Note("hard_link");
  }
  if (c.Hazard(3)) {
    c.m.files.MakeFile(root + u"\\locked.db", "db")->undeletable = true;
    c.Note("undeletable");
  }
  if (c.Hazard(3)) {
    c.m.files.MakeFile(root + u"\\open.log", "log")->opens.push_back(sim::FileOpen{GENERIC_READ | GENERIC_WRITE, 0});
    c.Note("held_open");
  }
  if (c.Hazard(3) && root.size() < 240) {
    c.File(root + u"\\" + std::u16string(262 - root.size(), u'n') + u".dat");
    c.Note("overlong_entry");
  }
  if (c.r.Chance(3)) {
    // A name the log cannot write in its one byte per unit.
    c.File(root + u"\\\u0416\u0443\u0440\u043D\u0430\u043B.txt", "journal");
    c.Note("cyrillic_name");
  }
  if (c.r.Chance(4)) {
    // Listed without "." and "..", as the root of a volume mounted here is.
    c.m.files.MakeDirectory(root)->no_dot_entries = true;
    c.Note("no_dot_entries");
  }
  if (depth > 0) {
    const std::vector<std::u16string> dir_names = {u"bin", u"conf", u"logs", u"cache", u"plugins", u"data"};
    for (std::uint64_t i = c.r.Below(4); i > 0; --i) {
      FileTree(c, root + u"\\" + c.r.Pick(dir_names), depth - 1);
    }
  }
}

// Folders named like the product's, one character or a suffix away.
void NearMissFolders(Context& c, const std::u16string& folder) {
  for (const char16_t* suffix : {u"2", u".old", u" (2)", u"s", u"_"}) {
    if (c.r.Chance(25)) {
      c.File(folder + suffix + u"\\keep.dat", "keep");
    }
  }
  if (c.r.Chance(25)) {
    c.File(folder.substr(0, folder.size() - 1) + u"\\keep.dat", "keep");
  }
}

// Where the installer says the server component lies. Returns the key file
// as the installer holds it.
std::u16string ProductDirectory(Context& c) {
  const std::string kind = c.r.Choose({{55, "pd_normal"},
                                       {7, "pd_other_drive"},
                                       {5, "pd_via_junction"},
                                       {3, "pd_trailing_backslash"},
                                       {3, "pd_long"},
                                       {2, "pd_too_long"},
                                       {2, "pd_drive_root"},
                                       {2, "pd_windows"},
                                       {2, "pd_program_files"},
                                       {2, "pd_program_files_x86"},
                                       {2, "pd_program_data"},
                                       {2, "pd_users"},
                                       {2, "pd_dotdot_to_program_files"},
                                       {2, "pd_windows_dot"},
                                       {2, "pd_through_root_link"},
                                       {2, "pd_is_junction"}});
  c.Note(kind);
  std::u16string tree;           // where the product's files are made
  std::u16string key_file;       // the component's installed path, as registered
  std::u16string real_key_file;  // where that path leads
  if (kind == "pd_normal") {
    tree = kNormalProductDirectory;
    key_file = tree + u"\\srvcore.exe";
  } else if (kind == "pd_other_drive") {
    tree = u"D:\\Apps\\Morvathen\\Server";
    key_file = tree + u"\\srvcore.exe";
  } else if (kind == "pd_via_junction") {
    c.m.files.MakeDirectory(u"D:\\Apps");
    c.m.files.MakeLink(u"C:\\Apps", IO_REPARSE_TAG_MOUNT_POINT, u"D:\\Apps");
    tree = u"D:\\Apps\\Morvathen\\Server";
    key_file = u"C:\\Apps\\Morvathen\\Server\\srvcore.exe";
    real_key_file = tree + u"\\srvcore.exe";
  } else if (kind == "pd_trailing_backslash") {
    tree = kNormalProductDirectory;
    key_file = tree + u"\\\\srvcore.exe";
    real_key_file = tree + u"\\srvcore.exe";
  } else if (kind == "pd_long" || kind == "pd_too_long") {
    const std::size_t cch = kind == "pd_long" ? 236 + c.r.Below(10) : 250;
    tree = kNormalProductDirectory + u"\\";
    tree += std::u16string(cch - tree.size(), u'L');
    key_file = tree + (kind == "pd_long" ? u"\\s.exe" : u"\\server-core-executable.exe");
  } else {
    // The key file lies in a folder the walk must never take.
    if (kind == "pd_drive_root") {
      key_file = u"C:\\srvcore.exe";
    } else if (kind == "pd_windows") {
      key_file = u"C:\\Windows\\srvcore.exe";
    } else if (kind == "pd_program_files") {
      key_file = u"C:\\Program Files\\srvcore.exe";
    } else if (kind == "pd_program_files_x86") {
      key_file = kProgramFiles86 + u"\\srvcore.exe";
    } else if (kind == "pd_program_data") {
      key_file = u"C:\\ProgramData\\srvcore.exe";
    } else if (kind == "pd_users") {
      key_file = u"c:\\USERS\\srvcore.exe";
    } else if (kind == "pd_dotdot_to_program_files") {
      key_file = kProgramFiles86 + u"\\Morvathen\\..\\srvcore.exe";
      real_key_file = kProgramFiles86 + u"\\srvcore.exe";
    } else if (kind == "pd_windows_dot") {
      key_file = u"C:\\Windows\\.\\srvcore.exe";
      real_key_file = u"C:\\Windows\\srvcore.exe";
    } else if (kind == "pd_through_root_link") {
      c.m.files.MakeLink(u"C:\\Data\\rootlink", IO_REPARSE_TAG_MOUNT_POINT, u"C:\\");
      key_file = u"C:\\Data\\rootlink\\Windows\\srvcore.exe";
      real_key_file = u"C:\\Windows\\srvcore.exe";
    } else {
      c.m.files.MakeLink(u"C:\\Data\\pdlink", IO_REPARSE_TAG_MOUNT_POINT, kProgramFiles86 + u"\\Tervani");
      key_file = u"C:\\Data\\pdlink\\srvcore.exe";
      real_key_file = kProgramFiles86 + u"\\Tervani\\srvcore.exe";
    }
    if (c.r.Chance(90)) {
      c.File(real_key_file.empty() ? key_file : real_key_file, "MZ server core");
    }
    // The product's own folder, which the installer does not name here.
    if (c.r.Chance(50)) {
      FileTree(c, kNormalProductDirectory, 1);
    }
    return key_file;
  }
  if (c.Has(90)) {
    FileTree(c, tree, 2);
    c.product_directory = tree;
    if (c.r.Chance(92)) {
      c.File(real_key_file.empty() ? key_file : real_key_file, "MZ server core");
    }
    if (kind == "pd_long") {
      c.File(tree + u"\\" + std::u16string(MAX_PATH - tree.size(), u'x') + u".txt");
    }
  }
  NearMissFolders(c, kNormalProductDirectory);
  return key_file;
}

// A value that names a settings-store file, in one of the shapes it can
// take; the directory it names is made when it is the product's.
void SettingsValue(Context& c, const std::u16string& name, const std::u16string& normal, bool may_share,
                   const std::u16string& shared_with) {
  const std::string kind = c.r.Choose({{52, "normal"},
                                       {may_share ? 10 : 0, "same_directory"},
                                       {7, "missing"},
                                       {4, "expand_sz"},
                                       {3, "no_terminator"},
                                       {3, "fills_4096_bytes_unterminated"},
                                       {2, "over_4096_bytes"},
                                       {2, "ends_at_4096_bytes"},
                                       {2, "trailing_backslash"},
                                       {may_share ? 0 : 3, "inside_other_store"},
                                       {2, "in_product_directory"},
                                       {may_share ? 0 : 3, "library_path_too_long"},
                                       {20, "hazard"}});
  c.Note(sim::ToUtf8(name) + "_" + kind);
  const std::u16string directory = normal.substr(0, normal.find_last_of(u'\\'));
  std::u16string text = normal;
  if (kind == "missing") {
    return;
  }
  if (kind == "same_directory") {
    text = shared_with.substr(0, shared_with.find_last_of(u'\\')) + u"\\other.dat";
  } else if (kind == "inside_other_store") {
    text = shared_with.substr(0, shared_with.find_last_of(u'\\')) + u"\\Nested\\e2s.dat";
    FileTree(c, shared_with.substr(0, shared_with.find_last_of(u'\\')) + u"\\Nested", 0);
  } else if (kind == "library_path_too_long") {
    // The store's parent has 253 units: the store fits, "\nq.dll" beside it
    // does not, and the names it would be cut to are other files.
    const std::u16string parent = u"D:\\" + std::u16string(250, u'P');
    text = parent + u"\\Store\\settings.dat";
    c.File(parent + u"\\Store\\settings.dat", "settings");
    c.File(parent + u"\\nq.dl", "a cut name");
    c.File(parent + u"\\nq.d", "a cut name");
  } else if (kind == "in_product_directory") {
    text = kNormalProductDirectory + u"\\conf\\" + normal.substr(normal.find_last_of(u'\\') + 1);
  } else if (kind == "expand_sz") {
    c.Raw(kServerKey, name, REG_EXPAND_SZ, TextBytes(u"%ProgramData%" + normal.substr(14), true));
    FileTree(c, directory, 1);
    return;
  } else if (kind == "no_terminator") {
    c.Raw(kServerKey, name, REG_SZ, TextBytes(normal, false));
    FileTree(c, directory, 1);
    return;
  } else if (kind == "fills_4096_bytes_unterminated" || kind == "over_4096_bytes" || kind == "ends_at_4096_bytes") {
    const std::size_t cch = kind == "over_4096_bytes" ? 2100 : kind == "fills_4096_bytes_unterminated" ? 2048 : 2047;
    std::u16string long_text = directory + u"\\";
    long_text += std::u16string(cch - long_text.size(), u'z');
    c.Raw(kServerKey, name, REG_SZ, TextBytes(long_text, kind != "fills_4096_bytes_unterminated"));
    FileTree(c, directory, 1);
    return;
  } else if (kind == "trailing_backslash") {
    text = directory + u"\\\\" + normal.substr(normal.find_last_of(u'\\') + 1);
  } else if (kind == "hazard") {
    const std::string hazard = c.r.Choose({{3, "C:\\settings.dat"},
                                           {3, "C:\\Windows\\settings.dat"},
                                           {2, "c:\\windows\\settings.dat"},
                                           {2, "C:\\Windows\\\\settings.dat"},
                                           {2, "C:\\Windows\\.\\settings.dat"},
                                           {2, "C:\\Program Files\\settings.dat"},
                                           {2, "C:\\Program Files (x86)\\settings.dat"},
                                           {2, "C:\\ProgramData\\settings.dat"},
                                           {2, "C:\\Users\\settings.dat"},
                                           {2, "C:\\Users\\Public\\..\\settings.dat"},
                                           {2, "C:\\ProgramData\\Morvathen\\..\\..\\Windows\\settings.dat"},
                                           {2, "\\settings.dat"},
                                           {2, "settings.dat"},
                                           {2, "Store\\settings.dat"},
                                           {2, "C:Store\\settings.dat"},
                                           {2, "\\\\fileserver\\share\\settings.dat"},
                                           {2, "\\\\?\\C:\\Windows\\settings.dat"},
                                           {2, "C:\\Data\\rootlink\\Windows\\settings.dat"},
                                           {2, "C:\\Data\\winlink\\settings.dat"},
                                           {1, "C:\\Data\\rootlink\\ProgramData\\settings.dat"}});
    c.Note(hazard);
    text = sim::FromUtf8(hazard);
    if (text.find(u"rootlink") != std::u16string::npos && !c.m.files.Exists(u"C:\\Data\\rootlink")) {
      c.m.files.MakeLink(u"C:\\Data\\rootlink", IO_REPARSE_TAG_MOUNT_POINT, u"C:\\");
    }
    if (text.find(u"winlink") != std::u16string::npos && !c.m.files.Exists(u"C:\\Data\\winlink")) {
      c.m.files.MakeLink(u"C:\\Data\\winlink", IO_REPARSE_TAG_MOUNT_POINT, u"C:\\Windows");
    }
    if (c.r.Chance(50)) {
      c.File(u"C:\\nq.dll", "MZ not ours?");
    }
  }
  c.Text(kServerKey, name, text);
  if (kind == "normal" || kind == "trailing_backslash") {
    if (c.Has(85)) {
      FileTree(c, directory, 2);
    }
  }
}

// The vendor's settings: the server component key with its values and
// subkeys, the settings-store directories and the library beside them.
void ServerSettings(Context& c) {
  const std::u16string base = c.r.Chance(80) ? kNormalStoreBase : u"D:\\MvData\\Server";
  const std::u16string settings = base + u"\\Store\\settings.dat";
  const std::u16string e2s = base + u"\\E2S\\e2s.dat";
  if (c.Has(85)) {
    c.m.registry.Create(kServerKey);
    SettingsValue(c, u"SS_SETTINGS", settings, false, e2s);
    SettingsValue(c, u"SS_E2S", e2s, true, settings);
    c.Text(kServerKey, u"InstallDir", kNormalProductDirectory);
    c.Dword(kServerKey, u"Version", 4);
    if (c.r.Chance(15)) {
      c.Text(kServerKey, u"", u"default");
    }
    if (c.r.Chance(8)) {
      c.Text(kServerKey, std::u16string(1024, u'V'), u"a name too long to enumerate");
      c.Note("value_name_1024");
    }
    if (c.r.Chance(5)) {
      c.Text(kServerKey, std::u16string(1023, u'W'), u"the longest name enumerated");
    }
    if (c.Hazard(4)) {
      c.m.registry.Create(kServerKey)->deny_write_access = true;
      c.Note("server_key_read_only");
    }
  }
  if (c.Has(75)) {
    if (c.r.Chance(4)) {
      c.m.files.MakeLink(base + u"\\nq.dll", IO_REPARSE_TAG_SYMLINK, u"C:\\Windows\\System32\\kernel32.dll", false);
      c.Note("nq_is_link");
    } else {
      c.File(base + u"\\nq.dll", "MZ nq", c.Hazard(8) ? FILE_ATTRIBUTE_READONLY : 0);
    }
  }
  for (const char16_t* near : {u"\\Store2\\keep.dat", u"\\Stor\\keep.dat", u"\\Store.bak\\keep.dat", u"\\readme.txt",
                               u"\\nq.dll.bak", u"\\nq2.dll", u"\\nq.dl", u"\\Xnq.dll"}) {
    if (c.r.Chance(25)) {
      c.File(base + near, "keep");
    }
  }
  if (c.r.Chance(25)) {
    c.File(base.substr(0, base.find_last_of(u'\\')) + u"\\nq.dll", "one folder too high");
  }
  for (const char16_t* subkey :
       {u".core", u"1093", u"1102", u"1103", u"Connectors_", u"EventsFilter", u"TestProduct"}) {
    if (c.Has(75)) {
      c.KeyTree(kServerKey + u"\\" + subkey, 2);
      if (c.Hazard(3)) {
        c.m.registry.Create(kServerKey + u"\\" + subkey + u"\\Pinned")->deny_delete = true;
        c.Note("pinned_subkey");
      }
    }
  }
  for (const char16_t* near : {u"1093x", u"109", u"10930", u".core2", u"core", u"Connectors", u"EventsFilters",
                               u"TestProduct_", u"Licensing", u"Licensing\\1093", u"1102 "}) {
    if (c.r.Chance(20)) {
      c.KeyTree(kServerKey + u"\\" + near, 1);
    }
  }
  if (c.r.Chance(20)) {
    c.Text(u"HKEY_CURRENT_USER\\SOFTWARE\\Morvathen\\Components\\34", u"SS_SETTINGS", settings);
  }
  if (c.r.Chance(10)) {
    c.Text(kMachineSoftware + u"\\Wow6432Node\\Morvathen\\Components\\34", u"SS_SETTINGS", settings);
  }
}

// The service account and the value that names it.
void ServiceAccount(Context& c) {
  std::u16string name = c.r.Chance(50) ? u"MvSrvSvc" : u"svc" + Number(c.r.Below(1000));
  if (c.r.Chance(3)) {
    name += u"\u0416";
    c.Note("account_cyrillic");
  }
  const std::u16string key = kServerKey + u"\\1093\\1.0.0.0";
  const std::string kind = c.r.Choose({{60, "normal"},
                                       {8, "other_case"},
                                       {5, "empty"},
                                       {4, "dword"},
                                       {4, "multi_sz"},
                                       {4, "259_units"},
                                       {4, "260_units_unterminated"},
                                       {3, "over_520_bytes"},
                                       {8, "missing"}});
  c.Note("account_" + kind);
  if (kind == "dword") {
    name = u"AB";
  } else if (kind == "259_units" || kind == "260_units_unterminated" || kind == "over_520_bytes") {
    name = u"svc" + std::u16string(kind == "259_units" ? 256 : kind == "260_units_unterminated" ? 257 : 300, u'a');
  }
  if (c.Has(80)) {
    if (kind == "normal" || kind == "259_units" || kind == "over_520_bytes") {
      c.Text(key, kAccountValueName, name);
    } else if (kind == "other_case") {
      c.Text(key, kAccountValueName, Upper(name));
    } else if (kind == "empty") {
      c.Text(key, kAccountValueName, u"");
    } else if (kind == "dword") {
      c.Dword(key, kAccountValueName, 0x00420041);
    } else if (kind == "multi_sz") {
      std::vector<std::uint8_t> data = TextBytes(name, true);
      std::vector<std::uint8_t> second = TextBytes(u"Guest", true);
      data.insert(data.end(), second.begin(), second.end());
      data.push_back(0);
      data.push_back(0);
      c.Raw(key, kAccountValueName, REG_MULTI_SZ, data);
    } else if (kind == "260_units_unterminated") {
      c.Raw(key, kAccountValueName, REG_SZ, TextBytes(name, false));
      // The name cut to fit the buffer is another account.
      c.m.accounts.Add(sim::Account{name.substr(0, 259), false});
    }
    c.Text(key, u"DisplayName", u"Server service");
  }
  if (c.Has(85)) {
    c.m.accounts.Add(sim::Account{name, c.Hazard(5)});
  }
  for (const std::u16string& near : {name + u"2", name.substr(0, name.size() - 1), name + u"_old", u"x" + name}) {
    if (c.r.Chance(40)) {
      c.m.accounts.Add(sim::Account{near, false});
    }
  }
}

// The three services, each maybe spelled in another letter case, and
// services named one character or a word away.
void Services(Context& c) {
  for (const char16_t* name : {u"Ostrivel", u"Pennaquist", u"Brolmidas"}) {
    if (!c.Has(80)) {
      continue;
    }
    sim::Service service;
    const int spelling = static_cast<int>(c.r.Below(10));
    service.name = spelling == 0 ? Upper(name) : spelling == 1 ? Lower(name) : std::u16string(name);
    const std::string state = c.r.Choose({{60, "running"}, {25, "stopped"}, {5, "paused"}});
    service.state = state == "running"  ? sim::ServiceState::kRunning
                    : state == "paused" ? sim::ServiceState::kPaused
                                        : sim::ServiceState::kStopped;
    service.stop_after_ms = 1000 * c.r.Below(5);
    service.recovery.reset_period_s = 86400;
    service.recovery.actions = {{sim::RecoveryType::kRestart, 60000}, {sim::RecoveryType::kRestart, 60000}};
    if (c.Hazard(6)) {
      const std::string hazard = c.r.Choose({{1, "never_stops"},
                                             {1, "refuses_stop"},
                                             {1, "refuses_config"},
                                             {1, "start_pending"},
                                             {1, "marked_for_delete"}});
      c.Note("service_" + hazard);
      if (hazard == "never_stops") {
        service.state = sim::ServiceState::kRunning;
        service.never_stops = true;
      } else if (hazard == "refuses_stop") {
        service.state = sim::ServiceState::kRunning;
        service.refuse_stop = ERROR_DEPENDENT_SERVICES_RUNNING;
      } else if (hazard == "marked_for_delete") {
        service.marked_for_delete = true;
      } else if (hazard == "refuses_config") {
        service.refuse_config = ERROR_ACCESS_DENIED;
      } else {
        service.state = sim::ServiceState::kStartPending;
      }
    }
    c.m.services.Install(service);
  }
  const std::vector<std::u16string> near_misses = {
      u"Ostrivel2", u"Ostrive",       u"Ostrivel_",  u"XOstrivel", u"Ostrivel Agent", u"Pennaquist2",
      u"Pennaquis", u"PennaquistSvc", u"Brolmidas2", u"Brolmida",  u"Brolmidas_old",  u"MvSrvSvc"};
  for (const std::u16string& name : near_misses) {
    if (c.r.Chance(25)) {
      sim::Service service;
      service.name = name;
      service.state = c.r.Chance(70) ? sim::ServiceState::kRunning : sim::ServiceState::kStopped;
      service.recovery.actions = {{sim::RecoveryType::kRestart, 30000}};
      c.m.services.Install(service);
    }
  }
}

// The registration of a product the way Windows Installer writes it.
void RegisterProduct(Context& c, const std::u16string& product, const std::u16string& upgrade,
                     const std::u16string& name, int keep_percent) {
  const std::u16string packed = Packed(product);
  const std::u16string packed_upgrade = Packed(upgrade);
  auto keep = [&]() { return c.r.Chance(keep_percent); };
  if (keep()) {
    c.Text(kClassesInstaller + u"\\Products\\" + packed, u"ProductName", name);
    c.Text(kClassesInstaller + u"\\Products\\" + packed + u"\\SourceList", u"PackageName", name + u".msi");
  }
  if (keep()) {
    c.Text(kClassesInstaller + u"\\Features\\" + packed, u"Complete", u"");
  }
  if (keep()) {
    c.Text(kClassesInstaller + u"\\UpgradeCodes\\" + packed_upgrade, packed, u"");
  }
  if (keep()) {
    c.Text(kInstaller + u"\\UpgradeCodes\\" + packed_upgrade, packed, u"");
  }
  if (keep()) {
    c.Text(kSystemUserData + u"\\Products\\" + packed + u"\\InstallProperties", u"DisplayName", name);
    c.Text(kSystemUserData + u"\\Products\\" + packed + u"\\Features", u"Complete", u"");
  }
  if (keep()) {
    c.Text(kUninstall + u"\\" + product, u"DisplayName", name);
  }
  if (c.r.Chance(3)) {
    // Below the product key, a chain of long names whose paths outgrow what
    // a key tree deletion can spell.
    std::u16string deep = kClassesInstaller + u"\\Products\\" + packed;
    for (char16_t letter : {u'A', u'B', u'C'}) {
      deep += u"\\" + std::u16string(200, letter);
    }
    c.Text(deep, u"Deep", u"too deep to spell");
    c.Note("deep_key_names");
  }
  if (keep()) {
    c.Text(kUninstall + u"\\InstallShield_" + product, u"DisplayName", name);
  }
  if (keep()) {
    c.Text(kUninstall + u"\\InstallShield Uninstall Information\\" + product + u"\\Setup", u"Version", u"1.0");
  }
}

// Component registrations of the product: its own, shared ones, and the
// shapes the component rule turns away.
void ProductComponents(Context& c, const std::u16string& key_file) {
  const std::u16string packed = Packed(c.product);
  const std::u16string server_key = kComponents + u"\\" + Packed(kServerComponentCode);
  if (c.Has(90)) {
    if (!c.others.empty() && c.r.Chance(5)) {
      c.Text(server_key, Packed(c.others.front()), u"C:\\Program Files (x86)\\Vendor0\\app.exe");
      c.Note("server_component_claimed_by_other");
    }
    c.Text(server_key, packed, key_file);
    if (!c.others.empty() && c.r.Chance(5)) {
      c.Text(server_key, Packed(c.others.back()), key_file);
      c.Note("server_component_shared");
    }
  }
  for (std::uint64_t i = c.Has(100) ? c.r.Below(7) : 0; i > 0; --i) {
    const std::u16string key = kComponents + u"\\" + RandomPacked(c.r);
    const std::u16string path = kNormalProductDirectory + u"\\bin\\module" + Number(i) + u".dll";
    const std::string kind = c.r.Choose({{40, "own"},
                                         {15, "shared"},
                                         {6, "with_default_value"},
                                         {5, "expand_sz"},
                                         {4, "over_4096_bytes"},
                                         {4, "exactly_4096_bytes"},
                                         {6, "with_subkeys"},
                                         {5, "lower_case_value_name"},
                                         {3, "empty_data"},
                                         {c.mode > 2 ? 3 : 0, "read_only"},
                                         {c.mode > 2 ? 3 : 0, "pinned"},
                                         {3, "name_179_units"},
                                         {3, "name_178_units"}});
    c.Note("component_" + kind);
    std::u16string name = packed;
    std::u16string where = key;
    if (kind == "name_179_units" || kind == "name_178_units") {
      where = kComponents + u"\\" + std::u16string(kind == "name_179_units" ? 179 : 178, u'C');
    }
    if (kind == "expand_sz") {
      c.Raw(where, name, REG_EXPAND_SZ, TextBytes(path, true));
      continue;
    }
    if (kind == "over_4096_bytes" || kind == "exactly_4096_bytes") {
      c.Raw(where, name, REG_SZ, TextBytes(std::u16string(kind == "over_4096_bytes" ? 2048 : 2047, u'p'), true));
      continue;
    }
    c.Text(where, kind == "lower_case_value_name" ? Lower(name) : name, kind == "empty_data" ? u"" : path);
    if (kind == "shared" && !c.others.empty()) {
      c.Text(where, Packed(c.r.Pick(c.others)), path);
    } else if (kind == "with_default_value") {
      c.Text(where, u"", u"default");
    } else if (kind == "with_subkeys") {
      c.KeyTree(where + u"\\Sub", 1);
    } else if (kind == "read_only") {
      c.m.registry.Create(where)->deny_write_access = true;
    } else if (kind == "pinned") {
      c.m.registry.Create(where + u"\\Pinned")->deny_delete = true;
    }
  }
  // A product with more components of its own than one scan collects,
  // other products' components between them.
  if (c.Has(4) && c.r.Chance(75)) {
    c.Note("components_many");
    for (std::uint64_t i = 100 + c.r.Below(200); i > 0; --i) {
      const std::u16string key = kComponents + u"\\" + RandomPacked(c.r);
      c.Text(key, packed, kNormalProductDirectory + u"\\many\\part" + Number(i) + u".dll");
      if (!c.others.empty() && c.r.Chance(20)) {
        c.Text(key, Packed(c.r.Pick(c.others)), u"C:\\shared.dll");
      }
    }
  }
  // Names and values one digit away from the product's.
  if (c.r.Chance(30)) {
    c.Text(kComponents + u"\\" + RandomPacked(c.r), OneDigitOff(packed, c.r), u"C:\\near.dll");
  }
  if (c.r.Chance(30)) {
    c.Text(kComponents + u"\\" + RandomPacked(c.r), packed + u"0", u"C:\\near.dll");
  }
  if (c.r.Chance(30)) {
    c.Text(kInstaller + u"\\UserData\\S-1-5-20\\Components\\" + RandomPacked(c.r), packed, u"C:\\other-sid.dll");
  }
  if (c.r.Chance(20)) {
    c.Text(kComponents + u"\\" + packed, u"", u"a component key named like the product");
  }
}

// Keys named one character, a suffix or a separator away from the
// product's registration and uninstall keys.
void InstallerNearMisses(Context& c) {
  const std::u16string packed = Packed(c.product);
  const std::u16string packed_upgrade = Packed(c.upgrade);
  const std::u16string bare = c.product.substr(1, 36);
  const std::vector<std::u16string> keys = {
      kClassesInstaller + u"\\Products\\" + OneDigitOff(packed, c.r),
      kClassesInstaller + u"\\Features\\" + packed + u"0",
      kClassesInstaller + u"\\UpgradeCodes\\" + OneDigitOff(packed_upgrade, c.r),
      kSystemUserData + u"\\Products\\" + packed.substr(0, 31),
      kInstaller + u"\\UserData\\S-1-5-20\\Products\\" + packed,
      kInstaller + u"\\UpgradeCodes\\" + packed_upgrade + u"_",
      kUninstall + u"\\" + c.product + u".bak",
      kUninstall + u"\\InstallShield_" + c.product + u"_old",
      kUninstall + u"\\InstallShield " + c.product,
      kUninstall + u"\\InstallShield_" + bare,
      kUninstall + u"\\InstallShield_",
      kUninstall + u"\\" + OneDigitOff(c.product, c.r),
      kUninstall + u"\\" + bare,
      kUninstall + u"\\InstallShield Uninstall Information\\" + c.product + u"x",
      kUninstall + u"\\InstallShield Uninstall Information",
      u"HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Installer\\Products\\" + packed,
  };
  for (const std::u16string& key : keys) {
    if (c.r.Chance(25)) {
      c.Text(key, u"DisplayName", u"not the product's");
    }
  }
}

void VendorKey28(Context& c) {
  if (c.Has(70)) {
    c.Dword(kVendorComponents + u"\\28", u"Installed", 1);
    c.KeyTree(kVendorComponents + u"\\28\\Plugins", 1);
    if (c.Hazard(4)) {
      c.m.registry.Create(kVendorComponents + u"\\28\\Plugins\\Pinned")->deny_delete = true;
      c.Note("pinned_28");
    }
  }
  for (const std::u16string& near :
       {kVendorComponents + u"\\280", kVendorComponents + u"\\2", kVendorComponents + u"\\28x",
        kVendorComponents + u"\\128", kVendorComponents + u"\\3", kVendorComponents + u"\\34x",
        kVendorComponents + u"\\35", kMachineSoftware + u"\\Morvathen2\\Components\\28",
        kMachineSoftware + u"\\Morvathe\\Components\\28",
        kMachineSoftware + u"\\Wow6432Node\\Morvathen\\Components\\28",
        std::u16string(u"HKEY_CURRENT_USER\\SOFTWARE\\Morvathen\\Components\\28")}) {
    if (c.r.Chance(25)) {
      c.KeyTree(near, 1);
    }
  }
}

// Products beside the server, some sharing its components or its upgrade
// code.
void OtherProducts(Context& c) {
  for (std::size_t i = 0; i < c.others.size(); ++i) {
    const std::u16string& other = c.others[i];
    const std::u16string upgrade = c.r.Chance(10) ? c.upgrade : RandomCode(c.r);
    if (upgrade == c.upgrade) {
      c.Note("other_product_shares_upgrade_code");
    }
    RegisterProduct(c, other, upgrade, u"Vendor" + Number(i) + u" Product", 100);
    const std::u16string file = u"C:\\Program Files (x86)\\Vendor" + Number(i) + u"\\app.exe";
    c.File(file);
    c.Text(kComponents + u"\\" + RandomPacked(c.r), Packed(other), file);
    if (c.r.Chance(30)) {
      const std::u16string shared = kComponents + u"\\" + RandomPacked(c.r);
      c.Text(shared, Packed(c.product), u"C:\\Program Files (x86)\\Morvathen\\Common\\mvcommon.dll");
      c.Text(shared, Packed(other), u"C:\\Program Files (x86)\\Morvathen\\Common\\mvcommon.dll");
    }
  }
}

// What the caller types: nothing, or the codes in every shape.
std::u16string CommandLine(Context& c) {
  const std::string kind = c.r.Choose({{35, "installer"},
                                       {25, "codes"},
                                       {5, "lower_case"},
                                       {5, "no_braces"},
                                       {3, "product_code_39_units"},
                                       {2, "doubled_braces"},
                                       {3, "one_argument"},
                                       {3, "three_arguments"},
                                       {4, "quoted"},
                                       {3, "parentheses"},
                                       {4, "other_product"},
                                       {3, "unknown_codes"},
                                       {2, "empty_arguments"},
                                       {1, "backslashes"},
                                       {1, "backslash_inside"}});
  c.Note("cmd_" + kind);
  const std::u16string& p = c.product;
  const std::u16string& u = c.upgrade;
  if (kind == "installer") {
    return c.r.Chance(90) ? u"" : u"   ";
  }
  if (kind == "codes") {
    return p + u" " + u;
  }
  if (kind == "lower_case") {
    return Lower(p) + u" " + (c.r.Chance(50) ? Lower(u) : u);
  }
  if (kind == "no_braces") {
    return p.substr(1, 36) + u" " + (c.r.Chance(50) ? u.substr(1, 36) : u);
  }
  if (kind == "product_code_39_units") {
    return c.r.Chance(50) ? p + u"0 " + u : p + u" " + u + u"0";
  }
  if (kind == "doubled_braces") {
    return u"{" + p + u"} " + u;
  }
  if (kind == "one_argument") {
    return p;
  }
  if (kind == "three_arguments") {
    return p + u" " + u + u" /quiet";
  }
  if (kind == "quoted") {
    return u"\"" + p + u"\" \"" + u + u"\"";
  }
  if (kind == "parentheses") {
    return u"(" + p.substr(1, 36) + u") " + u;
  }
  if (kind == "other_product" && !c.others.empty()) {
    return c.others.front() + u" " + RandomCode(c.r);
  }
  if (kind == "empty_arguments") {
    return u"\"\" \"\"";
  }
  if (kind == "backslashes") {
    return std::u16string(38, u'\\') + u" " + std::u16string(38, u'\\');
  }
  if (kind == "backslash_inside") {
    return u"{" + p.substr(1, 8) + u"\\" + p.substr(10) + u" " + u;
  }
  return RandomCode(c.r) + u" " + RandomCode(c.r);
}

}  // namespace

GeneratedMachine Generate(std::uint64_t seed, sim::Machine& machine) {
  Random r(seed);
  GeneratedMachine generated;
  Context c(machine, r, generated);
  c.mode = static_cast<int>(r.Below(10));
  c.Note(c.mode == 0 ? "product_absent" : c.mode <= 2 ? "product_whole" : "product_partial");
  const bool builtin_codes = r.Chance(30);
  c.product = builtin_codes ? kBuiltinProductCode : RandomCode(r);
  c.upgrade = builtin_codes ? kBuiltinUpgradeCode : RandomCode(r);
  for (std::uint64_t i = r.Below(4); i > 0; --i) {
    c.others.push_back(RandomCode(r));
  }

  BaseSystem(c);
  OtherProducts(c);
  if (c.Has(85)) {
    RegisterProduct(c, c.product, c.upgrade, u"Morvathen Server", c.mode > 2 ? 85 : 100);
  }
  if (c.r.Chance(8)) {
    const std::string shape = c.r.Choose({{3, "lower"}, {2, "no_braces"}, {1, "forty_units"}});
    c.Note("upgrade_property_" + shape);
    const std::u16string property = shape == "lower"       ? Lower(c.upgrade)
                                    : shape == "no_braces" ? c.upgrade.substr(1, 36)
                                                           : u"{" + c.upgrade + u"}";
    machine.installer.package_properties[sim::Fold(c.product)][u"UpgradeCode"] = property;
  }
  const std::u16string key_file = ProductDirectory(c);
  ProductComponents(c, key_file);
  InstallerNearMisses(c);
  VendorKey28(c);
  ServerSettings(c);
  ServiceAccount(c);
  Services(c);
  generated.command_line = CommandLine(c);
  if (r.Chance(3)) {
    machine.process.elevated = false;
    c.Note("not_elevated");
  }
  return generated;
}

}  // namespace machine_generator
