// The lifecycle every window shares, on a window with one control and a count of its unloads.
#include "common/measurementform.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMdiArea>
#include <QTimer>
#include <gtest/gtest.h>

namespace diagnostika {
namespace {

class CountingForm : public MeasurementForm {
public:
    CountingForm()
        : MeasurementForm(QStringLiteral("test"), QStringLiteral("Skúška"), QSize(1500, 1500),
                          nullptr)
    {
    }

    int loads = 0;
    int unloads = 0;
    QLabel* label = nullptr;
    QTimer* timer = nullptr;

protected:
    void buildControls(QWidget* client) override
    {
        label = new QLabel(client);
        timer = new QTimer(client);
    }
    void formLoad() override
    {
        ++loads;
        timer->start(1000);
    }
    // Touches its controls, as the windows' own unload handling does.
    void formUnload() override
    {
        ++unloads;
        timer->stop();
    }
    void releaseControls() override
    {
        label = nullptr;
        timer = nullptr;
    }
};

void destroyClosedWindows()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(MeasurementForm, ASecondCloseBeforeTheWindowIsGoneUnloadsNothingMore)
{
    QMdiArea area;
    CountingForm form;
    int closed = 0;
    QObject::connect(&form, &MeasurementForm::closed, [&] { ++closed; });
    form.show(&area);
    form.close();
    form.close();
    EXPECT_EQ(form.unloads, 1);
    destroyClosedWindows();
    EXPECT_FALSE(form.isOpen());
    EXPECT_EQ(form.label, nullptr);
    EXPECT_EQ(closed, 1);
    form.close(); // with no window at all
    EXPECT_EQ(form.unloads, 1);
}

TEST(MeasurementForm, OpeningAgainBeforeTheClosedWindowIsGoneBuildsAFreshOne)
{
    QMdiArea area;
    CountingForm form;
    int closed = 0;
    QObject::connect(&form, &MeasurementForm::closed, [&] { ++closed; });
    form.show(&area);
    QMdiSubWindow* first = form.window();
    form.close();
    form.show(&area);
    EXPECT_EQ(closed, 1);
    EXPECT_NE(form.window(), nullptr);
    EXPECT_NE(form.window(), first);
    EXPECT_EQ(form.loads, 2);
    ASSERT_NE(form.label, nullptr);
    EXPECT_TRUE(form.timer->isActive());
    destroyClosedWindows();
    // The new window and its controls are untouched by the old one going.
    EXPECT_TRUE(form.isOpen());
    EXPECT_NE(form.label, nullptr);
    form.close();
    EXPECT_EQ(form.unloads, 2);
}

} // namespace
} // namespace diagnostika
