#include "send_action.h"

#include <array>
#include <optional>
#include <utility>

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

// Either the frame, or the caption of the first field that is not a byte.
std::pair<std::optional<UnitCommandFrame>, QString> frameFromFields(const FieldTexts &texts)
{
    const std::array<Field, 3> fields{{
        {texts.group, QStringLiteral("กลุ่ม RS-485")},
        {texts.unit, QStringLiteral("หมายเลขเครื่อง")},
        {texts.quantity, QStringLiteral("จำนวนสินค้า")},
    }};
    std::array<std::uint8_t, 3> values{};
    for (std::size_t index = 0; index < fields.size(); ++index) {
        const FieldByte converted = fieldToByte(fields[index].text);
        if (!converted.ok())
            return {std::nullopt, fields[index].caption};
        values[index] = converted.value;
    }
    return {UnitCommandFrame(values[0], values[1], values[2]), QString()};
}

QString badFieldMessage(const QString &caption)
{
    return QStringLiteral("ช่อง \"%1\" ต้องเป็นจำนวนเต็มตั้งแต่ 0 ถึง 255").arg(caption);
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

PropertyWrite writeFrame(SerialControl &comm, const UnitCommandFrame &frame)
{
    for (const std::uint8_t byte : frame.bytes()) {
        if (PropertyWrite result = comm.setOutput(QString(QChar(byte))); !result.ok())
            return result;
    }
    return PropertyWrite::done();
}

}  // namespace

QString messageForFault(const PropertyWrite &failure)
{
    QString reason;
    switch (failure.fault) {
    case SerialFault::NoSuchPort:
        reason = QStringLiteral("ไม่พบพอร์ตอนุกรม 1 ในเครื่องนี้");
        break;
    case SerialFault::NoPermission:
        reason = QStringLiteral("บัญชีผู้ใช้นี้ไม่มีสิทธิ์ใช้พอร์ตอนุกรม ต้องเพิ่มบัญชีเข้ากลุ่ม dialout แล้วเข้าระบบใหม่");
        break;
    case SerialFault::PortInUse:
        reason = QStringLiteral("พอร์ตอนุกรมกำลังถูกใช้งานโดยโปรแกรมอื่น");
        if (failure.holderProcess > 0)
            reason += QStringLiteral(" (โปรเซสหมายเลข %1)").arg(failure.holderProcess);
        break;
    case SerialFault::SettingsRefused:
        reason = QStringLiteral("พอร์ตอนุกรมไม่รับค่าการตั้งค่าสายสัญญาณ");
        break;
    case SerialFault::LineLost:
        reason = QStringLiteral("การเชื่อมต่อพอร์ตอนุกรมขาดหาย (อุปกรณ์ถูกถอดออกหรือสายสัญญาณถูกตัด) ข้อมูลอาจส่งไม่ครบ");
        break;
    case SerialFault::DrainTimedOut:
        reason = QStringLiteral("ส่งข้อมูลออกทางพอร์ตอนุกรมไม่ทันเวลา ข้อมูลอาจส่งไม่ครบ");
        break;
    case SerialFault::None:
    case SerialFault::InvalidValue:
    case SerialFault::Other:
        reason = QStringLiteral("เกิดข้อผิดพลาดกับพอร์ตอนุกรม");
        break;
    }
    return reason + QStringLiteral("\n\n") + failure.description;
}

void runSendAction(const FieldTexts &texts, SerialControl &comm, MessagePresenter &messages)
{
    const auto showError = [&](const QString &text) {
        messages.showMessage(MessagePresenter::Kind::Error, kMessageTitle, text);
    };

    const auto [frame, badField] = frameFromFields(texts);
    if (!frame) {
        showError(badFieldMessage(badField));
        return;
    }
    if (const PropertyWrite opened = configureAndOpen(comm); !opened.ok()) {
        showError(messageForFault(opened));
        return;
    }
    if (const PropertyWrite written = writeFrame(comm, *frame); !written.ok()) {
        // Release the port first; a second failure on this close would only hide the first.
        comm.setPortOpen(false);
        showError(messageForFault(written));
        return;
    }
    messages.showMessage(MessagePresenter::Kind::Confirmation, kMessageTitle, kConfirmationText);
    if (const PropertyWrite closed = comm.setPortOpen(false); !closed.ok())
        showError(messageForFault(closed));
}

}  // namespace korvantel
