// SPDX-License-Identifier: MIT
// Exclusion against real serial programs from Debian's archive, each run as an
// ordinary account and ended as its user would end it: while one holds the
// port our OK is refused with nothing written; while we hold it, it cannot
// open the port.

#include "lock_files.h"
#include "qt_serial_control.h"
#include "send_action.h"

#include "sendpath/recording_serial_control.h"
#include "support/port1_on_pty.h"
#include "support/pseudo_terminal.h"

#include <QFile>
#include <QDeadlineTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>

#include <sys/stat.h>
#include <utime.h>
#include <unistd.h>

namespace korvantel {
namespace {

using testing::port1On;
using testing::PseudoTerminal;
using testing::RecordingPresenter;

constexpr int kWaitMilliseconds = 10'000;
const QString kSystemLockFolder = QStringLiteral("/var/lock");

struct Peer
{
    const char *name;
    QString program;
    QStringList arguments;  // %1 stands for the device
    QByteArray heldMarker;
    QByteArray quitKeys;    // then its input ends
    QString processName;    // as our refusal names it
};

// A terminal program gets a terminal of its own from script(1).
Peer terminalProgram(const char *name, const QString &commandLine, const QByteArray &held, const QByteArray &quit)
{
    return {name, "script", {"-qefc", commandLine, "/dev/null"}, held, quit, commandLine.section(u' ', 0, 0)};
}

const Peer kQtProgram{"a QSerialPort program (lock file, TIOCEXCL)", KORVANTEL_QT_SERIAL_PEER, {"%1"}, "held", "",
                      "qt_serial_peer"};

const Peer kPeers[] = {
    terminalProgram("picocom (flock)", "picocom -b 9600 %1", "Terminal ready", "\x01\x18"),
    terminalProgram("cu (UUCP lock file)", "cu -l %1 -s 9600", "Connected.", "\r~."),
    terminalProgram("minicom (UUCP lock file)", "minicom -D %1 -b 9600", "Press CTRL-A Z for help on special keys",
                    "\x01x\r"),
    {"pyserial, exclusive=True (flock)", "/usr/bin/python3",
     {"-c", "import serial, sys; port = serial.Serial('%1', 9600, exclusive=True); print('held', flush=True); "
            "sys.stdin.read(); port.close()"},
     "held", "", "python3"},
    kQtProgram,
};

// Whether `output` has `marker` as a line of its own, control characters
// aside (cu rings the bell): a refused interpreter's traceback may quote the
// source line that would have printed it.
bool saysOnALine(const QByteArray &output, const QByteArray &marker)
{
    const QList<QByteArray> lines = output.split('\n');
    return std::any_of(lines.begin(), lines.end(), [&](QByteArray line) {
        return line.removeIf([](char c) { return static_cast<unsigned char>(c) < 0x20; }) == marker;
    });
}

class PeerProgram
{
public:
    // Runs as `account` (an ordinary one unless root is asked for).
    PeerProgram(const Peer &peer, const QString &device, bool asRoot = false)
    {
        QStringList arguments;
        for (const QString &argument : peer.arguments)
            arguments.append(QString(argument).replace("%1", device));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", "/tmp");
        environment.insert("TERM", "xterm");
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        if (asRoot) {
            m_process.start(peer.program, arguments);
        } else {
            m_process.start("setpriv", QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", peer.program}
                                           + arguments);
        }
        m_process.waitForStarted();
    }

    ~PeerProgram()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    // Whether it said `marker` before it ended or the wait ran out.
    bool says(const QByteArray &marker)
    {
        QDeadlineTimer deadline(kWaitMilliseconds);
        while (!saysOnALine(m_output, marker) && !deadline.hasExpired()) {
            if (!m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
                break;
            m_output += m_process.readAll();
        }
        return saysOnALine(m_output, marker);
    }

    // Ends it as its user would; gives its exit status, or -1 if it did not end.
    int end(const QByteArray &quitKeys)
    {
        m_process.write(quitKeys);
        m_process.closeWriteChannel();
        return finished();
    }

    int finished()
    {
        if (!m_process.waitForFinished(kWaitMilliseconds))
            return -1;
        m_output += m_process.readAll();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    const QByteArray &output() const { return m_output; }

private:
    QProcess m_process;
    QByteArray m_output;
};

class PeerOnPty : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(::chmod(m_pty.slavePath().toLocal8Bit().constData(), 0666), 0); }

    PropertyWrite open()
    {
        m_comm.setSettings("9600,n,8,1");
        return m_comm.setPortOpen(true);
    }

    PseudoTerminal m_pty;
    QtSerialControl m_comm{port1On(m_pty), kSystemLockFolder};
};

TEST_F(PeerOnPty, WhileAPeerHoldsThePortOurOkIsRefusedWithNothingWritten)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run the peers as an ordinary account";
    for (const Peer &peer : kPeers) {
        SCOPED_TRACE(peer.name);
        PeerProgram program(peer, m_pty.slavePath());
        ASSERT_TRUE(program.says(peer.heldMarker)) << program.output().toStdString();
        m_pty.readAll();  // what the peer itself put on the line

        QStringList messages;
        RecordingPresenter presenter(messages);
        runSendAction({"1", "1", "255"}, m_comm, presenter);
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages.first().contains(QStringLiteral("พอร์ตอนุกรม 1 ถูกใช้อยู่โดย %1 (โปรเซสหมายเลข ")
                                                    .arg(peer.processName)))
            << messages.first().toStdString();
        EXPECT_TRUE(m_pty.readAll().isEmpty());

        EXPECT_EQ(program.end(peer.quitKeys), 0) << program.output().toStdString();
        EXPECT_EQ(lockFilesForDevice(kSystemLockFolder, m_pty.slavePath()), QStringList()) << "no lock was deleted, "
                                                                                                "the peer removed its own";
    }
}

TEST_F(PeerOnPty, WhileWeHoldThePortNoPeerGetsIt)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run the peers as an ordinary account";
    for (const Peer &peer : kPeers) {
        SCOPED_TRACE(peer.name);
        ASSERT_TRUE(open().ok());
        m_comm.setOutput("A");
        PeerProgram program(peer, m_pty.slavePath());
        EXPECT_NE(program.finished(), 0) << program.output().toStdString();
        EXPECT_FALSE(saysOnALine(program.output(), peer.heldMarker));
        EXPECT_TRUE(m_comm.setPortOpen(false).ok());
        EXPECT_EQ(m_pty.readAll(), "A");
    }
}

// QLockFile, and so every Qt serial program, takes a lock file older than 30 s
// for stale even while its owner lives; the owner's flock() on the file keeps
// it from removing ours. Run as root, TIOCEXCL does not stand in the way.
TEST_F(PeerOnPty, AQtProgramStaysOutWhileOurConfirmationIsUpLongerThan30Seconds)
{
    ASSERT_TRUE(open().ok());
    const QByteArray lock = QFile::encodeName(m_pty.systemLockFile());
    const utimbuf aMinuteAgo{::time(nullptr) - 60, ::time(nullptr) - 60};
    ASSERT_EQ(::utime(lock.constData(), &aMinuteAgo), 0);

    PeerProgram qtProgram(kQtProgram, m_pty.slavePath(), true);
    EXPECT_EQ(qtProgram.finished(), 1) << qtProgram.output().toStdString();
    EXPECT_TRUE(QFile::exists(m_pty.systemLockFile()));
    EXPECT_TRUE(m_comm.setPortOpen(false).ok());
}

}  // namespace
}  // namespace korvantel
