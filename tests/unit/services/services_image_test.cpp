// The services and accounts sections of machine images: what they load,
// what they save, how the inventory lists them, and the messages for
// malformed sections.
#include <gtest/gtest.h>

#include <string>

#include "sim/win32/windows.h"
#include "tests/support/sim_fixture.h"

namespace {

using testing_support::SimTest;

const char kServices[] = R"({
  "Ostrivel": {"state": "running", "stop_after_seconds": 2.5,
               "recovery": {"reset_period_seconds": 86400, "reboot_message": "going down", "command": "notify.cmd",
                            "actions": [{"type": "restart", "delay_ms": 60000}, {"type": "reboot", "delay_ms": 0},
                                        {"type": "run_command", "delay_ms": 5}]}},
  "Hung": {"state": "paused", "never_stops": true, "refuse_config": 1072},
  "Anchored": {"refuse_stop": 1051},
  "Leaving": {"state": "stop_pending", "stop_after_seconds": 30, "marked_for_delete": true},
  "Starting": {"state": "start_pending"}
})";
const char kAccounts[] = R"(["MvSrvSvc", {"name": "Guest", "undeletable": true}])";

nlohmann::json Saved(const sim::Machine& machine) {
  return nlohmann::json{{"services", sim::SaveServices(machine.services)},
                        {"accounts", sim::SaveAccounts(machine.accounts)}};
}

class ServicesImageTest : public SimTest {};

TEST_F(ServicesImageTest, SavedSectionsGiveTheSameMachineBack) {
  Load(std::string(R"({"services": )") + kServices + R"(, "accounts": )" + kAccounts + "}");
  const nlohmann::json saved = Saved(machine);
  const nlohmann::json expected = nlohmann::json::parse(R"({
    "services": {
      "Anchored": {"state": "running", "stop_after_seconds": 0, "refuse_stop": 1051,
                   "recovery": {"reset_period_seconds": 0, "actions": []}},
      "Hung": {"state": "paused", "never_stops": true, "refuse_config": 1072,
               "recovery": {"reset_period_seconds": 0, "actions": []}},
      "Leaving": {"state": "stop_pending", "stop_after_seconds": 30, "marked_for_delete": true,
                  "recovery": {"reset_period_seconds": 0, "actions": []}},
      "Ostrivel": {"state": "running", "stop_after_seconds": 2.5,
                   "recovery": {"reset_period_seconds": 86400, "reboot_message": "going down",
                                "command": "notify.cmd",
                                "actions": [{"type": "restart", "delay_ms": 60000},
                                            {"type": "reboot", "delay_ms": 0},
                                            {"type": "run_command", "delay_ms": 5}]}},
      "Starting": {"state": "start_pending", "stop_after_seconds": 0,
                   "recovery": {"reset_period_seconds": 0, "actions": []}}
    },
    "accounts": [{"name": "Guest", "undeletable": true}, "MvSrvSvc"]
  })");
  EXPECT_EQ(saved, expected) << saved.dump(2);

  sim::Machine reloaded;
  sim::LoadServices(saved["services"], reloaded.services);
  sim::LoadAccounts(saved["accounts"], reloaded.accounts);
  EXPECT_EQ(Saved(reloaded), saved);
  EXPECT_EQ(sim::TakeInventory(reloaded), sim::TakeInventory(machine));
}

TEST_F(ServicesImageTest, InventoryListsServicesAndAccounts) {
  Load(std::string(R"({"services": )") + kServices + R"(, "accounts": )" + kAccounts + "}");
  sim::Inventory inventory;
  sim::AddServicesInventory(machine.services, inventory);
  sim::AddAccountsInventory(machine.accounts, inventory);
  const sim::Inventory expected = {
      {"account Guest", "undeletable"},
      {"account MvSrvSvc", ""},
      {"service Anchored", "running, recovery: reset 0 s"},
      {"service Hung", "paused, recovery: reset 0 s"},
      {"service Leaving", "stop_pending, marked for deletion, recovery: reset 0 s"},
      {"service Ostrivel",
       "running, recovery: reset 86400 s, restart 60000 ms, reboot 0 ms, run_command 5 ms, reboot message \"going "
       "down\", command \"notify.cmd\""},
      {"service Starting", "start_pending, recovery: reset 0 s"},
  };
  EXPECT_EQ(inventory, expected);
}

