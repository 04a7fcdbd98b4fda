// SPDX-License-Identifier: MIT
#include "device_claim.h"

#include "account_groups.h"
#include "device_error.h"
#include "lock_files.h"
#include "port_holder.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace korvantel {

namespace {

// An account granted the device's group keeps its old groups in every process
// of a session that began before, a systemd user manager that outlives a
// logout among them: then only a new login helps, not another grant.
SerialFault permissionFault(const QString &realDevicePath)
{
    struct stat status{};
    const passwd *account = ::getpwuid(::getuid());
    if (account && ::stat(QFile::encodeName(realDevicePath).constData(), &status) == 0
        && !processHasGroup(status.st_gid) && accountHasGroup(QFile::decodeName(account->pw_name), status.st_gid))
        return SerialFault::GroupNotInSession;
    return SerialFault::NoPermission;
}

SerialFault faultOfOpenError(int error, const QString &realDevicePath)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return permissionFault(realDevicePath);
    case EBUSY:
        return SerialFault::PortInUse;
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case EIO:
        return SerialFault::NoSuchPort;
    default:
        return SerialFault::Other;
    }
}

PropertyWrite refusedByLock(const QString &lockFile, const LockOwner &owner)
{
    static const QString inUse = QStringLiteral("ไฟล์ล็อกระบุโปรเซสที่ยังทำงานอยู่");
    static const QString stale = QStringLiteral("ไฟล์ล็อกระบุโปรเซสที่จบไปแล้ว แต่บัญชีนี้ลบไฟล์ไม่ได้");
    static const QString unreadable = QStringLiteral("อ่านหมายเลขโปรเซสจากไฟล์ล็อกไม่ได้");
    static const QString notAFile = QStringLiteral("ไฟล์ล็อกนี้ไม่ใช่ไฟล์ธรรมดา จึงไม่ได้อ่าน");
    PropertyWrite refused;
    switch (owner.state) {
    case LockOwner::State::Live:
        refused = PropertyWrite::failed(SerialFault::PortInUse, inUse);
        refused.holder = portHolder(owner.pid);
        break;
    case LockOwner::State::Stale:
        refused = PropertyWrite::failed(SerialFault::StaleLock, stale);
        break;
    case LockOwner::State::NotAFile:
        refused = PropertyWrite::failed(SerialFault::UnreadableLock, notAFile);
        break;
    case LockOwner::State::Unreadable:
    case LockOwner::State::Gone:
        refused = PropertyWrite::failed(SerialFault::UnreadableLock, unreadable);
        break;
    }
    refused.lockFile = lockFile;
    return refused;
}

}  // namespace

PropertyWrite DeviceClaim::checkLockFiles(const QString &realDevicePath) const
{
    for (const QString &lockFile : lockFilesForDevice(m_lockFolder, realDevicePath)) {
        LockOwner owner = readLockOwner(lockFile);
        if (owner.state == LockOwner::State::Stale)
            owner = removeIfStale(lockFile);
        if (owner.state != LockOwner::State::Gone)
            return refusedByLock(lockFile, owner);
    }
    return PropertyWrite::done();
}

PropertyWrite DeviceClaim::claim(const QString &realDevicePath)
{
    release();
    if (PropertyWrite locked = checkLockFiles(realDevicePath); !locked.ok())
        return locked;
    PropertyWrite taken = take(realDevicePath);
    if (!taken.ok())
        release();
    // Looked for only once our own descriptor is closed, so that it is not ours.
    if (taken.fault == SerialFault::PortInUse)
        taken.holder = findPortHolder(realDevicePath);
    return taken;
}

PropertyWrite DeviceClaim::take(const QString &realDevicePath)
{
    m_handle = ::open(QFile::encodeName(realDevicePath).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_handle < 0) {
        const int error = errno;
        return PropertyWrite::failed(faultOfOpenError(error, realDevicePath), systemError(error));
    }
    // A legacy port with no UART behind it opens, then fails every termios call.
    termios line{};
    if (::tcgetattr(m_handle, &line) != 0 && errno == EIO)
        return PropertyWrite::failed(SerialFault::NoSuchPort,
                                     QStringLiteral("อุปกรณ์นี้เป็นเพียงชื่อที่เคอร์เนลจองไว้ ไม่มีพอร์ตอนุกรมอยู่จริง: ") + systemError(EIO));
    // Root may open a device another program holds with TIOCEXCL; it must not use it.
    int exclusive = 0;
    if (::ioctl(m_handle, TIOCGEXCL, &exclusive) == 0 && exclusive)
        return PropertyWrite::failed(SerialFault::PortInUse,
                                     QStringLiteral("โปรแกรมอื่นเปิดอุปกรณ์นี้แบบใช้ผู้เดียว (TIOCEXCL)"));
    if (::flock(m_handle, LOCK_EX | LOCK_NB) != 0)
        return PropertyWrite::failed(SerialFault::PortInUse, QStringLiteral("โปรแกรมอื่นล็อกอุปกรณ์นี้ไว้ (flock)"));
    return PropertyWrite::done();
}

void DeviceClaim::release()
{
    if (m_handle >= 0)
        ::close(m_handle);
    m_handle = -1;
}

}  // namespace korvantel
