#include "reportcontent.h"

#include "common/measurementform.h"
#include "common/numbertext.h"
#include "common/picturebox.h"
#include "measurementlog.h"
#include "orders/orderform.h"
#include "trend/plotlibrary.h"
#include "trend/trendform.h"
#include "vibration/analysis/scaling.h"
#include "vibration/vibrationform.h"

#include <QDir>
#include <QImage>
#include <algorithm>

namespace diagnostika::report {
namespace {

const QString none = QStringLiteral("–");

// Each window's settings in the words its own labels use; a setting not named here keeps its key.
struct SettingName {
    const char* source;
    const char* key;
    const char* label;
};
constexpr SettingName settingNames[] = {
    {"com", "port", "Port"},
    {"com", "device", "Zariadenie"},
    {"com", "captureMode", "Snímanie hrán"},
    {"com", "snimace", "Snímače na otáčku"},
    {"com", "interval", "Interval počítania"},
    {"com", "vstup", "Vstup otáčok"},
    {"com", "priemerobj", "Priemer objektu"},
    {"com", "vstupposuvu", "Vstup posuvu"},
    {"com", "znacka", "Značka posuvu"},
    {"com", "vstupuhla", "Vstup uhla"},
    {"com", "znackau", "Značka uhla"},
    {"com", "vstupintervalu", "Vstup trvania impulzu"},
    {"com", "vstupfrekv", "Vstup frekvencie"},
    {"lpt", "port", "Port"},
    {"lpt", "adresa", "Adresa"},
    {"lpt", "takttimera", "Takt časovača [ms]"},
    {"lpt", "volba", "Veličina"},
    {"lpt", "NEG", "Negácia"},
    {"lpt", "rozsah", "Rozsah"},
    {"game", "VScroll1", "Perióda vzorkovania [ms]"},
    {"game", "Timer1", "Časovač [ms]"},
    {"game", "joystick", "Joystick"},
    {"vib", "zdroj", "Zdroj"},
    {"vib", "vzorkovanie", "Vzorkovanie"},
    {"vib", "kanal", "Kanál"},
    {"vib", "citlivost", "Citlivosť [mV/g]"},
    {"vib", "rozsah", "Rozsah vstupu [V]"},
    {"vib", "jednotka", "Jednotka"},
    {"vib", "skupina", "Stroj"},
    {"vib", "zaklad", "Základ"},
    {"vib", "pasmo", "Pásmo rýchlosti"},
    {"vib", "ciary", "Čiary spektra"},
    {"vib", "okno", "Okno"},
    {"vib", "priemerovanie", "Priemerovanie"},
    {"vib", "pocet", "Počet priemerov"},
    {"vib", "amplituda", "Amplitúda"},
    {"vib", "os", "Os"},
    {"ord", "zdroj", "Zdroj"},
    {"ord", "vzorkovanie", "Vzorkovanie"},
    {"ord", "citlivost", "Citlivosť [mV/g]"},
    {"ord", "rozsah", "Rozsah vstupu [V]"},
    {"ord", "rady", "Sledované rády"},
    {"ord", "rozlisenie", "Rozlíšenie"},
    {"ord", "spektrum", "Spektrum z"},
    {"ord", "od", "Nábeh/dobeh od [min⁻¹]"},
    {"ord", "do", "Nábeh/dobeh do [min⁻¹]"},
};

// Settings the feed carries as plain keys rather than as the window's words.
struct SettingWord {
    const char* source;
    const char* key;
    const char* value;
    const char* word;
};
constexpr SettingWord settingWords[] = {
    {"com", "captureMode", "counted", "počítadlá ovládača (žiadna hrana sa nestratí)"},
    {"com", "captureMode", "levels", "zmeny úrovní (krátky impulz sa môže stratiť)"},
    {"com", "captureMode", "polled", "čítanie každú milisekundu"},
    {"com", "captureMode", "simulated", "simulované"},
    {"lpt", "NEG", "0", "nie"},
    {"lpt", "NEG", "1", "áno"},
};

QString settingValue(const QString& source, const FeedSetting& setting)
{
    for (const SettingWord& w : settingWords) {
        if (source == QLatin1String(w.source) && qstrcmp(setting.name, w.key) == 0 &&
            setting.value == QLatin1String(w.value))
            return QString::fromUtf8(w.word);
    }
    return setting.value.isEmpty() ? none : setting.value;
}

QString settingLabel(const QString& source, const char* key)
{
    for (const SettingName& s : settingNames) {
        if (source == QLatin1String(s.source) && qstrcmp(key, s.key) == 0)
            return QString::fromUtf8(s.label);
    }
    return QString::fromLatin1(key);
}

QString settingOf(const WindowLog& log, const char* key)
{
    for (const FeedSetting& s : log.settings) {
        if (qstrcmp(s.name, key) == 0)
            return s.value;
    }
    return {};
}

void settingsBlock(Document& doc, const QString& source, const WindowLog* log)
{
    if (!log || log->settings.empty())
        return;
    std::vector<std::pair<QString, QString>> pairs;
    for (const FeedSetting& s : log->settings)
        pairs.emplace_back(settingLabel(source, s.name), settingValue(source, s));
    doc.subheading(QStringLiteral("Nastavenia"));
    doc.pairs(std::move(pairs));
}

const Statistic* valueOf(const WindowLog* log, const QString& key)
{
    if (!log)
        return nullptr;
    const auto it = log->values.find(key);
    return it != log->values.end() ? &it->second : nullptr;
}

using Format = std::function<QString(double)>;

QStringList statisticRow(const QString& label, const Statistic* s, const Format& shown,
                         const Format& mean)
{
    if (!s || s->count == 0)
        return {label, none, none, none, none};
    return {label, shown(s->least), mean(*s->mean()), shown(s->greatest), shown(s->last)};
}

const QStringList statisticHeader = {QStringLiteral("Veličina"), QStringLiteral("minimum"),
                                     QStringLiteral("priemer"), QStringLiteral("maximum"),
                                     QStringLiteral("posledná")};

// A trace as a picture, as the window shows it.
void traceFigure(Document& doc, const MeasurementForm* form, const char* name,
                 const QString& caption)
{
    if (!form || !form->client())
        return;
    auto* box = form->client()->findChild<PictureBox*>(QString::fromLatin1(name));
    if (!box)
        return;
    // Drawn again from its kept segments at print density, not copied from the screen's pixels.
    constexpr double density = 3;
    QImage image(box->size() * density, QImage::Format_RGB32);
    image.setDevicePixelRatio(density);
    image.fill(Qt::white);
    box->render(&image);
    doc.picture(imageFigure(caption, image));
}

// A chart as vectors: it draws itself into the page at its on-screen size, scaled.
void chartFigure(Document& doc, QCustomPlot* plot, const QString& caption)
{
    if (!plot || plot->width() <= 0 || plot->height() <= 0)
        return;
    plot->replot(QCustomPlot::rpImmediateRefresh);
    const QSize size = plot->size();
    doc.picture({caption, QSizeF(size), [plot, size](QCPPainter& p) {
                     p.setMode(QCPPainter::pmVectorized);
                     plot->toPainter(&p, size.width(), size.height());
                 }});
}

void serialSection(Document& doc, const MeasurementForm* form, const MeasurementLog& log,
                   const QLocale& locale)
{
    doc.heading(form->feed()->title());
    const WindowLog* w = log.window(QStringLiteral("com"));
    settingsBlock(doc, QStringLiteral("com"), w);
    // The counted speed as the window writes it ("1500," without its bare separator); the precise
    // one to a tenth, as the speed trend writes it.
    const Format counted = [&locale](double v) {
        QString text = patternNumber(v, u"##.##", locale);
        if (text.endsWith(locale.decimalPoint()))
            text.chop(locale.decimalPoint().size());
        if (text.isEmpty() || text == u"-")
            text = QStringLiteral("0");
        return text;
    };
    const Format tenth = [&locale](double v) { return fixedNumber(v, 1, locale); };
    const Format general = [&locale](double v) { return generalNumber(v, locale); };
    const Format twoPlaces = [&locale](double v) { return fixedNumber(v, 2, locale); };
    Table t;
    t.header = statisticHeader;
    t.rows.push_back(statisticRow(QStringLiteral("Otáčky počítaním impulzov [min⁻¹]"),
                                  &log.countedSpeed(), counted, twoPlaces));
    t.rows.push_back(statisticRow(QStringLiteral("Otáčky z časov impulzov [min⁻¹]"),
                                  &log.preciseSpeed(), tenth, tenth));
    // Sampled once a second (Timer3), whatever the speed interval.
    for (const auto& [key, label] : {std::pair{"Timer3/posuv", "Posuv [m]"},
                                     {"Timer3/pootocenie", "Pootočenie [°]"},
                                     {"Timer3/trvanie", "Trvanie impulzu [ms]"},
                                     {"Timer3/f", "Frekvencia [Hz]"}})
        t.rows.push_back(statisticRow(QString::fromUtf8(label),
                                      valueOf(w, QString::fromLatin1(key)), general, twoPlaces));
    doc.subheading(QStringLiteral("Namerané hodnoty"));
    doc.grid(std::move(t));
    doc.paragraph(
        QStringLiteral(
            "Otáčky počítaním: z každého intervalu, ktorý okno celý odpočítalo (%1 hodnôt). Otáčky "
            "z časov impulzov: priemer za sekundu pred každým odpočítaním (%2 hodnôt).")
            .arg(log.countedSpeed().count)
            .arg(log.preciseSpeed().count));
    traceFigure(doc, form, "graf", QStringLiteral("Priebeh impulzov na vstupoch CTS, CD a DSR"));
}

void parallelSection(Document& doc, const MeasurementForm* form, const MeasurementLog& log,
                     const QLocale& locale)
{
    doc.heading(form->feed()->title());
    const WindowLog* w = log.window(QStringLiteral("lpt"));
    settingsBlock(doc, QStringLiteral("lpt"), w);
    Table t;
    t.header = statisticHeader;
    const Format general = [&locale](double v) { return generalNumber(v, locale); };
    const Format twoPlaces = [&locale](double v) { return fixedNumber(v, 2, locale); };
    const QString prefix = QStringLiteral("Timer1/hodnota/");
    if (w) {
        for (const auto& [key, s] : w->values) {
            if (!key.startsWith(prefix))
                continue;
            const QStringList parts = key.mid(prefix.size()).split(QLatin1Char('/'));
            const QString label =
                parts.value(1).isEmpty()
                    ? parts.value(0)
                    : QStringLiteral("%1 [%2]").arg(parts.value(0), parts.value(1));
            t.rows.push_back(statisticRow(label, &s, general, twoPlaces));
        }
        const Format volts = [&locale](double v) { return fixedNumber(v, 3, locale); };
        t.rows.push_back(statisticRow(QStringLiteral("Napätie vstupu [V]"),
                                      valueOf(w, QStringLiteral("Timer1/napatievstupu")), volts,
                                      volts));
    }
    doc.subheading(QStringLiteral("Namerané hodnoty"));
    doc.grid(std::move(t));
    traceFigure(doc, form, "Picture1", QStringLiteral("Priebeh napätia na vstupe prevodníka"));
}

void gameSection(Document& doc, const MeasurementForm* form, const MeasurementLog& log)
{
    doc.heading(form->feed()->title());
    const WindowLog* w = log.window(QStringLiteral("game"));
    settingsBlock(doc, QStringLiteral("game"), w);
    Table t;
    t.header = {QStringLiteral("Os"), QStringLiteral("minimum"), QStringLiteral("maximum"),
                QStringLiteral("rozsah")};
    t.firstColumn = 0.25;
    for (const auto& [key, label] :
         {std::pair{"Timer1/x", "X"}, {"Timer1/y", "Y"}, {"Timer1/z", "Z"}}) {
        const Statistic* s = valueOf(w, QString::fromLatin1(key));
        if (!s || s->count == 0) {
            t.rows.push_back({QString::fromLatin1(label), none, none, none});
            continue;
        }
        t.rows.push_back({QString::fromLatin1(label), integerText(roundHalfEven(s->least)),
                          integerText(roundHalfEven(s->greatest)),
                          integerText(roundHalfEven(s->greatest - s->least))});
    }
    doc.subheading(QStringLiteral("Rozsah osí"));
    doc.grid(std::move(t));
    traceFigure(doc, form, "Picture1", QStringLiteral("Priebeh polohy osí"));
}

void trendSection(Document& doc, const TrendForm* form, const QLocale& locale)
{
    doc.heading(form->feed()->title());
    // As the window shows them: since its "Vynulovať".
    const auto shown = [&locale](std::optional<double> v) {
        return v ? fixedNumber(*v, 1, locale) : none;
    };
    doc.pairs({{QStringLiteral("Otáčky teraz [min⁻¹]"), shown(form->current())},
               {QStringLiteral("Minimum [min⁻¹]"), shown(form->minimum())},
               {QStringLiteral("Maximum [min⁻¹]"), shown(form->maximum())}});
    chartFigure(doc, form->chart(),
                QStringLiteral("Priebeh otáčok: z časov impulzov (za impulz a za sekundu) a "
                               "počítaním impulzov"));
}

void vibrationSection(Document& doc, const VibrationForm* form, const MeasurementLog& log,
                      const QLocale& locale)
{
    doc.heading(form->feed()->title());
    const WindowLog* w = log.window(QStringLiteral("vib"));
    settingsBlock(doc, QStringLiteral("vib"), w);
    const bool inG = w && settingOf(*w, "jednotka") == u"g";
    const QString unit = inG ? QStringLiteral("g") : QStringLiteral("m/s²");
    const double perUnit = inG ? 1 / vibration::standardGravity : 1.0;
    const auto places = [&locale](int n, double scale = 1.0) {
        return Format([&locale, n, scale](double v) { return fixedNumber(v * scale, n, locale); });
    };
    Table t;
    t.header = statisticHeader;
    t.rows.push_back(statisticRow(QStringLiteral("Zrýchlenie RMS [%1]").arg(unit),
                                  valueOf(w, QStringLiteral("blok/arms")), places(3, perUnit),
                                  places(3, perUnit)));
    t.rows.push_back(statisticRow(QStringLiteral("Zrýchlenie špička [%1]").arg(unit),
                                  valueOf(w, QStringLiteral("blok/apeak")), places(3, perUnit),
                                  places(3, perUnit)));
    t.rows.push_back(statisticRow(QStringLiteral("Činiteľ výkyvu"),
                                  valueOf(w, QStringLiteral("blok/crest")), places(2), places(2)));
    t.rows.push_back(statisticRow(QStringLiteral("Rýchlosť RMS [mm/s]"),
                                  valueOf(w, QStringLiteral("blok/vrms")), places(2), places(2)));
    doc.subheading(QStringLiteral("Celkové hodnoty"));
    doc.grid(std::move(t));
    if (form->zone())
        doc.paragraph(QStringLiteral("Zóna podľa ISO 20816-3 (posledná hodnota): %1")
                          .arg(QString::fromLatin1(vibration::zoneName(*form->zone()))));

    Table peaks;
    peaks.header = {QStringLiteral("Poradie"), QStringLiteral("f [Hz]"),
                    QStringLiteral("A [%1]").arg(unit), QStringLiteral("rád")};
    peaks.firstColumn = 0.16;
    int n = 0;
    for (const vibration::SpectrumPeak& p : form->peaks())
        peaks.rows.push_back({QString::number(++n), fixedNumber(p.frequency, 1, locale),
                              fixedNumber(p.amplitude, 4, locale),
                              p.order ? fixedNumber(*p.order, 2, locale) : none});
    doc.subheading(QStringLiteral("Najvyššie špičky spektra"));
    if (peaks.rows.empty())
        doc.paragraph(QStringLiteral("Spektrum ešte nie je k dispozícii."));
    else
        doc.grid(std::move(peaks));
    chartFigure(doc, form->spectrumChart(), QStringLiteral("Spektrum zrýchlenia"));
}

// What the order window's capture is doing, in words.
QString captureWords(const OrderForm& form, const WindowLog* log, const QLocale& locale)
{
    const std::vector<orders::OrderFrame>& frames = form.shownFrames();
    const QString range =
        log ? QStringLiteral("%1 až %2 min⁻¹").arg(settingOf(*log, "od"), settingOf(*log, "do"))
            : QString();
    const auto speeds = [&] {
        if (frames.empty())
            return QStringLiteral("žiadne body");
        const auto [lo, hi] = std::ranges::minmax(frames, {}, &orders::OrderFrame::speed);
        return QStringLiteral("%1 bodov pri %2 až %3 min⁻¹")
            .arg(frames.size())
            .arg(fixedNumber(lo.speed, 0, locale), fixedNumber(hi.speed, 0, locale));
    };
    switch (form.capture()) {
    case OrderForm::Capture::Live:
        return QStringLiteral("priebežne, posledné otáčky (%1)").arg(speeds());
    case OrderForm::Capture::Armed:
        return QStringLiteral("čaká sa na otáčky v rozsahu %1").arg(range);
    case OrderForm::Capture::Running:
        return (form.capturesByRange() ? QStringLiteral("zaznamenáva sa v rozsahu %1: ").arg(range)
                                       : QStringLiteral("zaznamenáva sa, spustené ručne: ")) +
               speeds();
    case OrderForm::Capture::Done:
        return QStringLiteral("zaznamenaný nábeh/dobeh: %1").arg(speeds());
    }
    return none;
}

void orderSection(Document& doc, const OrderForm* form, const MeasurementLog& log,
                  const QLocale& locale)
{
    doc.heading(form->feed()->title());
    const WindowLog* w = log.window(QStringLiteral("ord"));
    settingsBlock(doc, QStringLiteral("ord"), w);
    doc.pairs({{QStringLiteral("Zachytenie"), captureWords(*form, w, locale)}});
    if (!form->noSpeedReason().isEmpty())
        doc.paragraph(form->noSpeedReason());

    // The orders' amplitude and phase at up to a dozen of the frames the charts hold, spread
    // evenly over them, the last one always among them (it is the one the window writes out);
    // in the order of their speeds, as the Bode plot reads.
    const std::vector<orders::OrderFrame>& frames = form->shownFrames();
    constexpr std::size_t rowsAtMost = 12;
    Table tracks;
    tracks.header = {QStringLiteral("n [min⁻¹]"), QStringLiteral("rád"), QStringLiteral("A [m/s²]"),
                     QStringLiteral("fáza [°]")};
    tracks.firstColumn = 0.25;
    const std::size_t shown = std::min(frames.size(), rowsAtMost);
    std::vector<const orders::OrderFrame*> picked;
    for (std::size_t i = 0; i < shown; ++i)
        picked.push_back(
            &frames[shown == 1 ? frames.size() - 1 : i * (frames.size() - 1) / (shown - 1)]);
    std::ranges::stable_sort(picked, {}, [](const orders::OrderFrame* f) { return f->speed; });
    for (const orders::OrderFrame* frame : picked) {
        const orders::OrderFrame& f = *frame;
        for (const orders::OrderPoint& p : f.tracks)
            tracks.rows.push_back({fixedNumber(f.speed, 1, locale),
                                   locale.toString(p.order, 'g', 6) + QStringLiteral("×"),
                                   fixedNumber(p.amplitude, 4, locale),
                                   fixedNumber(p.phaseDeg, 1, locale)});
    }
    doc.subheading(QStringLiteral("Rády pri otáčkach"));
    if (tracks.rows.empty())
        doc.paragraph(QStringLiteral("Rády ešte nie sú k dispozícii."));
    else
        doc.grid(std::move(tracks));

    // The ten highest peaks of the order spectrum: lines above both neighbours.
    const orders::OrderSpectrum& spectrum = form->orderSpectrum();
    std::vector<std::size_t> lines;
    for (std::size_t k = 1; k + 1 < spectrum.amplitude.size(); ++k) {
        const double a = spectrum.amplitude[k];
        if (spectrum.order(k) >= 0.5 && a > spectrum.amplitude[k - 1] &&
            a >= spectrum.amplitude[k + 1])
            lines.push_back(k);
    }
    std::ranges::sort(lines, std::ranges::greater{},
                      [&spectrum](std::size_t k) { return spectrum.amplitude[k]; });
    lines.resize(std::min<std::size_t>(lines.size(), 10));
    Table peaks;
    peaks.header = {QStringLiteral("Poradie"), QStringLiteral("rád"), QStringLiteral("A [m/s²]")};
    peaks.firstColumn = 0.16;
    int n = 0;
    for (std::size_t k : lines)
        peaks.rows.push_back({QString::number(++n), fixedNumber(spectrum.order(k), 3, locale),
                              fixedNumber(spectrum.amplitude[k], 4, locale)});
    doc.subheading(QStringLiteral("Najvyššie špičky rádového spektra"));
    if (peaks.rows.empty())
        doc.paragraph(QStringLiteral("Rádové spektrum ešte nie je k dispozícii."));
    else
        doc.grid(std::move(peaks));
    chartFigure(doc, form->spectrumChart(), QStringLiteral("Rádové spektrum"));
    chartFigure(doc, form->amplitudeChart(), QStringLiteral("Bodeho diagram: amplitúda rádov"));
    chartFigure(doc, form->phaseChart(), QStringLiteral("Bodeho diagram: fáza rádov"));
}

} // namespace

QString durationText(std::int64_t ms)
{
    const std::int64_t s = std::max<std::int64_t>(0, ms) / 1000;
    const QString sec = QStringLiteral("%1 s").arg(s % 60, 2, 10, QLatin1Char('0'));
    if (s >= 3600)
        return QStringLiteral("%1 h %2 min %3")
            .arg(s / 3600)
            .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
            .arg(sec);
    if (s >= 60)
        return QStringLiteral("%1 min %2").arg(s / 60).arg(sec);
    return QStringLiteral("%1 s").arg(s);
}

Document buildReport(const Details& details, const Windows& windows, const MeasurementLog& log,
                     const Circumstances& circumstances, const QLocale& locale)
{
    Document doc;
    const bool fromRecording = !circumstances.recording.isEmpty();
    doc.title = fromRecording ? QStringLiteral("Protokol z merania zo záznamu")
                              : QStringLiteral("Protokol z merania");
    if (!details.machine.isEmpty())
        doc.title += QStringLiteral(" – ") + details.machine;
    doc.heading(doc.title);

    const auto open = [](const MeasurementForm* f) { return f && f->isOpen(); };
    const auto orNone = [](const QString& s) { return s.trimmed().isEmpty() ? none : s; };
    QStringList devices;
    if (const WindowLog* w = log.window(QStringLiteral("com")); w && open(windows.serial))
        devices << QStringLiteral("sériový port %1").arg(orNone(settingOf(*w, "device")));
    if (const WindowLog* w = log.window(QStringLiteral("lpt")); w && open(windows.parallel))
        devices << QStringLiteral("paralelný port %1 (adresa %2)")
                       .arg(orNone(settingOf(*w, "port")), orNone(settingOf(*w, "adresa")));
    if (open(windows.game))
        devices << QStringLiteral("joystick");
    if (const WindowLog* w = log.window(QStringLiteral("vib")); w && open(windows.vibration))
        devices << QStringLiteral("vstup vibrácií %1").arg(orNone(settingOf(*w, "zdroj")));
    else if (const WindowLog* o = log.window(QStringLiteral("ord")); o && open(windows.orders))
        devices << QStringLiteral("vstup vibrácií %1").arg(orNone(settingOf(*o, "zdroj")));

    const std::optional<std::int64_t> duration = log.durationMs();
    QString started = log.started() ? locale.toString(*log.started(), QLocale::ShortFormat) : none;
    if (fromRecording) {
        // As the metadata writes it (ISO 8601), shown as the other dates are.
        const QDateTime at =
            QDateTime::fromString(circumstances.recordingStarted, Qt::ISODateWithMs);
        started = at.isValid() ? locale.toString(at.toLocalTime(), QLocale::ShortFormat)
                               : orNone(circumstances.recordingStarted);
    }
    std::vector<std::pair<QString, QString>> header{
        {QStringLiteral("Program"), QStringLiteral("Diagnostika %1").arg(circumstances.version)},
        {QStringLiteral("Stroj"), orNone(details.machine)},
        {QStringLiteral("Miesto"), orNone(details.place)},
        {QStringLiteral("Meral"), orNone(details.person)},
        {QStringLiteral("Dátum a čas"), locale.toString(circumstances.made, QLocale::ShortFormat)},
        {QStringLiteral("Začiatok merania"), started},
        // Of a recording: as far as it was played.
        {fromRecording ? QStringLiteral("Trvanie prehraného záznamu")
                       : QStringLiteral("Trvanie merania"),
         duration ? durationText(*duration) : none},
        {QStringLiteral("Zariadenia"),
         devices.isEmpty() ? none : devices.join(QStringLiteral(", "))},
        {QStringLiteral("Snímače"),
         circumstances.simulated ? QStringLiteral("simulované") : QStringLiteral("skutočné")},
    };
    if (fromRecording)
        header.insert(header.begin() + 1, {QStringLiteral("Zo záznamu"),
                                           QDir::toNativeSeparators(circumstances.recording)});
    doc.pairs(std::move(header));
    if (!details.note.trimmed().isEmpty()) {
        doc.subheading(QStringLiteral("Poznámka"));
        doc.paragraph(details.note);
    }

    bool any = false;
    if (open(windows.serial)) {
        serialSection(doc, windows.serial, log, locale);
        any = true;
    }
    if (open(windows.trend)) {
        trendSection(doc, windows.trend, locale);
        any = true;
    }
    if (open(windows.parallel)) {
        parallelSection(doc, windows.parallel, log, locale);
        any = true;
    }
    if (open(windows.game)) {
        gameSection(doc, windows.game, log);
        any = true;
    }
    if (open(windows.vibration)) {
        vibrationSection(doc, windows.vibration, log, locale);
        any = true;
    }
    if (open(windows.orders)) {
        orderSection(doc, windows.orders, log, locale);
        any = true;
    }
    if (!any)
        doc.paragraph(QStringLiteral("Žiadne meracie okno nie je otvorené: protokol obsahuje len "
                                     "údaje o meraní."));
    return doc;
}

} // namespace diagnostika::report
