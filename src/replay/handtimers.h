#pragma once
// The played windows' timers run on the replay's time, not the wall clock's: their own firing is
// dropped, and the replay fires each one when the recording's time reaches its due moment. So a
// window ticks as it did live whether the replay runs at real speed, faster, or all at once.

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <cstdint>
#include <optional>
#include <vector>

namespace diagnostika::replay {

class HandTimers : public QObject {
    Q_OBJECT
public:
    // Takes over every timer under `root` not taken yet (call again when a window opens anew).
    void adopt(QObject* root);

    // The earliest due moment among the running timers, on the caller's microsecond scale, with
    // `nowUs` the moment now (timers started since the last look count from it).
    std::optional<std::int64_t> nextDueUs(std::int64_t nowUs);
    // Fires the timer due first, if it is due at `nowUs`; false when none is.
    bool fireDue(std::int64_t nowUs);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Entry {
        QPointer<QTimer> timer;
        int id = 0;             // the run it was last seen in: a restart gives a new id
        std::int64_t dueUs = 0; // of that run
    };
    void look(std::int64_t nowUs);

    std::vector<Entry> entries_;
    bool firing_ = false;
};

} // namespace diagnostika::replay
