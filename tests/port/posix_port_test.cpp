// The port access layer on Linux: the byte accessors' routing and the ioperm grant.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "port/kqportio.h"
#include "port/port_access.h"

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
    orbvex::SetPortBackend(&backend);
    PortWrite(0x378, 0x0D);
    EXPECT_EQ(PortRead(0x379), 0x10);
    orbvex::SetPortBackend(nullptr);
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
#endif

}  // namespace
