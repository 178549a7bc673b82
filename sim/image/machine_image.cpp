#include "sim/image/machine_image.h"

#include "sim/core/text.h"

namespace sim {

std::u16string ImageText(const nlohmann::json& value, const std::string& where) {
  if (!value.is_string()) {
    throw ImageError(where + ": expected a string");
  }
  return FromUtf8(value.get<std::string>());
}

std::string ImageWhere(const std::string& section, const std::u16string& name) {
  return section + " \"" + ToUtf8(name) + "\"";
}

namespace {

void LoadProcess(const nlohmann::json& section, Machine& machine) {
  if (!section.is_object()) {
    throw ImageError("process: expected an object");
  }
  for (const auto& [field, value] : section.items()) {
    if (field == "temp_path") {
      machine.process.temp_path = ImageText(value, "process.temp_path");
    } else if (field == "temp_path_error" && value.is_number_unsigned()) {
      machine.process.temp_path_error = value.get<std::uint32_t>();
    } else if (field == "elevated" && value.is_boolean()) {
      machine.process.elevated = value.get<bool>();
    } else if (field == "windows_directory") {
      machine.process.windows_directory = ImageText(value, "process.windows_directory");
    } else if (field == "environment" && value.is_object()) {
      for (const auto& [name, text] : value.items()) {
        machine.process.environment[FromUtf8(name)] = ImageText(text, "process.environment." + name);
      }
    } else {
      throw ImageError("process: unknown or malformed field \"" + field + "\"");
    }
  }
}

nlohmann::json SaveProcess(const Machine& machine) {
  nlohmann::json section = nlohmann::json::object();
  section["temp_path"] = ToUtf8(machine.process.temp_path);
  if (machine.process.temp_path_error != 0) {
    section["temp_path_error"] = machine.process.temp_path_error;
  }
  section["elevated"] = machine.process.elevated;
  section["windows_directory"] = ToUtf8(machine.process.windows_directory);
  nlohmann::json environment = nlohmann::json::object();
  for (const auto& [name, text] : machine.process.environment) {
    environment[ToUtf8(name)] = ToUtf8(text);
  }
  section["environment"] = environment;
  return section;
}

void LoadInstaller(const nlohmann::json& section, Machine& machine) {
  if (!section.is_object()) {
    throw ImageError("installer: expected an object");
  }
  for (const auto& [field, value] : section.items()) {
    if (field != "package_properties" || !value.is_object()) {
      throw ImageError("installer: unknown or malformed field \"" + field + "\"");
    }
    for (const auto& [product, properties] : value.items()) {
      if (!properties.is_object()) {
        throw ImageError("installer.package_properties." + product + ": expected an object");
      }
      for (const auto& [name, text] : properties.items()) {
        machine.installer.package_properties[Fold(FromUtf8(product))][FromUtf8(name)] =
            ImageText(text, "installer.package_properties." + product + "." + name);
      }
    }
  }
}

nlohmann::json SaveInstaller(const Machine& machine) {
  nlohmann::json properties = nlohmann::json::object();
  for (const auto& [product, values] : machine.installer.package_properties) {
    for (const auto& [name, text] : values) {
      properties[ToUtf8(product)][ToUtf8(name)] = ToUtf8(text);
    }
  }
  return nlohmann::json{{"package_properties", properties}};
}

}  // namespace

nlohmann::json SaveMachine(const Machine& machine) {
  nlohmann::json image = nlohmann::json::object();
  image["process"] = SaveProcess(machine);
  image["installer"] = SaveInstaller(machine);
  image["registry"] = SaveRegistry(machine.registry);
  image["files"] = SaveFiles(machine.files);
  image["services"] = SaveServices(machine.services);
  image["accounts"] = SaveAccounts(machine.accounts);
  return image;
}

void LoadMachine(const nlohmann::json& image, Machine& machine) {
  if (!image.is_object()) {
    throw ImageError("a machine image is a JSON object");
  }
  for (const auto& [section, value] : image.items()) {
    if (section == "process") {
      LoadProcess(value, machine);
    } else if (section == "installer") {
      LoadInstaller(value, machine);
    } else if (section == "registry") {
      LoadRegistry(value, machine.registry);
    } else if (section == "files") {
      LoadFiles(value, machine.files);
    } else if (section == "services") {
      LoadServices(value, machine.services);
    } else if (section == "accounts") {
      LoadAccounts(value, machine.accounts);
    } else if (section != "description") {
      throw ImageError("unknown section \"" + section + "\"");
    }
  }
}

Inventory TakeInventory(const Machine& machine) {
  Inventory inventory;
  AddRegistryInventory(machine.registry, inventory);
  AddFilesInventory(machine.files, inventory);
  AddServicesInventory(machine.services, inventory);
  AddAccountsInventory(machine.accounts, inventory);
  return inventory;
}

std::vector<std::string> DescribeChanges(const Inventory& before, const Inventory& after) {
  std::vector<std::string> changes;
  for (const auto& [what, state] : before) {
    auto it = after.find(what);
    if (it == after.end()) {
      changes.push_back("removed " + what + (state.empty() ? "" : " (" + state + ")"));
    } else if (it->second != state) {
      changes.push_back("changed " + what + ": " + state + " -> " + it->second);
    }
  }
  for (const auto& [what, state] : after) {
    if (before.find(what) == before.end()) {
      changes.push_back("added " + what + (state.empty() ? "" : " (" + state + ")"));
    }
  }
  return changes;
}

}  // namespace sim
