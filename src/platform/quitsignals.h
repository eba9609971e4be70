#pragma once
// The requests to end the program that come from outside it: SIGINT (Ctrl+C), SIGTERM (a shutdown,
// `kill`) and SIGHUP (the terminal went away). Without this they would end the program on the spot,
// leaving its lock files behind and its ports in exclusive use. While an object of this class
// lives, each of them is turned into `quitRequested` on the thread that made the object, from its
// event loop, so that the program can quit in order (close its windows, release its ports).
//
// One object at a time; the signals' former handling comes back when it is destroyed. A second
// signal while the first is being handled (the event loop may be stuck: the user-interface thread
// waiting on a file that never answers) ends the program at once, from the signal handler: it
// removes the serial lock files the program holds and exits with 128 + that signal's number.

#include <QObject>
#include <memory>

namespace diagnostika {

class QuitSignals final : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

    // The first signal received, or 0.
    int received() const { return received_; }

Q_SIGNALS:
    void quitRequested(int signalNumber);

private:
    struct Handling;
    std::unique_ptr<Handling> handling_;
    int received_ = 0;
};

} // namespace diagnostika
