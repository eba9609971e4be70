#include "controlsection.h"

#include "common/measurementform.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QComboBox>
#include <QJsonValue>
#include <QLineEdit>
#include <QSet>
#include <cmath>
#include <optional>
#include <utility>

namespace diagnostika::setup {
namespace {

// A value as the text a control shows: files written by hand may give a list's number as a number.
std::optional<QString> textOf(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (std::isfinite(d) && d == std::floor(d) && std::abs(d) < 1e15)
            return QString::number(static_cast<qint64>(d));
        return QString::number(d);
    }
    return std::nullopt;
}

QString shown(const QJsonValue& value)
{
    if (const std::optional<QString> text = textOf(value))
        return *text;
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return value.isNull() ? QStringLiteral("null") : QStringLiteral("?");
}

QString notOffered(const QString& key, const QJsonValue& value)
{
    return QStringLiteral("%1: hodnotu „%2“ okno neponúka").arg(key, shown(value));
}

} // namespace

ControlSection::ControlSection(QString key, QString caption, std::function<MeasurementForm*()> form,
                               std::function<void()> open, std::vector<ControlSetting> settings)
    : key_(std::move(key)), caption_(std::move(caption)), form_(std::move(form)),
      open_(std::move(open)), settings_(std::move(settings))
{
}

bool ControlSection::isOpen() const
{
    const MeasurementForm* form = form_();
    return form && form->isOpen();
}

bool ControlSection::open()
{
    open_();
    return isOpen();
}

void ControlSection::close()
{
    if (MeasurementForm* form = form_())
        form->close();
}

QWidget* ControlSection::control(const QString& name) const
{
    const MeasurementForm* form = form_();
    if (!form || !form->client())
        return nullptr;
    return form->client()->findChild<QWidget*>(name);
}

QJsonObject ControlSection::save() const
{
    QJsonObject saved;
    for (const ControlSetting& setting : settings_) {
        if (setting.controls.size() > 1) {
            // A choice among option buttons: the caption of the one chosen.
            for (const QString& name : setting.controls) {
                const auto* button = qobject_cast<QAbstractButton*>(control(name));
                if (button && button->isChecked())
                    saved.insert(setting.key, button->text());
            }
            continue;
        }
        QWidget* widget = control(setting.controls.value(0));
        if (const auto* list = qobject_cast<QComboBox*>(widget)) {
            // A list the user has not picked from yet is left as the window starts it.
            if (list->currentIndex() >= 0)
                saved.insert(setting.key, list->currentText());
        } else if (const auto* entry = qobject_cast<QLineEdit*>(widget)) {
            saved.insert(setting.key, entry->text());
        } else if (const auto* slider = qobject_cast<QAbstractSlider*>(widget)) {
            saved.insert(setting.key, slider->value());
        } else if (const auto* box = qobject_cast<QAbstractButton*>(widget)) {
            saved.insert(setting.key, box->isChecked());
        }
    }
    return saved;
}

QStringList ControlSection::apply(const QJsonObject& settings)
{
    QStringList notApplied;
    QSet<QString> known;
    for (const ControlSetting& setting : settings_) {
        known.insert(setting.key);
        if (!settings.contains(setting.key))
            continue;
        const QJsonValue value = settings.value(setting.key);
        const std::optional<QString> text = textOf(value);

        if (setting.controls.size() > 1) {
            QAbstractButton* chosen = nullptr;
            for (const QString& name : setting.controls) {
                auto* button = qobject_cast<QAbstractButton*>(control(name));
                if (button && text && button->text() == *text)
                    chosen = button;
            }
            if (!chosen) {
                notApplied << notOffered(setting.key, value);
                continue;
            }
            if (!chosen->isChecked())
                chosen->click();
            continue;
        }

        QWidget* widget = control(setting.controls.value(0));
        if (auto* list = qobject_cast<QComboBox*>(widget)) {
            const int index = text ? list->findText(*text) : -1;
            if (index < 0) {
                notApplied << notOffered(setting.key, value);
                continue;
            }
            list->setCurrentIndex(index);
            Q_EMIT list->activated(index);
        } else if (auto* entry = qobject_cast<QLineEdit*>(widget)) {
            if (!text) {
                notApplied << notOffered(setting.key, value);
                continue;
            }
            entry->setText(*text);
            Q_EMIT entry->editingFinished();
        } else if (auto* slider = qobject_cast<QAbstractSlider*>(widget)) {
            const double d = value.toDouble(std::nan(""));
            if (!value.isDouble() || d != std::floor(d) || d < slider->minimum() ||
                d > slider->maximum()) {
                notApplied << notOffered(setting.key, value);
                continue;
            }
            slider->setValue(static_cast<int>(d));
        } else if (auto* box = qobject_cast<QAbstractButton*>(widget)) {
            if (!value.isBool()) {
                notApplied << notOffered(setting.key, value);
                continue;
            }
            if (box->isChecked() != value.toBool())
                box->click();
        } else {
            notApplied
                << QStringLiteral("%1: okno toto nastavenie teraz neukazuje").arg(setting.key);
        }
    }
    for (auto it = settings.begin(); it != settings.end(); ++it) {
        if (!known.contains(it.key()))
            notApplied << QStringLiteral("%1: také nastavenie okno nemá").arg(it.key());
    }
    return notApplied;
}

