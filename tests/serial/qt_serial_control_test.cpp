// SPDX-License-Identifier: MIT
#include "qt_serial_control.h"
#include "send_action.h"

#include "support/account.h"
#include "support/port1_on_pty.h"
#include "support/pseudo_terminal.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <functional>
#include <memory>
#include <tuple>

#include <gtest/gtest.h>

#include <fcntl.h>
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
    bool needsRoot = false;
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

// A process of root's that lets go when its input ends. Given `input`, it
// says "holding" on its output once it holds the device, by then under its
// own `name`; a row whose holder never says so fails, however slow the machine.
Held heldByProcess(const QString &name, const QStringList &command, const QByteArray &input = {})
{
    auto process = std::make_shared<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(command.first(), command.mid(1));
    process->write(input);
    const QDeadlineTimer limit(std::chrono::minutes(2));
    while (!process->canReadLine() && process->waitForReadyRead(static_cast<int>(limit.remainingTime()))) {
    }
    EXPECT_EQ(process->readLine(), "holding\n") << command.join(u' ').toStdString() << ": never said it holds the device";
    const auto release = [process] {
        process->closeWriteChannel();
        process->waitForFinished();
    };
    return {release, numbered(u' ' + name, process->processId())};
}

Held heldExclusively(const PseudoTerminal &pty)
{
    // A pty keeps TIOCEXCL after its last close, so the holder clears it.
    return heldByProcess("python3",
                         {"python3", "-c",
                          "import fcntl, os, sys, termios; fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY); "
                          "fcntl.ioctl(fd, termios.TIOCEXCL); print('holding', flush=True); sys.stdin.read(); "
                          "fcntl.ioctl(fd, termios.TIOCNXCL)",
                          pty.slavePath()});
}

// Root's program holds the device with TIOCEXCL, and a program started before
// it holds the pseudo-terminal of the same number in a devpts of its own, as
// a cu in a chroot beside it may: only the first is the holder.
Held heldBesideTheSameNumberElsewhere(const PseudoTerminal &pty)
{
    // In a mount namespace of its own, under a new devpts, which numbers its
    // pseudo-terminals from 0. Only /dev/pts is made private there: in a plain
    // chroot / is no mount point, and unshare cannot change its propagation.
    const char *holdSameNumber = R"(import ctypes, os, sys
open('/proc/self/comm', 'w').write('elsewhere')
masters = [os.open('/dev/pts/ptmx', os.O_RDWR | os.O_NOCTTY) for _ in range(int(sys.argv[1]) + 1)]
ctypes.CDLL(None).unlockpt(masters[-1])
slave = os.open('/dev/pts/' + sys.argv[1], os.O_RDWR | os.O_NOCTTY)
print('holding', flush=True)
sys.stdin.read())";
    const Held elsewhere = heldByProcess(
        "elsewhere", {"unshare", "--mount", "--propagation", "unchanged", "sh", "-c",
                      R"(mount --make-private /dev/pts && mount -t devpts -o newinstance devpts /dev/pts &&
                         exec python3 -c "$1" "$2")",
                      "sh", holdSameNumber, QFileInfo(pty.slavePath()).fileName()});
    Held held = heldExclusively(pty);
    held.release = [elsewhere, release = held.release] {
        release();
        elsewhere.release();
    };
    return held;
}

TEST_F(QtSerialControlOnPty, EveryOtherHolderRefusesTheOpenNamesTheHolderAndNothingIsWritten)
{
    const Holder holders[] = {
        {"another copy of the tool, by the same path",
         [](const PseudoTerminal &pty) { return heldByAnotherCopy(port1On(pty), pty); }},
        {"another copy of the tool, by the device's own path",
         [](const PseudoTerminal &pty) {
             return heldByAnotherCopy({{}, pty.slavePath(), {}, {}, {}, {}}, pty);
         }},
        {"a process holding flock(), which became cat",
         [](const PseudoTerminal &pty) {
             return heldByProcess("cat", {"flock", "--exclusive", "--no-fork", pty.slavePath(), "cat"}, "holding\n");
         }},
        {"a program holding TIOCEXCL", heldExclusively},
        // Another account's descriptors are not this account's to read.
        {"root's program holding TIOCEXCL, to an ordinary account",
         [](const PseudoTerminal &pty) {
             Held held = heldExclusively(pty);
             held.holder = "โปรแกรมอื่น";
             return held;
         },
         true, true},
        {"a program holding TIOCEXCL, beside a pseudo-terminal of the same number in another devpts",
         heldBesideTheSameNumberElsewhere, false, true},
    };
    ASSERT_EQ(::chmod(m_pty.slavePath().toLocal8Bit().constData(), 0666), 0);
    for (const Holder &holder : holders) {
        SCOPED_TRACE(holder.name);
        if (holder.needsRoot && ::geteuid() != 0)
            continue;  // no other account to be, no devpts to mount
        const Held held = holder.hold(m_pty);
        const QString refusal = QStringLiteral("พอร์ตอนุกรม 1 ถูกใช้อยู่โดย") + held.holder + u'\n';
        const auto refusedNamingTheHolder = [&] {
            const PropertyWrite opened = configureAndOpen(m_comm);
            EXPECT_EQ(m_comm.setOutput("A").fault, SerialFault::InvalidValue);
            return opened.fault == SerialFault::PortInUse && messageForFault(opened).startsWith(refusal);
        };
        const std::optional<int> refused = holder.openAsNobody
                                               ? testing::asAnotherAccount(testing::kNobody, refusedNamingTheHolder)
                                               : std::optional<int>(refusedNamingTheHolder());
        held.release();
        ASSERT_TRUE(refused);
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
    QtSerialControl absent({{}, m_pty.devicePath() + "-missing", {}, {}, {}, {}}, m_pty.lockFolder());
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

// An operator not yet in the device's group, and one granted it after the
// session began: nobody's own group is in its account, not in this process.
TEST_F(QtSerialControlOnPty, ADeviceWithoutPermissionSaysWhetherTheAccountOrTheSessionLacksTheGroup)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another account";
    constexpr gid_t kNogroup = 65534;
    const std::tuple<gid_t, gid_t, SerialFault> cases[] = {  // the device's group, the session's, the fault
        {0, kNogroup, SerialFault::NoPermission},
        {kNogroup, 1, SerialFault::GroupNotInSession},
    };
    for (const auto &[deviceGroup, sessionGroup, expected] : cases) {
        const QByteArray slave = m_pty.slavePath().toLocal8Bit();
        ASSERT_EQ(::chown(slave.constData(), static_cast<uid_t>(-1), deviceGroup), 0);
        ASSERT_EQ(::chmod(slave.constData(), 0060), 0);
        const std::optional<int> fault = testing::asAnotherAccount(
            testing::kNobody, [&] { return static_cast<int>(configureAndOpen(m_comm).fault); }, sessionGroup);
        EXPECT_EQ(fault, static_cast<int>(expected));
    }
    EXPECT_TRUE(m_pty.readAll().isEmpty());
}

}  // namespace
}  // namespace korvantel
