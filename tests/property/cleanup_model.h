// What one run of the cleaner may change on a machine, and what it has to
// remove there, worked out from the machine as it stands before the run and
// from the command line. The model is written from the cleaner's fixed
// tables and rules (its service names, its account value, its installer key
// table, the component rule, the vendor keys, the settings-store values, the
// directory rules); it never calls the cleaner's own functions, so a fault in
// them cannot hide in the model.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/image/machine_image.h"
#include "sim/machine.h"

namespace cleanup_model {

inline constexpr char16_t kServerComponentCode[] = u"{5B1E6C3A-27D4-4F80-9A6E-C4D2873B1F05}";
inline constexpr char16_t kComponentsKey[] =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components";
inline constexpr char16_t kServerKey[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\34";
inline constexpr char16_t kAccountKey[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\34\\1093\\1.0.0.0";
inline constexpr char16_t kAccountValue[] = u"AutoCreatedServiceAccount";
inline constexpr char16_t kVendorKey28[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\28";
inline constexpr const char16_t* kServiceNames[] = {u"Ostrivel", u"Pennaquist", u"Brolmidas"};
inline constexpr const char16_t* kServerSubkeys[] = {u".core",       u"1093",         u"1102",       u"1103",
                                                     u"Connectors_", u"EventsFilter", u"TestProduct"};
inline constexpr char16_t kLogName[] = u"$vornalet.log";

// The packed form of a code of exactly 38 units: its 32 digit positions
// reordered, no character checked; nothing for any other length.
std::optional<std::u16string> PackCode(std::u16string_view code);

// The text in front of the last backslash; nothing when there is no
// backslash or when that text has 260 units or more.
std::optional<std::u16string> ParentOf(std::u16string_view path);

// What the run will be working on: the exit code it must end with, and for
// exit code 0 the codes and the product directory text it cleans up.
struct Identification {
  int exit_code = 0;
  std::u16string product_code;
  std::u16string upgrade_code;
  std::u16string product_directory;  // empty: none
};

// Asks the machine's installer (the simulated platform, not the cleaner)
// the questions the cleaner asks it, and splits the command line as the
// platform does. The machine must be selected; the journal is left empty.
Identification Identify(sim::Machine& machine, std::u16string_view command_line);

// One part of what may change: a key or directory with everything below it,
// the values of one key, one file system entry, one service or one account.
struct Scope {
  std::u16string folded;  // canonical path or name, letter case folded
  bool must_go = false;   // a run without faults has to remove all of it
  std::string why;        // the rule that allows it, for messages
};

struct AllowedSet {
  std::vector<Scope> key_trees;    // the key, its values and everything below it
  std::vector<Scope> value_keys;   // the values of the key whose names fit 1023 units
  std::vector<Scope> file_trees;   // the directory and everything below it, as it lies on disk
  std::vector<Scope> directories;  // one directory entry itself (a link handed to the walk)
  std::vector<Scope> files;        // one file entry itself
  std::vector<Scope> services;
  std::vector<Scope> accounts;
  std::u16string log_file;  // folded; may be created or rewritten

  // The scope that lets this inventory entry ("key ...", "file ...") be
  // removed or changed, or null.
  const Scope* Covering(std::string_view what) const;
  // One line per scope, for failure messages.
  std::vector<std::string> Describe() const;
};

// The allowed set for the run identified, from the machine before the run.
AllowedSet Allowed(sim::Machine& machine, const Identification& identification);

struct Verdict {
  std::vector<std::string> outside;      // changes no rule allows
  std::vector<std::string> left_behind;  // entries a clean run had to remove
  std::size_t changes = 0;               // changes looked at
  std::size_t required = 0;              // entries that had to go, looked at
};

// Compares the machine before and after a run. With require_complete, every
// entry of a must-go scope has to be gone as well.
Verdict Judge(const AllowedSet& allowed, const sim::Inventory& before, const sim::Inventory& after,
              bool require_complete);

}  // namespace cleanup_model
