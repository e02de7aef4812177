// The port-permission driver built here, loaded by the system's service manager and
// driven by the program's own driver class: install, start, the map's requests, the
// refusals, stop, remove, and a second start after a stop.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "port/kqiopm.h"
#include "port/lpt.h"
#include "port/program_dir.h"

namespace {

constexpr std::int32_t kInvalidParameter = 87;
// What activation answers where the kernel cannot install a port map: "not supported"
// where its routines are missing (a 64-bit kernel), a general failure where they
// refuse (Wine's do).
constexpr std::int32_t kNotSupported = 50;
constexpr std::int32_t kGeneralFailure = 31;

std::uint8_t MapByte(TKQIOPM_Driver& driver, std::uint16_t index) {
    std::uint8_t value = 0x5A;
    EXPECT_EQ(driver.GetIOPMByte(index, value), 0) << "map byte " << index;
    return value;
}

TEST(KqiopmDriverTest, RunsUnderTheServiceManagerAndKeepsItsMapUntilStopped) {
    TKQIOPM_Driver driver(orbvex::SystemNtApi(), orbvex::ProgramDirectory());
    ASSERT_EQ(driver.OpenSCM(), 0);
    driver.RemoveDriver();  // one left behind by an earlier run that died
    ASSERT_EQ(driver.InstallDriver(""), 0) << driver.DriverPath;
    ASSERT_EQ(driver.StartDriver(), 0) << driver.DriverPath;
    ASSERT_EQ(driver.OpenDevice(), 0);

    // Every port denied at the start; bytes written are read back, each on its own.
    EXPECT_EQ(MapByte(driver, 0) & MapByte(driver, 0x6F) & MapByte(driver, 8191), 0xFF);
    EXPECT_EQ(driver.SetPortRange(0x378, 0x37A, true), 0);
    EXPECT_EQ(driver.SetPortRange(0x37E, 0x381, true), 0);
    EXPECT_EQ(driver.SetIOPMByte(8191, 0x12), 0);
    EXPECT_EQ(MapByte(driver, 0x6F), 0x38);
    EXPECT_EQ(MapByte(driver, 0x70), 0xFC);
    EXPECT_EQ(MapByte(driver, 8191), 0x12);

    // An index past the map and a request the driver does not know are refused.
    std::uint8_t data = 0;
    EXPECT_EQ(driver.SendByteIoctl(8192, data, kIopmGetByte), kInvalidParameter);
    EXPECT_EQ(driver.SendByteIoctl(0xFFFF, data, kIopmSetByte), kInvalidParameter);
    std::uint32_t value = 0;
    EXPECT_EQ(driver.SendIoctl(0x913, value), kInvalidParameter);
    const std::int32_t activation = driver.ActivateIOPM();
    EXPECT_THAT(activation, testing::AnyOf(kNotSupported, kGeneralFailure));
    std::string why;
    EXPECT_FALSE(OpenPortAccess(driver, 0x378, 0x778, &why));
    EXPECT_NE(why.find("could not apply the port map"), std::string::npos) << why;

    // A stop unloads the driver with its link; a second start brings a fresh map.
    EXPECT_EQ(driver.CloseDevice(), 0);
    EXPECT_EQ(driver.StopDriver(), 0);
    EXPECT_NE(driver.OpenDevice(), 0) << "the device outlived its driver";
    ASSERT_EQ(driver.StartDriver(), 0);
    ASSERT_EQ(driver.OpenDevice(), 0);
    EXPECT_EQ(MapByte(driver, 0x6F), 0xFF);
    ClosePortAccess(driver, 0x378, 0x778);  // its activation is refused here; the rest runs
    ASSERT_EQ(driver.OpenSCM(), 0);
    EXPECT_EQ(driver.StartDriver(), static_cast<std::int32_t>(orbvex::nt::kErrorServiceDoesNotExist));
    driver.CloseSCM();
}

}  // namespace
