#include "platform/backends.h"

#include <gtest/gtest.h>

using namespace diagnostika;

namespace {

TEST(BackendsSerial, SimulationBeatsDeviceOverrides)
{
    BackendOptions options;
    options.simulate = true;
    options.comDevices[1] = QStringLiteral("/dev/ttyUSB0");
    Backends b = makeBackends(options);
    ASSERT_NE(b.serial, nullptr);
    auto lines = b.serial->create();
    EXPECT_EQ(lines->captureMode(), CaptureMode::Simulated);
    EXPECT_FALSE(b.serial->devicePath(1).startsWith(QLatin1String("/dev/")));
}

TEST(BackendsSerial, HardwareUsesTheOverridesAndTheUartsOtherwise)
{
    BackendOptions options;
    options.comDevices[3] = QStringLiteral("/dev/ttyACM0");
    Backends b = makeBackends(options);
    ASSERT_NE(b.serial, nullptr);
    EXPECT_EQ(b.serial->devicePath(1), QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(b.serial->devicePath(2), QStringLiteral("/dev/ttyS1"));
    EXPECT_EQ(b.serial->devicePath(3), QStringLiteral("/dev/ttyACM0"));
    auto lines = b.serial->create();
    EXPECT_FALSE(lines->isOpen()) << "nothing is opened before the user picks a port";
}

} // namespace
