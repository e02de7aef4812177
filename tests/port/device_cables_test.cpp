// SPDX-License-Identifier: GPL-2.0-or-later
// The cables the kernel drives, through their system-call seams: what each clock costs
// in calls, that the port or lines are given back on every path, and what a refusal says.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>

#include "link/jtag.h"
#include "port/cable_wiring.h"
#include "port/ftdi_cable.h"
#include "port/gpio_cable.h"
#include "port/kqportio.h"
#include "port/ppdev_cable.h"
#include "sim/virtual_receiver.h"
#include "support/ftdi_standin.h"
#include "support/gpiod_standin.h"
#include "support/ppdev_standin.h"

namespace orbvex {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

// One sampled clock with TMS 1, TDI 1 and the reset line high on a cable just opened.
void ClockOnce(PortBackend& cable) {
    PortHook = &cable;
    ResetLineLevel = true;
    LastDataValue = 255;
    JtagStep(true, true, true);
    PortHook = nullptr;
}

TEST(PpdevCable, ClaimsOnceMapsEachAccessToOneRequestAndReleasesAtTheEnd) {
    PpdevStandIn device;
    auto opened = PpdevCable::Open(device, "/dev/parport0");
    ASSERT_TRUE(opened) << opened.Error();
    auto& cable = opened.Value();
    ClockOnce(*cable);
    cable.reset();
    EXPECT_THAT(device.calls, ElementsAre("open /dev/parport0", "PPEXCL", "PPCLAIM", "PPRSTATUS", "PPWDATA 0D",
                                          "PPWDATA 0F", "PPWDATA 0D", "PPRELEASE", "close"));
    EXPECT_EQ(device.OpenCount(), 0);
}

TEST(PpdevCable, RefusalsNameTheDeviceTheReasonAndTheRemedyAndLeaveNothingOpen) {
    const struct {
        const char* device;
        int PpdevStandIn::*fault;
        int error;
        std::vector<const char*> says;
    } cases[] = {
        {"/dev/parport0", &PpdevStandIn::openError, EACCES, {"cannot open /dev/parport0", "(EACCES)", "join group lp"}},
        {"/dev/parport1", &PpdevStandIn::openError, 0, {"cannot open /dev/parport1", "(ENOENT)", "the device is missing"}},
        {"/dev/parport0", &PpdevStandIn::claimError, EBUSY, {"cannot claim /dev/parport0", "(EBUSY)", "another program holds the port"}},
        {"/dev/parport0", &PpdevStandIn::claimError, ENXIO, {"cannot claim /dev/parport0", "(ENXIO)", "lp"}},
        {"/dev/parport0", &PpdevStandIn::exclusiveError, EINVAL, {"cannot claim /dev/parport0", "(EINVAL)"}},
    };
    for (const auto& c : cases) {
        PpdevStandIn device;
        device.*c.fault = c.error;
        const std::string error = PpdevCable::Open(device, c.device).Error();
        EXPECT_NE(error, "");
        for (const char* text : c.says) EXPECT_THAT(error, HasSubstr(text));
        EXPECT_EQ(device.OpenCount(), 0) << error;
        EXPECT_FALSE(device.Claimed()) << error;
    }
}

TEST(PpdevCable, AFailureMidTransferIsReportedOnceThenReadsGiveTdoHighAndThePortIsStillReleased) {
    PpdevStandIn device;
    device.dataError = ENODEV;
    device.dataErrorAfter = 2;
    auto cable = PpdevCable::Open(device, "/dev/parport0").Value();
    std::vector<std::string> reports;
    cable->SetFailureHandler([&](const std::string& why) { reports.push_back(why); });
    cable->Write(0x378, 0x01);
    EXPECT_EQ(cable->Read(0x379), 0);
    cable->Write(0x378, 0x03);
    EXPECT_EQ(cable->Read(0x379), 0x10);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_THAT(reports[0], HasSubstr("/dev/parport0"));
    EXPECT_THAT(reports[0], HasSubstr("(ENODEV)"));
    const auto requests = device.ioctls;
    cable->Write(0x378, 0x01);
    EXPECT_EQ(device.ioctls, requests) << "a failed cable is not driven";
    cable.reset();
    EXPECT_THAT(device.calls, ::testing::IsSupersetOf({"PPRELEASE", "close"}));
    EXPECT_EQ(device.OpenCount(), 0);
}

GpioWiring Spec(const std::string& text) {
    auto spec = ParseGpioWiring(text);
    EXPECT_TRUE(spec) << spec.Error();
    return spec ? spec.Value() : GpioWiring{};
}

TEST(GpioWiring, ReadsTheLinesInAnyOrderAndSaysWhatIsWrong) {
    GpioWiring spec = Spec("/dev/gpiochip1:TDO=0x9,tdi=10,tms=25,tck=11,rst=24");
    EXPECT_EQ(spec.chip, "/dev/gpiochip1");
    EXPECT_EQ((std::vector<unsigned>{spec.tck, spec.tms, spec.tdi, spec.tdo, spec.rst.value()}),
              (std::vector<unsigned>{11, 25, 10, 9, 24}));
    EXPECT_FALSE(Spec("gpiochip0:tck=11,tms=25,tdi=10,tdo=9").rst);

    const struct {
        const char* text;
        const char* says;
    } bad[] = {
        {"tck=1,tms=2,tdi=3,tdo=4", "no chip before the lines"},
        {"gpiochip0:tck=1,tms=2,tdi=3", "tdo is missing"},
        {"gpiochip0:tck=1,tms=2,tdi=3,tdo=2", "line 2 is used for both tms and tdo"},
        {"gpiochip0:tck=1,tms=2,tdi=3,tdo=4,trst=5", "unknown line \"trst\""},
        {"gpiochip0:tck=one,tms=2,tdi=3,tdo=4", "tck=one is not a line number"},
        {"gpiochip0:tck=-1,tms=2,tdi=3,tdo=4", "tck=-1 is not a line number"},
        {"gpiochip0:tck=1,tck=2,tms=2,tdi=3,tdo=4", "tck is given twice"},
        {"gpiochip0:tck,tms=2,tdi=3,tdo=4", "\"tck\" is not KEY=N"},
    };
    for (const auto& b : bad) {
        const auto spec = ParseGpioWiring(b.text);
        EXPECT_FALSE(spec) << b.text;
        const std::string& error = spec.Error();
        EXPECT_THAT(error, HasSubstr(b.says)) << b.text;
        EXPECT_THAT(error, HasSubstr("CHIP:tck=N,tms=N,tdi=N,tdo=N[,rst=N]")) << b.text;
    }
}

TEST(GpioCable, RequestsOnceSetsAllOutputsInOneCallPerChangeAndReleasesAtTheEnd) {
    GpiodStandIn gpio;
    gpio.AddChip("gpiochip0", 28);
    auto opened = GpioCable::Open(gpio, Spec("gpiochip0:tck=11,tms=25,tdi=10,tdo=9,rst=24"));
    ASSERT_TRUE(opened) << opened.Error();
    auto& cable = opened.Value();
    ClockOnce(*cable);
    cable->Write(0x378, 0x0D);  // as the lines already stand: no call
    cable.reset();
    EXPECT_THAT(gpio.calls, ElementsAre("open gpiochip0", "request out 11,25,10,24 orbvex_up", "request in 9 orbvex_up",
                                        "get 9", "set 0,1,1,1", "set 1,1,1,1", "set 0,1,1,1", "release 9",
                                        "release 11,25,10,24", "close gpiochip0"));
}

TEST(GpioCable, WithoutAResetLineItsBitChangesNothing) {
    GpiodStandIn gpio;
    gpio.AddChip("gpiochip0", 28);
    auto opened = GpioCable::Open(gpio, Spec("gpiochip0:tck=11,tms=25,tdi=10,tdo=9"));
    ASSERT_TRUE(opened) << opened.Error();
    auto& cable = opened.Value();
    gpio.calls.clear();
    cable->Write(0x378, 0x08);
    cable->Write(0x378, 0x0D);
    cable->Write(0x378, 0x05);
    EXPECT_THAT(gpio.calls, ElementsAre("set 0,1,1"));
}

TEST(GpioCable, RefusalsComeBeforeAnyLineIsDrivenAndGiveBackWhatWasTaken) {
    const struct {
        const char* spec;
        std::function<void(GpiodStandIn&)> arrange;
        std::vector<const char*> says;
    } cases[] = {
        {"gpiochip7:tck=11,tms=25,tdi=10,tdo=9", {}, {"cannot open GPIO chip \"gpiochip7\"", "(ENOENT)", "gpiodetect"}},
        {"gpiochip0:tck=11,tms=25,tdi=10,tdo=9", [](GpiodStandIn& g) { g.openError = EACCES; }, {"(EACCES)", "gpio"}},
        {"gpiochip0:tck=11,tms=25,tdi=10,tdo=40", {}, {"\"gpiochip0\" has no line 40 (tdo): its lines are 0 to 27"}},
        {"gpiochip0:tck=11,tms=25,tdi=10,tdo=9", [](GpiodStandIn& g) { g.TakeLine("gpiochip0", 10, "spi0 CS0"); }, {"line 10 (tdi) of GPIO chip \"gpiochip0\" is already in use by \"spi0 CS0\""}},
        {"gpiochip0:tck=11,tms=25,tdi=10,tdo=9",
         [](GpiodStandIn& g) {
             g.requestError = EBUSY;
             g.requestErrorAt = 1;
         },
         {"cannot request the TDO line of GPIO chip \"gpiochip0\"", "(EBUSY)"}},
    };
    for (const auto& c : cases) {
        GpiodStandIn gpio;
        gpio.AddChip("gpiochip0", 28);
        if (c.arrange) c.arrange(gpio);
        const std::string error = GpioCable::Open(gpio, Spec(c.spec)).Error();
        EXPECT_NE(error, "") << c.spec;
        for (const char* text : c.says) EXPECT_THAT(error, HasSubstr(text));
        EXPECT_EQ(gpio.sets + gpio.gets, 0u) << error;
        EXPECT_EQ(gpio.LiveRequests(), 0) << error;
        EXPECT_EQ(gpio.OpenChips(), 0) << error;
    }
}

// A link that defers its reads asks for each TDO sample before the clock it belongs to and
// takes the answers later: they come back in order, from one USB round trip, in each mode.
TEST(FtdiCable, DeferredSamplesComeBackInOrderFromOneRoundTrip) {
    for (FtdiChip chip : {FtdiChip::Ft232H, FtdiChip::Ft232R}) {
        sim::VirtualReceiver receiver;
        FtdiStandIn usb;
        usb.devices = {{{0x0403, 0x6014, "Cable", "H1"}, chip}};
        usb.WireTo(receiver);
        auto cable = FtdiCable::Open(usb, {}).Value();
        auto clock = [&](bool tms, bool tdi, bool sample) {
            if (sample) cable->RequestRead(0x379);
            const std::uint8_t v = cable::kResetLine | (tms ? cable::kTms : 0) | (tdi ? cable::kTdi : 0);
            cable->Write(0x378, v);
            cable->Write(0x378, v | cable::kTck);
            cable->Write(0x378, v);
        };
        // Reset, instruction 0x02 (IDCODE), Shift-DR, then 32 sampled clocks out to Exit1-DR.
        for (int tms : {1, 1, 1, 1, 1, 0, 1, 1, 0, 0}) clock(tms, false, false);
        for (int i = 0; i < 5; ++i) clock(i == 4, i == 1, false);
        for (int tms : {1, 1, 0, 0}) clock(tms, false, false);
        for (int i = 0; i < 32; ++i) clock(i == 31, false, true);
        const auto writes = usb.writes;
        std::uint32_t idcode = 0;
        for (int i = 0; i < 32; ++i) idcode |= (cable->TakeRead() & cable::kTdoStatus) ? 1u << i : 0;
        EXPECT_EQ(idcode, 0x10006A5Bu) << int(chip);
        EXPECT_LE(usb.writes - writes, 1u) << int(chip);
    }
}

}  // namespace
}  // namespace orbvex
