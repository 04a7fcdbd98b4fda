// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

#include <sys/types.h>

namespace korvantel {

// UUCP-style lock files (/var/lock/LCK..ttyS0), as minicom, cu, lockdev and
// QSerialPort write them. Each names the process that holds the device.

// The PID in a lock file's contents, read as those programs read it: the
// leading decimal number after blanks ("%10d\n", "%10d minicom root\n",
// QLockFile's "PID\napp\nhost\n"); or, in a file of exactly four bytes with a
// zero byte, which no text holds, the binary PID of old UUCP. Only 1..pidMax
// counts as read.
std::optional<pid_t> pidInLockFile(const QByteArray &contents, qint64 pidMax);

struct LockOwner
{
    enum class State : std::uint8_t {
        Gone,        // no such file (any more)
        Live,        // names a running process
        Stale,       // names a process that has ended
        Unreadable,  // no PID can be read from it; left for an administrator
        NotAFile,    // a FIFO, socket, device or folder under a lock's name
    };
    State state = State::Gone;
    pid_t pid = 0;
};

// Reads only a regular file, by an open that cannot block.
LockOwner readLockOwner(const QString &lockFile);

// Removes a stale lock without ever removing a live one: the file is renamed
// aside, read again, and put back if it turned out not to be stale (a lock
// that another program put there meanwhile). Returns what stands there now:
// Gone once removed, Stale if this account may not remove it.
LockOwner removeIfStale(const QString &lockFile);

// Every entry in `lockFolder` that stands for `realDevice`, under whatever
// name its owner opened it: LCK..<path under /dev with / as _> (a udev alias,
// /dev/serial/by-id/...), LCK.._<absolute path> for one outside /dev, or
// LCK..<basename> as cu writes it. The work per name is bounded by the
// folders the name can lead to, times its length, whatever links they hold.
QStringList lockFilesForDevice(const QString &lockFolder, const QString &realDevice);

}  // namespace korvantel
