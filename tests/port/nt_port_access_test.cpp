// SPDX-License-Identifier: GPL-2.0-or-later
// The NT path of port access: the family query, opening and closing through the
// driver, and the access object the window uses, over the in-memory NT machine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "port/kqiopm.h"
#include "port/lpt.h"
#include "support/nt_standin.h"

namespace {

using orbvex::NtStandIn;
using ::testing::ElementsAre;

bool MayAccessAll(const NtStandIn& nt, std::uint16_t first, std::uint16_t last) {
    for (std::uint32_t p = first; p <= last; ++p)
        if (!nt.ProcessMayAccess(static_cast<std::uint16_t>(p))) return false;
    return true;
}

bool MayAccessNone(const NtStandIn& nt, std::initializer_list<std::uint16_t> ports) {
    for (std::uint16_t p : ports)
        if (nt.ProcessMayAccess(p)) return false;
    return true;
}

const char* const kKqiopmPath = "C:\\orbvex\\kqiopm.sys";

// ---- OsFamilyName ----

TEST(OsFamilyNameTest, NamesTheFamilyByPlatformId) {
    NtStandIn nt;  // accepts only a record whose size field says 148 or 156
    nt.SetPlatformId(2);
    EXPECT_EQ(OsFamilyName(nt), "Windows NT o superior");
    nt.SetPlatformId(1);
    EXPECT_EQ(OsFamilyName(nt), "Windows ME, 98 o 95");
    nt.SetPlatformId(0);
    EXPECT_EQ(OsFamilyName(nt), "");
    nt.SetPlatformId(3);
    EXPECT_EQ(OsFamilyName(nt), "");
}

// ---- OpenPortAccess / ClosePortAccess ----

class NtPathTest : public ::testing::Test {
protected:
    NtStandIn nt;
    TKQIOPM_Driver driver{nt, "C:\\orbvex\\"};
};

TEST_F(NtPathTest, OpenGrantsBothRangesOfLpt1) {
    EXPECT_TRUE(OpenPortAccess(driver, 0x378, 0x778));
    EXPECT_TRUE(MayAccessAll(nt, 0x378, 0x37A));
    EXPECT_TRUE(MayAccessAll(nt, 0x778, 0x77A));
    EXPECT_TRUE(MayAccessNone(nt, {0x377, 0x37B, 0x777, 0x77B, 0x278}));
    EXPECT_EQ(nt.StateOf("kqiopm"), NtStandIn::ServiceState::Running);
    EXPECT_EQ(nt.BinaryPathOf("kqiopm"), kKqiopmPath);
    EXPECT_THAT(nt.Calls(),
                ElementsAre("OpenSCManagerA", "CreateServiceA", "CloseServiceHandle",
                            "OpenServiceA", "StartServiceA", "CloseServiceHandle",
                            "CreateFileA", "DeviceIoControl", "DeviceIoControl",
                            "DeviceIoControl", "DeviceIoControl", "DeviceIoControl"));
    EXPECT_EQ(nt.IoRequests().back().code, 0xF1002480u);
}

TEST_F(NtPathTest, ServiceLeftInstalledOrRunningByAnEarlierRunIsAccepted) {
    nt.AddService("kqiopm", kKqiopmPath, NtStandIn::ServiceState::Stopped);
    EXPECT_TRUE(OpenPortAccess(driver, 0x378, 0x778));

    NtStandIn nt2;
    TKQIOPM_Driver driver2{nt2, "C:\\orbvex\\"};
    nt2.AddService("kqiopm", kKqiopmPath, NtStandIn::ServiceState::Running);
    EXPECT_TRUE(OpenPortAccess(driver2, 0x378, 0x778));
    EXPECT_TRUE(MayAccessAll(nt2, 0x378, 0x37A));
}

TEST_F(NtPathTest, SecondRunAfterOneThatNeverClosedSucceeds) {
    ASSERT_TRUE(OpenPortAccess(driver, 0x378, 0x778));
    // The first program ended without closing: its handles die with it, the service
    // stays installed and running.
    nt.EndProcess();
    TKQIOPM_Driver nextRun{nt, "C:\\orbvex\\"};
    EXPECT_TRUE(OpenPortAccess(nextRun, 0x378, 0x778));
    EXPECT_TRUE(ClosePortAccess(nextRun, 0x378, 0x778));
    EXPECT_EQ(nt.StateOf("kqiopm"), NtStandIn::ServiceState::Absent);
}

TEST_F(NtPathTest, FailingServiceManagerStillRunsEveryStep) {
    // A driver still running from an earlier run lets the device steps succeed, so
    // each of them is seen to run; the result is false all the same.
    nt.AddService("kqiopm", kKqiopmPath, NtStandIn::ServiceState::Running);
    nt.SetServiceManagerAvailable(false);
    EXPECT_FALSE(OpenPortAccess(driver, 0x378, 0x778));
    EXPECT_EQ(nt.CountCalls("CreateServiceA"), 1);
    EXPECT_EQ(nt.CountCalls("OpenServiceA"), 1);
    EXPECT_EQ(nt.CountCalls("CreateFileA"), 1);
    EXPECT_EQ(nt.CountCalls("DeviceIoControl"), 5);
    EXPECT_TRUE(MayAccessAll(nt, 0x378, 0x37A));
}

TEST_F(NtPathTest, FailingServiceManagerAloneFailsTheOpen) {
    nt.SetServiceManagerAvailable(false);
    EXPECT_FALSE(OpenPortAccess(driver, 0x378, 0x778));
    EXPECT_EQ(nt.CountCalls("CreateFileA"), 1);
    EXPECT_FALSE(nt.ProcessMayAccess(0x378));
}

TEST_F(NtPathTest, MissingDriverFileOrRefusedDeviceFailsTheOpen) {
    nt.SetDriverFilePresent(false);
    EXPECT_FALSE(OpenPortAccess(driver, 0x378, 0x778));
    EXPECT_FALSE(nt.ProcessMayAccess(0x378));

    NtStandIn nt2;
    TKQIOPM_Driver driver2{nt2, "C:\\orbvex\\"};
    nt2.SetDeviceRefused(true);
    EXPECT_FALSE(OpenPortAccess(driver2, 0x378, 0x778));
    EXPECT_FALSE(nt2.ProcessMayAccess(0x378));
}

TEST_F(NtPathTest, FailingMapRequestFailsTheOpen) {
    nt.FailDeviceRequest(4, 31);  // the activation
    EXPECT_FALSE(OpenPortAccess(driver, 0x378, 0x778));
}

TEST_F(NtPathTest, CloseWithdrawsTheSecondRangeFirstAndUndoesEverything) {
    ASSERT_TRUE(OpenPortAccess(driver, 0x378, 0x778));
    nt.ClearRecord();
    EXPECT_TRUE(ClosePortAccess(driver, 0x378, 0x778));
    ASSERT_EQ(nt.IoRequests().size(), 5u);
    EXPECT_EQ(nt.IoRequests()[0].index, 0xEFu);
    EXPECT_EQ(nt.IoRequests()[2].index, 0x6Fu);
    EXPECT_EQ(nt.IoRequests()[4].code, 0xF1002480u);
    EXPECT_TRUE(MayAccessNone(nt, {0x378, 0x37A, 0x778, 0x77A}));
    EXPECT_EQ(nt.StateOf("kqiopm"), NtStandIn::ServiceState::Absent);
    EXPECT_EQ(nt.OpenHandleCount(), 0);
    EXPECT_EQ(driver.SCMHandle, 0u);
    EXPECT_EQ(driver.DeviceHandle, orbvex::kNtInvalidHandle);
    // The device is closed before the driver is stopped.
    const auto& calls = nt.Calls();
    EXPECT_LT(std::find(calls.begin(), calls.end(), "CloseHandle"),
              std::find(calls.begin(), calls.end(), "ControlService"));
}

TEST_F(NtPathTest, CloseAfterAFailedOpenRunsEveryStepAndCleansUp) {
    nt.SetDriverFilePresent(false);  // installed, never started
    ASSERT_FALSE(OpenPortAccess(driver, 0x378, 0x778));
    nt.ClearRecord();
    EXPECT_FALSE(ClosePortAccess(driver, 0x378, 0x778));
    // Stop, then remove (stop again, delete), then the service manager.
    EXPECT_EQ(nt.CountCalls("OpenServiceA"), 3);
    EXPECT_EQ(nt.CountCalls("DeleteService"), 1);
    EXPECT_EQ(nt.CountCalls("CloseServiceHandle"), 4);
    EXPECT_EQ(nt.StateOf("kqiopm"), NtStandIn::ServiceState::Absent);
    EXPECT_EQ(nt.OpenHandleCount(), 0);
}

TEST_F(NtPathTest, CloseAfterNoServiceManagerRunsEveryStep) {
    nt.SetServiceManagerAvailable(false);
    ASSERT_FALSE(OpenPortAccess(driver, 0x378, 0x778));
    nt.ClearRecord();
    EXPECT_FALSE(ClosePortAccess(driver, 0x378, 0x778));
    EXPECT_EQ(nt.CountCalls("OpenServiceA"), 3);
    EXPECT_EQ(nt.CountCalls("CloseServiceHandle"), 1);
}

// ---- the access object the window holds ----

class NtAccessTest : public ::testing::Test {
protected:
    NtStandIn nt;
    std::unique_ptr<orbvex::PortAccess> access = orbvex::MakeNtPortAccess(nt);
};

TEST_F(NtAccessTest, OlderFamiliesUseThePortsDirectly) {
    for (std::uint32_t platform : {1u, 0u, 7u}) {
        nt.SetPlatformId(platform);
        nt.ClearRecord();
        EXPECT_TRUE(access->Open(0x378));
        EXPECT_TRUE(access->Ensure(0x278));
        access->Close(0x278);
        EXPECT_EQ(nt.Calls().size(), static_cast<std::size_t>(nt.CountCalls("GetVersionExA")))
            << "platform " << platform;
    }
}

TEST_F(NtAccessTest, OpenGrantsLpt1AndCloseUndoesIt) {
    EXPECT_TRUE(access->Open(0x378));
    EXPECT_TRUE(MayAccessAll(nt, 0x378, 0x37A));
    EXPECT_TRUE(MayAccessAll(nt, 0x778, 0x77A));
    nt.ClearRecord();
    EXPECT_TRUE(access->Ensure(0x378));
    EXPECT_EQ(nt.CountCalls("DeviceIoControl"), 0);
    access->Close(0x378);
    EXPECT_TRUE(MayAccessNone(nt, {0x378, 0x778}));
    EXPECT_EQ(nt.StateOf("kqiopm"), NtStandIn::ServiceState::Absent);
}

TEST_F(NtAccessTest, Lpt2IsGrantedWhenFirstAskedFor) {
    ASSERT_TRUE(access->Open(0x378));
    EXPECT_FALSE(nt.ProcessMayAccess(0x278));
    EXPECT_TRUE(access->Ensure(0x278));
    EXPECT_TRUE(MayAccessAll(nt, 0x278, 0x27A));
    EXPECT_TRUE(MayAccessAll(nt, 0x678, 0x67A));
    EXPECT_TRUE(MayAccessAll(nt, 0x378, 0x37A));
}

TEST_F(NtAccessTest, CloseWithdrawsEveryPortGranted) {
    ASSERT_TRUE(access->Open(0x378));
    ASSERT_TRUE(access->Ensure(0x278));
    access->Close(0x278);  // the window closes with LPT2 chosen
    EXPECT_TRUE(MayAccessNone(nt, {0x278, 0x27A, 0x678, 0x378, 0x37A, 0x778, 0x77A}));
    EXPECT_EQ(nt.StateOf("kqiopm"), NtStandIn::ServiceState::Absent);
    EXPECT_EQ(nt.OpenHandleCount(), 0);
}

TEST_F(NtAccessTest, Lpt2GrantFailureRefusesIt) {
    ASSERT_TRUE(access->Open(0x378));
    nt.FailDeviceRequest(0, 31);
    EXPECT_FALSE(access->Ensure(0x278));
    EXPECT_TRUE(access->Ensure(0x278));  // the driver answers again: granted now
}

TEST_F(NtAccessTest, FailedOpenRefusesEveryPortAndStillClosesTheDriver) {
    nt.SetDriverFilePresent(false);
    EXPECT_FALSE(access->Open(0x378));
    nt.ClearRecord();
    EXPECT_FALSE(access->Ensure(0x378));
    EXPECT_FALSE(access->Ensure(0x278));
    EXPECT_EQ(nt.CountCalls("DeviceIoControl"), 0);
    access->Close(0x378);
    EXPECT_EQ(nt.CountCalls("DeleteService"), 1);
    EXPECT_EQ(nt.StateOf("kqiopm"), NtStandIn::ServiceState::Absent);
}

TEST_F(NtAccessTest, AfterCloseTheNextOpenStartsAfresh) {
    ASSERT_TRUE(access->Open(0x378));
    access->Close(0x378);
    EXPECT_TRUE(access->Open(0x378));
    EXPECT_TRUE(MayAccessAll(nt, 0x378, 0x37A));
}

TEST_F(NtAccessTest, DroppedWithoutCloseStillTakesTheDriverDown) {
    ASSERT_TRUE(access->Open(0x378));
    access.reset();
    EXPECT_EQ(nt.StateOf("kqiopm"), NtStandIn::ServiceState::Absent);
    EXPECT_EQ(nt.OpenHandleCount(), 0);
}

TEST(IopmDriverObject, ExistsBeforeAnyWindowWithNothingOpen) {
    EXPECT_EQ(IOPMDriver.DriverName, "kqiopm");
    EXPECT_EQ(IOPMDriver.SCMHandle, 0u);
    EXPECT_EQ(IOPMDriver.DeviceHandle, orbvex::kNtInvalidHandle);
    EXPECT_FALSE(IOPMDriver.HomeDir.empty());
}

}  // namespace
