// Stopping and deleting the product's services: the outcome of each path,
// the exact calls made for it, the virtual time it takes, what the service
// controller holds afterwards, and the log lines.
#include "src/services/service_removal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/core/text.h"
#include "src/log/run_log.h"
#include "tests/support/sim_fixture.h"

namespace {

using testing_support::LogLines;

const std::vector<std::string> kServiceCalls = {"OpenSCManagerW",       "OpenServiceW",      "ChangeServiceConfig2W",
                                                "QueryServiceStatusEx", "ControlService",    "Sleep",
                                                "DeleteService",        "CloseServiceHandle"};

// The recovery actions every service starts with here, so that a test sees
// whether they were replaced.
const char kRecovery[] = R"({"reset_period_seconds": 86400, "command": "notify.cmd",
                             "actions": [{"type": "restart", "delay_ms": 60000},
                                         {"type": "restart", "delay_ms": 60000},
                                         {"type": "reboot", "delay_ms": 0}]})";
const char kRecoveryBefore[] =
    "recovery: reset 86400 s, restart 60000 ms, restart 60000 ms, reboot 0 ms, command \"notify.cmd\"";
// Three "take no action" entries, reset period 0; the command stays.
const char kRecoveryCleared[] = "recovery: reset 0 s, none 0 ms, none 0 ms, none 0 ms, command \"notify.cmd\"";

std::string Join(const std::string& state, const char* recovery) { return state + ", " + recovery; }

// The calls of one service's removal, assembled from its steps.
std::vector<std::string> Steps(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> calls;
  for (const std::vector<std::string>& part : parts) {
    calls.insert(calls.end(), part.begin(), part.end());
  }
  return calls;
}

std::vector<std::string> Polls(int count, const std::string& query_result = "0") {
  std::vector<std::string> calls;
  for (int i = 0; i < count; ++i) {
    calls.push_back("Sleep()=1000");
    calls.push_back("QueryServiceStatusEx(Ostrivel)=" + query_result);
  }
  return calls;
}

const std::vector<std::string> kOpen = {"OpenSCManagerW(ServicesActive)=0", "OpenServiceW(Ostrivel)=0"};
const std::vector<std::string> kClearAndQuery = {"ChangeServiceConfig2W(Ostrivel)=0",
                                                 "QueryServiceStatusEx(Ostrivel)=0"};
const std::vector<std::string> kStop = {"ControlService(Ostrivel)=0"};
const std::vector<std::string> kDelete = {"DeleteService(Ostrivel)=0"};
const std::vector<std::string> kClose = {"CloseServiceHandle(Ostrivel)=0", "CloseServiceHandle(ServicesActive)=0"};

// Installs the services given as image entries, each with kRecovery unless
// it has recovery actions of its own.
void InstallServicesOn(sim::Machine& machine, const std::string& entries_json) {
  nlohmann::json section = nlohmann::json::parse(entries_json);
  for (auto& [name, entry] : section.items()) {
    if (!entry.contains("recovery")) {
      entry["recovery"] = nlohmann::json::parse(kRecovery);
    }
  }
  sim::LoadServices(section, machine.services);
}

// The service as the machine's inventory describes it; "gone" when the
// controller no longer has it.
std::string ServiceStateOn(const sim::Machine& machine, const std::string& name) {
  sim::Inventory inventory;
  sim::AddServicesInventory(machine.services, inventory);
  auto it = inventory.find("service " + name);
  return it == inventory.end() ? "gone" : it->second;
}

class ServiceRemovalTest : public testing_support::SimTest {
 protected:
  void InstallServices(const std::string& entries_json) { InstallServicesOn(machine, entries_json); }
  std::string ServiceState(const std::string& name) const { return ServiceStateOn(machine, name); }
};

