// The simulated service controller and account database, on the
// documented behaviours the cleaner relies on: access checked against the
// mask a handle was opened with, deletion once stopped and unused, the
// stop refusals, the status query's size and level, and NetUserDel's codes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/core/text.h"
#include "sim/win32/windows.h"
#include "tests/support/sim_fixture.h"

namespace {

class SimulatedServicesTest : public testing_support::SimTest {
 protected:
  void SetUp() override {
    Load(R"({"services": {"Ostrivel": {"stop_after_seconds": 2}, "Halted": {"state": "stopped"},
                          "Hung": {"never_stops": true}, "Anchored": {"refuse_stop": 1051},
                          "Starting": {"state": "start_pending"}}})");
    manager_ = OpenSCManagerW(nullptr, TEXT("ServicesActive"), SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager_, nullptr);
  }
  void TearDown() override { CloseServiceHandle(manager_); }

  SC_HANDLE Open(const char16_t* name, DWORD access = SC_MANAGER_ALL_ACCESS) {
    return OpenServiceW(manager_, name, access);
  }
  // The state the status query reports; 0 when the query fails.
  DWORD State(SC_HANDLE service) {
    SERVICE_STATUS_PROCESS status = {};
    DWORD cb_needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status), sizeof(status),
                              &cb_needed)) {
      return 0;
    }
    return status.dwCurrentState;
  }
  // The result of a BOOL call as the journal records it: 0 or the error.
  static DWORD Outcome(BOOL ok) { return ok ? 0 : GetLastError(); }

  SC_HANDLE manager_ = nullptr;
};

