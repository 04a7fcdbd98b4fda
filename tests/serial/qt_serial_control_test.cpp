// SPDX-License-Identifier: MIT
#include "qt_serial_control.h"
#include "send_action.h"

#include "support/account.h"
#include "support/port1_on_pty.h"
#include "support/pseudo_terminal.h"

#include <QFile>
#include <QProcess>
#include <QThread>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace korvantel {
namespace {

using testing::port1On;
using testing::PseudoTerminal;

class QtSerialControlOnPty : public ::testing::Test
{
protected:
    PropertyWrite configureAndOpen(QtSerialControl &comm)
    {
        EXPECT_TRUE(comm.setCommPort(1).ok());
        EXPECT_TRUE(comm.setSettings("9600,n,8,1").ok());
        return comm.setPortOpen(true);
    }

    void writeBytes(QtSerialControl &comm, const QByteArray &bytes)
    {
        for (const char byte : bytes)
            ASSERT_TRUE(comm.setOutput(QString(QChar(static_cast<std::uint8_t>(byte)))).ok());
    }

    PseudoTerminal m_pty;
    QtSerialControl m_comm{port1On(m_pty), m_pty.lockFolder()};
};

TEST_F(QtSerialControlOnPty, EveryByteValueSurvivesAnImmediateClose)
{
    QByteArray all;
    for (int value = 0; value < 256; ++value)
        all.append(static_cast<char>(value));
    ASSERT_TRUE(configureAndOpen(m_comm).ok());
    writeBytes(m_comm, all);
    ASSERT_TRUE(m_comm.setPortOpen(false).ok());
    EXPECT_EQ(m_pty.read(all.size()), all);
}

TEST_F(QtSerialControlOnPty, TheLineIsRaw9600EightNoneOneWhileOpen)
{
    ASSERT_TRUE(configureAndOpen(m_comm).ok());
    termios line{};
    ASSERT_EQ(::tcgetattr(m_pty.master(), &line), 0);  // a pty master reports its slave's settings
    EXPECT_EQ(::cfgetospeed(&line), B9600);
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO), 0u);
}

// Each way another program can hold the device; every one must refuse our
// open, and the refusal names the holder as far as the account can see it.
struct Held
{
    std::function<void()> release;
    QString holder;  // as the message names it
};

struct Holder
{
    const char *name;
    std::function<Held(const PseudoTerminal &)> hold;
    bool openAsNobody = false;
};

QString numbered(const QString &holder, qint64 process)
{
    return QStringLiteral("%1 (โปรเซสหมายเลข %2)").arg(holder).arg(process);
}

Held heldByAnotherCopy(const Port1Places &port1, const PseudoTerminal &pty)
{
    auto other = std::make_shared<QtSerialControl>(port1, pty.lockFolder());
    EXPECT_TRUE(other->setPortOpen(true).ok());
    return {[other] { other->setPortOpen(false); }, numbered("โปรแกรมนี้อีกหน้าต่างหนึ่ง", ::getpid())};
}

// A process of root's that lets go when its input ends; `holds` tells,
// bounded, when it holds the device, and `name` is its own name by then.
Held heldByProcess(const QString &name, const QStringList &command, const std::function<bool()> &holds)
{
    auto process = std::make_shared<QProcess>();
    process->start(command.first(), command.mid(1));
    process->waitForStarted();
    for (int tries = 0; tries < 500 && !holds(); ++tries)
        QThread::msleep(10);
    const auto release = [process] {
        process->closeWriteChannel();
        process->waitForFinished();
    };
    return {release, numbered(u' ' + name, process->processId())};
}

bool flockTaken(const PseudoTerminal &pty)
{
    const int probe = ::open(pty.slavePath().toLocal8Bit().constData(), O_RDONLY | O_NOCTTY);
    const bool taken = ::flock(probe, LOCK_EX | LOCK_NB) != 0;
    ::close(probe);
    return taken;
}

bool exclusive(const PseudoTerminal &pty)
{
    const int probe = ::open(pty.slavePath().toLocal8Bit().constData(), O_RDONLY | O_NOCTTY);
    int set = 0;
    ::ioctl(probe, TIOCGEXCL, &set);
    ::close(probe);
    return set != 0;
}

Held heldExclusively(const PseudoTerminal &pty)
{
    // A pty keeps TIOCEXCL after its last close, so the holder clears it.
    return heldByProcess("python3",
                         {"python3", "-c",
                          "import fcntl, os, sys, termios; fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY); "
                          "fcntl.ioctl(fd, termios.TIOCEXCL); sys.stdin.read(); fcntl.ioctl(fd, termios.TIOCNXCL)",
                          pty.slavePath()},
                         [&] { return exclusive(pty); });
}

