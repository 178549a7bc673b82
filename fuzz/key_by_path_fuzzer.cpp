// DeleteKeyByPath on a small simulated registry built from each input. The
// input is UTF-8 text, one item per line:
//   line 1          the full key path handed to DeleteKeyByPath
//   PATH            a key to create, with every key above it
//   !PATH           a key to create whose deletion is refused
//   #CALL CODE TEXT a fault: the next CALL whose subject contains TEXT fails
//                   with CODE
//   -               the process runs without administrator rights
// Beside these, every registry holds the same few keys with values in all
// roots, among them siblings whose names begin like the keys deleted.
//
// Properties: every key removed lies at or below the key the text names,
// matched without regard to case (doubled and trailing backslashes count as
// one separator, as they do in the simulated registry), and only when the
// text fits its buffer and its root name is exactly one of the four; the
// values of the keys that remain are unchanged; no handle is left open; the
// log holds exactly the line "Component <text>"; the caller's text is
// unchanged; without faults, the result is true exactly when the named key
// does not exist afterwards.
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "sim/core/text.h"
#include "sim/machine.h"
#include "src/log/run_log.h"
#include "src/registry/key_tree.h"

namespace {

constexpr const char* kTarget = "key_by_path";
constexpr std::size_t kMaxItems = 64;

const char16_t* const kBaseKeys[] = {
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Products\\14C9A2F3E6B751D48A2C950E4D7B6F31\\SourceList",
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Products\\14C9A2F3E6B751D48A2C950E4D7B6F3",
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\UpgradeCodes\\22E18D7C39A4F6B4E950D1C2B3A4F506",
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\34\\.core",
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\34\\1093\\1.0.0.0",
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\340",
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\28\\Plugins\\Audit",
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathenx\\Other",
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{3F2A9C41-7B6E-4D15-A8C2-"
    u"59E0D4B7F613}",
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\InstallShield_{3F2A9C41-7B6E-"
    u"4D15-A8C2-59E0D4B7F613}",
    u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Ostrivel",
    u"HKEY_CURRENT_USER\\Software\\Morvathen\\Console",
    u"HKEY_USERS\\.DEFAULT\\Software\\Morvathen",
};

// Every key with its full path as the registry spells it, and its number
// of values.
std::unordered_map<std::u16string, std::size_t> KeysOf(const sim::Registry& registry) {
  std::unordered_map<std::u16string, std::size_t> keys;
  registry.Walk([&](const std::u16string& path, const sim::RegistryKey& key) { keys[path] = key.values().size(); });
  return keys;
}

// The key the text names, as a full path in the registry's spelling with
// single separators, folded; empty when the text names no key below a root
// that DeleteKeyByPath may touch.
std::u16string NamedKey(std::u16string_view text) {
  if (text.size() >= kCchKeyTreePath) {
    return u"";
  }
  const std::size_t separator = text.find(u'\\');
  if (separator == std::u16string_view::npos) {
    return u"";
  }
  const std::u16string_view root = text.substr(0, separator);
  std::u16string named;
  if (root == u"HKEY_CLASSES_ROOT") {
    named = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes";
  } else if (root == u"HKEY_CURRENT_USER" || root == u"HKEY_LOCAL_MACHINE" || root == u"HKEY_USERS") {
    named = std::u16string(root);
  } else {
    return u"";
  }
  std::u16string_view rest = text.substr(separator + 1);
  bool below_root = false;
  for (std::u16string_view part = sim::NextPathPart(rest); !part.empty(); part = sim::NextPathPart(rest)) {
    named += u'\\';
    named += part;
    below_root = true;
  }
  return below_root ? sim::Fold(named) : u"";
}

bool AtOrBelow(const std::u16string& path, const std::u16string& folded_ancestor) {
  if (folded_ancestor.empty()) {
    return false;
  }
  const std::u16string folded = sim::Fold(path);
  return folded == folded_ancestor ||
         (folded.size() > folded_ancestor.size() && folded.compare(0, folded_ancestor.size(), folded_ancestor) == 0 &&
          folded[folded_ancestor.size()] == u'\\');
}

std::vector<std::u16string> Lines(std::u16string_view text) {
  std::vector<std::u16string> lines;
  std::size_t start = 0;
  while (lines.size() <= kMaxItems) {
    const std::size_t end = text.find(u'\n', start);
    lines.emplace_back(text.substr(start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start));
    if (end == std::u16string_view::npos) {
      break;
    }
    start = end + 1;
  }
  return lines;
}

std::u16string WithoutZeros(std::u16string_view text) {
  std::u16string out;
  for (char16_t unit : text) {
    if (unit != 0) {
      out += unit;
    }
  }
  return out;
}

// "#CALL CODE TEXT": false when the line is not of that form.
bool ParseFault(std::u16string_view line, sim::FaultRule* rule) {
  const std::size_t call_end = line.find(u' ', 1);
  if (call_end == std::u16string_view::npos) {
    return false;
  }
  for (char16_t unit : line.substr(1, call_end - 1)) {
    if (unit > 0x7F) {
      return false;
    }
    rule->call += static_cast<char>(unit);
  }
  std::size_t i = call_end + 1;
  std::uint32_t code = 0;
  bool digits = false;
  while (i < line.size() && line[i] >= u'0' && line[i] <= u'9' && code < 100000) {
    code = code * 10 + (line[i] - u'0');
    digits = true;
    ++i;
  }
  if (!digits) {
    return false;
  }
  rule->error = code;
  rule->subject_contains = std::u16string(i < line.size() ? line.substr(i + 1) : std::u16string_view());
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string input = sim::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::vector<std::u16string> lines = Lines(input);

  sim::Machine machine;
  sim::ScopedMachine scope(machine);
  for (const char16_t* path : kBaseKeys) {
    machine.registry.SetString(path, u"Marker", u"base");
  }
  bool faults = false;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::u16string& line = lines[i];
    if (line == u"-") {
      machine.process.elevated = false;
    } else if (!line.empty() && line[0] == u'#') {
      sim::FaultRule rule;
      if (ParseFault(line, &rule)) {
        machine.faults.Add(rule);
        faults = true;
      }
    } else if (!line.empty() && line[0] == u'!') {
      if (auto key = machine.registry.Create(WithoutZeros(line.substr(1)))) {
        key->deny_delete = true;
      }
    } else {
      machine.registry.Create(WithoutZeros(line));
    }
  }

  // The text as a caller holds it: a buffer of exactly its units and the
  // terminator, so that a read past it is caught.
  std::vector<char16_t> full_key_path(lines[0].begin(), lines[0].end());
  full_key_path.push_back(0);
  const std::vector<char16_t> full_key_path_before = full_key_path;
  const std::u16string text(fuzzing::TextOf(full_key_path.data()));
  const std::u16string named = NamedKey(text);
  const std::unordered_map<std::u16string, std::size_t> before = KeysOf(machine.registry);

  OpenRunLog();
  const bool gone = DeleteKeyByPath(full_key_path.data());
  CloseRunLog();

  const std::unordered_map<std::u16string, std::size_t> after = KeysOf(machine.registry);
  for (const auto& [path, value_count] : before) {
    auto it = after.find(path);
    if (it == after.end()) {
      if (!AtOrBelow(path, named)) {
        fuzzing::Fail(kTarget, "removed " + fuzzing::Printable(path) + ", which is not at or below the key named by " +
                                   fuzzing::Printable(text));
      }
    } else if (it->second != value_count) {
      fuzzing::Fail(kTarget, "the values of " + fuzzing::Printable(path) + " changed");
    }
  }
  for (const auto& [path, value_count] : after) {
    if (before.count(path) == 0) {
      fuzzing::Fail(kTarget, "added " + fuzzing::Printable(path));
    }
  }
  if (machine.handles.OpenCount() != 0 || !machine.registry.open_keys.empty()) {
    std::string open;
    for (const std::string& line : machine.handles.Describe()) {
      open += " [" + line + "]";
    }
    fuzzing::Fail(kTarget, "handles left open:" + open);
  }
  if (full_key_path != full_key_path_before) {
    fuzzing::Fail(kTarget, "the caller's text was changed");
  }
  std::string log;
  const std::string expected_log = "Component " + fuzzing::LogBytesOf(text) + "\r\n";
  if (!fuzzing::ReadLog(machine, &log) || log != expected_log) {
    fuzzing::Fail(kTarget, "log \"" + fuzzing::PrintableBytes(log) + "\", expected \"" +
                               fuzzing::PrintableBytes(expected_log) + "\"");
  }
  if (!faults) {
    bool named_exists = false;
    for (const auto& [path, value_count] : after) {
      named_exists = named_exists || (!named.empty() && sim::Fold(path) == named);
    }
    const bool expected = !named.empty() && !named_exists;
    if (gone != expected) {
      fuzzing::Fail(kTarget, "result " + std::to_string(gone) + " for " + fuzzing::Printable(text) +
                                 "; the named key " + (named_exists ? "exists" : "does not exist") + " afterwards");
    }
  }
  return 0;
}
