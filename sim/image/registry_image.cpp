// The registry section of a machine image: one entry per key that holds
// values, carries a test flag or has no subkeys, by its full path.
//   "HKEY_LOCAL_MACHINE\\SOFTWARE\\X": {
//     "values": { "Name": "text", "Count": {"type": "REG_DWORD", "data": 5},
//                 "Raw": {"type": "REG_SZ", "hex": "410042"} },
//     "deny": ["write_access", "delete"] }
// A plain string is a REG_SZ with its terminator; "hex" gives the exact
// bytes of any type (a string without its terminator, for instance).
#include <cstdio>

#include "sim/core/text.h"
#include "sim/image/machine_image.h"

namespace sim {

namespace {

struct TypeName {
  std::uint32_t type;
  const char* name;
};
constexpr TypeName kTypeNames[] = {{0, "REG_NONE"},  {1, "REG_SZ"},       {2, "REG_EXPAND_SZ"}, {3, "REG_BINARY"},
                                   {4, "REG_DWORD"}, {7, "REG_MULTI_SZ"}, {11, "REG_QWORD"}};

std::string NameOfType(std::uint32_t type) {
  for (const TypeName& entry : kTypeNames) {
    if (entry.type == type) {
      return entry.name;
    }
  }
  return std::to_string(type);
}

std::uint32_t TypeOfName(const nlohmann::json& value, const std::string& where) {
  if (value.is_number_unsigned()) {
    return value.get<std::uint32_t>();
  }
  if (value.is_string()) {
    for (const TypeName& entry : kTypeNames) {
      if (value.get<std::string>() == entry.name) {
        return entry.type;
      }
    }
  }
  throw ImageError(where + ": unknown value type " + value.dump());
}

void AppendText(std::vector<std::uint8_t>& data, std::u16string_view text) {
  for (char16_t unit : text) {
    data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    data.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  data.push_back(0);
  data.push_back(0);
}

std::vector<std::uint8_t> FromHex(const std::string& hex, const std::string& where) {
  if (hex.size() % 2 != 0) {
    throw ImageError(where + ": hex data of odd length");
  }
  std::vector<std::uint8_t> data;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    unsigned byte = 0;
    if (std::sscanf(hex.substr(i, 2).c_str(), "%2x", &byte) != 1) {
      throw ImageError(where + ": bad hex data");
    }
    data.push_back(static_cast<std::uint8_t>(byte));
  }
  return data;
}

std::string ToHex(const std::vector<std::uint8_t>& data) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::uint8_t byte : data) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xF];
  }
  return hex;
}

// The text of string data that ends with its one terminator and holds no
// other zero unit; false for anything else.
bool CleanText(const std::vector<std::uint8_t>& data, std::u16string* text) {
  if (data.size() < 2 || data.size() % 2 != 0) {
    return false;
  }
  text->clear();
  for (std::size_t i = 0; i + 2 < data.size(); i += 2) {
    const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (unit == 0) {
      return false;
    }
    *text += unit;
  }
  return data[data.size() - 2] == 0 && data[data.size() - 1] == 0;
}

RegistryValue LoadValue(const std::string& name, const nlohmann::json& described, const std::string& where) {
  RegistryValue value{FromUtf8(name), 1, {}};
  if (described.is_string()) {
    AppendText(value.data, FromUtf8(described.get<std::string>()));
    return value;
  }
  if (!described.is_object() || !described.contains("type")) {
    throw ImageError(where + ": a value is a string or an object with a \"type\"");
  }
  value.type = TypeOfName(described["type"], where);
  if (described.contains("hex")) {
    value.data = FromHex(described["hex"].get<std::string>(), where);
    return value;
  }
  const nlohmann::json& data = described.value("data", nlohmann::json());
  if (value.type == 4 && data.is_number_unsigned()) {
    const auto number = data.get<std::uint32_t>();
    for (int shift = 0; shift < 32; shift += 8) {
      value.data.push_back(static_cast<std::uint8_t>(number >> shift));
    }
  } else if (value.type == 11 && data.is_number_unsigned()) {
    const auto number = data.get<std::uint64_t>();
    for (int shift = 0; shift < 64; shift += 8) {
      value.data.push_back(static_cast<std::uint8_t>(number >> shift));
    }
  } else if ((value.type == 1 || value.type == 2) && data.is_string()) {
    AppendText(value.data, FromUtf8(data.get<std::string>()));
  } else if (value.type == 7 && data.is_array()) {
    for (const nlohmann::json& item : data) {
      std::vector<std::uint8_t> one;
      AppendText(one, ImageText(item, where));
      value.data.insert(value.data.end(), one.begin(), one.end());
    }
    value.data.push_back(0);
    value.data.push_back(0);
  } else {
    throw ImageError(where + ": data does not suit type " + NameOfType(value.type));
  }
  return value;
}

