// Machine images: a simulated machine saved to and loaded from JSON, and
// the inventory that turns two states of a machine into a readable list of
// changes.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/machine.h"

namespace sim {

// A broken or malformed image; the message says where.
class ImageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

nlohmann::json SaveMachine(const Machine& machine);
// Loads into a fresh machine. Throws ImageError.
void LoadMachine(const nlohmann::json& image, Machine& machine);

// Each part of the machine in its own section of the image.
nlohmann::json SaveRegistry(const Registry& registry);
void LoadRegistry(const nlohmann::json& section, Registry& registry);
nlohmann::json SaveFiles(const FileSystem& files);
void LoadFiles(const nlohmann::json& section, FileSystem& files);
nlohmann::json SaveServices(const ServiceController& services);
void LoadServices(const nlohmann::json& section, ServiceController& services);
nlohmann::json SaveAccounts(const Accounts& accounts);
void LoadAccounts(const nlohmann::json& section, Accounts& accounts);

// Everything on the machine that a run could change, as "what" -> "state":
// "key HKEY_LOCAL_MACHINE\\SOFTWARE\\X" -> "", "value HKEY_...\\X @ Name" ->
// "REG_SZ \"text\"", "file C:\\X" -> "12 bytes, readonly", and so on.
using Inventory = std::map<std::string, std::string>;
Inventory TakeInventory(const Machine& machine);
void AddRegistryInventory(const Registry& registry, Inventory& inventory);
void AddFilesInventory(const FileSystem& files, Inventory& inventory);
void AddServicesInventory(const ServiceController& services, Inventory& inventory);
void AddAccountsInventory(const Accounts& accounts, Inventory& inventory);

// "removed ...", "added ...", "changed ...: before -> after", sorted.
std::vector<std::string> DescribeChanges(const Inventory& before, const Inventory& after);

// Reading helpers shared by the sections.
std::u16string ImageText(const nlohmann::json& value, const std::string& where);
std::string ImageWhere(const std::string& section, const std::u16string& name);

}  // namespace sim
