#pragma once
// The outbox: every message waits here, on disk, until the broker has acknowledged it, so nothing
// is lost while the broker cannot be reached, and a restart of the program sends what the last run
// left. Used by the publishing thread only; never by the user-interface thread.
//
// On disk: segment files "<first index>.seg" of records [length u32][sequence u64][crc u16]
// [topic length u16][topic][payload], appended in order, and "odoslane" with the index of the first
// record not yet acknowledged (written every few seconds: a crash sends a few again,
// which the sequence numbers let a consumer drop). A record torn by a crash ends its segment.
// Bounded: past the limit the oldest messages are dropped, and counted.

#include "publish/messages.h"

#include <QFile>
#include <QString>
#include <cstdint>
#include <deque>
#include <memory>

namespace diagnostika::publish {

class Outbox {
public:
    Outbox() = default;
    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // Reads what a previous run left in `folder` (made when missing). False, with the system's
    // reason, when the folder cannot be used; the outbox then holds messages in memory only.
    bool open(const QString& folder, std::int64_t limitBytes, QString* error);
    // Writes the acknowledgement mark now; call before the outbox is dropped.
    void close();

    // Indices of the messages held: first() .. end()-1, in the order they were added.
    std::int64_t first() const { return first_; }
    std::int64_t end() const { return first_ + static_cast<std::int64_t>(entries_.size()); }
    const Message& at(std::int64_t index) const { return entries_[index - first_].message; }
    std::uint64_t sequenceAt(std::int64_t index) const { return entries_[index - first_].sequence; }

    // The sequence number the next reading takes: one past the highest ever stored here.
    std::uint64_t nextSequence() const { return nextSequence_; }
    // Adds and writes one reading's messages; drops the oldest past the limit. False (with the
    // reason) when the disk refused: the messages are still held in memory.
    bool append(std::uint64_t sequence, const std::vector<Message>& messages, QString* error);
    // The broker has `index`; everything acknowledged from the front is removed.
    void acknowledge(std::int64_t index);
    // The mark is written when it moved; call every few seconds.
    void writeMark();

    std::int64_t count() const { return static_cast<std::int64_t>(entries_.size()); }
    std::int64_t bytes() const { return bytes_; }
    // Messages dropped at the limit since opening.
    std::int64_t dropped() const { return dropped_; }

private:
    struct Entry {
        std::uint64_t sequence = 0;
        Message message;
        bool acknowledged = false;
    };
    static std::int64_t size(const Message& m) { return m.topic.size() + m.payload.size() + 16; }
    void popFront();
    void removeFinishedSegments();
    bool startSegment(QString* error, bool fresh = false);

    QString folder_;
    std::int64_t limit_ = 0;
    std::deque<Entry> entries_;
    std::int64_t first_ = 0;
    std::int64_t bytes_ = 0;
    std::int64_t dropped_ = 0;
    std::uint64_t nextSequence_ = 1;
    std::int64_t markWritten_ = -1;
    std::deque<std::int64_t> segments_; // first index of each segment file, oldest first
    std::unique_ptr<QFile> current_;
    std::int64_t currentSize_ = 0;
};

} // namespace diagnostika::publish