TEST_F(QtSerialControlOnPty, EveryOtherHolderRefusesTheOpenNamesTheHolderAndNothingIsWritten)
{
    const Holder holders[] = {
        {"another copy of the tool, by the same path",
         [](const PseudoTerminal &pty) { return heldByAnotherCopy(port1On(pty), pty); }},
        {"another copy of the tool, by the device's own path",
         [](const PseudoTerminal &pty) {
             return heldByAnotherCopy({{}, pty.slavePath(), {}, {}, {}}, pty);
         }},
        {"a process holding flock(), which became cat",
         [](const PseudoTerminal &pty) {
             return heldByProcess("cat", {"flock", "--exclusive", "--no-fork", pty.slavePath(), "cat"},
                                  [&] { return flockTaken(pty); });
         }},
        {"a program holding TIOCEXCL", heldExclusively},
        // Another account's descriptors are not this account's to read.
        {"root's program holding TIOCEXCL, to an ordinary account",
         [](const PseudoTerminal &pty) {
             Held held = heldExclusively(pty);
             held.holder = "โปรแกรมอื่น";
             return held;
         },
         true},
    };
    ASSERT_EQ(::chmod(m_pty.slavePath().toLocal8Bit().constData(), 0666), 0);
    for (const Holder &holder : holders) {
        SCOPED_TRACE(holder.name);
        const Held held = holder.hold(m_pty);
        const QString refusal = QStringLiteral("พอร์ตอนุกรมกำลังถูกใช้งานโดย") + held.holder + u'\n';
        const auto refusedNamingTheHolder = [&] {
            const PropertyWrite opened = configureAndOpen(m_comm);
            EXPECT_EQ(m_comm.setOutput("A").fault, SerialFault::InvalidValue);
            return opened.fault == SerialFault::PortInUse && messageForFault(opened).startsWith(refusal);
        };
        const std::optional<int> refused = holder.openAsNobody
                                               ? testing::asAnotherAccount(testing::kNobody, refusedNamingTheHolder)
                                               : std::optional<int>(refusedNamingTheHolder());
        held.release();
        if (!refused)
            continue;  // not root: no other account to be
        EXPECT_EQ(*refused, 1) << refusal.toStdString();
        EXPECT_TRUE(m_pty.readAll().isEmpty());
        EXPECT_FALSE(QFile::exists(m_pty.systemLockFile()));
        // Every lock of ours was released on the way out.
        ASSERT_TRUE(configureAndOpen(m_comm).ok());
        ASSERT_TRUE(m_comm.setPortOpen(false).ok());
    }
}

TEST_F(QtSerialControlOnPty, AnAbsentDeviceFailsAtTheOpen)
{
    QtSerialControl absent({{}, m_pty.devicePath() + "-missing", {}, {}, {}}, m_pty.lockFolder());
    const PropertyWrite result = configureAndOpen(absent);
    EXPECT_EQ(result.fault, SerialFault::NoSuchPort);
    EXPECT_EQ(absent.setOutput("A").fault, SerialFault::InvalidValue);
}

TEST_F(QtSerialControlOnPty, BadPropertyValuesFailWhenSet)
{
    EXPECT_EQ(m_comm.setSettings("9600,n,8").fault, SerialFault::InvalidValue);
    EXPECT_EQ(m_comm.setCommPort(0).fault, SerialFault::InvalidValue);
    EXPECT_EQ(m_comm.setInputLen(-1).fault, SerialFault::InvalidValue);
    ASSERT_TRUE(m_comm.setSettings("9600,n,8,1.5").ok()) << "a well-formed text";
    EXPECT_EQ(m_comm.setPortOpen(true).fault, SerialFault::SettingsRefused) << "termios has no 1.5 stop bits";
    ASSERT_TRUE(configureAndOpen(m_comm).ok());
    EXPECT_EQ(m_comm.setOutput(QString(QChar(0x100))).fault, SerialFault::InvalidValue);
    EXPECT_EQ(m_comm.setOutput("AB").fault, SerialFault::InvalidValue);
    EXPECT_EQ(m_comm.setOutput("").fault, SerialFault::InvalidValue);
    EXPECT_EQ(m_comm.setCommPort(2).fault, SerialFault::InvalidValue);
    EXPECT_EQ(m_comm.setPortOpen(true).fault, SerialFault::InvalidValue);
    EXPECT_TRUE(m_comm.setPortOpen(false).ok());
    EXPECT_TRUE(m_pty.readAll().isEmpty());
}

// A master that never reads stands for a line that does not move: the kernel's
// buffer fills, the rest waits in ours, and the close must give up in time.
TEST_F(QtSerialControlOnPty, AStuckLineTimesOutTheCloseAndStillReleasesThePort)
{
    ASSERT_TRUE(m_comm.setSettings("4000000,n,8,1").ok());  // keeps the wire-time bound short
    ASSERT_TRUE(m_comm.setPortOpen(true).ok());
    for (int byte = 0; byte < 200'000; ++byte)
        ASSERT_TRUE(m_comm.setOutput("U").ok()) << "a full buffer is not a failed write";
    const PropertyWrite closed = m_comm.setPortOpen(false);
    EXPECT_EQ(closed.fault, SerialFault::DrainTimedOut);
    EXPECT_FALSE(QFile::exists(m_pty.systemLockFile()));
    EXPECT_TRUE(configureAndOpen(m_comm).ok()) << "the port was not released";
}

// An account outside the device's group, as an operator not yet in dialout.
TEST_F(QtSerialControlOnPty, ADeviceWithoutPermissionSaysSo)
{
    ASSERT_EQ(::chmod(m_pty.slavePath().toLocal8Bit().constData(), 0600), 0);
    const std::optional<int> fault = testing::asAnotherAccount(testing::kNobody, [&] {
        return static_cast<int>(configureAndOpen(m_comm).fault);
    });
    if (!fault)
        GTEST_SKIP() << "needs root to act as another account";
    EXPECT_EQ(*fault, static_cast<int>(SerialFault::NoPermission));
    EXPECT_TRUE(m_pty.readAll().isEmpty());
}

}  // namespace
}  // namespace korvantel
