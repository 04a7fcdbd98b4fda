// SPDX-License-Identifier: MIT
// The send action on a pseudo-terminal against what an operator's machine does
// to it: bad input, a line that hangs up mid-frame, thousands of sends.

#include "qt_serial_control.h"
#include "send_action.h"

#include "support/interrupted_control.h"
#include "support/port1_on_pty.h"
#include "support/pseudo_terminal.h"
#include "sendpath/recording_serial_control.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <array>
#include <iostream>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace korvantel {
namespace {

using testing::InterruptedControl;
using testing::port1On;
using testing::PseudoTerminal;
using testing::RecordingPresenter;
using testing::RecordingSerialControl;

FieldTexts withField(std::size_t position, const QString &text)
{
    std::array<QString, 3> texts{"1", "1", "255"};
    texts[position] = text;
    return {texts[0], texts[1], texts[2]};
}

QByteArray expectedFrame(std::size_t position, int value)
{
    QByteArray frame = QByteArray::fromHex("fd0001010100fffe");
    constexpr std::size_t indices[] = {UnitCommandFrame::kGroupIndex, UnitCommandFrame::kUnitIndex,
                                       UnitCommandFrame::kQuantityIndex};
    frame[static_cast<qsizetype>(indices[position])] = static_cast<char>(value);
    return frame;
}

int openDescriptors()
{
    return static_cast<int>(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

class SendOnPty : public ::testing::Test
{
protected:
    PseudoTerminal m_pty;
    QtSerialControl m_comm{port1On(m_pty), m_pty.lockFolder()};
    QStringList m_messages;
    RecordingPresenter m_presenter{m_messages};
};

TEST_F(SendOnPty, BadInputInAnyFieldNeverOpensThePortNorWritesAByte)
{
    const QString texts[] = {"", " ", "abc", "1.5", "0x10", "256", "-1", "99999999999", QStringLiteral("٣"),
                             QString(10'000, u'7')};
    for (std::size_t position = 0; position < 3; ++position) {
        for (const QString &text : texts) {
            SCOPED_TRACE(text.left(20).toStdString() + " in field " + std::to_string(position + 1));
            QStringList writes;
            RecordingSerialControl recorder(writes);
            runSendAction(withField(position, text), recorder, m_presenter);
            EXPECT_TRUE(writes.isEmpty()) << "no property written";

            m_messages.clear();
            runSendAction(withField(position, text), m_comm, m_presenter);
            ASSERT_EQ(m_messages.size(), 1);
            EXPECT_TRUE(m_messages.first().startsWith("Error"));
        }
    }
    EXPECT_TRUE(m_pty.readAll().isEmpty());
}

TEST_F(SendOnPty, EveryValueInEveryFieldArrivesWholeThoughThePortClosesAtOnce)
{
    int frames = 0;
    for (std::size_t position = 0; position < 3; ++position) {
        for (int value = 0; value < 256; ++value) {
            runSendAction(withField(position, QString::number(value)), m_comm, m_presenter);
            ASSERT_EQ(m_pty.read(8).toHex(' '), expectedFrame(position, value).toHex(' '))
                << "field " << position + 1 << " value " << value;
            ++frames;
        }
    }
    EXPECT_EQ(m_messages, QStringList(frames, QStringLiteral("Confirmation [KORVANTEL]: ") + kConfirmationText));
}

TEST_F(SendOnPty, AHangUpMidFrameIsReportedReleasesEverythingAndTheRestoredLineWorks)
{
    QByteArray received;
    InterruptedControl line(m_comm, 3, [&] {
        received = m_pty.read(8, std::chrono::milliseconds(100));
        m_pty.closeMaster();
    });
    runSendAction({"1", "1", "255"}, line, m_presenter);
    EXPECT_EQ(received.toHex(' '), "fd 00 01");
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages.first().startsWith(
        QStringLiteral("Error [KORVANTEL]: พอร์ตอนุกรม 1 หายไปจากเครื่องระหว่างใช้งาน เช่น เมื่อถอดตัวแปลง USB ออก\nข้อมูลอาจส่งไม่ครบ\nอุปกรณ์: ")
        + m_pty.devicePath()))
        << m_messages.first().toStdString();

    EXPECT_FALSE(QFile::exists(m_pty.systemLockFile()));
    const int probe = ::open(m_pty.slavePath().toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (probe >= 0) {  // the slave of a closed master may be gone already
        EXPECT_EQ(::flock(probe, LOCK_EX | LOCK_NB), 0) << "our flock outlived the failure";
        ::close(probe);
    }

    // The adapter is plugged in again under the same name.
    PseudoTerminal restored;
    ASSERT_TRUE(QFile::remove(m_pty.devicePath()));
    ASSERT_TRUE(QFile::link(restored.slavePath(), m_pty.devicePath()));
    m_messages.clear();
    runSendAction({"1", "1", "255"}, m_comm, m_presenter);
    EXPECT_EQ(restored.read(8).toHex(' '), "fd 00 01 01 01 00 ff fe");
    EXPECT_EQ(m_messages, QStringList(QStringLiteral("Confirmation [KORVANTEL]: ") + kConfirmationText));
}

TEST_F(SendOnPty, TenThousandSendsLeakNoDescriptorNorLockAndLoseNoFrame)
{
    constexpr int kSends = 10'000;
    runSendAction({"1", "1", "255"}, m_comm, m_presenter);  // first use loads what Qt loads once
    m_pty.read(8);
    const int descriptorsBefore = openDescriptors();
    int whole = 0;
    for (int send = 0; send < kSends; ++send) {
        const int value = send % 256;
        runSendAction({QString::number(value), "1", "255"}, m_comm, m_presenter);
        whole += m_pty.read(8) == expectedFrame(0, value) ? 1 : 0;
    }
    const int descriptorsAfter = openDescriptors();
    std::cout << "soak: " << kSends << " sends, " << whole << " frames whole, descriptors " << descriptorsBefore
              << " before and " << descriptorsAfter << " after\n";
    EXPECT_EQ(whole, kSends);
    EXPECT_EQ(descriptorsAfter, descriptorsBefore);
    EXPECT_FALSE(QFile::exists(m_pty.systemLockFile()));
    EXPECT_EQ(m_messages.size(), kSends + 1);
    EXPECT_FALSE(m_messages.contains(QRegularExpression("^Error")));
}

}  // namespace
}  // namespace korvantel
