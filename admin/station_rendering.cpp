// SPDX-License-Identifier: MIT
#include "station_rendering.h"

#include "visible_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace korvantel {

namespace {

QString orDash(const QString &value)
{
    return value.isEmpty() ? QStringLiteral("-") : visibleText(value);
}

QJsonValue orNull(const std::optional<QString> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QByteArray line(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// A device's name and kind on its first line; an adapter's longer details
// each on an indented line, so that a line stays within 100 columns.
void listDevice(QTextStream &out, const SerialDeviceInfo &device)
{
    out << "  " << visibleText(device.device);
    if (!device.usb) {
        const QString place = device.place.isEmpty() ? QString() : device.place + u' ' + device.address;
        out << QStringLiteral("  ไดรเวอร์ ") << orDash(device.driver) << QStringLiteral("  ตำแหน่ง ") << orDash(place) << '\n';
        return;
    }
    out << QStringLiteral("  ตัวแปลง USB  ไดรเวอร์ ") << orDash(device.driver) << QStringLiteral("  รหัสผู้ผลิต:รุ่น ")
        << visibleText(device.vendorId + u':' + device.productId) << QStringLiteral("\n      หมายเลขซีเรียล ")
        << orDash(device.serial) << QStringLiteral("  อินเทอร์เฟซ ") << orDash(device.interface)
        << QStringLiteral("\n      ช่องเสียบ USB ") << orDash(device.usbPort) << QStringLiteral("\n      ชื่อถาวร ")
        << orDash(device.byId) << '\n';
}

QJsonObject deviceJson(const SerialDeviceInfo &device)
{
    QJsonObject object{{QStringLiteral("device"), device.device}, {QStringLiteral("driver"), device.driver}};
    if (!device.usb) {
        object.insert(QStringLiteral("place"), device.place);
        object.insert(QStringLiteral("address"), device.address);
        return object;
    }
    const std::pair<const char *, QString> details[] = {
        {"vendor_id", device.vendorId}, {"product_id", device.productId}, {"serial", device.serial},
        {"usb_port", device.usbPort},   {"interface", device.interface},  {"by_id", device.byId},
    };
    for (const auto &[key, value] : details)
        object.insert(QString::fromLatin1(key), value);
    return object;
}

}  // namespace

QString listText(const StationList &list)
{
    QString text;
    QTextStream out(&text);
    out << QStringLiteral("อุปกรณ์พอร์ตอนุกรมในเครื่องนี้:\n");
    if (list.devices.isEmpty())
        out << QStringLiteral("  (ไม่มี)\n");
    for (const SerialDeviceInfo &device : list.devices)
        listDevice(out, device);
    out << QStringLiteral("พอร์ตอนุกรม 1 ของ korvantel-demo ตอนนี้: ");
    if (list.port1.isEmpty())
        out << QStringLiteral("ไม่มี\n");
    else
        out << visibleText(list.port1)
            << (list.port1Device == list.port1 ? QString() : QStringLiteral(" -> ") + orDash(list.port1Device)) << '\n';
    out << QStringLiteral("กฎ udev ของชื่อแทน (%1): %2\n")
               .arg(visibleText(list.rulesFile), list.rule ? QStringLiteral("ติดตั้งแล้ว") : QStringLiteral("ยังไม่ได้ติดตั้ง"));
    out.flush();
    return text;
}

QByteArray listJson(const StationList &list)
{
    QJsonArray devices;
    for (const SerialDeviceInfo &device : list.devices)
        devices.append(deviceJson(device));
    return line({{QStringLiteral("port1"), orNull(list.port1.isEmpty() ? std::nullopt : std::optional(list.port1))},
                 {QStringLiteral("rule"), orNull(list.rule)},
                 {QStringLiteral("devices"), devices}});
}

QString checkText(const QList<Finding> &findings)
{
    QString text;
    for (const Finding &finding : findings)
        text += (finding.ok ? QStringLiteral("ผ่าน     ") : QStringLiteral("ไม่ผ่าน  ")) + visibleText(finding.text) + u'\n';
    return text + (ready(findings) ? QStringLiteral("เครื่องนี้พร้อมส่งข้อมูลทางพอร์ตอนุกรม 1\n")
                                   : QStringLiteral("เครื่องนี้ยังไม่พร้อมส่งข้อมูลทางพอร์ตอนุกรม 1\n"));
}

QByteArray checkJson(const QList<Finding> &findings)
{
    QJsonArray all;
    for (const Finding &finding : findings)
        all.append(QJsonObject{{QStringLiteral("name"), finding.name},
                               {QStringLiteral("ok"), finding.ok},
                               {QStringLiteral("text"), finding.text}});
    return line({{QStringLiteral("ready"), ready(findings)}, {QStringLiteral("findings"), all}});
}

QByteArray commandJson(bool failed, bool changed, const QString &text)
{
    if (failed)
        return line({{QStringLiteral("error"), text}});
    return line({{QStringLiteral("changed"), changed}, {QStringLiteral("text"), text}});
}

QByteArray versionJson(const QString &version)
{
    return line({{QStringLiteral("version"), version}});
}

}  // namespace korvantel