TEST_F(ServiceRemovalTest, EachPathMakesExactlyItsCalls) {
  struct Case {
    const char* name;
    std::string service;  // the image entry of "Ostrivel", empty: not installed
    std::vector<sim::FaultRule> faults;
    DWORD result;
    std::vector<std::string> calls;
    std::string after;
    std::uint64_t clock_ms;
  };
  const Case cases[] = {
      {"not installed: one failed open, nothing else for it",
       "",
       {},
       ERROR_SERVICE_DOES_NOT_EXIST,
       {"OpenSCManagerW(ServicesActive)=0", "OpenServiceW(Ostrivel)=1060", "CloseServiceHandle(ServicesActive)=0"},
       "gone",
       0},
      {"already stopped: no stop request, no sleep, deleted at once",
       R"({"state": "stopped"})",
       {},
       0,
       Steps({kOpen, kClearAndQuery, kDelete, kClose}),
       "gone",
       0},
      {"stops within the first second: one sleep, one query",
       R"({"stop_after_seconds": 0.5})",
       {},
       0,
       Steps({kOpen, kClearAndQuery, kStop, Polls(1), kDelete, kClose}),
       "gone",
       1000},
      {"stops after 2.5 s: the wait ends at the first query that sees it stopped",
       R"({"stop_after_seconds": 2.5})",
       {},
       0,
       Steps({kOpen, kClearAndQuery, kStop, Polls(3), kDelete, kClose}),
       "gone",
       3000},
      {"a paused service is stopped like a running one",
       R"({"state": "paused", "stop_after_seconds": 1})",
       {},
       0,
       Steps({kOpen, kClearAndQuery, kStop, Polls(1), kDelete, kClose}),
       "gone",
       1000},
      {"never stops: 180 sleeps and queries, then marked for deletion",
       R"({"never_stops": true})",
       {},
       0,
       Steps({kOpen, kClearAndQuery, kStop, Polls(180), kDelete, kClose}),
       Join("stop_pending, marked for deletion", kRecoveryCleared),
       180000},
      {"stop refused: the code, no wait, no deletion",
       R"({"refuse_stop": 1051})",
       {},
       ERROR_DEPENDENT_SERVICES_RUNNING,
       Steps({kOpen, kClearAndQuery, {"ControlService(Ostrivel)=1051"}, kClose}),
       Join("running", kRecoveryCleared),
       0},
      {"starting: the stop request goes out and the controller refuses it",
       R"({"state": "start_pending"})",
       {},
       ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
       Steps({kOpen, kClearAndQuery, {"ControlService(Ostrivel)=1061"}, kClose}),
       Join("start_pending", kRecoveryCleared),
       0},
      {"stopping already: the stop request goes out and the controller refuses it",
       R"({"state": "stop_pending", "never_stops": true})",
       {},
       ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
       Steps({kOpen, kClearAndQuery, {"ControlService(Ostrivel)=1061"}, kClose}),
       Join("stop_pending", kRecoveryCleared),
       0},
      {"recovery actions not replaced: neither stopped nor deleted",
       R"({"refuse_config": 5})",
       {},
       ERROR_ACCESS_DENIED,
       Steps({kOpen, {"ChangeServiceConfig2W(Ostrivel)=5"}, kClose}),
       Join("running", kRecoveryBefore),
       0},
      {"first status query fails: no stop, no deletion",
       "{}",
       {{"QueryServiceStatusEx", u"Ostrivel", 0, 1, ERROR_INVALID_HANDLE}},
       ERROR_INVALID_HANDLE,
       Steps({kOpen, {"ChangeServiceConfig2W(Ostrivel)=0", "QueryServiceStatusEx(Ostrivel)=6"}, kClose}),
       Join("running", kRecoveryCleared),
       0},
      {"failed queries while waiting use up polls and change nothing",
       R"({"stop_after_seconds": 0.5})",
       {{"QueryServiceStatusEx", u"Ostrivel", 1, 2, ERROR_INVALID_HANDLE}},
       0,
       Steps({kOpen, kClearAndQuery, kStop, Polls(2, "6"), Polls(1), kDelete, kClose}),
       "gone",
       3000},
      {"deletion refused: its code",
       R"({"state": "stopped"})",
       {{"DeleteService", u"Ostrivel", 0, 1, ERROR_ACCESS_DENIED}},
       ERROR_ACCESS_DENIED,
       Steps({kOpen, kClearAndQuery, {"DeleteService(Ostrivel)=5"}, kClose}),
       Join("stopped", kRecoveryCleared),
       0},
      {"manager cannot be opened: nothing else",
       "{}",
       {{"OpenSCManagerW", u"", 0, 1, ERROR_ACCESS_DENIED}},
       ERROR_ACCESS_DENIED,
       {"OpenSCManagerW(ServicesActive)=5"},
       Join("running", kRecoveryBefore),
       0},
      // A failed call that leaves no error code behind must not read as a
      // deletion.
      {"failure without a code is still a failure",
       "{}",
       {{"OpenServiceW", u"Ostrivel", 0, 1, 0}},
       ERROR_INVALID_FUNCTION,
       {"OpenSCManagerW(ServicesActive)=0", "OpenServiceW(Ostrivel)=0", "CloseServiceHandle(ServicesActive)=0"},
       Join("running", kRecoveryBefore),
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine fresh;
    sim::ScopedMachine selected(fresh);
    if (!c.service.empty()) {
      InstallServicesOn(fresh, R"({"Ostrivel": )" + c.service + "}");
    }
    for (const sim::FaultRule& fault : c.faults) {
      fresh.faults.Add(fault);
    }
    ASSERT_TRUE(OpenRunLog());
    EXPECT_EQ(RemoveService(TEXT("Ostrivel")), c.result);
    CloseRunLog();
    EXPECT_EQ(fresh.files.ReadFile(fresh.process.temp_path + u"$vornalet.log").value_or("<no log>"), "")
        << "RemoveService writes nothing to the log";
    EXPECT_EQ(fresh.journal.Trace(kServiceCalls), c.calls);
    EXPECT_EQ(ServiceStateOn(fresh, "Ostrivel"), c.after);
    EXPECT_EQ(fresh.clock_ms, c.clock_ms);
    EXPECT_EQ(fresh.handles.OpenCount(), 0U) << ::testing::PrintToString(fresh.handles.Describe());
  }
}

// The service is opened with the manager's mask 0xF003F, not
// SERVICE_ALL_ACCESS: it carries DELETE and the rights to change the
// configuration, query and stop, and nothing to pause or interrogate.
TEST_F(ServiceRemovalTest, ManagerAndServiceAreOpenedWithTheManagerMask) {
  InstallServices(R"({"Ostrivel": {"stop_after_seconds": 1}})");
  EXPECT_EQ(RemoveService(TEXT("Ostrivel")), 0U);
  const std::vector<sim::ServiceHandleEntry>& opened = machine.services.opened();
  ASSERT_EQ(opened.size(), 2U);
  EXPECT_TRUE(opened[0].is_manager);
  EXPECT_EQ(opened[0].access, 0xF003FU);
  EXPECT_FALSE(opened[1].is_manager);
  EXPECT_EQ(opened[1].name, u"Ostrivel");
  EXPECT_EQ(opened[1].access, 0xF003FU);
  ExpectNoOpenHandles();
}

// A stop that takes longer than the wait: the deletion succeeds, the log
// says so, and the controller removes the service once it has stopped.
TEST_F(ServiceRemovalTest, ServiceMarkedAfterTheWaitGoesOnceItStops) {
  InstallServices(R"({"Ostrivel": {"stop_after_seconds": 200}})");
  EXPECT_EQ(RemoveService(TEXT("Ostrivel")), 0U);
  EXPECT_EQ(machine.clock_ms, 180000U);
  EXPECT_EQ(ServiceState("Ostrivel"), Join("stop_pending, marked for deletion", kRecoveryCleared));
  Sleep(20000);
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(OpenServiceW(manager, TEXT("Ostrivel"), SERVICE_QUERY_STATUS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  CloseServiceHandle(manager);
  EXPECT_EQ(ServiceState("Ostrivel"), "gone");
  ExpectNoOpenHandles();
}

TEST_F(ServiceRemovalTest, AllThreeAreRemovedInTableOrderAndOthersStay) {
  InstallServices(R"({"Brolmidas": {"stop_after_seconds": 1}, "Ostrivel": {"stop_after_seconds": 2},
                      "Pennaquist": {"state": "stopped"}, "Tervani Notes": {}})");
  const std::string unrelated_before = ServiceState("Tervani Notes");
  ASSERT_TRUE(OpenRunLog());
  RemoveProductServices();
  CloseRunLog();
  EXPECT_EQ(LogBytes(),
            LogLines({"Service was successfully deleted Ostrivel", "Service was successfully deleted Pennaquist",
                      "Service was successfully deleted Brolmidas"}));
  EXPECT_EQ(Calls({"OpenServiceW"}), (std::vector<std::string>{"OpenServiceW(Ostrivel)=0", "OpenServiceW(Pennaquist)=0",
                                                               "OpenServiceW(Brolmidas)=0"}));
  EXPECT_EQ(Calls({"DeleteService"}),
            (std::vector<std::string>{"DeleteService(Ostrivel)=0", "DeleteService(Pennaquist)=0",
                                      "DeleteService(Brolmidas)=0"}));
  EXPECT_EQ(ServiceState("Ostrivel"), "gone");
  EXPECT_EQ(ServiceState("Pennaquist"), "gone");
  EXPECT_EQ(ServiceState("Brolmidas"), "gone");
  EXPECT_EQ(ServiceState("Tervani Notes"), unrelated_before);
  EXPECT_EQ(machine.clock_ms, 3000U);  // two sleeps for Ostrivel, one for Brolmidas
  ExpectNoOpenHandles();
}

// One service's failure changes nothing for the next: each gets its own
// lines, with the code of the call that failed for it.
TEST_F(ServiceRemovalTest, EachOutcomeIsLoggedAndTheNextServiceFollows) {
  InstallServices(R"({"Pennaquist": {"refuse_stop": 1051}, "Brolmidas": {"state": "stopped"}})");
  ASSERT_TRUE(OpenRunLog());
  RemoveProductServices();
  CloseRunLog();
  EXPECT_EQ(LogBytes(),
            LogLines({"Service was not deleted Ostrivel", "Error code is 1060", "Service was not deleted Pennaquist",
                      "Error code is 1051", "Service was successfully deleted Brolmidas"}));
  EXPECT_EQ(ServiceState("Pennaquist"), Join("running", kRecoveryCleared));
  EXPECT_EQ(ServiceState("Brolmidas"), "gone");
  ExpectNoOpenHandles();
}

// Without administrator rights the manager cannot be opened with 0xF003F;
// it is tried afresh for each name and nothing else is asked.
TEST_F(ServiceRemovalTest, WithoutAdministratorRightsEachNameFailsOnTheManager) {
  InstallServices(R"({"Ostrivel": {}, "Pennaquist": {}, "Brolmidas": {}})");
  machine.process.elevated = false;
  const sim::Inventory before = sim::TakeInventory(machine);
  ASSERT_TRUE(OpenRunLog());
  RemoveProductServices();
  CloseRunLog();
  EXPECT_EQ(LogBytes(),
            LogLines({"Service was not deleted Ostrivel", "Error code is 5", "Service was not deleted Pennaquist",
                      "Error code is 5", "Service was not deleted Brolmidas", "Error code is 5"}));
  EXPECT_EQ(Calls(kServiceCalls),
            (std::vector<std::string>{"OpenSCManagerW(ServicesActive)=5", "OpenSCManagerW(ServicesActive)=5",
                                      "OpenSCManagerW(ServicesActive)=5"}));
  sim::Inventory after = sim::TakeInventory(machine);
  after.erase("file " + sim::ToUtf8(machine.process.temp_path) + "$vornalet.log");
  EXPECT_EQ(sim::DescribeChanges(before, after), std::vector<std::string>{});
  ExpectNoOpenHandles();
}

// Three services that never stop: three full waits, nine minutes of
// virtual time, and all three reported deleted.
TEST_F(ServiceRemovalTest, ThreeServicesThatNeverStopTakeNineMinutes) {
  InstallServices(R"({"Ostrivel": {"never_stops": true}, "Pennaquist": {"never_stops": true},
                      "Brolmidas": {"never_stops": true}})");
  ASSERT_TRUE(OpenRunLog());
  RemoveProductServices();
  CloseRunLog();
  EXPECT_EQ(LogBytes(),
            LogLines({"Service was successfully deleted Ostrivel", "Service was successfully deleted Pennaquist",
                      "Service was successfully deleted Brolmidas"}));
  EXPECT_EQ(machine.journal.Count("Sleep"), 540U);
  EXPECT_EQ(machine.journal.Count("QueryServiceStatusEx"), 543U);  // one before each stop, then 180 each
  EXPECT_EQ(machine.clock_ms, 540000U);
  ExpectNoOpenHandles();
}

}  // namespace
