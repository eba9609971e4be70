#include "common/repaintlimiter.h"

#include <QCoreApplication>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

namespace diagnostika {
namespace {

class Counting : public QWidget {
public:
    using QWidget::QWidget;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};

TEST(RepaintLimiter, HoldsRepaintsWithinTheIntervalAndLetsTheHeldOneThroughAfter)
{
    QWidget window;
    auto* child = new Counting(&window);
    child->resize(50, 20);
    window.resize(100, 50);
    window.show();
    QCoreApplication::processEvents();
    RepaintLimiter::install(&window, 60'000);
    RepaintLimiter::install(&window, 60'000); // one limiter per window
    ASSERT_EQ(window.findChildren<RepaintLimiter*>().size(), 1);
    auto* held = window.findChild<QTimer*>(QStringLiteral("held"));
    ASSERT_NE(held, nullptr);

    child->paints = 0;
    child->update();
    QCoreApplication::processEvents();
    EXPECT_EQ(child->paints, 1) << "the first repaint goes through";
    for (int i = 0; i < 5; ++i) {
        child->update();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(child->paints, 1) << "held within the interval";
    ASSERT_TRUE(held->isActive());
    QMetaObject::invokeMethod(held, "timeout", Qt::DirectConnection);
    EXPECT_EQ(child->paints, 2) << "every change held is drawn once the interval is over";
}

} // namespace
} // namespace diagnostika