// A service marked for deletion stays while a handle is open on it, and
// goes when the last one is closed, once it is stopped.
TEST_F(SimulatedServicesTest, MarkedServiceGoesOnLastCloseOnceStopped) {
  SC_HANDLE first = Open(u"Halted");
  SC_HANDLE second = Open(u"Halted");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(Outcome(DeleteService(first)), 0U);
  EXPECT_EQ(Outcome(DeleteService(second)), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
  CloseServiceHandle(first);
  EXPECT_NE(machine.services.Find(u"Halted"), nullptr) << "still open through the second handle";
  EXPECT_EQ(State(second), static_cast<DWORD>(SERVICE_STOPPED));
  CloseServiceHandle(second);
  EXPECT_EQ(machine.services.Find(u"Halted"), nullptr);
  EXPECT_EQ(Open(u"Halted"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

// A running service marked for deletion lives on until it has stopped,
// even with no handle open; its stop completes on the virtual clock.
TEST_F(SimulatedServicesTest, MarkedRunningServiceGoesWhenItStops) {
  SC_HANDLE service = Open(u"Ostrivel");
  EXPECT_EQ(Outcome(DeleteService(service)), 0U);
  SERVICE_STATUS status = {};
  EXPECT_EQ(Outcome(ControlService(service, SERVICE_CONTROL_STOP, &status)), 0U);
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
  EXPECT_EQ(Outcome(ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, nullptr)),
            static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
  CloseServiceHandle(service);
  Sleep(1999);
  service = Open(u"Ostrivel", SERVICE_QUERY_STATUS);
  ASSERT_NE(service, nullptr) << "stop pending for another millisecond";
  EXPECT_EQ(State(service), static_cast<DWORD>(SERVICE_STOP_PENDING));
  CloseServiceHandle(service);
  Sleep(1);
  EXPECT_EQ(Open(u"Ostrivel"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(machine.handles.OpenCount(), 1U) << "the manager only";
}

TEST_F(SimulatedServicesTest, EachCallNeedsItsRightOnTheHandle) {
  struct Case {
    const char* name;
    DWORD access;
    std::function<BOOL(SC_HANDLE)> call;
    DWORD result;
  };
  SERVICE_STATUS status = {};
  SC_ACTION restart[1] = {{SC_ACTION_RESTART, 1000}};
  SERVICE_FAILURE_ACTIONSW with_restart = {0, nullptr, nullptr, 1, restart};
  SC_ACTION none[1] = {{SC_ACTION_NONE, 0}};
  SERVICE_FAILURE_ACTIONSW without_actions = {0, nullptr, nullptr, 1, none};
  auto change = [](SERVICE_FAILURE_ACTIONSW* actions) {
    return [actions](SC_HANDLE s) { return ChangeServiceConfig2W(s, SERVICE_CONFIG_FAILURE_ACTIONS, actions); };
  };
  auto control = [&status](DWORD code) {
    return [&status, code](SC_HANDLE s) { return ControlService(s, code, &status); };
  };
  auto query = [](SC_HANDLE s) {
    SERVICE_STATUS_PROCESS process = {};
    DWORD cb_needed = 0;
    return QueryServiceStatusEx(s, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&process), sizeof(process),
                                &cb_needed);
  };
  const Case cases[] = {
      {"query status only: no configuration change", SERVICE_QUERY_STATUS, change(&without_actions),
       ERROR_ACCESS_DENIED},
      {"query status only: no stop", SERVICE_QUERY_STATUS, control(SERVICE_CONTROL_STOP), ERROR_ACCESS_DENIED},
      {"query status only: no deletion", SERVICE_QUERY_STATUS, DeleteService, ERROR_ACCESS_DENIED},
      {"query status only: query", SERVICE_QUERY_STATUS, query, 0},
      {"no query right: no query", SERVICE_STOP, query, ERROR_ACCESS_DENIED},
      {"0xF003F: configuration change", 0xF003F, change(&with_restart), 0},
      {"0xF003F: no pause", 0xF003F, control(SERVICE_CONTROL_PAUSE), ERROR_ACCESS_DENIED},
      {"0xF003F: no interrogation", 0xF003F, control(SERVICE_CONTROL_INTERROGATE), ERROR_ACCESS_DENIED},
      {"0xF003F: no user-defined control", 0xF003F, control(200), ERROR_ACCESS_DENIED},
      {"all access: pause reaches the service, which takes only a stop", SERVICE_ALL_ACCESS,
       control(SERVICE_CONTROL_PAUSE), ERROR_INVALID_SERVICE_CONTROL},
      {"undefined control code", SERVICE_ALL_ACCESS, control(0), ERROR_INVALID_PARAMETER},
      {"restart on failure needs the right to start", SERVICE_CHANGE_CONFIG, change(&with_restart),
       ERROR_ACCESS_DENIED},
      {"no actions but none: the right to change suffices", SERVICE_CHANGE_CONFIG, change(&without_actions), 0},
      {"0xF003F: stop", 0xF003F, control(SERVICE_CONTROL_STOP), 0},
      {"0xF003F: deletion", 0xF003F, DeleteService, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SC_HANDLE service = Open(u"Ostrivel", c.access);
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(Outcome(c.call(service)), c.result);
    CloseServiceHandle(service);
  }
}

TEST_F(SimulatedServicesTest, StopRequestsAndTheirRefusals) {
  struct Case {
    const char16_t* service;
    DWORD result;
    DWORD state_after;
  };
  const Case cases[] = {
      {u"Halted", ERROR_SERVICE_NOT_ACTIVE, SERVICE_STOPPED},
      {u"Starting", ERROR_SERVICE_CANNOT_ACCEPT_CTRL, SERVICE_START_PENDING},
      {u"Anchored", ERROR_DEPENDENT_SERVICES_RUNNING, SERVICE_RUNNING},
      {u"Hung", 0, SERVICE_STOP_PENDING},
      {u"Ostrivel", 0, SERVICE_STOP_PENDING},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::ToUtf8(c.service));
    SC_HANDLE service = Open(c.service);
    SERVICE_STATUS status = {};
    EXPECT_EQ(Outcome(ControlService(service, SERVICE_CONTROL_STOP, &status)), c.result);
    EXPECT_EQ(State(service), c.state_after);
    CloseServiceHandle(service);
  }
  // A second request while the stop is under way is refused.
  SC_HANDLE hung = Open(u"Hung");
  SERVICE_STATUS status = {};
  EXPECT_EQ(Outcome(ControlService(hung, SERVICE_CONTROL_STOP, &status)),
            static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
  Sleep(3600000);
  EXPECT_EQ(State(hung), static_cast<DWORD>(SERVICE_STOP_PENDING)) << "never stops";
  CloseServiceHandle(hung);
}

TEST_F(SimulatedServicesTest, StatusQueryChecksLevelAndSize) {
  SC_HANDLE service = Open(u"Ostrivel");
  BYTE buffer[64] = {};
  DWORD cb_needed = 0;
  EXPECT_EQ(Outcome(QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, buffer, 35, &cb_needed)),
            static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(cb_needed, 36U);
  EXPECT_EQ(Outcome(QueryServiceStatusEx(service, 1, buffer, sizeof(buffer), &cb_needed)),
            static_cast<DWORD>(ERROR_INVALID_LEVEL));
  EXPECT_EQ(Outcome(QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, buffer, 36, &cb_needed)), 0U);
  EXPECT_EQ(State(service), static_cast<DWORD>(SERVICE_RUNNING));
  CloseServiceHandle(service);
}

TEST_F(SimulatedServicesTest, ManagerNeedsAdministratorRightsForMoreThanReading) {
  CloseServiceHandle(manager_);
  machine.process.elevated = false;
  EXPECT_EQ(OpenSCManagerW(nullptr, TEXT("ServicesActive"), SC_MANAGER_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(OpenSCManagerW(nullptr, TEXT("ServicesElsewhere"), SC_MANAGER_CONNECT), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DATABASE_DOES_NOT_EXIST));
  manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  ASSERT_NE(manager_, nullptr);
  EXPECT_EQ(Open(u"Ostrivel", SC_MANAGER_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  SC_HANDLE reader = Open(u"Ostrivel", SERVICE_QUERY_STATUS);
  EXPECT_NE(reader, nullptr);
  CloseServiceHandle(reader);
}

// Replacing the recovery actions: a null text keeps the reboot message and
// the command, an empty one clears it; the actions and the reset period are
// replaced together.
TEST_F(SimulatedServicesTest, RecoveryActionsAreStoredAsGiven) {
  machine.services.Find(u"Ostrivel")->recovery =
      sim::Recovery{86400, u"going down", u"notify.cmd", {{sim::RecoveryType::kRestart, 60000}}};
  SC_HANDLE service = Open(u"Ostrivel");
  SC_ACTION none[3] = {{SC_ACTION_NONE, 0}, {SC_ACTION_NONE, 0}, {SC_ACTION_NONE, 0}};
  WCHAR empty[] = TEXT("");
  SERVICE_FAILURE_ACTIONSW actions = {0, nullptr, empty, 3, none};
  EXPECT_EQ(Outcome(ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &actions)), 0U);
  const sim::Recovery& recovery = machine.services.Find(u"Ostrivel")->recovery;
  EXPECT_EQ(recovery.reset_period_s, 0U);
  EXPECT_EQ(recovery.reboot_message, u"going down");
  EXPECT_EQ(recovery.command, u"");
  ASSERT_EQ(recovery.actions.size(), 3U);
  for (const sim::RecoveryAction& action : recovery.actions) {
    EXPECT_EQ(action.type, sim::RecoveryType::kNone);
    EXPECT_EQ(action.delay_ms, 0U);
  }
  SC_ACTION bad[1] = {{7, 0}};
  SERVICE_FAILURE_ACTIONSW invalid = {5, nullptr, nullptr, 1, bad};
  EXPECT_EQ(Outcome(ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &invalid)),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(recovery.actions.size(), 3U) << "a refused change changes nothing";
  CloseServiceHandle(service);
}

TEST_F(SimulatedServicesTest, HandlesAreCheckedAndClosedOnce) {
  SC_HANDLE service = Open(u"Ostrivel");
  EXPECT_EQ(Outcome(CloseServiceHandle(service)), 0U);
  EXPECT_EQ(Outcome(CloseServiceHandle(service)), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(Outcome(DeleteService(service)), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(Outcome(DeleteService(manager_)), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << "a manager handle";
  EXPECT_EQ(OpenServiceW(service, u"Ostrivel", SERVICE_QUERY_STATUS), nullptr) << "a service handle as manager";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(machine.handles.OpenCount(), 1U) << "the manager only";
}

TEST_F(SimulatedServicesTest, NetUserDelResults) {
  struct Case {
    const char* name;
    const char16_t* account;
    bool elevated;
    NET_API_STATUS result;
    bool remains;
  };
  const Case cases[] = {
      {"deleted, name compared without regard to case", u"mvsrvsvc", true, NERR_Success, false},
      {"no such account", u"MvOldSvc", true, NERR_UserNotFound, false},
      {"undeletable", u"Guarded", true, ERROR_ACCESS_DENIED, true},
      {"not an administrator", u"MvSrvSvc", false, ERROR_ACCESS_DENIED, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine m;
    sim::ScopedMachine selected(m);
    m.accounts.Add(sim::Account{u"MvSrvSvc", false});
    m.accounts.Add(sim::Account{u"Guarded", true});
    m.process.elevated = c.elevated;
    EXPECT_EQ(NetUserDel(nullptr, c.account), c.result);
    EXPECT_EQ(m.accounts.Find(c.account) != nullptr, c.remains);
    EXPECT_EQ(m.journal.Trace({"NetUserDel"}),
              std::vector<std::string>{"NetUserDel(" + sim::ToUtf8(c.account) + ")=" + std::to_string(c.result)});
  }
}

}  // namespace