// A stop under way is saved with the time it still takes, so that the
// reloaded machine finishes it when the original would have.
TEST_F(ServicesImageTest, StopUnderWayIsSavedWithTheTimeLeft) {
  Load(R"({"services": {"Ostrivel": {"stop_after_seconds": 10}}})");
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = OpenServiceW(manager, u"Ostrivel", SC_MANAGER_ALL_ACCESS);
  SERVICE_STATUS status = {};
  ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  Sleep(4000);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  const nlohmann::json saved = sim::SaveServices(machine.services);
  EXPECT_EQ(saved["Ostrivel"]["state"], "stop_pending");
  EXPECT_EQ(saved["Ostrivel"]["stop_after_seconds"], 6);

  sim::Machine reloaded;
  sim::ScopedMachine selected(reloaded);
  sim::LoadServices(saved, reloaded.services);
  reloaded.clock_ms = 5999;
  reloaded.services.Settle(reloaded.clock_ms);
  EXPECT_EQ(reloaded.services.Find(u"Ostrivel")->state, sim::ServiceState::kStopPending);
  reloaded.services.Settle(6000);
  EXPECT_EQ(reloaded.services.Find(u"Ostrivel")->state, sim::ServiceState::kStopped);
}

TEST_F(ServicesImageTest, MalformedSectionsAreRefusedWithTheirPlace) {
  struct Case {
    const char* image;
    const char* message;
  };
  const Case cases[] = {
      {R"({"services": []})", "services: expected an object"},
      {R"({"services": {"Ostrivel": "running"}})", "service \"Ostrivel\": expected an object"},
      {R"({"services": {"Ostrivel": {"state": "sleeping"}}})", "service \"Ostrivel\" \"state\": unknown state"},
      {R"({"services": {"Ostrivel": {"stop_after_seconds": -1}}})", "\"stop_after_seconds\": expected a number"},
      {R"({"services": {"Ostrivel": {"stop_after_seconds": "2"}}})", "\"stop_after_seconds\": expected a number"},
      {R"({"services": {"Ostrivel": {"never_stops": true, "stop_after_seconds": 2}}})", "contradict"},
      {R"({"services": {"Ostrivel": {"refuse_stop": 10.5}}})", "\"refuse_stop\": expected an error code"},
      {R"({"services": {"Ostrivel": {"refuse_config": 4294967296}}})", "\"refuse_config\": expected an error code"},
      {R"({"services": {"Ostrivel": {"never_stops": 1}}})", "\"never_stops\": expected true or false"},
      {R"({"services": {"Ostrivel": {"stops": 2}}})", "service \"Ostrivel\": unknown field \"stops\""},
      {R"({"services": {"Ostrivel": {"recovery": {"actions": [{"type": "explode"}]}}}})",
       "unknown or malformed field \"type\""},
      {R"({"services": {"Ostrivel": {"recovery": {"actions": [5]}}}})", "each action is an object"},
      {R"({"services": {"Ostrivel": {"recovery": {"reset": 5}}}})", "unknown or malformed field \"reset\""},
      {R"({"services": {"Ostrivel": {}, "OSTRIVEL": {}}})", "named twice"},
      {R"({"services": {"": {}}})", "services: a service has a name"},
      {R"({"accounts": {}})", "accounts: expected an array"},
      {R"({"accounts": [5]})", "an account is a name or an object"},
      {R"({"accounts": [""]})", "a name that is not empty"},
      {R"({"accounts": [{"undeletable": true}]})", "a name that is not empty"},
      {R"({"accounts": [{"name": "x", "locked": true}]})", "unknown or malformed field \"locked\""},
      {R"({"accounts": ["MvSrvSvc", "mvsrvsvc"]})", "named twice"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image);
    sim::Machine fresh;
    try {
      sim::LoadMachine(nlohmann::json::parse(c.image), fresh);
      ADD_FAILURE() << "loaded without complaint";
    } catch (const sim::ImageError& error) {
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
    }
  }
}

}  // namespace
