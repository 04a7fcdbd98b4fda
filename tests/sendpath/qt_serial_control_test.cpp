#include "qt_serial_control.h"
#include "send_action.h"

#include "sendpath/pseudo_terminal.h"
#include "sendpath/recording_serial_control.h"

#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

namespace korvantel {
namespace {

using testing::PseudoTerminal;
using testing::RecordingPresenter;

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
    QtSerialControl m_comm{m_pty.devicePath()};
};

TEST_F(QtSerialControlOnPty, TheSendActionPutsExactlyTheFrameOnTheLine)
{
    struct Case
    {
        FieldTexts texts;
        const char *hex;
    };
    // Line feed, carriage return, XON, XOFF and 0xFF would each be altered or
    // swallowed by a line that is not raw.
    const Case cases[] = {
        {{"1", "1", "255"}, "fd 00 01 01 01 00 ff fe"},
        {{"10", "13", "17"}, "fd 00 01 0a 0d 00 11 fe"},
        {{"19", "253", "254"}, "fd 00 01 13 fd 00 fe fe"},
        {{"0", "0", "0"}, "fd 00 01 00 00 00 00 fe"},
    };
    QStringList messages;
    RecordingPresenter presenter(messages);
    for (const Case &c : cases) {
        runSendAction(c.texts, m_comm, presenter);
        EXPECT_EQ(m_pty.readAll().toHex(' '), QByteArray(c.hex));
    }
    EXPECT_EQ(messages, QStringList(std::size(cases), QStringLiteral("Confirmation [KORVANTEL]: ") + kConfirmationText));
}

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

TEST_F(QtSerialControlOnPty, ASecondOpenerIsRefusedByEveryPathAndLock)
{
    ASSERT_TRUE(configureAndOpen(m_comm).ok());
    for (const QString &path : {m_pty.devicePath(), m_pty.slavePath()}) {
        QtSerialControl second(path);
        const PropertyWrite refused = configureAndOpen(second);
        EXPECT_EQ(refused.fault, SerialFault::PortInUse) << refused.description.toStdString();
    }
    ASSERT_TRUE(m_comm.setPortOpen(false).ok());

    // flock() alone, as another root process would hold it.
    const int holder = ::open(m_pty.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    EXPECT_EQ(configureAndOpen(m_comm).fault, SerialFault::PortInUse);
    ::close(holder);
    EXPECT_TRUE(configureAndOpen(m_comm).ok()) << "every lock is released after a refused open";
}

TEST_F(QtSerialControlOnPty, AnAbsentDeviceFailsAtTheOpen)
{
    QtSerialControl absent(m_pty.devicePath() + "-missing");
    const PropertyWrite result = configureAndOpen(absent);
    EXPECT_EQ(result.fault, SerialFault::NoSuchPort);
    EXPECT_TRUE(result.description.contains("port1-missing"));
    EXPECT_EQ(absent.setOutput("A").fault, SerialFault::InvalidValue);
}

TEST_F(QtSerialControlOnPty, BadPropertyValuesFailWhenSet)
{
    EXPECT_EQ(m_comm.setSettings("9600,n,8").fault, SerialFault::InvalidValue);
    EXPECT_EQ(m_comm.setCommPort(0).fault, SerialFault::InvalidValue);
    EXPECT_EQ(m_comm.setInputLen(-1).fault, SerialFault::InvalidValue);
    ASSERT_TRUE(configureAndOpen(m_comm).ok());
    EXPECT_EQ(m_comm.setOutput(QString(QChar(0x100))).fault, SerialFault::InvalidValue);
    EXPECT_EQ(m_comm.setOutput("AB").fault, SerialFault::InvalidValue);
    EXPECT_EQ(m_comm.setOutput("").fault, SerialFault::InvalidValue);
    EXPECT_EQ(m_comm.setCommPort(2).fault, SerialFault::InvalidValue);
    EXPECT_EQ(m_comm.setPortOpen(true).fault, SerialFault::InvalidValue);
    EXPECT_TRUE(m_comm.setPortOpen(false).ok());
    EXPECT_TRUE(m_pty.readAll().isEmpty());
}

TEST_F(QtSerialControlOnPty, AHangUpMidFrameFailsTheWriteAndReleasesThePort)
{
    ASSERT_TRUE(configureAndOpen(m_comm).ok());
    writeBytes(m_comm, QByteArray::fromHex("fd0001"));
    ASSERT_EQ(m_pty.read(3).toHex(), "fd0001");
    m_pty.closeMaster();
    EXPECT_EQ(m_comm.setOutput(QString(QChar(1))).fault, SerialFault::LineLost);
    m_comm.setPortOpen(false);

    PseudoTerminal restored;
    QtSerialControl again(restored.devicePath());
    ASSERT_TRUE(configureAndOpen(again).ok());
    writeBytes(again, QByteArray::fromHex("fd0001"));
    EXPECT_TRUE(again.setPortOpen(false).ok());
    EXPECT_EQ(restored.read(3).toHex(), "fd0001");
}

TEST(QtSerialControlPorts, PortOneIsTheBuiltDeviceAndOthersAreTtyS)
{
    const QtSerialControl comm("/dev/ttyUSB0");
    EXPECT_EQ(comm.deviceForPort(1), "/dev/ttyUSB0");
    EXPECT_EQ(comm.deviceForPort(2), "/dev/ttyS1");
}

}  // namespace
}  // namespace korvantel
