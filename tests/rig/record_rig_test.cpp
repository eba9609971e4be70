// Recording on real file systems inside the rig's guest: a disk that fills up while recording and a
// folder that becomes unwritable. Each time: one message naming the file and the system's reason,
// the files valid up to the last whole row, and the window measuring on.
//   RIG_RECORD_DIR  a folder on a small tmpfs (DiskFull) or one the test's user owns (Unwritable)
#include "game/form3.h"
#include "record/csvreader.h"
#include "record/recorder.h"
#include "support/fakeclock.h"
#include "support/fakejoystick.h"
#include "support/widgets.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <QScrollBar>
#include <QTimer>
#include <gtest/gtest.h>

namespace diagnostika::test {
namespace {

class RecordRig : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = QString::fromLocal8Bit(qgetenv("RIG_RECORD_DIR"));
        if (folder.isEmpty())
            GTEST_SKIP() << "RIG_RECORD_DIR is not set: this test runs in the rig";
        area.resize(400, 300);
        joystick.position = JoyInfo{1, 2, 3, 0};
        recorder.addFeed(form.feed());
        QObject::connect(&recorder, &record::Recorder::failed,
                         [this](const QString& t) { messages.push_back(t); });
        form.show(&area);
        for (QTimer* timer : form.client()->findChildren<QTimer*>())
            timer->stop();
        QString error;
        ASSERT_TRUE(recorder.start(folder, &error)) << error.toStdString();
    }
    void tick(int times)
    {
        for (int i = 0; i < times; ++i) {
            clock.advance(10);
            joystick.position->wXpos = static_cast<std::uint32_t>(i);
            form.Timer1_Timer();
        }
        recorder.sync();
    }
    void expectWholeRowsAndMeasuringGoesOn()
    {
        const QString readings = recorder.files().value(0);
        const auto rows = readCsvFile(readings);
        ASSERT_TRUE(rows) << "not whole rows: " << readings.toStdString();
        EXPECT_GE(rows->size(), 2u);
        EXPECT_FALSE(form.feed()->readingHeard()) << "the window's recording stopped";
        joystick.position->wXpos = 4321;
        form.Timer1_Timer();
        EXPECT_EQ(control<QLabel>(form.client(), "joy1")->text(), u"4321");
    }

    QString folder;
    FakeClock clock;
    FakeJoystick joystick;
    Form3 form{joystick};
    record::Recorder recorder{clock, QStringLiteral("rig")};
    QMdiArea area;
    std::vector<QString> messages;
};

TEST_F(RecordRig, DiskFull)
{
    tick(10);
    // Fill what is left of the small file system.
    QFile filler(QDir(folder).filePath(QStringLiteral("vypln")));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray block(4096, 'x');
    while (filler.write(block) == block.size()) {
    }
    filler.write(QByteArray(100, 'x'));
    tick(400);
    tick(400);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("_game."))) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("No space left on device")))
        << messages[0].toStdString();
    expectWholeRowsAndMeasuringGoesOn();
}

TEST_F(RecordRig, FolderBecomesUnwritable)
{
    tick(10);
    ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    // A setting changes: the metadata has to be written anew beside the rows.
    control<QScrollBar>(form.client(), "VScroll1")->setValue(200);
    tick(10);
    tick(10);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("Permission denied")))
        << messages[0].toStdString();
    expectWholeRowsAndMeasuringGoesOn();
}

} // namespace
} // namespace diagnostika::test
