#pragma once
// The recorder's writer thread: the user-interface thread hands it whole rows and never waits on
// the disk.
//
// Every file is written in whole rows: what is handed over is a run of complete lines, and when a
// write fails part way the file is cut back to its last complete line, so a file is always valid
// up to its last whole row. What was handed over reaches the system at least every quarter of a
// second (a crash of the program loses nothing) and the storage device at least once a second (a
// power cut loses at most the last second).
//
// A file of fixed-size frames after a header (a WAV) works the same with frames for lines: a
// failed write cuts it back to its last whole frame, and its header, which states how much follows,
// is rewritten each time the file reaches the device, so after a crash the header covers what is
// on the device, at most a second behind what was handed over.

#include <QByteArray>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QFile;

namespace diagnostika::record {

class FileWriter {
public:
    struct Failure {
        int file = 0;
        QString path;
        QString reason; // the system's reason
    };
    // Called on the writer thread with the failures of one pass; each file fails once, and takes
    // nothing more after it.
    using FailureHandler = std::function<void(const std::vector<Failure>&)>;

    explicit FileWriter(FailureHandler onFailure,
                        std::chrono::milliseconds writePeriod = std::chrono::milliseconds(250));
    // Writes and closes every file, then ends the thread.
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // Creates `path`, which must not exist yet (an existing file is never overwritten). Returns
    // the file's number, or -1 with the system's reason in `reason`.
    int create(const QString& path, QString* reason);
    // The header of a framed file for `dataBytes` bytes of frames after it; always the same size.
    using HeaderMaker = std::function<QByteArray(std::int64_t dataBytes)>;
    // Creates `path` like create(), as a file of `frameBytes`-byte frames after `header(0)`.
    // append() then takes whole frames.
    int createFramed(const QString& path, int frameBytes, HeaderMaker header, QString* reason);
    // Hands over complete lines for the end of the file. Cheap: no disk access on this thread.
    void append(int file, const QByteArray& lines);
    // Writes `path` anew with `contents`, replacing it at once: it holds the old contents or the
    // new, never a part, and when the writing fails (a full disk) the old stays. Failures are told
    // as failures of `file`, the number it belongs to.
    void replace(int file, const QString& path, const QByteArray& contents);
    // Writes what is left of the file and closes it.
    void close(int file);
    // Returns once everything handed over so far is written, on the device and reported.
    void sync();

    // Bytes handed over and not yet written, for benchmarks.
    std::int64_t backlog() const;

private:
    struct File {
        std::unique_ptr<QFile> file;
        QByteArray pending;
        std::int64_t committed = 0; // bytes on file, all whole lines
        bool unsynced = false;
        bool closing = false;
        bool failed = false;
        int frameBytes = 0; // 0: a file of lines
        HeaderMaker header; // framed files only
        std::int64_t headerBytes = 0;
        std::int64_t headerCovers = 0; // the data bytes the header on file states
    };
    struct Replacement {
        int file;
        QString path;
        QByteArray contents;
    };

    void run();
    // Writes one file's lines; returns the system's reason when it fails.
    static bool writeLines(File& file, const QByteArray& lines, QString* reason);
    // Brings a framed file's header up to what is on file; true when nothing was to do.
    static bool writeHeader(File& file, QString* reason);
    // Syncs the file, and a framed file's header after its data.
    static bool syncFile(File& file, QString* reason);

    FailureHandler onFailure_;
    std::chrono::milliseconds writePeriod_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable synced_;
    std::map<int, File> files_;
    std::vector<Replacement> replacements_;
    int nextFile_ = 1;
    std::uint64_t syncWanted_ = 0;
    std::uint64_t syncDone_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace diagnostika::record
