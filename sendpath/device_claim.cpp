#include "device_claim.h"

#include "device_error.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace korvantel {

namespace {

const QString kLockDirectory = QStringLiteral("/var/lock");
constexpr qint64 kBinaryPidSize = 4;

std::optional<qint64> pidInLockFile(const QByteArray &contents)
{
    bool isNumber = false;
    qint64 pid = contents.split('\n').first().trimmed().toLongLong(&isNumber);
    if (!isNumber && contents.size() == kBinaryPidSize) {
        std::int32_t binaryPid = 0;
        std::memcpy(&binaryPid, contents.constData(), sizeof binaryPid);
        pid = binaryPid;
    }
    return pid > 0 ? std::optional<qint64>(pid) : std::nullopt;
}

bool processIsAlive(qint64 pid)
{
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

SerialFault faultOfOpenError(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return SerialFault::NoPermission;
    case EBUSY:
        return SerialFault::PortInUse;
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return SerialFault::NoSuchPort;
    default:
        return SerialFault::Other;
    }
}

}  // namespace

QString lockFilePath(const QString &realDevicePath)
{
    QString name = realDevicePath;
    if (name.startsWith(QStringLiteral("/dev/")))
        name.remove(0, 5);
    name.replace(u'/', u'_');
    return kLockDirectory + QStringLiteral("/LCK..") + name;
}

std::optional<qint64> liveLockHolder(const QString &lockFile)
{
    QFile file(lockFile);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const std::optional<qint64> pid = pidInLockFile(file.read(64));
    file.close();
    if (pid && processIsAlive(*pid))
        return pid;
    // An unreadable or dead owner: a crashed program's leftover.
    file.remove();
    return std::nullopt;
}

PropertyWrite DeviceClaim::claim(const QString &realDevicePath)
{
    release();
    const QString lockFile = lockFilePath(realDevicePath);
    if (const std::optional<qint64> holder = liveLockHolder(lockFile)) {
        PropertyWrite refused = PropertyWrite::failed(
            SerialFault::PortInUse,
            onDevice(realDevicePath, QStringLiteral("locked by process %1 (%2)").arg(*holder).arg(lockFile)));
        refused.holderProcess = *holder;
        return refused;
    }

    m_handle = ::open(realDevicePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_handle < 0) {
        const int error = errno;
        return refuse(faultOfOpenError(error), onDevice(realDevicePath, systemError(error)));
    }
    // Root may open a device another program holds with TIOCEXCL; it must not use it.
    int exclusive = 0;
    if (::ioctl(m_handle, TIOCGEXCL, &exclusive) == 0 && exclusive)
        return refuse(SerialFault::PortInUse, onDevice(realDevicePath, QStringLiteral("opened exclusively by another program (TIOCEXCL)")));
    if (::flock(m_handle, LOCK_EX | LOCK_NB) != 0)
        return refuse(SerialFault::PortInUse, onDevice(realDevicePath, QStringLiteral("locked by another program (flock)")));
    return PropertyWrite::done();
}

PropertyWrite DeviceClaim::refuse(SerialFault fault, const QString &description)
{
    release();
    return PropertyWrite::failed(fault, description);
}

void DeviceClaim::release()
{
    if (m_handle >= 0)
        ::close(m_handle);
    m_handle = -1;
}

}  // namespace korvantel
