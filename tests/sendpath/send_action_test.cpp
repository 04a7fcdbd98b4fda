// SPDX-License-Identifier: MIT
#include "send_action.h"
#include "visible_text.h"

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
                                 + QStringList{"Drain", kConfirmation, "PortOpen=False"};
    EXPECT_EQ(m_log, expected);
}

TEST_F(SendAction, TwoSendsRunTwoWholeCycles)
{
    send(kInitialTexts);
    send(kInitialTexts);
    const QStringList once = kConfigureAndOpen + outputs({"FD", "00", "01", "01", "01", "00", "FF", "FE"})
                             + QStringList{"Drain", kConfirmation, "PortOpen=False"};
    EXPECT_EQ(m_log, once + once);
}

TEST_F(SendAction, ABadFieldTouchesNoPropertyAndNamesTheFirstBadField)
{
    struct Case
    {
        FieldTexts texts;
        QString caption;
        bool thaiLayout = false;  // typed with the digit keys of the Thai layout
    };
    const Case cases[] = {
        {{"", "1", "255"}, "กลุ่ม RS-485"},
        {{"1", "x", "255"}, "หมายเลขเครื่อง"},
        {{"1", "1", "300"}, "จำนวนสินค้า"},
        {{"256", "-1", "abc"}, "กลุ่ม RS-485"},
        {{"1", "1.5", "abc"}, "หมายเลขเครื่อง"},
        {{"1", QStringLiteral("ๅ/-ภถุึคตจ"), "255"}, "หมายเลขเครื่อง", true},
        {{"1", "1", QStringLiteral(" /จ ")}, "จำนวนสินค้า", true},
        {{"-", "1", "255"}, "กลุ่ม RS-485"},
    };
    const QString switchLayout = QStringLiteral("\nแป้นพิมพ์เป็นภาษาไทยอยู่ ให้สลับแป้นพิมพ์เป็นภาษาอังกฤษ แล้วพิมพ์ตัวเลขใหม่");
    for (const Case &c : cases) {
        m_log.clear();
        send(c.texts);
        ASSERT_EQ(m_log.size(), 1);
        EXPECT_EQ(m_log[0], QStringLiteral("Error [KORVANTEL]: ช่อง \"%1\" ต้องเป็นจำนวนเต็มตั้งแต่ 0 ถึง 255").arg(c.caption)
                                + (c.thaiLayout ? switchLayout : QString()));
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
        EXPECT_TRUE(m_log.last().startsWith("Error [KORVANTEL]: พอร์ตอนุกรม 1 ถูกใช้อยู่โดยโปรแกรมอื่น"));
        EXPECT_TRUE(m_log.last().endsWith(QStringLiteral("injected failure of ") + failing));
    }
}

// Before the frame has left the port the operator may have to send again; after
// the confirmation never, or the goods are delivered twice.
TEST_F(SendAction, AFailureAfterTheOpenClosesThePortAndSaysWhetherTheFrameWasSent)
{
    const QString mayBeIncomplete = QStringLiteral("\nข้อมูลอาจส่งไม่ครบ\n");
    const QStringList initialFrame = outputs({"FD", "00", "01", "01", "01", "00", "FF", "FE"});
    struct Case
    {
        QString failing;
        SerialFault fault;
        QStringList logBeforeTheMessage;
        QString messageStart;
        bool mayBeIncomplete;
    };
    const Case cases[] = {
        {"Output=01", SerialFault::LineLost, kConfigureAndOpen + outputs({"FD", "00", "01"}) + QStringList{"PortOpen=False"},
         QStringLiteral("พอร์ตอนุกรม 1 หายไปจากเครื่องระหว่างใช้งาน"), true},
        {"Drain", SerialFault::DrainTimedOut, kConfigureAndOpen + initialFrame + QStringList{"Drain", "PortOpen=False"},
         QStringLiteral("ข้อมูลออกจากพอร์ตอนุกรม 1 ไม่หมดภายในเวลาที่กำหนด"), true},
        {"PortOpen=False", SerialFault::LineLost,
         kConfigureAndOpen + initialFrame + QStringList{"Drain", kConfirmation, "PortOpen=False"},
         QStringLiteral("ส่งข้อมูลครบแล้ว ไม่ต้องส่งซ้ำ แต่หลังจากนั้นพอร์ตอนุกรม 1 มีปัญหา:\nพอร์ตอนุกรม 1 หายไปจากเครื่องระหว่างใช้งาน"), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.failing.toStdString());
        m_log.clear();
        RecordingSerialControl comm(m_log);
        comm.failOn(c.failing, c.fault);
        comm.failOn("PortOpen=False", SerialFault::DrainTimedOut);  // a second failure is never reported on top
        runSendAction(kInitialTexts, comm, m_messages);

        ASSERT_EQ(m_log.size(), c.logBeforeTheMessage.size() + 1);
        EXPECT_EQ(m_log.mid(0, c.logBeforeTheMessage.size()), c.logBeforeTheMessage);
        EXPECT_TRUE(m_log.last().startsWith("Error [KORVANTEL]: " + c.messageStart)) << m_log.last().toStdString();
        EXPECT_EQ(m_log.last().contains(mayBeIncomplete), c.mayBeIncomplete);
        EXPECT_TRUE(m_log.last().endsWith("injected failure of " + c.failing));
    }
}

