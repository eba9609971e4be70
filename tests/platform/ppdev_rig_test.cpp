// The ppdev backend on the kernel's own parport_pc and ppdev drivers, inside the rig's guest
// (tests/rig/lpt_ppdev.sh): an emulated port at 888 as /dev/parport0, no port at 956.
#include "common/picturebox.h"
#include "lpt/converterreader.h"
#include "lpt/form1.h"
#include "platform/linux/lptvibrationinput.h"
#include "platform/linux/ppdevportio.h"
#include "platform/portclaims.h"
#include "support/widgets.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QLabel>
#include <QMdiArea>
#include <QSignalSpy>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace diagnostika {
namespace {

using test::control;

// Which device holds the port now, as the parport layer tells it ("none" when free).
std::string activeDevice()
{
    std::ifstream in("/proc/sys/dev/parport/parport0/devices/active");
    std::string name;
    in >> name;
    return name;
}

// Passes every call to the kernel and notes the port accesses with their values.
class LoggingSyscalls final : public linux_sys::Syscalls {
public:
    struct Access {
        PpRequest request;
        unsigned value;
    };

    int open(const char* path, int flags) override
    {
        opened.push_back(path);
        return linux_sys::systemCalls().open(path, flags);
    }
    int close(int fd) override { return linux_sys::systemCalls().close(fd); }
    int ioctl(int fd, unsigned long request, void* argument) override
    {
        const int rc = linux_sys::systemCalls().ioctl(fd, request, argument);
        const PpRequest r = ppRequestOf(request);
        const bool hasByte = r != PpRequest::Claim && r != PpRequest::Release;
        log.push_back({r, hasByte ? *static_cast<unsigned char*>(argument) : 0u});
        return rc;
    }
    bool readText(const std::string& path, std::string& text) override
    {
        return linux_sys::systemCalls().readText(path, text);
    }
    bool listFolder(const std::string& path, std::vector<std::string>& names) override
    {
        return linux_sys::systemCalls().listFolder(path, names);
    }

