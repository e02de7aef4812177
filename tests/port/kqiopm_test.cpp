// SPDX-License-Identifier: GPL-2.0-or-later
// The port-permission driver class over the in-memory NT machine.
#include "port/kqiopm.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/nt_standin.h"

namespace {

using orbvex::NtStandIn;
using ::testing::ElementsAre;

constexpr std::uint32_t kSet = 0xF1002444;
constexpr std::uint32_t kGet = 0xF1002448;
constexpr std::uint32_t kActivate = 0xF1002480;

// A request as the device saw it, in a form gtest can print and compare.
struct Req {
    std::uint32_t code, index;
    bool operator==(const Req& o) const { return code == o.code && index == o.index; }
};
void PrintTo(const Req& r, std::ostream* os) {
    *os << std::hex << "{" << r.code << ", " << r.index << "}";
}

class DriverTest : public ::testing::Test {
protected:
    // The driver installed, started and its device open, with the record cleared.
    void BringUp() {
        ASSERT_EQ(driver.OpenSCM(), 0);
        ASSERT_EQ(driver.InstallDriver(""), 0);
        ASSERT_EQ(driver.StartDriver(), 0);
        ASSERT_EQ(driver.OpenDevice(), 0);
        nt.ClearRecord();
    }
    std::vector<Req> Requests() const {
        std::vector<Req> out;
        for (const auto& r : nt.IoRequests()) out.push_back({r.code, r.index});
        return out;
    }

