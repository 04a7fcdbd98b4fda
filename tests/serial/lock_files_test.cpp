// SPDX-License-Identifier: MIT
// Other programs' lock files, in the forms real programs write them and under
// the names they give them, against the whole open of the serial control.

#include "lock_files.h"
#include "qt_serial_control.h"

#include "support/account.h"
#include "support/port1_on_pty.h"
#include "support/pseudo_terminal.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace korvantel {
namespace {

using testing::port1On;
using testing::PseudoTerminal;

QByteArray binaryPid(qint64 pid)
{
    const auto value = static_cast<std::int32_t>(pid);
    return {reinterpret_cast<const char *>(&value), sizeof value};
}

bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(contents) == contents.size();
}

TEST(LockFilePid, IsReadAsTheProgramsThatWriteItReadIt)
{
    constexpr qint64 kPidMax = 32768;
    struct Case
    {
        QByteArray contents;
        std::optional<pid_t> pid;
    };
    const Case cases[] = {
        {"      4242\n", 4242},                  // lockdev, minicom today
        {"      4242 minicom root\n", 4242},     // older minicom, UUCP-style
        {"4242\nkorvantel-demo\nhost\n", 4242},  // QLockFile
        {binaryPid(4242), 4242},                 // old UUCP
        {binaryPid(14641), 14641},               // "19\0\0": not PID 19
        {binaryPid(9008), 9008},                 // "0#\0\0"
        {"999\n", 999},                          // four bytes, but a number
        {"+17", 17},
        {"32768\n", 32768},
        {"32769\n", std::nullopt},  // beyond the kernel's pid_max
        {"-1\n", std::nullopt},     // would probe a process group
        {"0\n", std::nullopt},
        {"99999999999999999999999\n", std::nullopt},
        {binaryPid(-7), std::nullopt},
        {"", std::nullopt},
        {"minicom 4242\n", std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.contents.toHex(' ').toStdString());
        EXPECT_EQ(pidInLockFile(c.contents, kPidMax), c.pid);
    }
}

// The name a program gives its lock, from the path it opened the device by.
QString lockName(const QString &path)
{
    QString name = path.startsWith("/dev/") ? path.mid(5) : path;
    return QStringLiteral("LCK..") + name.replace(u'/', u'_');
}

TEST(LockFilesOfOtherPrograms, ALiveOneRefusesAStaleOneGoesAnUnreadableOneIsLeftForAnAdministrator)
{
    const std::unique_ptr<QProcess> live = testing::sleeper();
    const qint64 livePid = live->processId();
    const qint64 stalePid = testing::endedProcessId();
    const std::function<QByteArray(qint64)> forms[] = {
        [](qint64 pid) { return QByteArray::number(pid).rightJustified(10, ' ') + '\n'; },
        [](qint64 pid) { return QByteArray::number(pid).rightJustified(10, ' ') + " minicom root\n"; },
        [](qint64 pid) { return QByteArray::number(pid) + "\nqtprogram\nhost\n"; },
        binaryPid,
    };
    const std::function<QString(const PseudoTerminal &)> names[] = {
        [](const PseudoTerminal &pty) { return lockName(pty.slavePath()); },   // the device itself
        [](const PseudoTerminal &pty) { return lockName(pty.devicePath()); },  // a symlink, '_' in its folder's name
        [](const PseudoTerminal &pty) { return "LCK.." + QFileInfo(pty.slavePath()).fileName(); },  // cu
    };
    struct State
    {
        QByteArray contents;
        SerialFault fault;
        bool lockStays;
    };
    for (const auto &form : forms) {
        for (const auto &name : names) {
            const State states[] = {
                {form(livePid), SerialFault::PortInUse, true},
                {form(stalePid), SerialFault::None, false},
                {"garbage\n", SerialFault::UnreadableLock, true},
                {"-1\n", SerialFault::UnreadableLock, true},
            };
            for (const State &state : states) {
                PseudoTerminal pty;
                QtSerialControl comm(port1On(pty), pty.lockFolder());
                const QString lock = QDir(pty.lockFolder()).filePath(name(pty));
                SCOPED_TRACE(lock.toStdString() + " holding " + state.contents.toHex(' ').toStdString());
                ASSERT_TRUE(writeFile(lock, state.contents));

                comm.setSettings("9600,n,8,1");
                const PropertyWrite opened = comm.setPortOpen(true);
                EXPECT_EQ(opened.fault, state.fault) << opened.description.toStdString();
                EXPECT_EQ(QFile::exists(lock), state.lockStays);
                EXPECT_EQ(opened.lockFile, state.lockStays ? lock : QString());
                const PortHolder holder = state.fault == SerialFault::PortInUse
                                              ? PortHolder{.process = livePid, .name = "sleep"}
                                              : PortHolder{};
                EXPECT_EQ(opened.holder, holder);
                comm.setOutput("A");
                comm.setPortOpen(false);
                EXPECT_EQ(pty.readAll().size(), state.lockStays ? 0 : 1);
            }
        }
    }
}

