#pragma once
// The recorder: while recording, every measurement window that is open writes what it shows into
// files in the recording folder. Each window gets, named with the window and the time it started
// recording ("2026-12-07_14-05-03_com"):
//   <name>.csv        one row per reading, as the window showed it;
//   <name>_hrany.csv  the serial window's every edge, with its own stamp;
//   <name>.wav        the vibration window's raw samples, one file per opening of its input
//                     (<name>-2.wav, ... after the first), lost samples as zeros;
//   <name>_spektrum.csv  the vibration window's averaged spectrum every 10 s, a row per line;
//   <name>.json       the program, the window, its settings at the start and at every change.
// Rows go to a writer thread; the user-interface thread never waits on the disk. A file that cannot
// be written ends that window's recording (its files stay valid to the last whole row) and is told
// once through `failed`; measuring goes on.

#include "common/feed.h"
#include "platform/tickclock.h"
#include "record/csvtext.h"
#include "record/filewriter.h"
#include "record/windowfiles.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace diagnostika::record {

class Recorder : public QObject {
    Q_OBJECT
public:
    // `clock` stamps the rows (the tick clock the edges are stamped with); `version` goes into the
    // metadata.
    Recorder(const TickClock& clock, const QString& version, QObject* parent = nullptr);
    ~Recorder() override;

    // A window to record whenever it is open while recording.
    void addFeed(Feed* feed);

    // Starts recording into `folder`, created when missing. Returns false with a text for the user
    // in `error` when the folder cannot be made or written; a recording already running then goes
    // on as it was. Otherwise a recording already running is stopped first.
    bool start(const QString& folder, QString* error);
    // Closes every file cleanly. Harmless when not recording.
    void stop();
    bool isRecording() const { return writer_ != nullptr; }
    QString folder() const { return folder_; }

    // Every file this recording has made so far, in the order they were made.
    const QStringList& files() const { return files_; }
    // Returns once every row handed over so far is on the disk and any failure is reported.
    void sync();
    // Bytes not yet written, for benchmarks.
    std::int64_t backlog() const;

Q_SIGNALS:
    void recordingChanged(bool recording);
    // One text for the user per writing failure (several windows failing together are one text).
    void failed(const QString& text);

private:
    struct Window {
        Feed* feed = nullptr;
        QString base; // the path without ".csv"
        std::int64_t startedMs = 0;
        int readings = -1;
        int edges = -1;
        std::vector<Column> columns;
        bool header = false;    // the columns are known and their row is written
        bool strayTold = false; // a reading's value without a column was warned of
        QJsonArray settings;
        // The WAV file being written, for a window with samples, and those finished before.
        struct SampleFile {
            int file = -1;
            QString path;
            std::uint64_t opening = 0;
            int rate = 0;
            std::int64_t frames = 0;
            std::uint64_t lostBefore = 0;
            QJsonObject meta;
            QJsonArray gaps;
        } samples;
        QJsonArray sampleFiles;
        int spectra = -1;
        std::vector<QMetaObject::Connection> connections;
        LocalTimeText timeText;
    };

    void begin(Feed* feed);
    void end(Feed* feed, const QString& error = {});
    void onReading(Window& window, const FeedReading& reading);
    void onEdge(Window& window, const LineEvent& event);
    void onSettings(Window& window, const FeedSettings& settings);
    void onSamples(Window& window, const FeedSamples& block);
    void onSpectrum(Window& window, const FeedSpectrum& spectrum);
    bool startSampleFile(Window& window, const FeedSamples& block);
    void closeSampleFile(Window& window);
    static QJsonObject sampleFileMeta(const Window::SampleFile& file);
    void writeMetadata(const Window& window, const QString& error = {});
    void onFailures(const std::vector<FileWriter::Failure>& failures);
    int createFile(Window& window, const QString& path);
    bool createEdgeFile(Window& window);
    void writeHeader(Window& window);

    const TickClock& clock_;
    QString version_;
    std::vector<Feed*> feeds_;
    std::unique_ptr<FileWriter> writer_;
    QString folder_;
    std::int64_t startMs_ = 0;
    std::int64_t startWallMs_ = 0;
    std::map<Feed*, std::unique_ptr<Window>> windows_;
    // Which window each file belongs to (its caption and base name), for messages after the
    // window has gone; a window's failure is told once.
    std::map<int, std::pair<QString, QString>> fileOwners_;
    std::set<QString> told_;
    QStringList files_;
};

} // namespace diagnostika::record
