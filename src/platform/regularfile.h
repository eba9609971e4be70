#pragma once
// Opening a file to write, where a path may name anything: a FIFO's opening waits for a reader that
// may never come, a device's may wait for the device. The thread that opens must not wait so.

#include <QString>

namespace diagnostika {

// Opens `path` for writing from its start, making it when missing, only where it is a regular file
// (a link is not followed): anything else is refused without waiting for it. Returns the open
// file's descriptor, to hand to QFile::open(int, ...), or -1 with the reason in `reason`: the
// system's, or what the path is instead of a regular file.
int openRegularFileToWrite(const QString& path, QString* reason);

} // namespace diagnostika
