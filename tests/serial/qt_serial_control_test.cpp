// SPDX-License-Identifier: MIT
#include "qt_serial_control.h"

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

// Each way another program can hold the device; every one must refuse our open.
struct Holder
{
    const char *name;
    std::function<std::function<void()>(const PseudoTerminal &)> hold;  // returns the release
};

std::function<void()> heldByFlockProcess(const PseudoTerminal &pty)
{
    auto process = std::make_shared<QProcess>();
    process->start("flock", {"--exclusive", "--no-fork", pty.slavePath(), "sleep", "30"});
    process->waitForStarted();
    // Wait, bounded, until flock(1) holds the lock.
    const int probe = ::open(pty.slavePath().toLocal8Bit().constData(), O_RDONLY | O_NOCTTY);
    for (int tries = 0; tries < 500 && ::flock(probe, LOCK_EX | LOCK_NB) == 0; ++tries) {
        ::flock(probe, LOCK_UN);
        QThread::msleep(10);
    }
    ::close(probe);
    return [process] { process->kill(); process->waitForFinished(); };
}

std::function<void()> heldExclusively(const PseudoTerminal &pty)
{
    const int handle = ::open(pty.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ::ioctl(handle, TIOCEXCL);
    return [handle] {
        ::ioctl(handle, TIOCNXCL);
        ::close(handle);
    };
}

TEST_F(QtSerialControlOnPty, EveryOtherHolderRefusesTheOpenAndNothingIsWritten)
{
    const Holder holders[] = {
        {"another copy of the tool, by the same path", [](const PseudoTerminal &pty) {
             auto other = std::make_shared<QtSerialControl>(port1On(pty), pty.lockFolder());
             EXPECT_TRUE(other->setPortOpen(true).ok());
             return std::function<void()>([other] { other->setPortOpen(false); });
         }},
        {"another copy of the tool, by the device's own path", [](const PseudoTerminal &pty) {
             auto other = std::make_shared<QtSerialControl>(Port1Places{{}, pty.slavePath(), {}, {}, {}},
                                                            pty.lockFolder());
             EXPECT_TRUE(other->setPortOpen(true).ok());
             return std::function<void()>([other] { other->setPortOpen(false); });
         }},
        {"a process holding flock()", heldByFlockProcess},
        {"a program holding TIOCEXCL", heldExclusively},
    };
    for (const Holder &holder : holders) {
        SCOPED_TRACE(holder.name);
        const std::function<void()> release = holder.hold(m_pty);
        const PropertyWrite opened = configureAndOpen(m_comm);
        EXPECT_EQ(opened.fault, SerialFault::PortInUse) << opened.description.toStdString();
        EXPECT_EQ(m_comm.setOutput("A").fault, SerialFault::InvalidValue);
        release();
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
