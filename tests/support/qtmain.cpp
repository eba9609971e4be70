// The main of every test binary: one QApplication for the whole run, then GoogleTest.
#include <QApplication>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    // Settings, outboxes and documents go to a test area (~/.qttest), never into the user's own;
    // and each test binary has a home of its own, since ctest runs several at once and two that
    // kept the same settings file or outbox would read each other's.
    QTemporaryDir home;
    if (home.isValid())
        qputenv("HOME", QFile::encodeName(home.path()));
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
