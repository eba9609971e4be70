#include "common/colour.h"
#include "common/picturebox.h"
#include "common/twips.h"

#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <gtest/gtest.h>

using namespace diagnostika;

namespace {

TEST(ColourTest, ValuesAreBlueGreenRedAndSystemColoursFollowThePalette)
{
    EXPECT_EQ(toQColor(0x00000FFF), QColor(255, 15, 0));
    EXPECT_EQ(toQColor(0x00008080), QColor(128, 128, 0));
    EXPECT_EQ(toQColor(0x00FF0000), QColor(0, 0, 255));
    EXPECT_EQ(colourValue(255, 15, 0), 0x00000FFFu);

    QPalette palette;
    palette.setColor(QPalette::Active, QPalette::Button, QColor(1, 2, 3));
    EXPECT_EQ(toQColor(syscolour::buttonFace, palette), QColor(1, 2, 3));
    // The menu colours follow the desktop too, so text on them stays readable in a dark scheme.
    palette.setColor(QPalette::Active, QPalette::Window, QColor(4, 5, 6));
    EXPECT_EQ(toQColor(systemColour(4), palette), QColor(4, 5, 6));
    // No Qt role for the application workspace: the classic grey.
    EXPECT_EQ(toQColor(syscolour::appWorkspace, palette), QColor(128, 128, 128));
    // An unknown system colour never reads past the table.
    EXPECT_TRUE(toQColor(systemColour(200), palette).isValid());
}

QImage render(PictureBox& box, qreal dpr)
{
    QImage image(box.size() * dpr, QImage::Format_RGB32);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::white);
    box.render(&image);
    return image;
}

TEST(PictureBoxTest, KeepsSegmentsUntilClearedAndRepaintsThem)
{
    PictureBox box;
    box.resize(200, 100);
    box.setBackColour(0x00000000);
    auto* label = new QLabel(QStringLiteral("500 ms"), &box);
    auto* reference =
        new LineElement(QStringLiteral("Line2"), {0, 480}, {3000, 480}, 0x0000C0C0, &box);

    box.line({0, 0}, {1500, 750}, 0x000000FF);
    box.line({1500, 750}, {3000, 750}, 0x0000FF00);
    ASSERT_EQ(box.segments().size(), 2u);
    EXPECT_EQ(box.segments()[1], (Segment{{1500, 750}, {3000, 750}, 0x0000FF00}));

    // Painting twice, as after being covered and uncovered, gives the same picture.
    const QImage first = render(box, 1.0);
    const QImage again = render(box, 1.0);
    EXPECT_EQ(first, again);
    const QPoint origin = box.contentsRect().topLeft();
    EXPECT_EQ(origin * twipsPerPixel, QPoint(PictureBox::borderTwips, PictureBox::borderTwips));
    // The green segment at y = 750 twips is 50 pixels down, and drawn.
    EXPECT_EQ(first.pixelColor(origin + QPoint(150, 50)), QColor(0, 255, 0));
    // The reference line at y = 480 twips, 32 pixels down.
    EXPECT_EQ(first.pixelColor(origin + QPoint(100, 32)), QColor(192, 192, 0));

    box.clear();
    EXPECT_TRUE(box.segments().empty());
    EXPECT_EQ(label->parent(), &box);
    EXPECT_EQ(box.findChild<LineElement*>(QStringLiteral("Line2")), reference);
    const QImage cleared = render(box, 1.0);
    EXPECT_EQ(cleared.pixelColor(origin + QPoint(150, 50)), QColor(0, 0, 0));
    EXPECT_EQ(cleared.pixelColor(origin + QPoint(100, 32)), QColor(192, 192, 0));
}

TEST(PictureBoxTest, LinesStayOnePixelWideAtHighDensity)
{
    PictureBox box;
    box.resize(100, 60);
    box.setBackColour(0x00FFFFFF);
    box.line({0, 300}, {1200, 300}, 0x00000000);
    const QImage image = render(box, 2.0);
    const QPoint origin = box.contentsRect().topLeft() * 2;
    int dark = 0;
    for (int y = origin.y() + 30; y < origin.y() + 50; ++y)
        dark += image.pixelColor(origin.x() + 40, y) == QColor(0, 0, 0) ? 1 : 0;
    EXPECT_EQ(dark, 1); // one device pixel: sharp, not a blurred two-pixel band
}

} // namespace

// Counts the paints a widget gets.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

TEST(PictureBoxTest, EveryChangeAfterAPaintIsPaintedAgainHiddenOrNot)
{
    // Changes between two paints ask for one repaint only; none may be left unpainted.
    PictureBox box;
    box.resize(40, 20);
    PaintCounter counter;
    box.installEventFilter(&counter);
    const auto paintedAfterChanges = [&](ColourValue last) {
        const int before = counter.paints;
        box.setBackColour(0x00000000);
        box.setBackColour(last);
        QCoreApplication::processEvents();
        return counter.paints > before && box.backColour() == last;
    };
    box.show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(paintedAfterChanges(0x000000FF));
    EXPECT_TRUE(paintedAfterChanges(0x0000FF00));
    // Changed while hidden: showing it paints it, and later changes are painted as before.
    box.hide();
    box.setBackColour(0x00FF0000);
    box.show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(paintedAfterChanges(0x000000FF));
    EXPECT_TRUE(paintedAfterChanges(0x0000FF00));
}
