#pragma once
// A recording read back: what the recorder wrote for the serial window (its every edge) and the
// vibration window (its raw samples and their scaling), with each window's settings as they were.
//
// Files are opened read-only and never changed. A damaged file (cut short, a row that does not
// parse, missing) is taken as far as it is whole, and where it stopped is kept in `stops` for the
// user: the file and the row.

#include "platform/line.h"

#include <QString>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace diagnostika::replay {

// One edge as the edge file holds it: microseconds from the start of the recording.
struct RecordedEdge {
    std::int64_t us = 0;
    Line line = Line::CTS;
    bool level = false;
    bool timed = false;
};

// Where a file stopped being whole. `row` counts the file's lines from 1 (the header is row 1);
// 0 means the file as a whole (missing, unreadable, not what it should be).
struct FileStop {
    QString file;
    std::int64_t row = 0;
    QString reason;
};

// A window's settings from the moment `atS` (seconds from the recording's start).
struct RecordedSettings {
    double atS = 0;
    std::map<QString, QString> values;
};

// One WAV file of the vibration window: mono 32-bit float samples from `dataOffset`.
struct SampleFile {
    QString path;
    int rate = 0;
    double firstSampleS = 0; // from the recording's start
    double fullScaleVolts = 0;
    double sensitivityMvPerG = 0;
    std::int64_t dataOffset = 0;
    std::int64_t frames = 0; // whole frames present
    // Samples the input lost before the file's first one, and the stretches of zeros that stand
    // for those it lost later: (first frame, frames).
    std::uint64_t lostBefore = 0;
    std::vector<std::pair<std::int64_t, std::int64_t>> gaps;
};

struct Recording {
    QString folder;
    QString started; // the recording's start, local time as the metadata writes it
    // Each window's metadata file and settings, when the recording holds that window.
    QString comJson, vibJson;
    std::vector<RecordedSettings> comSettings, vibSettings;
    QString captureMode; // the serial port's, as recorded ("simulated", "counted", ...)
    std::vector<RecordedEdge> edges;
    std::vector<SampleFile> samples;
    std::vector<FileStop> stops;
    // Seconds from the recording's start: where replay begins and where the files end.
    double beginS = 0;
    double endS = 0;
};

// The edges of an edge file; stops at the first row that is not whole and says where in `stop`.
std::vector<RecordedEdge> readEdges(const QString& path, std::optional<FileStop>* stop);
// The layout of a WAV file as the recorder writes it; none, with `stop` filled, when it is not
// one. A file shorter than its header claims is taken to its last whole frame, and `stop` says so.
std::optional<SampleFile> readWavLayout(const QString& path, std::optional<FileStop>* stop);

// Opens a recording: a folder (its newest set of files) or one window's metadata file (its set).
// None, with a text for the user in `error`, when there is nothing to replay.
std::optional<Recording> readRecording(const QString& path, QString* error);

// The text for the user about where a file stopped.
QString stopText(const FileStop& stop);

} // namespace diagnostika::replay