    NtStandIn nt;
    TKQIOPM_Driver driver{nt, "C:\\orbvex\\"};
};

TEST(IopmCodes, ComposedTheWayThePlatformComposesThem) {
    EXPECT_EQ(IopmControlCode(0x911), 0xF1002444u);
    EXPECT_EQ(IopmControlCode(0x912), 0xF1002448u);
    EXPECT_EQ(IopmControlCode(0x920), 0xF1002480u);
}

TEST(IopmMessages, TableAndLookup) {
    ASSERT_EQ(sizeof ErrorMessages / sizeof ErrorMessages[0], 30u);
    EXPECT_EQ(ErrorMessages[0].Code, 0);
    EXPECT_STREQ(ErrorMessages[0].Message, "Operation was successful");
    EXPECT_EQ(ErrorMessages[29].Code, 9999);
    EXPECT_STREQ(ErrorMessageText(1073), "Service already exists");
    EXPECT_STREQ(ErrorMessageText(9997), "No device handle");
    EXPECT_STREQ(ErrorMessageText(9998), "Can't connect to Service Control Manager");
    EXPECT_STREQ(ErrorMessageText(424242), "An unexpected error occured");
}

TEST_F(DriverTest, SystemCallsGetTheValuesOfTheDriverContract) {
    ASSERT_EQ(driver.OpenSCM(), 0);
    ASSERT_EQ(driver.InstallDriver(""), 0);
    ASSERT_EQ(driver.StartDriver(), 0);
    ASSERT_EQ(driver.OpenDevice(), 0);
    ASSERT_EQ(driver.StopDriver(), 0);
    EXPECT_THAT(nt.LastNumbers("OpenSCManagerA"), ElementsAre(0xF003Fu));
    EXPECT_THAT(nt.LastTexts("OpenSCManagerA"), ElementsAre("(null)", "(null)"));
    // access, kernel driver, demand start, normal error control, no tag
    EXPECT_THAT(nt.LastNumbers("CreateServiceA"), ElementsAre(0xF01FFu, 1u, 3u, 1u, 0u));
    EXPECT_THAT(nt.LastTexts("CreateServiceA"),
                ElementsAre("kqiopm", "kqiopm", "C:\\orbvex\\kqiopm.sys", "(null)", "(null)",
                            "(null)", "(null)"));
    EXPECT_THAT(nt.LastNumbers("OpenServiceA"), ElementsAre(0xF01FFu));
    EXPECT_THAT(nt.LastNumbers("StartServiceA"), ElementsAre(0u));
    EXPECT_THAT(nt.LastTexts("StartServiceA"), ElementsAre("(null)"));
    EXPECT_THAT(nt.LastNumbers("ControlService"), ElementsAre(1u));
    // read and write, no sharing, no security, open existing, normal, no template
    EXPECT_THAT(nt.LastNumbers("CreateFileA"), ElementsAre(0xC0000000u, 0u, 0u, 3u, 0x80u, 0u));
    EXPECT_THAT(nt.LastTexts("CreateFileA"), ElementsAre("\\\\.\\kqiopm"));
}

TEST_F(DriverTest, MapRequestsCarryTwelveByteRecords) {
    BringUp();
    ASSERT_EQ(driver.ActivateIOPM(), 0);
    EXPECT_THAT(nt.LastNumbers("DeviceIoControl"), ElementsAre(kActivate, 12u, 12u));
}

TEST_F(DriverTest, StartsWithNothingOpen) {
    EXPECT_EQ(driver.HomeDir, "C:\\orbvex\\");
    EXPECT_EQ(driver.DriverName, "kqiopm");
    EXPECT_EQ(driver.DriverDir, "");
    EXPECT_EQ(driver.DriverPath, "");
    EXPECT_EQ(driver.SCMHandle, 0u);
    EXPECT_EQ(driver.DeviceHandle, orbvex::kNtInvalidHandle);
}

// ---- the permission map ----

TEST_F(DriverTest, Lpt1DataRangeTouchesOneMapByte) {
    BringUp();
    EXPECT_EQ(driver.SetPortRange(0x378, 0x37A, true), 0);
    EXPECT_THAT(Requests(), ElementsAre(Req{kGet, 0x6F}, Req{kSet, 0x6F}));
    EXPECT_EQ(nt.IoRequests()[1].value, 0xF8u);
    EXPECT_EQ(nt.MapByte(0x6F), 0xF8);
}

TEST_F(DriverTest, Lpt1ExtendedRangeTouchesOneMapByte) {
    BringUp();
    EXPECT_EQ(driver.SetPortRange(0x778, 0x77A, true), 0);
    EXPECT_THAT(Requests(), ElementsAre(Req{kGet, 0xEF}, Req{kSet, 0xEF}));
    EXPECT_EQ(nt.MapByte(0xEF), 0xF8);
}

TEST_F(DriverTest, RangeAcrossAByteBoundaryTouchesEachByteOnce) {
    BringUp();
    EXPECT_EQ(driver.SetPortRange(0x37E, 0x381, true), 0);
    EXPECT_THAT(Requests(), ElementsAre(Req{kGet, 0x6F}, Req{kSet, 0x6F}, Req{kGet, 0x70},
                                        Req{kSet, 0x70}));
    EXPECT_EQ(nt.MapByte(0x6F), 0x3F);
    EXPECT_EQ(nt.MapByte(0x70), 0xFC);
}

TEST_F(DriverTest, SinglePortTouchesOneBit) {
    BringUp();
    EXPECT_EQ(driver.SetPortRange(0x37B, 0x37B, true), 0);
    EXPECT_THAT(Requests(), ElementsAre(Req{kGet, 0x6F}, Req{kSet, 0x6F}));
    EXPECT_EQ(nt.MapByte(0x6F), 0xF7);
}

TEST_F(DriverTest, ReversedRangeSendsNothing) {
    BringUp();
    EXPECT_EQ(driver.SetPortRange(0x37A, 0x378, true), 0);
    EXPECT_TRUE(nt.IoRequests().empty());
}

TEST_F(DriverTest, BitsOutsideTheRangeKeepTheirDriverValue) {
    BringUp();
    nt.SetMapByte(0x6F, 0x5A);  // 0101 1010
    EXPECT_EQ(driver.SetPortRange(0x378, 0x37A, true), 0);
    EXPECT_EQ(nt.MapByte(0x6F), 0x58);
    EXPECT_EQ(driver.SetPortRange(0x378, 0x37A, false), 0);
    EXPECT_EQ(nt.MapByte(0x6F), 0x5F);
}

TEST_F(DriverTest, RangeEndingAtTheLastPortEnds) {
    BringUp();
    EXPECT_EQ(driver.SetPortRange(0xFFFE, 0xFFFF, true), 0);
    EXPECT_THAT(Requests(), ElementsAre(Req{kGet, 0x1FFF}, Req{kSet, 0x1FFF}));
    EXPECT_EQ(nt.MapByte(0x1FFF), 0x3F);
}

TEST_F(DriverTest, RangeStopsAtTheFirstFailingRequestKeepingEarlierWrites) {
    BringUp();
    nt.FailDeviceRequest(2, 31);  // the read of the second byte
    EXPECT_EQ(driver.SetPortRange(0x37E, 0x381, true), 31);
    EXPECT_EQ(nt.IoRequests().size(), 3u);
    EXPECT_EQ(nt.MapByte(0x6F), 0x3F);
    EXPECT_EQ(nt.MapByte(0x70), 0xFF);
}

TEST_F(DriverTest, ActivationAppliesTheMapToTheProcess) {
    BringUp();
    ASSERT_EQ(driver.SetPortRange(0x378, 0x37A, true), 0);
    EXPECT_FALSE(nt.ProcessMayAccess(0x378));
    std::uint32_t allowed = 99;
    EXPECT_EQ(driver.SendIoctl(0x920, allowed), 0);
    EXPECT_EQ(allowed, 3u);  // what this stand-in's driver passes back
    EXPECT_TRUE(nt.ProcessMayAccess(0x378));
    EXPECT_TRUE(nt.ProcessMayAccess(0x37A));
    EXPECT_FALSE(nt.ProcessMayAccess(0x37B));
    EXPECT_EQ(Requests().back(), (Req{kActivate, 0}));
}

// ---- no device handle ----

TEST_F(DriverTest, MapRequestsWithoutADeviceGive9997AndSendNothing) {
    auto expectNoDevice = [this] {
        std::uint32_t value = 7;
        std::uint8_t byte = 0x42;
        EXPECT_EQ(driver.SendIoctl(0x920, value), 9997);
        EXPECT_EQ(value, 0u);
        EXPECT_EQ(driver.SendByteIoctl(0x6F, byte, 0x912), 9997);
        EXPECT_EQ(byte, 0x42);
        EXPECT_EQ(driver.GetIOPMByte(0x6F, byte), 9997);
        EXPECT_EQ(driver.SetIOPMByte(0x6F, 0), 9997);
        EXPECT_EQ(driver.ActivateIOPM(), 9997);
        EXPECT_EQ(driver.SetPortRange(0x378, 0x37A, true), 9997);
        EXPECT_EQ(nt.CountCalls("DeviceIoControl"), 0);
    };
    expectNoDevice();  // before OpenDevice
    BringUp();
    EXPECT_EQ(driver.CloseDevice(), 0);
    EXPECT_EQ(driver.DeviceHandle, orbvex::kNtInvalidHandle);
    expectNoDevice();  // after CloseDevice
}

TEST_F(DriverTest, FailedByteRequestLeavesTheByteAlone) {
    BringUp();
    nt.FailDeviceRequest(0, 1);
    std::uint8_t byte = 0x42;
    EXPECT_EQ(driver.GetIOPMByte(0x6F, byte), 1);
    EXPECT_EQ(byte, 0x42);
}

// ---- the device ----

TEST_F(DriverTest, OpeningTheDeviceTwiceClosesTheFirstHandle) {
    BringUp();
    const orbvex::NtHandle first = driver.DeviceHandle;
    // The device is opened without sharing: a second open would be refused while
    // the first handle stays open.
    EXPECT_EQ(driver.OpenDevice(), 0);
    EXPECT_NE(driver.DeviceHandle, first);
    EXPECT_THAT(nt.Calls(), ElementsAre("CloseHandle", "CreateFileA"));
    EXPECT_EQ(nt.OpenHandleCount(), 2);  // service manager and one device
}

TEST_F(DriverTest, DeviceOfAStoppedDriverCannotBeOpened) {
    ASSERT_EQ(driver.OpenSCM(), 0);
    ASSERT_EQ(driver.InstallDriver(""), 0);
    EXPECT_EQ(driver.OpenDevice(), 2);
    EXPECT_EQ(driver.DeviceHandle, orbvex::kNtInvalidHandle);
}

TEST_F(DriverTest, RefusedDeviceGivesTheSystemError) {
    nt.SetDeviceRefused(true);
    ASSERT_EQ(driver.OpenSCM(), 0);
    ASSERT_EQ(driver.InstallDriver(""), 0);
    ASSERT_EQ(driver.StartDriver(), 0);
    EXPECT_EQ(driver.OpenDevice(), 5);
}

// ---- the service ----

TEST_F(DriverTest, NoServiceManagerGives9998ThenInvalidHandles) {
    nt.SetServiceManagerAvailable(false);
    EXPECT_EQ(driver.OpenSCM(), 9998);
    EXPECT_EQ(driver.SCMHandle, 0u);
    EXPECT_EQ(driver.InstallDriver(""), 6);
    EXPECT_EQ(driver.StartDriver(), 6);
}

TEST_F(DriverTest, InstallWithoutPathUsesTheProgramFolder) {
    ASSERT_EQ(driver.OpenSCM(), 0);
    EXPECT_EQ(driver.InstallDriver(""), 0);
    EXPECT_EQ(driver.DriverDir, "C:\\orbvex\\");
    EXPECT_EQ(driver.DriverPath, "C:\\orbvex\\kqiopm.sys");
    EXPECT_EQ(nt.BinaryPathOf("kqiopm"), "C:\\orbvex\\kqiopm.sys");
    EXPECT_EQ(nt.StateOf("kqiopm"), NtStandIn::ServiceState::Stopped);
    EXPECT_EQ(nt.OpenHandleCount(), 1);  // the new service's handle closed at once
}

TEST_F(DriverTest, InstallWithAPathNamesTheService) {
    ASSERT_EQ(driver.OpenSCM(), 0);
    EXPECT_EQ(driver.InstallDriver("D:\\drivers\\portdrv"), 0);
    EXPECT_EQ(driver.DriverDir, "D:\\drivers\\");
    EXPECT_EQ(driver.DriverName, "portdrv");
    EXPECT_EQ(driver.DriverPath, "D:\\drivers\\portdrv.sys");
    EXPECT_EQ(nt.StateOf("portdrv"), NtStandIn::ServiceState::Stopped);
    // Installing without a path afterwards goes back to the default name.
    EXPECT_EQ(driver.InstallDriver(""), 0);
    EXPECT_EQ(driver.DriverName, "kqiopm");
}

TEST_F(DriverTest, InstallOverAnExistingServiceGives1073) {
    nt.AddService("kqiopm", "C:\\old\\kqiopm.sys", NtStandIn::ServiceState::Stopped);
    ASSERT_EQ(driver.OpenSCM(), 0);
    EXPECT_EQ(driver.InstallDriver(""), 1073);
    EXPECT_EQ(nt.BinaryPathOf("kqiopm"), "C:\\old\\kqiopm.sys");
}

TEST_F(DriverTest, ServiceLifecycleResults) {
    ASSERT_EQ(driver.OpenSCM(), 0);
    EXPECT_EQ(driver.StartDriver(), 1060);  // not installed
    ASSERT_EQ(driver.InstallDriver(""), 0);
    EXPECT_EQ(driver.StopDriver(), 1062);  // not running
    EXPECT_EQ(driver.StartDriver(), 0);
    EXPECT_EQ(driver.StartDriver(), 1056);
    EXPECT_EQ(nt.StateOf("kqiopm"), NtStandIn::ServiceState::Running);
    EXPECT_EQ(driver.StopDriver(), 0);
    EXPECT_EQ(nt.StateOf("kqiopm"), NtStandIn::ServiceState::Stopped);
    EXPECT_EQ(nt.OpenHandleCount(), 1);  // every service handle was closed again
}

TEST_F(DriverTest, MissingDriverFileFailsTheStart) {
    nt.SetDriverFilePresent(false);
    ASSERT_EQ(driver.OpenSCM(), 0);
    ASSERT_EQ(driver.InstallDriver(""), 0);
    EXPECT_EQ(driver.StartDriver(), 2);
}

TEST_F(DriverTest, RemovingAStoppedServiceStillDeletesIt) {
    ASSERT_EQ(driver.OpenSCM(), 0);
    ASSERT_EQ(driver.InstallDriver(""), 0);
    EXPECT_EQ(driver.RemoveDriver(), 0);
    EXPECT_EQ(nt.StateOf("kqiopm"), NtStandIn::ServiceState::Absent);
    EXPECT_EQ(nt.CountCalls("ControlService"), 1);
}

TEST_F(DriverTest, RemovingARunningServiceStopsAndDeletesIt) {
    BringUp();
    ASSERT_EQ(driver.CloseDevice(), 0);
    EXPECT_EQ(driver.RemoveDriver(), 0);
    EXPECT_EQ(nt.StateOf("kqiopm"), NtStandIn::ServiceState::Absent);
    EXPECT_EQ(driver.RemoveDriver(), 1060);
}

TEST_F(DriverTest, ClosingTheServiceManagerAlwaysSucceeds) {
    EXPECT_EQ(driver.CloseSCM(), 0);  // nothing open: the system's refusal is ignored
    ASSERT_EQ(driver.OpenSCM(), 0);
    EXPECT_EQ(driver.CloseSCM(), 0);
    EXPECT_EQ(driver.SCMHandle, 0u);
    EXPECT_EQ(nt.OpenHandleCount(), 0);
}

}  // namespace
