#include "lpt/converterreader.h"
#include "platform/linux/ppdevportio.h"

#include <QTemporaryDir>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace diagnostika {
namespace {

// The kernel as the ppdev backend sees it: parport entries under /proc and device files.
class FakeKernel final : public linux_sys::Syscalls {
public:
    struct Device {
        int openError = 0;
        int claimError = 0;
        int accessError = 0; // every data, status or control access fails with it
        unsigned char data = 0, status = 0xD8, control = 0;
        bool claimed = false;
    };

    void addParport(const std::string& name, const std::string& baseAddr)
    {
        parports.push_back(name);
        files["/proc/sys/dev/parport/" + name + "/base-addr"] = baseAddr;
        devices.try_emplace("/dev/" + name);
    }

    int open(const char* path, int) override
    {
        std::lock_guard<std::mutex> guard(mutex);
        calls.push_back(std::string("open ") + path);
        const auto it = devices.find(path);
        if (it == devices.end())
            return fail(ENOENT);
        if (it->second.openError)
            return fail(it->second.openError);
        fds[nextFd] = path;
        return nextFd++;
    }

    int close(int fd) override
    {
        std::lock_guard<std::mutex> guard(mutex);
        calls.push_back("close " + fds.at(fd));
        fds.erase(fd);
        changed.notify_all();
        return 0;
    }

    int ioctl(int fd, unsigned long request, void* argument) override
    {
        std::unique_lock<std::mutex> lock(mutex);
        const std::string path = fds.at(fd);
        Device& d = devices.at(path);
        auto* byte = static_cast<unsigned char*>(argument);
        switch (ppRequestOf(request)) {
        case PpRequest::Claim:
            calls.push_back("claim " + path);
            // Another program holds the port: PPCLAIM waits until it lets go.
            changed.wait(lock, [&] { return !otherHolds; });
            if (d.claimError)
                return fail(d.claimError);
            d.claimed = true;
            return 0;
        case PpRequest::Release:
            calls.push_back("release " + path);
            d.claimed = false;
            return 0;
        default:
            break;
        }
        ++accesses;
        if (d.accessError)
            return fail(d.accessError);
        if (!d.claimed)
            return fail(EINVAL);
        switch (ppRequestOf(request)) {
        case PpRequest::ReadData:
            *byte = d.data;
            break;
        case PpRequest::WriteData:
            d.data = *byte;
            break;
        case PpRequest::ReadStatus:
            *byte = d.status;
            break;
        case PpRequest::ReadControl:
            *byte = d.control;
            break;
        case PpRequest::WriteControl:
            d.control = *byte;
            break;
        default:
            return fail(ENOTTY);
        }
        return 0;
    }

    bool readText(const std::string& path, std::string& text) override
    {
        const auto it = files.find(path);
        if (it == files.end())
            return false;
        text = it->second;
        return true;
    }

    bool listFolder(const std::string& path, std::vector<std::string>& names) override
    {
        if (path != "/proc/sys/dev/parport")
            return false;
        names = parports;
        names.push_back("default");
        return true;
    }

    // What the claiming thread does is looked at under the lock, and waited for.
    bool waitFor(const std::function<bool()>& done)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5), done);
    }
    void letGo()
    {
        std::lock_guard<std::mutex> guard(mutex);
        otherHolds = false;
        changed.notify_all();
    }

    std::mutex mutex;
    std::condition_variable changed;
    bool otherHolds = false;
    std::vector<std::string> parports;
    std::map<std::string, std::string> files;
    std::map<std::string, Device> devices;
    std::map<int, std::string> fds;
    std::vector<std::string> calls; // opens, claims, releases and closes
    int accesses = 0;
    int nextFd = 3;

private:
    static int fail(int error)
    {
        errno = error;
        return -1;
    }
};

