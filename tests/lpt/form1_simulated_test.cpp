// The window on the simulated converter, as a user sees it with --simulate: the real reader, the
// device model and the drawing, with a picture of the result left in the build folder.
#include "common/numbertext.h"
#include "common/picturebox.h"
#include "lpt/form1.h"
#include "platform/sim/simtlc549.h"
#include "support/fakeclock.h"
#include "support/widgets.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPixmap>
#include <gtest/gtest.h>

namespace diagnostika {
namespace {

using test::control;

TEST(Form1Simulated, TracesTheDriftingTemperatureAndShowsIt)
{
    QLocale::setDefault(QLocale(QLocale::Slovak, QLocale::Slovakia));
    test::FakeClock clock(60'000);
    SimulatedPortIo io({888, 956}, SimulatedPortIo::driftingInputs(clock));
    QMdiArea area;
    area.resize(520, 300);
    Form1 form(io);
    form.show(&area);

    for (auto [list, entry] : {std::pair{"port", QStringLiteral("LPT1")},
                               std::pair{"volba", QStringLiteral("TeplotaD")}}) {
        auto* combo = control<QComboBox>(form.client(), list);
        const int index = combo->findText(entry);
        combo->setCurrentIndex(index);
        Q_EMIT combo->activated(index);
    }
    for (int i = 0; i < 400; ++i) {
        clock.advance(750);
        form.Timer1_Timer();
    }

    // The input stays between about 1 and 4 V: 25 to 41 degrees on the "TeplotaD" scale.
    const QString shown = control<QLabel>(form.client(), "teplotac")->text();
    const std::optional<double> degrees = readNumber(shown, QLocale());
    ASSERT_TRUE(degrees) << shown.toStdString();
    EXPECT_GE(*degrees, 24.0);
    EXPECT_LE(*degrees, 42.0);
    const auto& segments = control<PictureBox>(form.client(), "Picture1")->segments();
    ASSERT_EQ(segments.size(), 400u);
    for (std::size_t i = 1; i < segments.size(); ++i) {
        EXPECT_GE(segments[i].to.y(), 1400 - 280 * 4.1);
        EXPECT_LE(segments[i].to.y(), 1400 - 280 * 0.9);
    }

    const QString path = QDir(QStringLiteral(DIAGNOSTIKA_TEST_OUTPUT_DIR))
                             .filePath(QStringLiteral("lpt_form1_simulated.png"));
    EXPECT_TRUE(form.window()->grab().save(path, "PNG")) << path.toStdString();
    form.close();
    QLocale::setDefault(QLocale::c());
}

} // namespace
} // namespace diagnostika