std::vector<ControlSetting> serialWindowSettings()
{
    // The port last: it opens with the inputs already chosen, and fails, if it does, as when the
    // user picks it.
    return {
        {QStringLiteral("speedInput"), {QStringLiteral("vstup")}},
        {QStringLiteral("pulsesPerRevolution"), {QStringLiteral("snimace")}},
        {QStringLiteral("interval"), {QStringLiteral("interval")}},
        {QStringLiteral("diameter_m"), {QStringLiteral("priemerobj")}},
        {QStringLiteral("displacementInput"), {QStringLiteral("vstupposuvu")}},
        {QStringLiteral("displacementMark_mm"), {QStringLiteral("znacka")}},
        {QStringLiteral("angleInput"), {QStringLiteral("vstupuhla")}},
        {QStringLiteral("angleMark_deg"), {QStringLiteral("znackau")}},
        {QStringLiteral("durationInput"), {QStringLiteral("vstupintervalu")}},
        {QStringLiteral("frequencyInput"), {QStringLiteral("vstupfrekv")}},
        {QStringLiteral("port"), {QStringLiteral("port")}},
    };
}

std::vector<ControlSetting> parallelWindowSettings()
{
    return {
        {QStringLiteral("quantity"), {QStringLiteral("volba")}},
        {QStringLiteral("angleRange_deg"),
         {QStringLiteral("o45"), QStringLiteral("o180"), QStringLiteral("o290"),
          QStringLiteral("o360")}},
        {QStringLiteral("negative"), {QStringLiteral("NEG")}},
        {QStringLiteral("period_ms"), {QStringLiteral("takttimera")}},
        {QStringLiteral("port"), {QStringLiteral("port")}},
    };
}

std::vector<ControlSetting> gameWindowSettings()
{
    return {{QStringLiteral("period_ms"), {QStringLiteral("VScroll1")}}};
}

std::vector<ControlSetting> trendWindowSettings()
{
    return {{QStringLiteral("span"), {QStringLiteral("rozsah")}}};
}

std::vector<ControlSetting> vibrationWindowSettings()
{
    // The source first: it fills the rate and channel lists with what it offers.
    return {
        {QStringLiteral("source"), {QStringLiteral("zdroj")}},
        {QStringLiteral("sampleRate"), {QStringLiteral("vzorkovanie")}},
        {QStringLiteral("channel"), {QStringLiteral("kanal")}},
        {QStringLiteral("sensitivity_mV_per_g"), {QStringLiteral("citlivost")}},
        {QStringLiteral("inputRange_V"), {QStringLiteral("rozsah")}},
        {QStringLiteral("unit"), {QStringLiteral("jednotka")}},
        {QStringLiteral("machineGroup"), {QStringLiteral("skupina")}},
        {QStringLiteral("foundation"), {QStringLiteral("zaklad")}},
        {QStringLiteral("band"), {QStringLiteral("pasmo")}},
        {QStringLiteral("lines"), {QStringLiteral("ciary")}},
        {QStringLiteral("window"), {QStringLiteral("okno")}},
        {QStringLiteral("averaging"), {QStringLiteral("priemerovanie")}},
        {QStringLiteral("averages"), {QStringLiteral("pocet")}},
        {QStringLiteral("amplitude"), {QStringLiteral("amplituda")}},
        {QStringLiteral("axis"), {QStringLiteral("os")}},
    };
}

std::vector<ControlSetting> orderWindowSettings()
{
    // The source first, as in the vibration window; the orders before the speed range, as typing
    // them starts the charts afresh.
    return {
        {QStringLiteral("source"), {QStringLiteral("zdroj")}},
        {QStringLiteral("sampleRate"), {QStringLiteral("vzorkovanie")}},
        {QStringLiteral("sensitivity_mV_per_g"), {QStringLiteral("citlivost")}},
        {QStringLiteral("inputRange_V"), {QStringLiteral("rozsah")}},
        {QStringLiteral("orders"), {QStringLiteral("rady")}},
        {QStringLiteral("resolution"), {QStringLiteral("rozlisenie")}},
        {QStringLiteral("spectrumRevolutions"), {QStringLiteral("otackySpektra")}},
        {QStringLiteral("mapTo"), {QStringLiteral("mapaRad")}},
        {QStringLiteral("rangeFrom_rpm"), {QStringLiteral("od")}},
        {QStringLiteral("rangeTo_rpm"), {QStringLiteral("do")}},
    };
}

} // namespace diagnostika::setup
