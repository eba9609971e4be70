#pragma once
// Handing a file's written data to the storage device, so that a power cut after the call does not
// lose it.

#include <QByteArray>
#include <QString>

namespace diagnostika {

// Waits until the data written to the open file `fd` is on the device. Returns false with the
// system's reason in `reason` (may be null) when the device reports a failure.
bool syncToDevice(int fd, QString* reason);

// Makes `path` hold `contents`, or leaves it as it was: the contents go to a new file of a name
// nobody has (made exclusively, never through a link) beside `path`, and that file replaces `path`
// only once every byte of it is on the device. When any step fails, the new file is removed and
// false comes back with the system's reason in `reason` (may be null).
bool replaceFile(const QString& path, const QByteArray& contents, QString* reason);

} // namespace diagnostika
