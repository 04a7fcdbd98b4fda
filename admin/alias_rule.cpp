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
const QString kType = QStringLiteral("ATTR{type}");
const QString kIoPort = QStringLiteral("ATTR{port}");
const QString kMemoryBase = QStringLiteral("ATTR{iomem_base}");

// What a rule matches, key by key, and what its comment says of the device.
struct Match
{
    QList<std::pair<QString, QString>> keys{};
    QString description{};
    bool bySocket = false;
    QString error{};
};

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

QString envKey(const QString &property)
{
    return QStringLiteral("ENV{%1}").arg(property);
}

Match usbAdapterMatch(const UdevProperties &device, const QList<UdevProperties> &attached)
{
    if (usbPortPath(device).isEmpty() || device.value(kVendor).isEmpty() || device.value(kProduct).isEmpty())
        return {.error = QStringLiteral("อุปกรณ์นี้ไม่ใช่ตัวแปลง USB")};
    const bool bySocket = !fitsInARule(device.value(kSerial)) || !fitsInARule(device.value(kInterface))
                          || serialShared(device, attached);
    Match match{.keys = {{envKey(kVendor), device.value(kVendor)}, {envKey(kProduct), device.value(kProduct)}},
                .description = described(device),
                .bySocket = bySocket};
    for (const QString &key : bySocket ? QStringList{kPath} : QStringList{kSerial, kInterface})
        match.keys.append(std::pair{envKey(key), device.value(key)});
    return match;
}

Match serialPortMatch(const UdevProperties &port)
{
    if (!port.contains(kType) || port.value(kSubsystems).isEmpty())
        return {.error = QStringLiteral("อุปกรณ์นี้ไม่ใช่พอร์ตอนุกรมของเครื่อง พอร์ตบนการ์ด หรือตัวแปลง USB")};
    if (port.value(kType) == u"0")
        return {.error = QStringLiteral("อุปกรณ์นี้เป็นเพียงชื่อที่เคอร์เนลจองไว้ ไม่มีพอร์ตอนุกรมอยู่จริง (ชนิด 0)")};
    return {.keys = {{kSubsystems, port.value(kSubsystems)},
                     {kKernels, port.value(kKernels)},
                     {kIoPort, port.value(kIoPort)},
                     {kMemoryBase, port.value(kMemoryBase)}},
            .description = visibleText(QStringLiteral("%1 at %2, driver %3")
                                           .arg(port.value(QStringLiteral("KERNEL")), portPlace(port), port.value(kDrivers)))};
}

}  // namespace

QString usbPortPath(const UdevProperties &device)
{
    // "...-usb-0:2:1.0": the port, then the configuration and interface.
    static const QRegularExpression usbPort(QStringLiteral("^(.*-usb-[0-9]+:[0-9.]+):[0-9]+\\.[0-9]+$"));
    return usbPort.match(device.value(kPath)).captured(1);
}

QString portDevice(const UdevProperties &port)
{
    if (port.value(kSubsystems).isEmpty())
        return {};
    return QStringLiteral("%1-%2").arg(port.value(kSubsystems), port.value(kKernels));
}

QString portAddress(const UdevProperties &port)
{
    if (port.value(kSubsystems).isEmpty())
        return {};
    return port.value(kIoPort) != u"0x0" ? port.value(kIoPort) : port.value(kMemoryBase);
}

QString portPlace(const UdevProperties &port)
{
    return portDevice(port).isEmpty() ? QString() : portDevice(port) + u' ' + portAddress(port);
}

AliasRule aliasRule(const UdevProperties &device, const QList<UdevProperties> &attached, const QString &aliasName)
{
    const Match match = device.value(QStringLiteral("ID_BUS")) == u"usb" ? usbAdapterMatch(device, attached)
                                                                         : serialPortMatch(device);
    if (!match.error.isEmpty())
        return {.error = match.error};
    QStringList rule{QStringLiteral("SUBSYSTEM==\"tty\"")};
    for (const auto &[key, value] : match.keys) {
        if (!fitsInARule(value))
            return {.error = QStringLiteral("udev ให้ค่า %1 ที่ใส่ในกฎไม่ได้: %2").arg(key, visibleText(value))};
        rule.append(QStringLiteral("%1==\"%2\"").arg(key, value));
    }
    rule.append(QStringLiteral("SYMLINK+=\"%1\"").arg(aliasName));
    // ModemManager would otherwise probe the adapter with AT commands, onto the bus.
    rule.append(QStringLiteral("ENV{ID_MM_DEVICE_IGNORE}=\"1\""));
    const QString header = QStringLiteral("# Serial port 1 of KORVANTEL DEMO: %1.\n"
                                          "# Written by korvantel-port1 assign; korvantel-port1 clear removes it.\n")
                               .arg(match.description);
    return {.text = header + rule.join(QStringLiteral(", ")) + u'\n', .bySocket = match.bySocket};
}

}  // namespace korvantel
