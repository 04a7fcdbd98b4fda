// SPDX-License-Identifier: MIT
#include "lock_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace korvantel {

namespace {

constexpr qsizetype kBinaryPidSize = 4;
constexpr qint64 kLargestPidMax = 4'194'304;  // the kernel's PID_MAX_LIMIT
const QString kLockPrefix = QStringLiteral("LCK..");

qint64 kernelPidMax()
{
    QFile limit(QStringLiteral("/proc/sys/kernel/pid_max"));
    bool read = false;
    const qint64 value = limit.open(QIODevice::ReadOnly) ? limit.readAll().trimmed().toLongLong(&read) : 0;
    return read && value > 0 ? value : kLargestPidMax;
}

// sscanf("%d")'s reading: blanks, one sign, digits. Stops growing past the
// largest PID so that no number can overflow.
std::optional<qint64> leadingDecimal(const QByteArray &contents)
{
    qsizetype position = 0;
    while (position < contents.size() && std::isspace(static_cast<unsigned char>(contents[position])))
        ++position;
    const bool negative = position < contents.size() && contents[position] == '-';
    if (position < contents.size() && (contents[position] == '-' || contents[position] == '+'))
        ++position;
    const qsizetype firstDigit = position;
    qint64 value = 0;
    for (; position < contents.size() && std::isdigit(static_cast<unsigned char>(contents[position])); ++position) {
        if (value <= kLargestPidMax)
            value = value * 10 + (contents[position] - '0');
    }
    if (position == firstDigit)
        return std::nullopt;
    return negative ? -value : value;
}

bool processIsAlive(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

std::optional<dev_t> characterDevice(const QString &path)
{
    struct stat status{};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISCHR(status.st_mode))
        return std::nullopt;
    return status.st_rdev;
}

// Whether `parts`, joined by / or _ at each seam, name a path under `folder`
// that is the device `device`. A lock name keeps no trace of which _ were /.
bool namesDevice(const QString &folder, const QStringList &parts, qsizetype from, dev_t device)
{
    for (qsizetype end = from + 1; end <= parts.size(); ++end) {
        const QString component = parts.mid(from, end - from).join(u'_');
        if (component.isEmpty() || component == u"." || component == u"..")
            continue;
        const QString path = folder + u'/' + component;
        if (end == parts.size()) {
            if (characterDevice(path) == device)
                return true;
        } else if (QFileInfo(path).isDir() && namesDevice(path, parts, end, device)) {
            return true;
        }
    }
    return false;
}

bool lockNameStandsFor(const QString &name, dev_t device)
{
    const bool absolute = name.startsWith(u'_');
    const QStringList parts = (absolute ? name.mid(1) : name).split(u'_');
    return namesDevice(absolute ? QString() : QStringLiteral("/dev"), parts, 0, device);
}

}  // namespace

std::optional<pid_t> pidInLockFile(const QByteArray &contents, qint64 pidMax)
{
    std::optional<qint64> pid = leadingDecimal(contents);
    if (!pid && contents.size() == kBinaryPidSize) {
        std::int32_t binary = 0;
        std::memcpy(&binary, contents.constData(), sizeof binary);
        pid = binary;
    }
    if (!pid || *pid < 1 || *pid > pidMax)
        return std::nullopt;
    return static_cast<pid_t>(*pid);
}

LockOwner readLockOwner(const QString &lockFile)
{
    static const qint64 pidMax = kernelPidMax();
    QFile file(lockFile);
    if (!file.open(QIODevice::ReadOnly))
        return {.state = file.exists() ? LockOwner::State::Unreadable : LockOwner::State::Gone};
    const std::optional<pid_t> pid = pidInLockFile(file.read(128), pidMax);
    if (!pid)
        return {.state = LockOwner::State::Unreadable};
    return {.state = processIsAlive(*pid) ? LockOwner::State::Live : LockOwner::State::Stale, .pid = *pid};
}

LockOwner removeIfStale(const QString &lockFile)
{
    const QFileInfo lock(lockFile);
    const QByteArray original = QFile::encodeName(lockFile);
    const QByteArray aside = QFile::encodeName(
        lock.dir().filePath(QStringLiteral(".%1.stale-%2").arg(lock.fileName()).arg(::getpid())));
    if (::rename(original.constData(), aside.constData()) != 0) {
        if (errno == ENOENT)
            return {.state = LockOwner::State::Gone};
        return readLockOwner(lockFile);  // not ours to remove: it stays as it is
    }
    const LockOwner owner = readLockOwner(QFile::decodeName(aside));
    if (owner.state == LockOwner::State::Stale) {
        ::unlink(aside.constData());
        return {.state = LockOwner::State::Gone};
    }
    // Another program's lock came in between; link() never replaces a third.
    if (::link(aside.constData(), original.constData()) == 0)
        ::unlink(aside.constData());
    return owner;
}

QStringList lockFilesForDevice(const QString &lockFolder, const QString &realDevice)
{
    const std::optional<dev_t> device = characterDevice(realDevice);
    const QString baseName = QFileInfo(realDevice).fileName();
    QStringList locks;
    const QDir folder(lockFolder);
    for (const QString &entry : folder.entryList({kLockPrefix + u'*'}, QDir::Files | QDir::System | QDir::Hidden)) {
        const QString name = entry.mid(kLockPrefix.size());
        if (name == baseName || (device && lockNameStandsFor(name, *device)))
            locks.append(folder.filePath(entry));
    }
    return locks;
}

}  // namespace korvantel
