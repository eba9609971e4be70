#pragma once
// Holds a top-level window's repaints to a screen's pace. Qt repaints a window once per turn of the
// event loop in which something changed; a window whose readouts change with every edge of a fast
// pulse train would then repaint hundreds of times a second, far more than a screen can show. The
// limiter lets one repaint through, and one more at the end of each interval, so every change is
// still shown, at most `intervalMs` late. Texts and states change at once; only their drawing
// waits.

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QWidget;

namespace diagnostika {

class RepaintLimiter : public QObject {
    Q_OBJECT
public:
    // About 60 pictures a second.
    static constexpr int defaultIntervalMs = 16;

    // Limits `window`'s repaints; a window that has a limiter keeps it. The limiter goes with the
    // window.
    static void install(QWidget* window, int intervalMs = defaultIntervalMs);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    RepaintLimiter(QWidget* window, int intervalMs);
    void release();

    QPointer<QWidget> window_;
    int intervalMs_;
    QElapsedTimer last_;
    QTimer held_;
    bool releasing_ = false;
};

} // namespace diagnostika
