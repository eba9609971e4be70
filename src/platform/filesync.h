#pragma once
// Handing a file's written data to the storage device, so that a power cut after the call does not
// lose it.

#include <QString>

namespace diagnostika {

// Waits until the data written to the open file `fd` is on the device. Returns false with the
// system's reason in `reason` (may be null) when the device reports a failure.
bool syncToDevice(int fd, QString* reason);

} // namespace diagnostika
