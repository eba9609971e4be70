#pragma once
// A whole program on fakes, as the setup tests drive it: its main window, the windows it opens,
// the boxes it shows.

#include "com/form2.h"
#include "common/messages.h"
#include "platform/backends.h"
#include "platform/sim/simvibration.h"
#include "shell/mdiform1.h"
#include "support/fakeclock.h"
#include "support/fakejoystick.h"
#include "support/fakeportio.h"
#include "support/fakeserial.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QScrollBar>
#include <QStringList>
#include <gtest/gtest.h>

namespace diagnostika::test {

struct Program {
    Program()
    {
        auto fake = std::make_unique<FakeClock>(50'000);
        clock = fake.get();
        backends.vibration = std::make_unique<SimulatedVibrationInputProvider>(*clock);
        backends.clock = std::move(fake);
        backends.joystick = std::make_unique<FakeJoystick>();
        backends.portIo = std::make_unique<FakePortIo>();
        auto lines = std::make_unique<FakeSerialLinesProvider>();
        serial = lines.get();
        backends.serial = std::move(lines);
        main = std::make_unique<MDIForm1>(backends);
        main->show();
        previous = setInformationPresenter([this](QWidget*, const QString&, const QString& text,
                                                  const QString&) { boxes << text; });
    }
    ~Program()
    {
        main.reset();
        setInformationPresenter(previous);
    }

    // What a control of an open window shows: a list's item, an entry's text, a scroll bar's
    // value, a box's check.
    QString shown(MeasurementForm& form, const QString& name) const
    {
        QWidget* w = form.client() ? form.client()->findChild<QWidget*>(name) : nullptr;
        if (auto* list = qobject_cast<QComboBox*>(w))
            return list->currentText();
        if (auto* entry = qobject_cast<QLineEdit*>(w))
            return entry->text();
        if (auto* bar = qobject_cast<QScrollBar*>(w))
            return QString::number(bar->value());
        if (auto* button = qobject_cast<QAbstractButton*>(w))
            return button->isChecked() ? QStringLiteral("true") : QStringLiteral("false");
        return QStringLiteral("<no control>");
    }

    Backends backends;
    FakeClock* clock = nullptr;
    FakeSerialLinesProvider* serial = nullptr;
    std::unique_ptr<MDIForm1> main;
    QStringList boxes;
    InformationPresenter previous;
};

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

} // namespace diagnostika::test
