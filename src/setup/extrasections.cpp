#include "extrasections.h"

#include "controlsection.h"
#include "orders/orderform.h"
#include "publish/publisher.h"

#include <QPushButton>

namespace diagnostika::setup {
namespace {

const QString captureKey = QStringLiteral("capture");
const QString live = QStringLiteral("priebežne");
const QString byRange = QStringLiteral("podľa otáčok");
const QString byHand = QStringLiteral("ručne");

void click(const OrderForm& form, const char* button)
{
    if (auto* b = form.client()->findChild<QPushButton*>(QString::fromLatin1(button)))
        b->click();
}

} // namespace

OrderSection::OrderSection(std::function<OrderForm*()> form, std::function<void()> open)
    : form_(std::move(form)), controls_(std::make_unique<ControlSection>(
                                  QStringLiteral("ord"), QStringLiteral("Rádová analýza"),
                                  [f = form_]() -> MeasurementForm* { return f(); },
                                  std::move(open), orderWindowSettings()))
{
}

OrderSection::~OrderSection() = default;

QString OrderSection::key() const
{
    return controls_->key();
}

QString OrderSection::caption() const
{
    return controls_->caption();
}

bool OrderSection::isOpen() const
{
    return controls_->isOpen();
}

bool OrderSection::open()
{
    return controls_->open();
}

void OrderSection::close()
{
    controls_->close();
}

QJsonObject OrderSection::save() const
{
    QJsonObject saved = controls_->save();
    const OrderForm* form = form_();
    using Capture = OrderForm::Capture;
    // A capture done or stopped leaves the window as it was asked to capture: by the range it
    // waits again, by hand it shows the last frames.
    QString capture = live;
    if (form->capturesByRange() && form->capture() != Capture::Live)
        capture = byRange;
    else if (form->capture() == Capture::Running)
        capture = byHand;
    saved.insert(captureKey, capture);
    return saved;
}

QStringList OrderSection::apply(const QJsonObject& settings)
{
    // The controls first: typing other orders ends a capture, and the range must be in place
    // before the window is armed for it.
    QJsonObject controls = settings;
    controls.remove(captureKey);
    QStringList notApplied = controls_->apply(controls);
    if (!settings.contains(captureKey))
        return notApplied;
    const QString wanted = settings.value(captureKey).toString();
    OrderForm& form = *form_();
    using Capture = OrderForm::Capture;
    const auto armedOrRanging = [&form] {
        return form.capture() == Capture::Armed ||
               (form.capture() == Capture::Running && form.capturesByRange());
    };
    if (wanted != live && wanted != byRange && wanted != byHand) {
        notApplied << QStringLiteral("%1: hodnotu „%2“ okno neponúka")
                          .arg(captureKey, settings.value(captureKey).toVariant().toString());
        return notApplied;
    }
    // Each step as the buttons take it: "Podľa otáčok" arms or cancels, "Štart" starts or stops.
    if (wanted != byRange && armedOrRanging())
        click(form, "podlaOtacok");
    if (wanted == live && form.capture() == Capture::Running)
        click(form, "start");
    if (wanted == byHand && form.capture() != Capture::Running)
        click(form, "start");
    if (wanted == byRange && !armedOrRanging()) {
        click(form, "podlaOtacok");
        if (!armedOrRanging())
            notApplied << QStringLiteral("%1: „%2“ potrebuje platný rozsah otáčok od – do")
                              .arg(captureKey, byRange);
    }
    return notApplied;
}

PublishSection::PublishSection(publish::Publisher& publisher,
                               std::function<void(const publish::PublishSettings&)> start)
    : publisher_(publisher), start_(std::move(start))
{
}

bool PublishSection::isOpen() const
{
    return publisher_.isRunning();
}

void PublishSection::close()
{
    if (publisher_.isRunning())
        publisher_.stop();
}

QJsonObject PublishSection::save() const
{
    return publisher_.settings().toJson();
}

QStringList PublishSection::apply(const QJsonObject& settings)
{
    QStringList notApplied;
    const QJsonObject known = publish::PublishSettings{}.toJson();
    for (auto it = settings.begin(); it != settings.end(); ++it) {
        if (it.key().compare(QLatin1String("password"), Qt::CaseInsensitive) == 0)
            notApplied << QStringLiteral(
                              "%1: heslo sa v nastavení nepoužije; uveďte súbor, v ktorom "
                              "je (passwordFile)")
                              .arg(it.key());
        else if (!known.contains(it.key()) && it.key() != u"caFile" && it.key() != u"certFile" &&
                 it.key() != u"keyFile")
            notApplied << QStringLiteral("%1: také nastavenie odosielanie nemá").arg(it.key());
    }
    QString error;
    const std::optional<publish::PublishSettings> chosen =
        publish::PublishSettings::fromJson(settings, &error);
    if (!chosen) {
        notApplied << error + QStringLiteral("; odosielanie sa nezačalo");
        return notApplied;
    }
    if (!chosen->complete()) {
        notApplied << QStringLiteral("chýba server alebo názov stanice; odosielanie sa nezačalo");
        return notApplied;
    }
    // Publishing as set already goes on: a new connection would only drop the one there is.
    if (!(publisher_.isRunning() && publisher_.settings() == *chosen))
        start_(*chosen);
    return notApplied;
}

} // namespace diagnostika::setup
