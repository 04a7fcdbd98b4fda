// SPDX-License-Identifier: MIT
#pragma once

#include "serial_port_cycle.h"

#include <QString>

namespace korvantel {

// Holds a device against every other program by the conventions Linux serial
// programs use, root's included: refuses a device for which a lock file under
// any of its names (see lockFilesForDevice) names a live process, that another
// program opened exclusively (TIOCEXCL), or that another program has flock()ed;
// then keeps its own flock() until released. Stale lock files are removed; one
// this account may not remove, or one with no readable PID, refuses the claim.
class DeviceClaim
{
public:
    explicit DeviceClaim(QString lockFolder) : m_lockFolder(std::move(lockFolder)) {}
    ~DeviceClaim() { release(); }

    DeviceClaim(const DeviceClaim &) = delete;
    DeviceClaim &operator=(const DeviceClaim &) = delete;

    PropertyWrite claim(const QString &realDevicePath);
    void release();

    // The lock files' verdict alone: done, or why they refuse the device.
    PropertyWrite checkLockFiles(const QString &realDevicePath) const;
    const QString &lockFolder() const { return m_lockFolder; }

private:
    // Opens and holds the device; on a refusal the caller releases it.
    PropertyWrite take(const QString &realDevicePath);

    QString m_lockFolder;
    int m_handle = -1;
};

}  // namespace korvantel
