// The real message box, not a recorded one.
#include "common/messages.h"

#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

namespace diagnostika {
namespace {

TEST(MessagesTest, ABoxWhoseWindowGoesAwayWhileItWaitsEndsCleanly)
{
    QPointer<QWidget> window = new QWidget;
    window->show();
    QString text;
    QString detail;
    // Runs inside the box's modal loop, as a timed close or the exit does.
    QTimer::singleShot(0, [&] {
        if (const auto* box = window->findChild<QMessageBox*>()) {
            text = box->text();
            detail = box->informativeText();
        }
        delete window.data();
    });
    showInformation(window, QStringLiteral("Diagnostika"),
                    QStringLiteral("Port používa iný program alebo zariadenie"),
                    QStringLiteral("zámok /run/lock/LCK..ttyS0 drží proces 4242"));
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(text, QStringLiteral("Port používa iný program alebo zariadenie"));
    EXPECT_EQ(detail, QStringLiteral("zámok /run/lock/LCK..ttyS0 drží proces 4242"));
}

} // namespace
} // namespace diagnostika
