// Recording the vibration window on the simulated machine: the WAV file read back with libsndfile
// holds every sample the input delivered, zeros where it lost some, and is readable while the
// recording runs; the spectrum file takes a spectrum every 10 s, a row per line.
#include "platform/sim/simvibration.h"
#include "record/recorder.h"
#include "support/fakeclock.h"
#include "vibration/vibrationform.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMdiArea>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <set>
#include <sndfile.h>

namespace diagnostika {
namespace {

struct Wav {
    int rate = 0;
    std::vector<float> samples;
};

Wav readWav(const QString& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file) {
        ADD_FAILURE() << path.toStdString() << ": " << sf_strerror(nullptr);
        return {};
    }
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    Wav wav{info.samplerate, std::vector<float>(static_cast<std::size_t>(info.frames))};
    EXPECT_EQ(sf_readf_float(file, wav.samples.data(), info.frames), info.frames);
    sf_close(file);
    return wav;
}

QString only(const QString& folder, const QString& pattern)
{
    const QStringList found = QDir(folder).entryList({pattern}, QDir::Files);
    EXPECT_EQ(found.size(), 1) << pattern.toStdString();
    return found.isEmpty() ? QString() : QDir(folder).filePath(found.first());
}

TEST(VibrationRecording, KeepsEverySampleTheInputDeliveredAndTheSpectrumEveryTenSeconds)
{
    test::FakeClock clock(20'000);
    SimulatedVibrationInputProvider inputs(clock);
    SpeedInput speed;
    VibrationForm form(inputs, speed);
    record::Recorder recorder(clock, QStringLiteral("test"));
    recorder.addFeed(form.feed());
    QMdiArea area;
    form.show(&area);
    form.client()->findChild<QTimer*>(QStringLiteral("Timer1"))->stop();
    QTemporaryDir folder;
    ASSERT_TRUE(recorder.start(folder.path(), nullptr));

    // What the input delivered, with the lost samples where they belong as zeros.
    std::vector<float> delivered;
    std::uint64_t lost = 0;
    QObject::connect(form.feed(), &Feed::samples, [&](const FeedSamples& block) {
        delivered.resize(delivered.size() + (block.lostBefore - lost), 0.0f);
        lost = block.lostBefore;
        delivered.insert(delivered.end(), block.samples.begin(), block.samples.end());
    });
    const auto run = [&](int ms) {
        for (int t = 0; t < ms; t += VibrationForm::refreshMs) {
            clock.advance(VibrationForm::refreshMs);
            form.refresh();
        }
    };
    run(5'000);
    // Mid-recording the file is whole as far as it reached the disk: what a crash would leave.
    recorder.sync();
    const QString wavPath = only(folder.path(), QStringLiteral("*_vib.wav"));
    EXPECT_EQ(readWav(wavPath).samples.size(), delivered.size());
    // Nobody takes the samples for 3 s, and the next turn comes 50 ms later: the simulated input
    // keeps 2 s, so 1.05 s is lost.
    clock.advance(3'000);
    run(7'000);
    recorder.stop();

    const Wav wav = readWav(wavPath);
    EXPECT_EQ(wav.rate, 48'000);
    EXPECT_EQ(lost, 50'400u);
    EXPECT_EQ(wav.samples.size(), 15u * 48'000u);
    EXPECT_TRUE(wav.samples == delivered);

    QFile json(only(folder.path(), QStringLiteral("*_vib.json")));
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const QJsonArray files = QJsonDocument::fromJson(json.readAll())["samples"].toArray();
    ASSERT_EQ(files.size(), 1);
    const QJsonObject wavMeta = files[0].toObject();
    EXPECT_EQ(wavMeta["file"].toString(), QFileInfo(wavPath).fileName());
    EXPECT_EQ(wavMeta["rate_Hz"].toInt(), 48'000);
    EXPECT_EQ(wavMeta["samples"].toDouble(), 15.0 * 48'000);
    EXPECT_EQ(wavMeta["fullScale_V"].toDouble(), 1.0);
    EXPECT_EQ(wavMeta["sensitivity_mV_per_g"].toDouble(), 100.0);
    EXPECT_EQ(wavMeta["firstSample_us"].toDouble(), 20'000'000.0);
    const QJsonArray gaps = wavMeta["gaps"].toArray();
    ASSERT_EQ(gaps.size(), 1);
    EXPECT_EQ(gaps[0]["atSample"].toDouble(), 5.0 * 48'000);
    EXPECT_EQ(gaps[0]["lost"].toDouble(), 50'400.0);

    QFile csv(only(folder.path(), QStringLiteral("*_vib_spektrum.csv")));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = csv.readAll().split('\n');
    ASSERT_FALSE(rows.isEmpty());
    EXPECT_EQ(rows[0], "cas [s],datum_cas,frekvencia [Hz],amplituda [m/s^2]");
    // Two spectra in 15 s of samples, each of 1600 lines and the mean, then the file's last break.
    ASSERT_EQ(rows.size(), 1 + 2 * 1601 + 1);
    std::set<double> times;
    for (qsizetype i = 1; i + 1 < rows.size(); ++i) {
        const QList<QByteArray> cells = rows[i].split(',');
        ASSERT_EQ(cells.size(), 4) << rows[i].constData();
        times.insert(cells[0].toDouble());
        EXPECT_EQ(cells[2].toDouble(), static_cast<double>((i - 1) % 1601) * 48'000 / 4096);
    }
    ASSERT_EQ(times.size(), 2u);
    EXPECT_NEAR(*times.rbegin() - *times.begin(), 10.1, 0.2);
}

} // namespace
} // namespace diagnostika