    std::vector<std::string> opened;
    std::vector<Access> log;
};

TEST(PpdevRig, FindsLpt1ThroughTheKernelsBaseAddressAndNothingAt956)
{
    PpdevPortIo io({});
    EXPECT_EQ(io.deviceFor(888), "/dev/parport0");
    EXPECT_EQ(io.deviceFor(889), "/dev/parport0");
    EXPECT_THROW(io.deviceFor(957), PortIoError);
    EXPECT_EQ(activeDevice(), "none") << "finding the device does not claim it";
}

TEST(PpdevRig, OneReadClaimsThePortAndMakesIts55Accesses)
{
    LoggingSyscalls calls;
    PpdevPortIo io({}, calls);
    ConverterReader reader;
    reader.citanieprevodnika(io, u"LPT1");

    EXPECT_EQ(calls.opened, std::vector<std::string>{"/dev/parport0"});
    ASSERT_EQ(calls.log.size(), 1u + ConverterReader::accessesPerRead);
    EXPECT_EQ(calls.log[0].request, PpRequest::Claim);
    EXPECT_NE(activeDevice(), "none") << "claimed";

    // By value: 0, 1, 0, then (status read, 2, 0) eight times, all twice, then 5.
    std::vector<unsigned> writes;
    int statusReads = 0;
    for (std::size_t i = 1; i < calls.log.size(); ++i) {
        const auto& a = calls.log[i];
        if (a.request == PpRequest::ReadStatus) {
            ++statusReads;
            EXPECT_EQ(a.value & 0x80, 0x80u) << "the emulated port's status is 0xD8";
            continue;
        }
        ASSERT_EQ(a.request, PpRequest::WriteData) << i;
        writes.push_back(a.value);
    }
    std::vector<unsigned> expected;
    for (int pass = 0; pass < 2; ++pass) {
        expected.insert(expected.end(), {0, 1, 0});
        for (int bit = 0; bit < 8; ++bit)
            expected.insert(expected.end(), {2, 0});
    }
    expected.push_back(5);
    EXPECT_EQ(writes, expected);
    EXPECT_EQ(statusReads, 16);
    EXPECT_DOUBLE_EQ(reader.napatievstupu, 0.0) << "status bit 7 set reads as 0 V";

    EXPECT_EQ(io.read(888), 5) << "the data register reads back the closing write";
    io.release();
    EXPECT_EQ(activeDevice(), "none") << "released";
}

TEST(PpdevRig, TheWindowReadsLpt1ReleasesOnCloseAndSurvivesAMissingLpt2)
{
    QLocale::setDefault(QLocale(QLocale::Slovak, QLocale::Slovakia));
    PpdevPortIo io({});
    QMdiArea area;
    Form1 form(io);
    form.show(&area);
    auto pick = [&](const char* list, const QString& entry) {
        auto* combo = control<QComboBox>(form.client(), list);
        const int index = combo->findText(entry);
        combo->setCurrentIndex(index);
        Q_EMIT combo->activated(index);
    };
    auto* status = control<QLabel>(form.client(), "stavportu");

    // Nothing picked: 956, where this machine has no port.
    pick("volba", QStringLiteral("TeplotaD"));
    form.Timer1_Timer();
    EXPECT_TRUE(status->isVisibleTo(form.client()));
    EXPECT_TRUE(status->text().contains(QStringLiteral("956"))) << status->text().toStdString();
    EXPECT_EQ(control<QLabel>(form.client(), "teplotac")->text(), QString());
    EXPECT_TRUE(control<PictureBox>(form.client(), "Picture1")->segments().empty());

    pick("port", QStringLiteral("LPT1"));
    form.Timer1_Timer();
    form.Timer1_Timer();
    EXPECT_FALSE(status->isVisibleTo(form.client()));
    EXPECT_EQ(control<QLabel>(form.client(), "teplotac")->text(), QStringLiteral("20,"));
    EXPECT_EQ(control<PictureBox>(form.client(), "Picture1")->segments().back().to.y(), 1400);
    EXPECT_NE(activeDevice(), "none");

    form.close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(activeDevice(), "none") << "the window let go of the port when it closed";
    QLocale::setDefault(QLocale::c());
}

TEST(PpdevRig, APortClaimedElsewhereIsReportedInUseWithoutWaiting)
{
    PpdevPortIo holder({});
    holder.read(889);
    PpdevPortIo other({});
    try {
        other.read(889);
        ADD_FAILURE() << "no error";
    } catch (const PortIoError& e) {
        EXPECT_NE(std::string(e.what()).find("/dev/parport0: port používa iný program"),
                  std::string::npos)
            << e.what();
    }
    holder.release();
    EXPECT_EQ(other.read(889) & 0x80, 0x80) << "free again";
}

TEST(PpdevRig, AGivenDeviceTakesPrecedence)
{
    PpdevPortIo io({{2, QStringLiteral("/dev/parport0")}, {1, QStringLiteral("/dev/parport9")}});
    ConverterReader reader;
    reader.citanieprevodnika(io, u"LPT2");
    EXPECT_DOUBLE_EQ(reader.napatievstupu, 0.0);
    try {
        reader.citanieprevodnika(io, u"LPT1");
        ADD_FAILURE() << "no error";
    } catch (const PortIoError& e) {
        EXPECT_EQ(std::string(e.what()), "/dev/parport9: No such file or directory");
    }
}

// The continuous read through the kernel: the rate a real port reaches, the grid it fills without
// gaps, and the port held (as the parport layer sees it) exactly while the input is open. The
// emulated port has no converter behind it, so every conversion reads the same code.
TEST(PpdevRig, TheContinuousConverterReadFillsItsGridAndHoldsThePortWhileOpen)
{
    auto claims = std::make_shared<PortClaims>();
    LptVibrationInputProvider provider(
        [] { return std::make_unique<PpdevPortIo>(std::map<int, QString>{}); }, claims);
    VibrationError error;
    const auto caps = provider.capabilities(LptVibrationInput::sourceId(1), &error);
    ASSERT_TRUE(caps) << error.reason.toStdString();
    ASSERT_FALSE(caps->rates.empty()) << "read rate " << provider.readRate(1);
    EXPECT_EQ(activeDevice(), "none") << "asking gives the port back";

    auto input = provider.create();
    const int rate = caps->rates.back();
    ASSERT_TRUE(input->open({LptVibrationInput::sourceId(1), rate, 0}, &error))
        << error.reason.toStdString();
    EXPECT_NE(activeDevice(), "none");
    QSignalSpy ready(input.get(), &VibrationInput::blocksReady);
    std::vector<VibrationBlock> blocks;
    std::size_t samples = 0;
    const QDeadlineTimer deadline(10'000);
    while (samples < static_cast<std::size_t>(rate) && !deadline.hasExpired()) {
        ready.wait(100);
        for (VibrationBlock& b : input->takeBlocks()) {
            samples += b.samples.size();
            blocks.push_back(std::move(b));
        }
    }
    const double readRate = static_cast<LptVibrationInput*>(input.get())->readRate();
    const auto lost = input->lostSamples();
    input->close();
    EXPECT_EQ(activeDevice(), "none") << "closing gives the port back";
    std::printf("continuous TLC549 read on parport_pc: %.0f conversions/s, grid %d Hz, "
                "%zu samples, %llu lost\n",
                readRate, rate, samples, static_cast<unsigned long long>(lost));

    ASSERT_GE(samples, static_cast<std::size_t>(rate));
    EXPECT_GE(readRate, rate);
    const std::int64_t period = 1'000'000 / rate;
    for (std::size_t k = 1; k < blocks.size(); ++k) {
        const VibrationBlock& a = blocks[k - 1];
        const VibrationBlock& b = blocks[k];
        EXPECT_EQ(b.firstSampleUs -
                      (a.firstSampleUs + static_cast<std::int64_t>(a.samples.size()) * period),
                  static_cast<std::int64_t>(b.lostBefore - a.lostBefore) * period)
            << "block " << k;
    }
    const float first = blocks.front().samples.front();
    for (const VibrationBlock& b : blocks)
        for (float s : b.samples)
            ASSERT_EQ(s, first) << "a port without a converter reads one code";
    // How many grid points a guest under emulation loses depends on what else the host runs
    // (a few percent on a quiet one, nearly half beside other guests): only that each is counted,
    // checked above, is the input's to keep.
}

// Run by the script as an unprivileged user outside the device's group.
TEST(PpdevRigUnprivileged, NoPermissionIsNamed)
{
    if (!std::getenv("RIG_UNPRIVILEGED"))
        GTEST_SKIP() << "run as root; the script runs this one as nobody";
    PpdevPortIo io({});
    try {
        io.read(889);
        ADD_FAILURE() << "no error";
    } catch (const PortIoError& e) {
        // The script gave the device to the group lp, which this user is not in.
        EXPECT_EQ(std::string(e.what()),
                  "/dev/parport0: prístup odmietnutý; zariadenie smie otvoriť skupina lp: pridajte "
                  "používateľa do skupiny lp: sudo usermod -aG lp $USER, potom sa odhláste a "
                  "prihláste");
    }
}

} // namespace
} // namespace diagnostika
