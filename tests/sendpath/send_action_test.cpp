#include "send_action.h"

#include "sendpath/recording_serial_control.h"

#include <gtest/gtest.h>

namespace korvantel {
namespace {

using testing::RecordingPresenter;
using testing::RecordingSerialControl;

const FieldTexts kInitialTexts{"1", "1", "255"};
const QStringList kConfigureAndOpen{"CommPort=1", "Settings=9600,n,8,1", "InputLen=0", "PortOpen=True"};
const QString kConfirmation = QStringLiteral("Confirmation [KORVANTEL]: ส่งข้อมูลเรียบร้อยแล้ว");

QStringList outputs(const QStringList &hexBytes)
{
    QStringList entries;
    for (const QString &hex : hexBytes)
        entries.append(QStringLiteral("Output=") + hex);
    return entries;
}

class SendAction : public ::testing::Test
{
protected:
    void send(const FieldTexts &texts) { runSendAction(texts, m_comm, m_messages); }

    QStringList m_log;
    RecordingSerialControl m_comm{m_log};
    RecordingPresenter m_messages{m_log};
};

TEST_F(SendAction, WritesTheFrameThenConfirmsThenCloses)
{
    send({"3", "12", "40"});
    const QStringList expected = kConfigureAndOpen + outputs({"FD", "00", "01", "03", "0C", "00", "28", "FE"})
                                 + QStringList{kConfirmation, "PortOpen=False"};
    EXPECT_EQ(m_log, expected);
}

TEST_F(SendAction, TwoSendsRunTwoWholeCycles)
{
    send(kInitialTexts);
    send(kInitialTexts);
    const QStringList once = kConfigureAndOpen + outputs({"FD", "00", "01", "01", "01", "00", "FF", "FE"})
                             + QStringList{kConfirmation, "PortOpen=False"};
    EXPECT_EQ(m_log, once + once);
}

TEST_F(SendAction, ABadFieldTouchesNoPropertyAndNamesTheFirstBadField)
{
    struct Case
    {
        FieldTexts texts;
        QString caption;
    };
    const Case cases[] = {
        {{"", "1", "255"}, "กลุ่ม RS-485"},
        {{"1", "x", "255"}, "หมายเลขเครื่อง"},
        {{"1", "1", "300"}, "จำนวนสินค้า"},
        {{"256", "-1", "abc"}, "กลุ่ม RS-485"},
        {{"1", "1.5", "abc"}, "หมายเลขเครื่อง"},
    };
    for (const Case &c : cases) {
        m_log.clear();
        send(c.texts);
        ASSERT_EQ(m_log.size(), 1);
        EXPECT_EQ(m_log[0], QStringLiteral("Error [KORVANTEL]: ช่อง \"%1\" ต้องเป็นจำนวนเต็มตั้งแต่ 0 ถึง 255")
                                .arg(c.caption));
    }
}

TEST_F(SendAction, AFailureBeforeTheOpenStopsThereAndIsReported)
{
    for (const QString &failing : kConfigureAndOpen) {
        SCOPED_TRACE(failing.toStdString());
        m_log.clear();
        RecordingSerialControl comm(m_log);
        comm.failOn(failing, SerialFault::PortInUse);
        runSendAction(kInitialTexts, comm, m_messages);

        const QStringList written = kConfigureAndOpen.mid(0, kConfigureAndOpen.indexOf(failing) + 1);
        ASSERT_EQ(m_log.size(), written.size() + 1);
        EXPECT_EQ(m_log.mid(0, written.size()), written);
        EXPECT_TRUE(m_log.last().startsWith("Error [KORVANTEL]: พอร์ตอนุกรมกำลังถูกใช้งานโดยโปรแกรมอื่น"));
        EXPECT_TRUE(m_log.last().endsWith(QStringLiteral("injected failure of ") + failing));
    }
}

TEST_F(SendAction, AFailedWriteClosesThePortThenReportsOnlyThatFailure)
{
    m_comm.failOn("Output=01", SerialFault::LineLost);
    m_comm.failOn("PortOpen=False", SerialFault::DrainTimedOut);
    send(kInitialTexts);

    const QStringList expected = kConfigureAndOpen + outputs({"FD", "00", "01"}) + QStringList{"PortOpen=False"};
    ASSERT_EQ(m_log.size(), expected.size() + 1);
    EXPECT_EQ(m_log.mid(0, expected.size()), expected);
    EXPECT_TRUE(m_log.last().startsWith("Error [KORVANTEL]: การเชื่อมต่อพอร์ตอนุกรมขาดหาย"));
    EXPECT_TRUE(m_log.last().endsWith("injected failure of Output=01"));
}

TEST_F(SendAction, AFailedCloseAfterTheConfirmationIsReported)
{
    m_comm.failOn("PortOpen=False", SerialFault::DrainTimedOut);
    send(kInitialTexts);
    ASSERT_GE(m_log.size(), 3);
    EXPECT_EQ(m_log.mid(m_log.size() - 3, 2), (QStringList{kConfirmation, "PortOpen=False"}));
    EXPECT_TRUE(m_log.last().startsWith("Error [KORVANTEL]: ส่งข้อมูลออกทางพอร์ตอนุกรมไม่ทันเวลา"));
}

TEST(FaultMessage, EveryKindHasItsOwnThaiReasonFollowedByTheDescription)
{
    const SerialFault kinds[] = {SerialFault::NoSuchPort, SerialFault::NoPermission, SerialFault::PortInUse,
                                 SerialFault::SettingsRefused, SerialFault::LineLost, SerialFault::DrainTimedOut,
                                 SerialFault::Other};
    QStringList reasons;
    for (const SerialFault kind : kinds) {
        const QString message = messageForFault(PropertyWrite::failed(kind, "the system's words"));
        EXPECT_TRUE(message.endsWith("\n\nthe system's words"));
        reasons.append(message.section(u'\n', 0, 0));
    }
    reasons.removeDuplicates();
    EXPECT_EQ(reasons.size(), std::size(kinds));
    EXPECT_TRUE(messageForFault(PropertyWrite::failed(SerialFault::NoPermission, "")).contains("dialout"));
}

}  // namespace
}  // namespace korvantel
