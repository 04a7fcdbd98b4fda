// SPDX-License-Identifier: MIT
#include "send_action.h"

#include "visible_text.h"

#include <algorithm>
#include <array>
#include <utility>
#include <variant>

namespace korvantel {

namespace {

constexpr std::int16_t kCommPort = 1;
constexpr std::int16_t kInputLen = 0;
const QString kSettings = QStringLiteral("9600,n,8,1");

struct Field
{
    const QString &text;
    QString caption;
};

// Either the frame, or the first field that is not a byte.
std::variant<UnitCommandFrame, Field> frameFromFields(const FieldTexts &texts)
{
    const std::array<Field, 3> fields{{
        {.text = texts.group, .caption = QStringLiteral("กลุ่ม RS-485")},
        {.text = texts.unit, .caption = QStringLiteral("หมายเลขเครื่อง")},
        {.text = texts.quantity, .caption = QStringLiteral("จำนวนสินค้า")},
    }};
    std::array<std::uint8_t, 3> values{};
    for (std::size_t index = 0; index < fields.size(); ++index) {
        const FieldByte converted = fieldToByte(fields[index].text);
        if (!converted.ok())
            return fields[index];
        values[index] = converted.value;
    }
    return UnitCommandFrame(values[0], values[1], values[2]);
}

// What the digit keys type in Kedmanee, the Thai layout: ๅ / - ภ ถ ุ ึ ค ต จ for 1 to 0.
// "/" and "-" alone are typed in any layout, so a Thai letter must be among them.
bool typedInThaiLayout(const QString &text)
{
    static const QString thaiDigitKeys = QStringLiteral("ๅภถุึคตจ");
    const QString typed = text.trimmed();
    const auto isDigitKey = [](QChar character) { return thaiDigitKeys.contains(character) || character == u'/' || character == u'-'; };
    return std::ranges::all_of(typed, isDigitKey) && std::ranges::any_of(typed, [](QChar c) { return thaiDigitKeys.contains(c); });
}

QString badFieldMessage(const Field &field)
{
    QString message = QStringLiteral("ช่อง \"%1\" ต้องเป็นจำนวนเต็มตั้งแต่ 0 ถึง 255").arg(field.caption);
    if (typedInThaiLayout(field.text))
        message += QStringLiteral("\nแป้นพิมพ์เป็นภาษาไทยอยู่ ให้สลับแป้นพิมพ์เป็นภาษาอังกฤษ แล้วพิมพ์ตัวเลขใหม่");
    return message;
}

PropertyWrite configureAndOpen(SerialControl &comm)
{
    PropertyWrite result = comm.setCommPort(kCommPort);
    if (result.ok())
        result = comm.setSettings(kSettings);
    if (result.ok())
        result = comm.setInputLen(kInputLen);
    if (result.ok())
        result = comm.setPortOpen(true);
    return result;
}

PropertyWrite writeFrameAndDrain(SerialControl &comm, const UnitCommandFrame &frame)
{
    for (const std::uint8_t byte : frame.bytes()) {
        if (PropertyWrite result = comm.setOutput(QString(QChar(byte))); !result.ok())
            return result;
    }
    return comm.drainOutput();
}

const QString kMayBeIncomplete = QStringLiteral("ข้อมูลอาจส่งไม่ครบ");
const QString kSentThenFailed = QStringLiteral("ส่งข้อมูลครบแล้ว ไม่ต้องส่งซ้ำ แต่หลังจากนั้นพอร์ตอนุกรม 1 มีปัญหา:");

// Which program to close: by its own name, never guessed.
QString holderOf(const PortHolder &holder)
{
    if (holder.process == 0)
        return QStringLiteral("โปรแกรมอื่น");
    const QString process = QStringLiteral(" (โปรเซสหมายเลข %1)").arg(holder.process);
    if (holder.thisProgram)
        return QStringLiteral("โปรแกรมนี้อีกหน้าต่างหนึ่ง") + process;
    return (holder.name.isEmpty() ? QStringLiteral("โปรแกรมอื่น") : u' ' + visibleText(holder.name)) + process;
}

QString reasonFor(const PropertyWrite &failure)
{
    switch (failure.fault) {
    case SerialFault::NoSuchPort:
        return QStringLiteral("ไม่พบพอร์ตอนุกรม 1 ในเครื่องนี้");
    case SerialFault::NoPermission:
        return QStringLiteral("บัญชีผู้ใช้นี้ยังไม่มีสิทธิ์ใช้พอร์ตอนุกรม 1 ผู้ดูแลระบบต้องเพิ่มบัญชีนี้เข้ากลุ่ม dialout "
                              "(sudo korvantel-port1 grant บัญชีผู้ใช้) แล้วผู้ใช้ต้องออกจากระบบและเข้าใหม่");
    case SerialFault::GroupNotInSession:
        return QStringLiteral("บัญชีผู้ใช้นี้อยู่ในกลุ่มที่ใช้พอร์ตอนุกรม 1 ได้แล้ว แต่เซสชันนี้เริ่มก่อนได้รับสิทธิ์ "
                              "ผู้ใช้ต้องออกจากระบบให้ครบทุกเซสชันแล้วเข้าใหม่ หรือเริ่มเครื่องใหม่");
    case SerialFault::PortInUse:
        return QStringLiteral("พอร์ตอนุกรม 1 ถูกใช้อยู่โดย") + holderOf(failure.holder);
    case SerialFault::StaleLock:
        return QStringLiteral("มีไฟล์ล็อกค้างอยู่จากโปรแกรมที่ปิดไปแล้ว จึงใช้พอร์ตอนุกรม 1 ไม่ได้ ผู้ดูแลระบบต้องลบไฟล์ล็อกนี้");
    case SerialFault::UnreadableLock:
        return QStringLiteral("มีไฟล์ล็อกของพอร์ตอนุกรม 1 ที่ไม่บอกว่าโปรเซสใดใช้พอร์ตอยู่ ผู้ดูแลระบบต้องตรวจดูไฟล์ล็อกนี้");
    case SerialFault::NoLockFolder:
        return QStringLiteral("สร้างไฟล์ล็อกของพอร์ตอนุกรม 1 ไม่ได้ ผู้ดูแลระบบต้องตรวจดูสิทธิ์ของโฟลเดอร์ไฟล์ล็อก");
    case SerialFault::SettingsRefused:
        return QStringLiteral("พอร์ตอนุกรม 1 ไม่รับการตั้งค่า ") + kSettings;
    case SerialFault::LineLost:
        return QStringLiteral("พอร์ตอนุกรม 1 หายไปจากเครื่องระหว่างใช้งาน เช่น เมื่อถอดตัวแปลง USB ออก");
    case SerialFault::DrainTimedOut:
        return QStringLiteral("ข้อมูลออกจากพอร์ตอนุกรม 1 ไม่หมดภายในเวลาที่กำหนด");
    case SerialFault::None:
    case SerialFault::InvalidValue:
    case SerialFault::Other:
        break;
    }
    return QStringLiteral("พอร์ตอนุกรม 1 มีปัญหา");
}

// A description may hold lines of its own: the control's words, then the system's.
QString visibleLines(const QString &description)
{
    QStringList lines = description.split(u'\n');
    for (QString &line : lines)
        line = visibleText(line);
    return lines.join(u'\n');
}

// Where it happened, what to do about it, then the system's own words. Every
// name and the system's words come from outside: none may break the lines.
QString detailsOf(const PropertyWrite &failure)
{
    QString details;
    if (!failure.device.isEmpty())
        details += QStringLiteral("\nอุปกรณ์: ") + visibleText(failure.device);
    if (!failure.lockFile.isEmpty())
        details += QStringLiteral("\nไฟล์ล็อก: ") + visibleText(failure.lockFile);
    if (!failure.serialDevices.isEmpty()) {
        details += QStringLiteral("\nในเครื่องนี้มีอุปกรณ์พอร์ตอนุกรมต่อไปนี้ แต่โปรแกรมไม่เลือกใช้เอง:");
        for (const QString &device : failure.serialDevices)
            details += QStringLiteral("\n  ") + visibleText(device);
    }
    // The tool only ever opens port 1: with no such port, say who can make one and how.
    if (failure.fault == SerialFault::NoSuchPort)
        details += QStringLiteral("\nผู้ดูแลระบบเลือกอุปกรณ์หนึ่งให้เป็นพอร์ตอนุกรม 1 ได้ด้วยคำสั่งนี้ "
                                  "(ดู man korvantel-port1):\n  sudo korvantel-port1 assign อุปกรณ์");
    return failure.description.isEmpty() ? details : details + QStringLiteral("\n\n") + visibleLines(failure.description);
}

}  // namespace

QString messageForFault(const PropertyWrite &failure)
{
    return reasonFor(failure) + detailsOf(failure);
}

void runSendAction(const FieldTexts &texts, SerialControl &comm, MessagePresenter &messages)
{
    const auto showError = [&](const QString &text) {
        messages.showMessage(MessagePresenter::Kind::Error, kMessageTitle, text);
    };

    const std::variant<UnitCommandFrame, Field> fields = frameFromFields(texts);
    if (const Field *badField = std::get_if<Field>(&fields)) {
        showError(badFieldMessage(*badField));
        return;
    }
    if (const PropertyWrite opened = configureAndOpen(comm); !opened.ok()) {
        showError(messageForFault(opened));
        return;
    }
    // "Sent" is said only once the frame has left the port.
    if (const PropertyWrite sent = writeFrameAndDrain(comm, std::get<UnitCommandFrame>(fields)); !sent.ok()) {
        // Release the port first; a second failure on this close would only hide the first.
        comm.setPortOpen(false);
        showError(reasonFor(sent) + u'\n' + kMayBeIncomplete + detailsOf(sent));
        return;
    }
    messages.showMessage(MessagePresenter::Kind::Confirmation, kMessageTitle, kConfirmationText);
    // The frame is out: whatever fails now must not make the operator send it again.
    if (const PropertyWrite closed = comm.setPortOpen(false); !closed.ok())
        showError(kSentThenFailed + u'\n' + reasonFor(closed) + detailsOf(closed));
}

}  // namespace korvantel
