#include "common/vibrationsourcepick.h"

#include "common/numbertext.h"

#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <algorithm>

namespace diagnostika {

std::optional<VibrationCapabilities>
offerVibrationSource(VibrationInputProvider& inputs, const VibrationSource& source,
                     QComboBox* rates, QLineEdit* fullScaleVolts, QLineEdit* millivoltsPerG,
                     QString* problem)
{
    VibrationError error;
    std::optional<VibrationCapabilities> caps = inputs.capabilities(source.id, &error);
    rates->clear();
    if (!caps || caps->rates.empty() || caps->channels < 1) {
        *problem = QStringLiteral("Vstup %1 sa nedá použiť: %2").arg(source.name, error.reason);
        return std::nullopt;
    }
    for (int rate : caps->rates)
        rates->addItem(QStringLiteral("%1 Hz").arg(rate), rate);
    const auto usual = std::ranges::find(caps->rates, inputs.rateInUse(source.id).value_or(48'000));
    rates->setCurrentIndex(usual != caps->rates.end()
                               ? static_cast<int>(usual - caps->rates.begin())
                               : rates->count() - 1);
    if (caps->scale.known) {
        const QLocale locale;
        fullScaleVolts->setText(fixedNumber(caps->scale.fullScaleVolts, 3, locale));
        millivoltsPerG->setText(fixedNumber(caps->scale.sensorVoltsPerG * 1000, 1, locale));
    }
    return caps;
}

} // namespace diagnostika
