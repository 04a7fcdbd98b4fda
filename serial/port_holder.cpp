// SPDX-License-Identifier: MIT
#include "port_holder.h"

#include "device_identity.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <optional>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace korvantel {

namespace {

std::optional<struct stat> statusOf(const QString &path)
{
    struct stat status{};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return status;
}

QString processName(const QString &process)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(process));
    return comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll().trimmed()) : QString();
}

// /proc/locks names a lock's file as major:minor:inode of its filesystem,
// the numbers of the device in hex: "1: FLOCK  ADVISORY  WRITE 4801 00:18:7 0 EOF".
qint64 flockHolder(const struct stat &device)
{
    const QByteArray file = QStringLiteral("%1:%2:%3")
                                .arg(major(device.st_dev), 2, 16, QLatin1Char('0'))
                                .arg(minor(device.st_dev), 2, 16, QLatin1Char('0'))
                                .arg(device.st_ino)
                                .toLatin1();
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : locks.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        // A waiting lock has "->" before its type.
        // A holder outside this process namespace shows as -1 or 0.
        if (fields.size() >= 6 && fields[1] == "FLOCK" && fields[5] == file)
            return std::max(fields[4].toLongLong(), qint64{0});
    }
    return 0;
}

qint64 firstOpener(const struct stat &device)
{
    const QDir proc(QStringLiteral("/proc"));
    for (const QString &process : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort)) {
        if (process.toLongLong() <= 0)
            continue;
        const QDir descriptors(proc.filePath(process + QStringLiteral("/fd")));
        for (const QString &descriptor : descriptors.entryList(QDir::System | QDir::NoDotAndDotDot, QDir::NoSort)) {
            const std::optional<struct stat> opened = statusOf(descriptors.filePath(descriptor));
            if (opened && sameCharacterDevice(*opened, device))
                return process.toLongLong();
        }
    }
    return 0;
}

}  // namespace

PortHolder portHolder(qint64 process)
{
    // The kernel keeps 15 characters of a program's name, ours included.
    static const QString ourName = processName(QStringLiteral("self"));
    const QString name = processName(QString::number(process));
    return {.process = process, .name = name, .thisProgram = !name.isEmpty() && name == ourName};
}

PortHolder findPortHolder(const QString &realDevicePath)
{
    const std::optional<struct stat> device = statusOf(realDevicePath);
    if (!device || !S_ISCHR(device->st_mode))
        return {};
    qint64 process = flockHolder(*device);
    if (process == 0)
        process = firstOpener(*device);
    return process == 0 ? PortHolder{} : portHolder(process);
}

}  // namespace korvantel
