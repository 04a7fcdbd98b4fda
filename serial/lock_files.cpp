// SPDX-License-Identifier: MIT
#include "lock_files.h"

#include "device_identity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <tuple>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvantel {

namespace {

constexpr qsizetype kBinaryPidSize = 4;
constexpr qint64 kLargestPidMax = 4'194'304;  // the kernel's PID_MAX_LIMIT
const QByteArray kLockPrefix = QByteArrayLiteral("LCK..");

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

std::optional<struct stat> characterDevice(const QString &path)
{
    struct stat status{};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISCHR(status.st_mode))
        return std::nullopt;
    return status;
}

// Every name in a folder, of whatever kind, unsorted: a lock folder may hold
// thousands. Nothing when the folder may not be listed.
std::optional<QList<QByteArray>> namesIn(int parent, const char *folder)
{
    const int handle = ::openat(parent, folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *entries = handle >= 0 ? ::fdopendir(handle) : nullptr;
    if (entries == nullptr) {
        if (handle >= 0)
            ::close(handle);
        return std::nullopt;
    }
    QList<QByteArray> names;
    while (const dirent *entry = ::readdir(entries))
        names.append(entry->d_name);
    ::closedir(entries);
    return names;
}

// Reads lock names, split at their underscores, as paths from /dev (or from /
// for a name that starts with _) and tells which name the device. A name
// keeps no trace of which _ were /, so every reading is tried; links may lead
// many readings into one folder, which is looked into once at each place in
// a name. Each folder met is listed once for all names, so that a reading
// that leads nowhere costs no system call; one that may not be listed is
// asked name by name.
class LockNameReader
{
public:
    explicit LockNameReader(const struct stat &device)
        : m_device(device)
        , m_dev(openFolder(AT_FDCWD, "/dev"))
        , m_root(openFolder(AT_FDCWD, "/"))
    {
    }
    ~LockNameReader()
    {
        for (const int folder : {m_dev, m_root}) {
            if (folder >= 0)
                ::close(folder);
        }
    }
    LockNameReader(const LockNameReader &) = delete;
    LockNameReader &operator=(const LockNameReader &) = delete;

    bool namesDevice(const QString &name)
    {
        const bool absolute = name.startsWith(u'_');
        m_parts = QFile::encodeName(absolute ? name.mid(1) : name).split('_');
        m_tried.clear();
        const int from = absolute ? m_root : m_dev;
        return from >= 0 && namesDeviceIn(from, 0);
    }

private:
    using Identity = std::pair<dev_t, ino_t>;

    static int openFolder(int parent, const char *name)
    {
        const int folder = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        return folder >= 0 ? folder : ::openat(parent, name, O_PATH | O_DIRECTORY | O_CLOEXEC);
    }

    bool namesDeviceIn(int folder, qsizetype from)
    {
        struct stat status{};
        if (::fstat(folder, &status) != 0 || !m_tried.insert({status.st_dev, status.st_ino, from}).second)
            return false;
        const std::optional<QSet<QByteArray>> &listed = listing(folder, {status.st_dev, status.st_ino});
        QByteArray component;
        for (qsizetype end = from; end < m_parts.size(); ++end) {
            component += (end > from ? "_" : "") + m_parts[end];
            if ((listed && !listed->contains(component)) || component.isEmpty() || component == "."
                || component == ".." || ::fstatat(folder, component.constData(), &status, 0) != 0)
                continue;
            if (end + 1 == m_parts.size() ? sameCharacterDevice(status, m_device)
                                          : S_ISDIR(status.st_mode) && namesDeviceBelow(folder, component, end + 1))
                return true;
        }
        return false;
    }

    bool namesDeviceBelow(int parent, const QByteArray &name, qsizetype from)
    {
        const int folder = openFolder(parent, name.constData());
        if (folder < 0)
            return false;
        const bool names = namesDeviceIn(folder, from);
        ::close(folder);
        return names;
    }

    const std::optional<QSet<QByteArray>> &listing(int folder, const Identity &identity)
    {
        const auto [known, added] = m_listings.try_emplace(identity);
        if (!added)
            return known->second;
        if (const std::optional<QList<QByteArray>> names = namesIn(folder, "."))
            known->second.emplace(names->begin(), names->end());
        return known->second;
    }

    struct stat m_device;
    int m_dev;
    int m_root;
    QList<QByteArray> m_parts;
    std::set<std::tuple<dev_t, ino_t, qsizetype>> m_tried;
    std::map<Identity, std::optional<QSet<QByteArray>>> m_listings;
};

}  // namespace