TEST(FaultMessage, EveryKindHasItsOwnThaiReasonFollowedByTheDescription)
{
    const SerialFault kinds[] = {SerialFault::NoSuchPort,      SerialFault::NoPermission, SerialFault::GroupNotInSession,
                                 SerialFault::PortInUse,
                                 SerialFault::StaleLock,       SerialFault::UnreadableLock, SerialFault::NoLockFolder,
                                 SerialFault::SettingsRefused, SerialFault::LineLost,       SerialFault::DrainTimedOut,
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

    PropertyWrite named = PropertyWrite::failed(SerialFault::NoSuchPort, "");
    named.device = "/dev/korvantel-port1";
    named.lockFile = "/var/lock/LCK..ttyUSB0";
    named.serialDevices = QStringList{"/dev/serial/by-id/usb-FTDI-if00-port0", "/dev/ttyACM0"};
    const QString message = messageForFault(named);
    for (const QString &place : named.serialDevices + QStringList{named.device, named.lockFile, "korvantel-port1 assign"})
        EXPECT_TRUE(message.contains(place)) << place.toStdString();

    // The holder by what could be seen of it: never a guessed name.
    const std::pair<PortHolder, QString> holders[] = {
        {{.process = 4801, .name = "minicom"}, "โดย minicom (โปรเซสหมายเลข 4801)"},
        {{.process = 4801, .name = "korvantel-demo", .thisProgram = true},
         "โดยโปรแกรมนี้อีกหน้าต่างหนึ่ง (โปรเซสหมายเลข 4801)"},
        {{.process = 4801}, "โดยโปรแกรมอื่น (โปรเซสหมายเลข 4801)"},  // ended before its name was read
        // Any account names its process as it likes: shown as it is, never obeyed.
        {{.process = 4801, .name = "<b>x</b>"}, "โดย <b>x</b> (โปรเซสหมายเลข 4801)"},
        {{.process = 4801, .name = "a\nb\tc"}, "โดย a\\x0ab\\x09c (โปรเซสหมายเลข 4801)"},
        {{.process = 4801, .name = QStringLiteral("x\u202Eyz")}, "โดย x\\u202eyz (โปรเซสหมายเลข 4801)"},
        {{}, "โดยโปรแกรมอื่น"},
    };
    for (const auto &[holder, said] : holders) {
        PropertyWrite inUse = PropertyWrite::failed(SerialFault::PortInUse, "");
        inUse.holder = holder;
        EXPECT_EQ(messageForFault(inUse).section(u'\n', 0, 0), "พอร์ตอนุกรม 1 ถูกใช้อยู่" + said);
    }
}

// The columns a terminal gives: what lays out korvantel-port1's usage.
TEST(DisplayWidth, ThaiMarksAndFormatCharactersTakeNoColumn)
{
    const std::pair<QString, qsizetype> texts[] = {
        {"assign", 6}, {"ใช้:", 3}, {"ยกเลิก", 5}, {"บัญชีผู้ใช้", 6}, {"คำสั่ง", 4}, {QStringLiteral("a\u200Bb"), 2},
    };
    for (const auto &[text, width] : texts)
        EXPECT_EQ(displayWidth(text), width) << text.toStdString();
}

}  // namespace
}  // namespace korvantel