std::string errorMessage(PpdevPortIo& io, std::uint16_t address)
{
    try {
        io.read(address);
    } catch (const PortIoError& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(PpdevPortIo, FindsTheDeviceByItsBaseAddressUnlessOneIsGiven)
{
    FakeKernel kernel;
    kernel.addParport("parport0", "888\t0\n");
    kernel.addParport("parport1", "632\t1656\n");
    kernel.addParport("parport2", "956\t-1\n");
    struct Case {
        std::map<int, QString> given;
        std::uint16_t address;
        const char* device;
    };
    const Case cases[] = {
        {{}, 888, "/dev/parport0"},
        {{}, 889, "/dev/parport0"},
        {{}, 890, "/dev/parport0"},
        {{}, 956, "/dev/parport2"},
        {{}, 957, "/dev/parport2"},
        {{}, 633, "/dev/parport1"},
        {{{1, "/dev/parport7"}}, 889, "/dev/parport7"},
        {{{1, "/dev/parport7"}}, 957, "/dev/parport2"},
        {{{2, "/dev/parport0"}}, 957, "/dev/parport0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        PpdevPortIo io(c.given, kernel);
        EXPECT_EQ(io.deviceFor(c.address), c.device);
    }
}

TEST(PpdevPortIo, NoPortAtTheAddressSaysSo)
{
    FakeKernel kernel;
    kernel.addParport("parport0", "888\t0\n");
    PpdevPortIo io({}, kernel);
    const std::string message = errorMessage(io, 957);
    EXPECT_NE(message.find("956"), std::string::npos) << message;
    EXPECT_NE(message.find("0x3bc"), std::string::npos) << message;
    EXPECT_TRUE(kernel.calls.empty()) << "nothing to open";

    FakeKernel none; // no parport driver loaded at all
    PpdevPortIo io2({}, none);
    EXPECT_THROW(io2.read(889), PortIoError);
}

TEST(PpdevPortIo, OpensAndClaimsOnceThenOneCallPerAccess)
{
    FakeKernel kernel;
    kernel.addParport("parport0", "888\t0\n");
    kernel.devices["/dev/parport0"].status = 0x00; // every converter bit a 1
    PpdevPortIo io({}, kernel);
    EXPECT_TRUE(kernel.calls.empty()) << "nothing is opened before the first access";

    ConverterReader reader;
    reader.citanieprevodnika(io, u"LPT1");
    reader.citanieprevodnika(io, u"LPT1");
    EXPECT_DOUBLE_EQ(reader.napatievstupu, 5.0);
    EXPECT_EQ(kernel.calls,
              (std::vector<std::string>{"open /dev/parport0", "claim /dev/parport0"}));
    EXPECT_EQ(kernel.accesses, 2 * ConverterReader::accessesPerRead);
    EXPECT_EQ(io.read(888), 5) << "the data register reads back the closing write";

    io.release();
    EXPECT_EQ(kernel.calls.back(), "close /dev/parport0");
    EXPECT_FALSE(kernel.devices["/dev/parport0"].claimed);
    EXPECT_TRUE(kernel.fds.empty());
    io.release(); // nothing left to let go

    io.write(890, 0x04);
    EXPECT_EQ(kernel.calls.size(), 6u) << "the next access opens and claims again";
    EXPECT_EQ(kernel.devices["/dev/parport0"].control, 0x04);
    io.write(889, 0xFF); // the status register takes no writes
    EXPECT_EQ(kernel.devices["/dev/parport0"].status, 0x00);
}

TEST(PpdevPortIo, FailuresNameTheDeviceAndTheReasonAndLeaveNothingOpen)
{
    struct Case {
        const char* name;
        int openError, claimError, accessError;
        const char* expected;
    };
    const Case cases[] = {
        // What follows names the group, read from the machine's own /dev/parport0 if it has one.
        {"no permission", EACCES, 0, 0, "/dev/parport0: prístup odmietnutý"},
        {"no device file", ENOENT, 0, 0, "/dev/parport0: No such file or directory"},
        {"busy", 0, EBUSY, 0, "/dev/parport0: PPCLAIM: Device or resource busy"},
        {"gone while open", 0, 0, ENODEV, "/dev/parport0: PPWDATA: No such device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeKernel kernel;
        kernel.addParport("parport0", "888\t0\n");
        FakeKernel::Device& device = kernel.devices["/dev/parport0"];
        device.openError = c.openError;
        device.claimError = c.claimError;
        device.accessError = c.accessError;
        PpdevPortIo io({}, kernel);
        ConverterReader reader;
        try {
            reader.citanieprevodnika(io, u"LPT1");
            ADD_FAILURE() << "no error";
        } catch (const PortIoError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.expected, 0), 0u) << e.what();
        }
        EXPECT_TRUE(kernel.fds.empty()) << "the failed device is closed";

        // The port comes back: the next read opens it afresh and works.
        device = FakeKernel::Device{};
        reader.citanieprevodnika(io, u"LPT1");
        EXPECT_DOUBLE_EQ(reader.napatievstupu, 0.0); // status 0xD8: bit 7 set
        EXPECT_EQ(kernel.fds.size(), 1u);
    }
}

TEST(PpdevPortIo, APortHeldByAnotherIsReportedInUseNotWaitedFor)
{
    FakeKernel kernel;
    kernel.addParport("parport0", "888\t0\n");
    kernel.files["/proc/sys/dev/parport/parport0/devices/active"] = "lp\n";
    PpdevPortIo io({{1, QStringLiteral("/dev/parport0")}}, kernel);
    EXPECT_EQ(errorMessage(io, 889),
              "/dev/parport0: port používa iný program alebo zariadenie (lp)");
    EXPECT_TRUE(kernel.calls.empty()) << "no claim that would block";

    kernel.files["/proc/sys/dev/parport/parport0/devices/active"] = "none\n";
    EXPECT_EQ(io.read(889), 0xD8);
}

TEST(PpdevPortIo, AClaimThatWaitsIsGivenUpAndTheLateGrantGivenBack)
{
    // Another program claims between the look at the holder and our claim.
    FakeKernel kernel;
    kernel.addParport("parport0", "888\t0\n");
    kernel.otherHolds = true;
    PpdevPortIo io({}, kernel, "/proc/sys/dev/parport", std::chrono::milliseconds(20));
    const std::string busy = "/dev/parport0: port používa iný program alebo zariadenie "
                             "(nepodarilo sa ho získať do 20 ms)";
    EXPECT_EQ(errorMessage(io, 889), busy);
    EXPECT_EQ(errorMessage(io, 889), busy) << "told at once while the first claim still waits";
    EXPECT_TRUE(kernel.waitFor([&] {
        return kernel.calls ==
               std::vector<std::string>{"open /dev/parport0", "claim /dev/parport0"};
    })) << "one claim, its device still open";

    // The other program lets go: the kernel grants the abandoned claim, which gives it back.
    kernel.letGo();
    EXPECT_TRUE(kernel.waitFor([&] { return kernel.fds.empty(); }));
    EXPECT_FALSE(kernel.devices["/dev/parport0"].claimed);
    EXPECT_EQ(io.read(889), 0xD8) << "the free port is had at the next access";
}

TEST(PpdevPortIo, APortGivenByALinkIsAskedAboutUnderItsOwnName)
{
    // Such as a udev link, or both ports given as the same device: the claim would wait forever.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path folder = dir.path().toStdString();
    std::ofstream(folder / "parport0").put('\n');
    std::filesystem::create_symlink("parport0", folder / "lpt-a");
    const std::string link = (folder / "lpt-a").string();

    FakeKernel kernel;
    kernel.files["/proc/sys/dev/parport/parport0/devices/active"] = "ppdev0\n";
    PpdevPortIo io({{1, QString::fromStdString(link)}}, kernel);
    EXPECT_EQ(errorMessage(io, 889), link + ": port používa iný program alebo zariadenie (ppdev0)");
    EXPECT_TRUE(kernel.calls.empty()) << "no claim that would block";
}

TEST(PpdevPortIo, AGivenDeviceThatDoesNotExistIsNamed)
{
    FakeKernel kernel;
    kernel.addParport("parport0", "888\t0\n");
    PpdevPortIo io({{2, QStringLiteral("/dev/parport3")}}, kernel);
    EXPECT_EQ(errorMessage(io, 957), "/dev/parport3: No such file or directory");
}

} // namespace
} // namespace diagnostika
