#pragma once
// The shaft's angle from the stamped pulses of a speed sensor.
//
// Every pulse (one edge direction of the speed line) is a known angle: pulse k of a sensor giving
// p pulses a revolution stands k / p revolutions after pulse 0, the first timed pulse taken. Only
// timed edges carry their own moment; an edge that is not timed still counts (the shaft did pass
// that mark), so the pulses after it keep their true angles. Between pulses the moment of any
// angle is interpolated by a cubic through the four timed pulses around it: exact for a shaft
// turning at a steady acceleration up to the stamps' own scatter, where a straight line between
// two pulses would err by a quarter of the speed change over a pulse period.
//
// All moments are monotonic microseconds, the scale of LineEvent::stampUs and of
// VibrationBlock::firstSampleUs.

#include <cstdint>
#include <deque>
#include <optional>

namespace diagnostika::orders {

class Tachometer {
public:
    // `onActive`: pulses are the edges to the active level; otherwise those to the inactive one.
    explicit Tachometer(double pulsesPerRevolution, bool onActive = true);

    double pulsesPerRevolution() const { return perRevolution_; }

    // Takes one edge of the speed line, in the order they happened.
    void addEdge(bool level, std::int64_t stampUs, bool timed);
    // Forgets everything: the next timed pulse is pulse 0 again.
    void reset();
    // Forgets the pulses no longer needed to place moments from `us` on.
    void forgetBefore(double us);

    // When the shaft stood `revolutions` after pulse 0; none outside the timed pulses held.
    std::optional<double> timeAt(double revolutions) const;
    // The revolutions from pulse 0 at `us`; none outside the timed pulses held.
    std::optional<double> revolutionsAt(double us) const;
    // The moment of pulse 0 (angle 0, the reference of every phase); none before it.
    std::optional<double> referenceUs() const { return reference_; }
    // The first and last revolutions a moment can be placed for.
    std::optional<double> firstRevolution() const;
    std::optional<double> lastRevolution() const;
    // The last timed pulse's moment.
    std::optional<double> lastPulseUs() const;
    // The speed in min^-1 over the last whole revolution of timed pulses (so unevenly spaced marks
    // on the shaft do not make it jitter); none before a revolution's pulses.
    std::optional<double> lastSpeed() const;

private:
    struct Pulse {
        std::int64_t index;
        double us;
    };
    double perRevolution_;
    bool onActive_;
    std::deque<Pulse> pulses_; // timed ones only, oldest first
    std::optional<double> reference_;
    std::int64_t next_ = 0; // the index the next pulse gets
};

} // namespace diagnostika::orders
