// SPDX-License-Identifier: GPL-2.0-or-later
// The port access layer on Linux: the byte accessors' routing and the ioperm grant.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

#include "link/link.h"
#include "port/kqportio.h"
#include "port/port_access.h"
#include "support/ppdev_standin.h"

#if !defined(_WIN32)
#include "port/posix/linux_port_access.h"
#endif

namespace {

class MockBackend : public orbvex::PortBackend {
public:
    MOCK_METHOD(std::uint8_t, Read, (std::uint16_t), (override));
    MOCK_METHOD(void, Write, (std::uint16_t, std::uint8_t), (override));
};

TEST(PortAccessors, GoToTheBackendWhileOneIsSet) {
    MockBackend backend;
    ::testing::InSequence order;
    EXPECT_CALL(backend, Write(0x378, 0x0D));
    EXPECT_CALL(backend, Read(0x379)).WillOnce(::testing::Return(0x10));
    orbvex::PortHook = &backend;
    PortWrite(0x378, 0x0D);
    EXPECT_EQ(PortRead(0x379), 0x10);
    orbvex::PortHook = nullptr;
}

#if !defined(_WIN32)
// Granting takes privileges a test run rarely has (and this sandbox never gives); where
// it is refused, every later request must be refused too, and closing must be harmless.
TEST(IopermAccess, RefusalIsConsistentAndCloseIsAlwaysSafe) {
    auto access = orbvex::MakeHardwarePortAccess();
    ASSERT_NE(access, nullptr);
    const bool opened = access->Open(0x378);
    EXPECT_EQ(access->Ensure(0x378), opened);
    if (!opened) {
        EXPECT_FALSE(access->Ensure(0x278));
    }
    access->Close(0x378);
    access->Close(0x378);
    EXPECT_EQ(access->Ensure(0x378), opened) << "a closed port can be asked for again";
    access->Close(0x378);
}

// ioperm as a test arranges it: granted, or refused with an errno; every call noted.
struct IopermRecord {
    explicit IopermRecord(int refusal) : error(refusal) {}
    int error;
    std::vector<std::string> calls;
    orbvex::IopermCall Call() {
        return [this](unsigned long from, unsigned long, bool on) {
            calls.push_back((on ? "on " : "off ") + std::to_string(from));
            return on && error ? -error : 0;
        };
    }
};

// Through the link, as a session opens and closes it: the pins go through ppdev when the
// instructions are refused, the cable is released there, and nothing stays wired after.
TEST(LinuxPortAccess, TriesTheInstructionsFirstFallsBackToPpdevAndGivesBothBack) {
    using ::testing::ElementsAre;
    using ::testing::HasSubstr;
    ::testing::NiceMock<MockBackend> instructions;  // stands in for the port instructions
    const struct {
        int iopermError, ppdevError;
        bool opened;
        bool onPpdev;
    } cases[] = {{0, 0, true, false}, {EPERM, 0, true, true}, {EPERM, EACCES, false, false}};
    for (const auto& c : cases) {
        IopermRecord ioperm(c.iopermError);
        orbvex::PpdevStandIn parport;
        parport.openError = c.ppdevError;
        auto access = orbvex::MakeLinuxPortAccess(ioperm.Call(), parport);
        orbvex::Link link;
        link.Open(*access, &instructions, 0x378);
        EXPECT_EQ(link.PortAvailable(), c.opened) << link.FailureReason();
        EXPECT_EQ(ioperm.calls.front(), "on 888") << "the instructions are asked for first";
        EXPECT_EQ(orbvex::PortHook != &instructions, c.onPpdev);
        EXPECT_EQ(parport.Claimed(), c.onPpdev);
        if (!c.opened) {
            EXPECT_THAT(link.FailureReason(), HasSubstr("LPT1 (0x378)"));
            EXPECT_THAT(link.FailureReason(), HasSubstr("run as root, or give the program the right once with sudo setcap cap_sys_rawio+ep"));
            EXPECT_THAT(link.FailureReason(), HasSubstr("join group lp"));
        }
        link.Close();
        EXPECT_EQ(orbvex::PortHook, nullptr);
        EXPECT_FALSE(PortAvailable);
        EXPECT_EQ(parport.OpenCount(), 0);
        EXPECT_EQ(std::count(parport.calls.begin(), parport.calls.end(), "PPWDATA 00") > 0, c.onPpdev)
            << "the cable is released through ppdev before the device goes";
        if (c.iopermError == 0) {
            EXPECT_THAT(ioperm.calls, ElementsAre("on 888", "on 1912", "off 1912", "off 888"));
        }
        if (c.onPpdev) {
            EXPECT_THAT(parport.calls, ::testing::IsSupersetOf({"PPCLAIM", "PPRELEASE", "close"}));
        }
    }
}

TEST(LinuxPortAccess, EachPortDrivesThroughItsOwnDevice) {
    IopermRecord ioperm(EPERM);
    orbvex::PpdevStandIn parport;  // only /dev/parport0 exists
    auto access = orbvex::MakeLinuxPortAccess(ioperm.Call(), parport);
    ASSERT_TRUE(access->Open(0x378));
    orbvex::PortBackend* lpt1 = access->PortRoute();
    ASSERT_NE(lpt1, nullptr);
    EXPECT_FALSE(access->Ensure(0x278));
    EXPECT_THAT(access->FailureReason(), ::testing::HasSubstr("cannot open /dev/parport1"));
    EXPECT_THAT(access->FailureReason(), ::testing::HasSubstr("the device is missing"));
    EXPECT_TRUE(access->Ensure(0x378));
    EXPECT_EQ(access->PortRoute(), lpt1);
    EXPECT_EQ(parport.OpenCount(), 1) << "LPT1's device is claimed once, for the session";
    access.reset();
    EXPECT_EQ(parport.OpenCount(), 0);
}
#endif

}  // namespace
