// SPDX-License-Identifier: MIT
#include "alias_rule.h"

#include "visible_text.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace korvantel {

namespace {

const QString kVendor = QStringLiteral("ID_VENDOR_ID");
const QString kProduct = QStringLiteral("ID_MODEL_ID");
const QString kSerial = QStringLiteral("ID_SERIAL_SHORT");
const QString kInterface = QStringLiteral("ID_USB_INTERFACE_NUM");
const QString kPath = QStringLiteral("ID_PATH");

// udev takes what stands between the quotes as it is; a value of other
// characters than these could end the quotes or mean something to udev.
bool fitsInARule(const QString &value)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._:+-]+$"));
    return plain.match(value).hasMatch();
}

bool sameModel(const UdevProperties &one, const UdevProperties &other)
{
    return one.value(kVendor) == other.value(kVendor) && one.value(kProduct) == other.value(kProduct);
}

// Another adapter of the same model, elsewhere, with the same serial number.
bool serialShared(const UdevProperties &device, const QList<UdevProperties> &attached)
{
    return std::ranges::any_of(attached, [&](const UdevProperties &other) {
        return sameModel(other, device) && other.value(kSerial) == device.value(kSerial)
               && usbPortPath(other) != usbPortPath(device);
    });
}

QString described(const UdevProperties &device)
{
    QString description = device.value(QStringLiteral("ID_VENDOR")) + u' ' + device.value(QStringLiteral("ID_MODEL"));
    if (!device.value(kSerial).isEmpty())
        description += QStringLiteral(", serial ") + device.value(kSerial);
    return visibleText(description + QStringLiteral(", interface ") + device.value(kInterface));
}

}  // namespace

UdevProperties parseUdevProperties(const QByteArray &text)
{
    UdevProperties properties;
    for (const QByteArray &line : text.split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            properties.insert(QString::fromUtf8(line.left(equals)), QString::fromUtf8(line.mid(equals + 1)));
    }
    return properties;
}

QString usbPortPath(const UdevProperties &device)
{
    // "...-usb-0:2:1.0": the port, then the configuration and interface.
    static const QRegularExpression usbPort(QStringLiteral("^(.*-usb-[0-9]+:[0-9.]+):[0-9]+\\.[0-9]+$"));
    return usbPort.match(device.value(kPath)).captured(1);
}

AliasRule aliasRule(const UdevProperties &device, const QList<UdevProperties> &attached, const QString &aliasName)
{
    if (usbPortPath(device).isEmpty() || device.value(kVendor).isEmpty() || device.value(kProduct).isEmpty())
        return {.error = QStringLiteral("อุปกรณ์นี้ไม่ใช่อุปกรณ์แปลงพอร์ตอนุกรมแบบ USB")};
    const bool bySocket = !fitsInARule(device.value(kSerial)) || !fitsInARule(device.value(kInterface))
                          || serialShared(device, attached);
    QList<std::pair<QString, QString>> matches{{kVendor, device.value(kVendor)}, {kProduct, device.value(kProduct)}};
    if (bySocket)
        matches.append({kPath, device.value(kPath)});
    else
        matches.append({{kSerial, device.value(kSerial)}, {kInterface, device.value(kInterface)}});

    QStringList rule{QStringLiteral("SUBSYSTEM==\"tty\"")};
    for (const auto &[key, value] : matches) {
        if (!fitsInARule(value))
            return {.error = QStringLiteral("udev ให้ค่า %1 ที่ใส่ในกฎไม่ได้: %2").arg(key, visibleText(value))};
        rule.append(QStringLiteral("ENV{%1}==\"%2\"").arg(key, value));
    }
    rule.append(QStringLiteral("SYMLINK+=\"%1\"").arg(aliasName));
    // ModemManager would otherwise probe the adapter with AT commands, onto the bus.
    rule.append(QStringLiteral("ENV{ID_MM_DEVICE_IGNORE}=\"1\""));
    const QString header = QStringLiteral("# Serial port 1 of KORVANTEL DEMO: %1.\n"
                                          "# Written by korvantel-port1 assign; korvantel-port1 clear removes it.\n")
                               .arg(described(device));
    return {.text = header + rule.join(QStringLiteral(", ")) + u'\n', .bySocket = bySocket};
}

}  // namespace korvantel