std::optional<pid_t> pidInLockFile(const QByteArray &contents, qint64 pidMax)
{
    // A binary PID, at most PID_MAX_LIMIT, has a zero high byte, which no text
    // lock holds; its low bytes may well look like digits ("1", "9" for 14641).
    if (contents.size() == kBinaryPidSize && contents.contains('\0')) {
        std::int32_t binary = 0;
        std::memcpy(&binary, contents.constData(), sizeof binary);
        return binary >= 1 && binary <= pidMax ? std::optional<pid_t>(binary) : std::nullopt;
    }
    const std::optional<qint64> pid = leadingDecimal(contents);
    if (!pid || *pid < 1 || *pid > pidMax)
        return std::nullopt;
    return static_cast<pid_t>(*pid);
}

LockOwner readLockOwner(const QString &lockFile)
{
    static const qint64 pidMax = kernelPidMax();
    const QByteArray path = QFile::encodeName(lockFile);
    struct stat status{};
    if (::stat(path.constData(), &status) != 0)
        return {.state = errno == ENOENT ? LockOwner::State::Gone : LockOwner::State::Unreadable};
    // Never opened unless regular: a FIFO would block the read for good, a device would be used.
    if (!S_ISREG(status.st_mode))
        return {.state = LockOwner::State::NotAFile};
    const int handle = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (handle < 0)
        return {.state = errno == ENOENT ? LockOwner::State::Gone : LockOwner::State::Unreadable};
    char contents[128];
    // Swapped for something else since the stat, it is read no further.
    const bool regular = ::fstat(handle, &status) == 0 && S_ISREG(status.st_mode);
    const ssize_t size = regular ? ::read(handle, contents, sizeof contents) : -1;
    ::close(handle);
    if (!regular)
        return {.state = LockOwner::State::NotAFile};
    const std::optional<pid_t> pid = size < 0 ? std::nullopt : pidInLockFile(QByteArray(contents, size), pidMax);
    if (!pid)
        return {.state = LockOwner::State::Unreadable};
    return {.state = processIsAlive(*pid) ? LockOwner::State::Live : LockOwner::State::Stale, .pid = *pid};
}

LockOwner removeIfStale(const QString &lockFile)
{
    const QFileInfo lock(lockFile);
    const QByteArray original = QFile::encodeName(lockFile);
    const QByteArray aside = QFile::encodeName(
        // In one pass: a "%1" in the lock's own name is no place for our PID.
        lock.dir().filePath(QStringLiteral(".%1.stale-%2").arg(lock.fileName(), QString::number(::getpid()))));
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
    const std::optional<struct stat> device = characterDevice(realDevice);
    const QString baseName = QFileInfo(realDevice).fileName();
    QStringList locks;
    const QDir folder(lockFolder);
    std::optional<LockNameReader> reader;  // made at the first lock: most sends meet none
    const QList<QByteArray> entries =
        namesIn(AT_FDCWD, QFile::encodeName(lockFolder).constData()).value_or(QList<QByteArray>());
    for (const QByteArray &entry : entries) {
        if (!entry.startsWith(kLockPrefix))
            continue;
        const QString name = QFile::decodeName(entry.mid(kLockPrefix.size()));
        if (device && !reader)
            reader.emplace(*device);
        if (name == baseName || (reader && reader->namesDevice(name)))
            locks.append(folder.filePath(QFile::decodeName(entry)));
    }
    return locks;
}

}  // namespace korvantel
