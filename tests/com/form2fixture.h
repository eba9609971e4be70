#pragma once
// A serial window on a fake port, opened in an MDI area, with message boxes recorded.

#include "com/form2.h"
#include "common/messages.h"
#include "common/picturebox.h"
#include "support/fakeclock.h"
#include "support/fakeserial.h"
#include "support/widgets.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMdiArea>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace diagnostika::test {

struct ShownBox {
    QString title;
    QString text;
    QString detail;
};

class Form2Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousLocale_ = QLocale();
        QLocale::setDefault(QLocale(QLocale::Slovak, QLocale::Slovakia));
        previousPresenter_ = setInformationPresenter(
            [this](QWidget*, const QString& title, const QString& text, const QString& detail) {
                boxes.push_back({title, text, detail});
            });
        area.resize(800, 600);
        form = std::make_unique<Form2>(serial, clock);
        form->show(&area);
    }

    void TearDown() override
    {
        form.reset();
        setInformationPresenter(previousPresenter_);
        QLocale::setDefault(previousLocale_);
    }

    // Closes the window as the user does and lets the toolkit finish tearing it down.
    void closeWindow()
    {
        form->close();
        settle();
    }
    static void settle()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }

    QWidget* client() const { return form->client(); }
    QComboBox* list(const char* name) const { return control<QComboBox>(client(), name); }
    QLabel* label(const char* name) const { return control<QLabel>(client(), name); }
    QLineEdit* entry(const char* name) const { return control<QLineEdit>(client(), name); }
    PictureBox* picture(const char* name) const { return control<PictureBox>(client(), name); }
    QTimer* timer(const char* name) const { return control<QTimer>(client(), name); }
    // A readout as shown; what pulses changed is shown first, as the screen would by now.
    QString text(const char* name) const
    {
        form->showPulseReadouts();
        const QLabel* l = label(name);
        return l ? l->text() : QStringLiteral("<missing>");
    }

    // Picks an item as the user does: it becomes the selection, and the list reports the pick.
    void pick(const char* listName, const QString& item) const
    {
        QComboBox* l = list(listName);
        ASSERT_NE(l, nullptr);
        const int index = l->findText(item);
        ASSERT_GE(index, 0) << item.toStdString();
        l->setCurrentIndex(index);
        Q_EMIT l->activated(index);
    }

    void openPort(const QString& name = QStringLiteral("COM1")) { pick("port", name); }

    FakeSerialLines& lines() const { return *serial.lines(); }

    // One pulse on a line, rising at `start` and falling at `end`.
    void pulse(int code, std::int64_t start = 0, std::int64_t end = 1)
    {
        ASSERT_TRUE(lines().pulse(code, start, end)) << "the port is not open";
    }
    void pulses(int code, int count)
    {
        for (int i = 0; i < count; ++i)
            pulse(code, 10 * i, 10 * i + 5);
    }

    double knobLeft() const { return picture("posuvnik")->property("leftTwips").toDouble(); }
    // Where the knob widget stands on its track, in pixels.
    int knobPixels() const
    {
        form->showPulseReadouts();
        return picture("posuvnik")->x() - picture("posuvadlo")->contentsRect().x();
    }

    FakeClock clock;
    FakeSerialLinesProvider serial;
    QMdiArea area;
    std::unique_ptr<Form2> form;
    std::vector<ShownBox> boxes;

private:
    QLocale previousLocale_;
    InformationPresenter previousPresenter_;
};

} // namespace diagnostika::test