nlohmann::json SaveValue(const RegistryValue& value) {
  std::u16string text;
  if (value.type == 1 && CleanText(value.data, &text)) {
    return ToUtf8(text);
  }
  if (value.type == 2 && CleanText(value.data, &text)) {
    return nlohmann::json{{"type", "REG_EXPAND_SZ"}, {"data", ToUtf8(text)}};
  }
  if (value.type == 4 && value.data.size() == 4) {
    const std::uint32_t number = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                                 (static_cast<std::uint32_t>(value.data[3]) << 24);
    return nlohmann::json{{"type", "REG_DWORD"}, {"data", number}};
  }
  return nlohmann::json{{"type", NameOfType(value.type)}, {"hex", ToHex(value.data)}};
}

std::string DescribeValue(const RegistryValue& value) {
  nlohmann::json saved = SaveValue(value);
  return saved.is_string() ? "REG_SZ " + saved.dump() : saved.dump();
}

}  // namespace

void LoadRegistry(const nlohmann::json& section, Registry& registry) {
  if (!section.is_object()) {
    throw ImageError("registry: expected an object of keys");
  }
  for (const auto& [path, described] : section.items()) {
    const std::string where = "registry key \"" + path + "\"";
    std::shared_ptr<RegistryKey> key = registry.Create(FromUtf8(path));
    if (!key) {
      throw ImageError(where +
                       ": a key path begins with HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_USERS or "
                       "HKEY_CLASSES_ROOT");
    }
    if (!described.is_object()) {
      throw ImageError(where + ": expected an object");
    }
    for (const auto& [field, value] : described.items()) {
      if (field == "values" && value.is_object()) {
        for (const auto& [name, value_described] : value.items()) {
          key->SetValue(LoadValue(name, value_described, where + " value \"" + name + "\""));
        }
      } else if (field == "deny" && value.is_array()) {
        for (const nlohmann::json& flag : value) {
          if (flag == "write_access") {
            key->deny_write_access = true;
          } else if (flag == "delete") {
            key->deny_delete = true;
          } else {
            throw ImageError(where + ": unknown denial " + flag.dump());
          }
        }
      } else {
        throw ImageError(where + ": unknown or malformed field \"" + field + "\"");
      }
    }
  }
}

nlohmann::json SaveRegistry(const Registry& registry) {
  nlohmann::json section = nlohmann::json::object();
  registry.Walk([&](const std::u16string& path, const RegistryKey& key) {
    const bool is_root = path.find(u'\\') == std::u16string::npos;
    if (is_root || (key.SubkeyCount() > 0 && key.values().empty() && !key.deny_write_access && !key.deny_delete)) {
      return;
    }
    nlohmann::json described = nlohmann::json::object();
    if (!key.values().empty()) {
      nlohmann::json values = nlohmann::json::object();
      for (const RegistryValue& value : key.values()) {
        values[ToUtf8(value.name)] = SaveValue(value);
      }
      described["values"] = values;
    }
    nlohmann::json deny = nlohmann::json::array();
    if (key.deny_write_access) {
      deny.push_back("write_access");
    }
    if (key.deny_delete) {
      deny.push_back("delete");
    }
    if (!deny.empty()) {
      described["deny"] = deny;
    }
    section[ToUtf8(path)] = described;
  });
  return section;
}

void AddRegistryInventory(const Registry& registry, Inventory& inventory) {
  registry.Walk([&](const std::u16string& path, const RegistryKey& key) {
    const std::string key_path = ToUtf8(path);
    inventory["key " + key_path] = "";
    for (const RegistryValue& value : key.values()) {
      inventory["value " + key_path + " @ " + (value.name.empty() ? "(default)" : ToUtf8(value.name))] =
          DescribeValue(value);
    }
  });
}

}  // namespace sim
