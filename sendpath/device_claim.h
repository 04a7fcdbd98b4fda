#pragma once

#include "serial_port_cycle.h"

#include <QString>

#include <optional>

namespace korvantel {

// The lock file that UUCP-style programs (minicom, cu) and QSerialPort keep
// for a device: /var/lock/LCK..ttyS0, or LCK..pts_3 for /dev/pts/3.
QString lockFilePath(const QString &realDevicePath);

// The live process a lock file names. A file whose process has gone is stale
// and is removed; a live one is never touched. Reads both the ASCII form
// (QSerialPort, minicom) and the 4-byte binary form of old UUCP programs.
std::optional<qint64> liveLockHolder(const QString &lockFile);

// Holds a device against every other program by the conventions Linux serial
// programs use, root's included: refuses a device whose lock file names a live
// process, that another program opened exclusively (TIOCEXCL), or that another
// program has flock()ed; then keeps its own flock() until released.
class DeviceClaim
{
public:
    DeviceClaim() = default;
    ~DeviceClaim() { release(); }

    DeviceClaim(const DeviceClaim &) = delete;
    DeviceClaim &operator=(const DeviceClaim &) = delete;

    PropertyWrite claim(const QString &realDevicePath);
    void release();

private:
    PropertyWrite refuse(SerialFault fault, const QString &description);

    int m_handle = -1;
};

}  // namespace korvantel