TEST(LockFilesOfOtherPrograms, ALiveLockSwappedInBetweenTheReadAndTheRemovalIsKept)
{
    QTemporaryDir folder;
    const QString lock = folder.filePath("LCK..ttyS0");
    ASSERT_TRUE(writeFile(lock, QByteArray::number(testing::endedProcessId()) + '\n'));
    ASSERT_EQ(readLockOwner(lock).state, LockOwner::State::Stale);

    // Another program removes the stale lock and takes the device, as QLockFile does.
    const std::unique_ptr<QProcess> owner = testing::sleeper();
    const QByteArray liveContents = QByteArray::number(owner->processId()) + '\n';
    ASSERT_TRUE(writeFile(folder.filePath("new"), liveContents));
    ASSERT_EQ(::rename(QFile::encodeName(folder.filePath("new")).constData(), QFile::encodeName(lock).constData()), 0);

    const LockOwner found = removeIfStale(lock);
    EXPECT_EQ(found.state, LockOwner::State::Live);
    EXPECT_EQ(found.pid, owner->processId());
    QFile kept(lock);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), liveContents);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"LCK..ttyS0"});
}

// The lock folder is writable by every account: nothing standing there under
// a name of the device may freeze the send, and none of it is read or removed.
TEST(LockFilesOfOtherPrograms, WhateverStandsUnderALockNameIsRefusedWithoutBlocking)
{
    const std::function<bool(const QString &)> entries[] = {
        [](const QString &path) { return ::mkfifo(QFile::encodeName(path).constData(), 0666) == 0; },
        [](const QString &path) { return ::mkdir(QFile::encodeName(path).constData(), 0755) == 0; },
        [](const QString &path) {
            return ::mkfifo(QFile::encodeName(path + ".fifo").constData(), 0666) == 0 && QFile::link(path + ".fifo", path);
        },
        [](const QString &path) { return QFile::link("/dev/zero", path); },
        [](const QString &path) {
            const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
            qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
            const bool bound = ::bind(listener, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
            ::close(listener);
            return bound;
        },
    };
    for (const auto &make : entries) {
        PseudoTerminal pty;
        const QString lock = QDir(pty.lockFolder()).filePath(lockName(pty.slavePath()));
        ASSERT_TRUE(make(lock)) << lock.toStdString();
        SCOPED_TRACE(QFileInfo(lock).symLinkTarget().toStdString() + " " + std::to_string(QFileInfo(lock).isDir()));

        QtSerialControl comm(port1On(pty), pty.lockFolder());
        const PropertyWrite opened = comm.setPortOpen(true);
        EXPECT_EQ(opened.fault, SerialFault::UnreadableLock) << opened.description.toStdString();
        EXPECT_EQ(opened.lockFile, lock);
        EXPECT_TRUE(QFileInfo(lock).exists() || QFileInfo(lock).isSymLink());
    }
}

// Links that lead every reading of a name's underscores into one folder: the
// readings grow exponentially with the name, the folders looked into do not.
TEST(LockFilesOfOtherPrograms, ANameOfVeryManyReadingsIsMatchedInBoundedWork)
{
    PseudoTerminal pty;
    const QDir links(pty.lockFolder() + "/../loop");
    ASSERT_TRUE(QDir().mkpath(links.path()));
    ASSERT_TRUE(QFile::link(".", links.filePath("a")) && QFile::link(".", links.filePath("a_a")));
    ASSERT_TRUE(QFile::link(pty.slavePath(), links.filePath("port1")));
    QString name = links.canonicalPath() + "/a";
    while (name.size() < 230)
        name += "_a";
    const QString throughLinks = QDir(pty.lockFolder()).filePath(lockName(name + "_port1"));
    const QString elsewhere = QDir(pty.lockFolder()).filePath(lockName(name + "_none"));
    ASSERT_TRUE(writeFile(throughLinks, "garbage\n") && writeFile(elsewhere, "garbage\n"));

    EXPECT_EQ(lockFilesForDevice(pty.lockFolder(), pty.slavePath()), QStringList{throughLinks});
}

// A serial program run with sudo was killed: its lock is stale, but in the
// sticky lock folder only root may remove it.
TEST(LockFilesOfOtherPrograms, AStaleLockThisAccountCannotRemoveRefusesTheOpenAndNamesTheFile)
{
    PseudoTerminal pty;
    const QByteArray folder = QFile::encodeName(pty.lockFolder());
    const QString lock = QDir(pty.lockFolder()).filePath(lockName(pty.slavePath()));
    ASSERT_TRUE(writeFile(lock, QByteArray::number(testing::endedProcessId()) + '\n'));
    ASSERT_EQ(::chmod(folder.constData(), 01777), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(pty.slavePath()).constData(), 0666), 0);

    QtSerialControl comm(port1On(pty), pty.lockFolder());
    const std::optional<int> fault = testing::asAnotherAccount(testing::kNobody, [&] {
        const PropertyWrite opened = comm.setPortOpen(true);
        return opened.lockFile == lock ? static_cast<int>(opened.fault) : -1;
    });
    if (!fault)
        GTEST_SKIP() << "needs root to act as another account";
    EXPECT_EQ(*fault, static_cast<int>(SerialFault::StaleLock));
    EXPECT_TRUE(QFile::exists(lock));
    EXPECT_TRUE(pty.readAll().isEmpty());
}

}  // namespace
}  // namespace korvantel
