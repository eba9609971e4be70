#pragma once
// The `LCK..<name>` lock file that serial programs on Unix honour (minicom, picocom, Qt's serial
// port module, ModemManager's tools): a file holding the owner's PID in the first lock directory
// that is there. A lock whose PID no longer runs is stale and taken over.

#include <QString>
#include <QStringList>

namespace diagnostika {

class SerialPortLock {
public:
    enum class Result {
        Taken,   // the lock is ours now
        Held,    // a running process holds it
        NoPlace, // no lock directory can be used: the port is opened without a lock
        Failed,  // the lock file could not be written or read
    };

    // The directories looked at, in order: the same as Qt's serial port module, so that programs
    // built on it and this one see each other's locks.
    static QStringList defaultDirectories();

    explicit SerialPortLock(QStringList directories = defaultDirectories());
    ~SerialPortLock();
    SerialPortLock(const SerialPortLock&) = delete;
    SerialPortLock& operator=(const SerialPortLock&) = delete;

    // Locks `device` (a path such as /dev/ttyS0). On Held, `holder` is the owner's PID (0 when
    // none is known) and `reason` names the holder and the lock file, in Slovak; on Failed,
    // `reason` is the system's reason (a lock name too long for a file name is Failed, never Held).
    Result acquire(const QString& device, long* holder = nullptr, QString* reason = nullptr);
    // Removes the lock file if it is ours. Harmless when nothing is locked.
    void release();

    // The lock's file name for `device`: "LCK.." and the name of the device the path leads to.
    static QString lockNameFor(const QString& device);
    // The lock file for `device`: in the first readable directory that has the file already or is
    // writable. Empty when none qualifies.
    QString lockPathFor(const QString& device) const;
    QString path() const { return path_; }

private:
    QStringList directories_;
    QString path_;  // our lock file while held
    int slot_ = -1; // its entry among the locks removeHeldSerialLocksNow() knows, or -1
};

// Removes every lock file this process holds, as release() would, from a signal handler: it only
// reads what acquire() put aside beforehand and calls nothing but async-signal-safe functions.
// For a program that must end at once; the objects still think they hold their locks.
void removeHeldSerialLocksNow() noexcept;

} // namespace diagnostika
