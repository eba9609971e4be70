#include "replayform.h"

#include "com/form2.h"
#include "common/controls.h"
#include "common/speedinput.h"
#include "common/twips.h"
#include "trend/trendform.h"
#include "vibration/vibrationform.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <cmath>

namespace diagnostika::replay {
namespace {

std::int64_t toUs(double s)
{
    return static_cast<std::int64_t>(std::llround(s * 1e6));
}

QString clockText(double s)
{
    const auto whole = static_cast<std::int64_t>(std::floor(std::max(0.0, s)));
    const std::int64_t h = whole / 3600, m = whole / 60 % 60, sec = whole % 60;
    return h > 0 ? QStringLiteral("%1:%2:%3")
                       .arg(h)
                       .arg(m, 2, 10, QLatin1Char('0'))
                       .arg(sec, 2, 10, QLatin1Char('0'))
                 : QStringLiteral("%1:%2").arg(m).arg(sec, 2, 10, QLatin1Char('0'));
}

// Picks a list's item or sets an entry as the user would, so the window's own handlers run.
void applyValue(QWidget* client, const QString& name, const QString& value)
{
    if (auto* list = client->findChild<QComboBox*>(name)) {
        const int index = list->findText(value);
        if (index >= 0 && index != list->currentIndex()) {
            list->setCurrentIndex(index);
            Q_EMIT list->activated(index);
        }
    } else if (auto* entry = client->findChild<QLineEdit*>(name)) {
        if (entry->text() != value) {
            entry->setText(value);
            Q_EMIT entry->editingFinished();
        }
    }
}

// What the replay picks itself: the port (once, at the start) and the vibration source.
bool replaysOwn(const QString& name)
{
    for (const char* own : {"port", "device", "captureMode", "zdroj", "kanal", "vzorkovanie"}) {
        if (name == QLatin1StringView(own))
            return true;
    }
    return false;
}

} // namespace

ReplayForm::ReplayForm(Recording recording, QMdiArea* area, QObject* parent)
    : MeasurementForm(QStringLiteral("replay"), QStringLiteral("Prehrávanie záznamu"),
                      QSize(7800, 2100), parent),
      recording_(std::move(recording)), area_(area)
{
    setObjectName(QStringLiteral("ReplayForm"));
    auto since = std::make_shared<QElapsedTimer>();
    since->start();
    wallNs_ = [since] { return since->nsecsElapsed(); };
}

void ReplayForm::setWallClock(std::function<std::int64_t()> nanoseconds)
{
    wallNs_ = std::move(nanoseconds);
    lastWallNs_ = wallNs_();
}

ReplayForm::~ReplayForm()
{
    teardown();
    delete window();
}

void ReplayForm::buildControls(QWidget* client)
{
    client->setObjectName(QStringLiteral("ReplayForm"));
    const QString name =
        QDir::toNativeSeparators(recording_.folder) +
        (recording_.started.isEmpty() ? QString() : QStringLiteral(", ") + recording_.started);
    auto* what = makeLabel(client, QStringLiteral("zaznam"), name, 120, 90, 7560, 255);
    what->setToolTip(name);
    play_ = new QPushButton(QStringLiteral("&Prehrať"), client);
    play_->setObjectName(QStringLiteral("prehrat"));
    play_->setGeometry(twipRect(120, 420, 1300, 375));
    makeLabel(client, QStringLiteral("LabelPace"), QStringLiteral("Rýchlosť:"), 1560, 480, 800,
              255);
    paceList_ = makeList(client, QStringLiteral("rychlost"), 2400, 450, 2000, 315);
    position_ = makeLabel(client, QStringLiteral("poloha"), QString(), 4560, 480, 3120, 255);
    slider_ = new QSlider(Qt::Horizontal, client);
    slider_->setObjectName(QStringLiteral("posuvnik"));
    slider_->setGeometry(twipRect(120, 900, 7560, 300));
    note_ = makeLabel(client, QStringLiteral("poznamka"), QString(), 120, 1260, 7560, 780);
    note_->setWordWrap(true);
    note_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    connect(play_, &QPushButton::clicked, this, [this] { playing_ ? pause() : play(); });
    connect(paceList_, &QComboBox::activated, this,
            [this](int index) { setPace(static_cast<Pace>(index)); });
    connect(slider_, &QSlider::sliderReleased, this,
            [this] { seek(recording_.beginS + slider_->value()); });
    connect(slider_, &QSlider::valueChanged, this, [this](int value) {
        if (!slider_->isSliderDown() && !slider_->signalsBlocked())
            seek(recording_.beginS + value);
    });
    pumpTimer_ = makeTimer(client, QStringLiteral("Timer1"), pumpMs);
    connect(pumpTimer_, &QTimer::timeout, this, &ReplayForm::pump);
    pumpTimer_->start();
}

void ReplayForm::formLoad()
{
    for (const char* item : {"skutočná", "10 ×", "čo najrýchlejšie", "všetko naraz"})
        paceList_->addItem(QString::fromUtf8(item));
    paceList_->setCurrentIndex(static_cast<int>(pace_));
    slider_->blockSignals(true);
    slider_->setRange(0, static_cast<int>(std::ceil(recording_.endS - recording_.beginS)));
    slider_->blockSignals(false);
    playing_ = false;
    // Opened again after closing: the played windows start again from the beginning.
    teardown();
    build();
    note_->setText(damageText());
    showPosition();
}

void ReplayForm::formUnload()
{
    // The played windows belong to this one: they close with it. Their objects stay until this
    // one goes or plays again, as their windows may be closing in the same turn.
    playing_ = false;
    for (MeasurementForm* form :
         {static_cast<MeasurementForm*>(form2_.get()), static_cast<MeasurementForm*>(trend_.get()),
          static_cast<MeasurementForm*>(vibration_.get())}) {
        if (form)
            form->close();
    }
}

void ReplayForm::releaseControls()
{
    position_ = note_ = nullptr;
    paceList_ = nullptr;
    play_ = nullptr;
    slider_ = nullptr;
    pumpTimer_ = nullptr;
}

QString ReplayForm::damageText() const
{
    QStringList lines;
    for (const FileStop& stop : recording_.stops)
        lines.append(stopText(stop));
    if (lines.isEmpty())
        return {};
    return QStringLiteral("Prehrá sa po miesto, kde sa súbor končí alebo je poškodený. ") +
           lines.join(QLatin1Char(' '));
}

void ReplayForm::build()
{
    timeline_ = std::make_unique<Timeline>(recording_);
    clock_ = std::make_unique<ReplayClock>(*timeline_);
    serial_ = std::make_unique<ReplaySerialLinesProvider>(*timeline_);
    vibrationInputs_ = std::make_unique<ReplayVibrationInputProvider>(*timeline_);
    timers_ = std::make_unique<HandTimers>();
    const auto mark = [](MeasurementForm& form) {
        if (form.window())
            form.window()->setWindowTitle(form.window()->windowTitle() +
                                          QStringLiteral(" – záznam"));
    };
    comSettingsApplied_ = vibSettingsApplied_ = 0;
    if (!recording_.comJson.isEmpty()) {
        form2_ = std::make_unique<Form2>(*serial_, *clock_);
        form2_->show(area_);
        mark(*form2_);
        trend_ = std::make_unique<TrendForm>(*form2_->speedInput(), *clock_);
        trend_->show(area_);
        mark(*trend_);
        // The whole recording is what one opens it to see.
        applyValue(trend_->client(), QStringLiteral("rozsah"), QStringLiteral("všetko"));
    }
    if (!recording_.samples.empty()) {
        SpeedInput* speed = form2_ ? form2_->speedInput() : nullptr;
        if (!speed) {
            noSpeed_ = std::make_unique<SpeedInput>();
            speed = noSpeed_.get();
        }
        vibration_ = std::make_unique<VibrationForm>(*vibrationInputs_, *speed);
        vibration_->show(area_);
        mark(*vibration_);
    }
    for (MeasurementForm* form :
         {static_cast<MeasurementForm*>(form2_.get()), static_cast<MeasurementForm*>(trend_.get()),
          static_cast<MeasurementForm*>(vibration_.get())}) {
        if (!form)
            continue;
        timers_->adopt(form->client());
        // A played window closed and opened again has new timers.
        connect(form, &MeasurementForm::opened, timers_.get(),
                [this, form] { timers_->adopt(form->client()); });
    }
    // The settings as they stood at the start, then the port, as the user picked them.
    applySettings();
    if (form2_) {
        QString port = QStringLiteral("COM1");
        for (const RecordedSettings& s : recording_.comSettings) {
            const auto found = s.values.find(QStringLiteral("port"));
            if (found != s.values.end() && !found->second.isEmpty()) {
                port = found->second;
                break;
            }
        }
        applyValue(form2_->client(), QStringLiteral("port"), port);
    }
    Q_EMIT windowsBuilt();
}

void ReplayForm::teardown()
{
    vibration_.reset();
    trend_.reset();
    form2_.reset();
    noSpeed_.reset();
    timers_.reset();
    vibrationInputs_.reset();
    serial_.reset();
    clock_.reset();
    timeline_.reset();
}

bool ReplayForm::applySettings()
{
    // On the same microsecond scale as the moments advanceTo() stops at, so a change is never
    // missed by a rounding of its seconds.
    const std::int64_t now = timeline_ ? timeline_->positionUs() : 0;
    const auto apply = [now](MeasurementForm* form, const std::vector<RecordedSettings>& all,
                             std::size_t& applied) {
        while (applied < all.size() && (applied == 0 || toUs(all[applied].atS) <= now)) {
            if (form && form->client()) {
                for (const auto& [name, value] : all[applied].values) {
                    if (!replaysOwn(name))
                        applyValue(form->client(), name, value);
                }
            }
            ++applied;
        }
    };
    const std::size_t before = comSettingsApplied_ + vibSettingsApplied_;
    apply(form2_.get(), recording_.comSettings, comSettingsApplied_);
    apply(vibration_.get(), recording_.vibSettings, vibSettingsApplied_);
    return comSettingsApplied_ + vibSettingsApplied_ > before;
}

void ReplayForm::advanceTo(std::int64_t targetUs)
{
    if (!timeline_)
        return;
    targetUs = std::min(targetUs, toUs(recording_.endS));
    const auto nextSettingsUs = [this]() -> std::optional<std::int64_t> {
        std::optional<std::int64_t> next;
        for (const auto& [all, applied] :
             {std::pair{&recording_.comSettings, comSettingsApplied_},
              std::pair{&recording_.vibSettings, vibSettingsApplied_}}) {
            if (applied < all->size())
                next = std::min(next.value_or(INT64_MAX), toUs((*all)[applied].atS));
        }
        return next;
    };
    for (;;) {
        const std::int64_t now = timeline_->positionUs();
        const std::optional<std::int64_t> timer = timers_->nextDueUs(now);
        const std::optional<std::int64_t> setting = nextSettingsUs();
        const std::int64_t at =
            std::max(now, std::min(timer.value_or(INT64_MAX), setting.value_or(INT64_MAX)));
        if (at > targetUs)
            break;
        timeline_->advanceTo(at);
        bool moved = setting && *setting <= at && applySettings();
        moved = timers_->fireDue(at) || moved;
        // Nothing was due after all: never spin on the same moment.
        if (!moved)
            break;
    }
    timeline_->advanceTo(targetUs);
}

double ReplayForm::positionS() const
{
    return timeline_ ? static_cast<double>(timeline_->positionUs()) / 1e6 : recording_.beginS;
}

bool ReplayForm::atEnd() const
{
    return !timeline_ || timeline_->positionUs() >= toUs(recording_.endS);
}

void ReplayForm::seek(double s)
{
    s = std::clamp(s, recording_.beginS, recording_.endS);
    if (timeline_ && toUs(s) < timeline_->positionUs()) {
        // The windows keep what they have seen: an earlier moment means playing again.
        teardown();
        build();
    }
    if (!timeline_)
        build();
    advanceTo(toUs(s));
    showPosition();
}

void ReplayForm::setPace(Pace pace)
{
    pace_ = pace;
    if (paceList_ && paceList_->currentIndex() != static_cast<int>(pace))
        paceList_->setCurrentIndex(static_cast<int>(pace));
    lastWallNs_ = wallNs_();
    carryUs_ = 0;
}

void ReplayForm::play()
{
    if (atEnd())
        seek(recording_.beginS);
    playing_ = true;
    lastWallNs_ = wallNs_();
    carryUs_ = 0;
    if (play_)
        play_->setText(QStringLiteral("&Pozastaviť"));
    if (pace_ == Pace::AllAtOnce)
        pump();
}

void ReplayForm::pause()
{
    playing_ = false;
    if (play_)
        play_->setText(QStringLiteral("&Prehrať"));
}

void ReplayForm::pump()
{
    if (!playing_ || !timeline_)
        return;
    const std::int64_t now = timeline_->positionUs();
    switch (pace_) {
    case Pace::RealTime:
    case Pace::TenTimes: {
        const double factor = pace_ == Pace::TenTimes ? 10.0 : 1.0;
        const std::int64_t wall = wallNs_();
        carryUs_ += static_cast<double>(wall - lastWallNs_) / 1e3 * factor;
        lastWallNs_ = wall;
        const auto step = static_cast<std::int64_t>(carryUs_);
        carryUs_ -= static_cast<double>(step);
        advanceTo(now + step);
        break;
    }
    case Pace::Fastest: {
        // As much as fits in most of a turn, so the screen and the user still get theirs.
        QElapsedTimer spent;
        spent.start();
        while (!atEnd() && spent.elapsed() < pumpMs * 3 / 4)
            advanceTo(timeline_->positionUs() + 100'000);
        break;
    }
    case Pace::AllAtOnce:
        advanceTo(toUs(recording_.endS));
        break;
    }
    if (atEnd()) {
        pause();
        if (note_ && recording_.stops.empty())
            note_->setText(QStringLiteral("Záznam je prehraný do konca."));
    }
    showPosition();
}

void ReplayForm::showPosition()
{
    if (!position_)
        return;
    const double at = positionS() - recording_.beginS;
    position_->setText(QStringLiteral("%1 / %2").arg(
        clockText(at), clockText(recording_.endS - recording_.beginS)));
    if (!slider_->isSliderDown()) {
        slider_->blockSignals(true);
        slider_->setValue(static_cast<int>(std::floor(at)));
        slider_->blockSignals(false);
    }
}

} // namespace diagnostika::replay
