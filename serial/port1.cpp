// SPDX-License-Identifier: MIT
#include "port1.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <optional>

namespace korvantel {

namespace {

// The serial core gives each of its ports a `type`, 0 when no UART is behind
// it; a tty of any other driver has none.
std::optional<QByteArray> uartType(const QString &ttyClassFolder, const QString &name)
{
    QFile type(QDir(ttyClassFolder).filePath(name + QStringLiteral("/type")));
    if (ttyClassFolder.isEmpty() || !type.open(QIODevice::ReadOnly))
        return std::nullopt;
    return type.readAll().trimmed();
}

// The subsystem a device of /sys is on ("pnp", "pci", "platform"...).
QString subsystemOf(const QString &sysfsDevice)
{
    return QFileInfo(sysfsDevice + QStringLiteral("/subsystem")).canonicalFilePath().section(u'/', -1);
}

// ttyS2 before ttyS10: by the name, then by the number that ends it.
std::pair<QString, qulonglong> nameAndNumber(const QString &name)
{
    qsizetype digits = name.size();
    while (digits > 0 && name.at(digits - 1).isDigit())
        --digits;
    return {name.left(digits), name.mid(digits).toULongLong()};
}

}  // namespace

QString builtInPort(const Port1Places &places)
{
    const QFileInfo builtIn(places.builtInDevice);
    const QString real = builtIn.canonicalFilePath();
    if (builtIn.exists() && !isGhostUart(real, places.ttyClassFolder) && isMachinesOwnUart(real, places.ttyClassFolder))
        return places.builtInDevice;
    return {};
}

QString choosePort1(const Port1Places &places)
{
    const QFileInfo alias(places.alias);
    if (!places.alias.isEmpty() && (alias.exists() || alias.isSymLink()))
        return places.alias;
    return builtInPort(places);
}

QStringList serialAdapters(const Port1Places &places)
{
    QStringList byId;
    const QDir byIdFolder(places.byIdFolder);
    if (!places.byIdFolder.isEmpty()) {
        for (const QString &name : byIdFolder.entryList(QDir::System | QDir::Files))
            byId.append(byIdFolder.filePath(name));
    }

    QStringList adapters;
    for (const QString &pattern : places.adapterPatterns) {
        const QFileInfo where(pattern);
        const QDir folder = where.dir();
        for (const QString &name : folder.entryList({where.fileName()}, QDir::System | QDir::Files)) {
            const QString device = folder.filePath(name);
            const QString real = QFileInfo(device).canonicalFilePath();
            const auto named = std::ranges::find_if(byId, [&](const QString &link) {
                return QFileInfo(link).canonicalFilePath() == real;
            });
            adapters.append(named == byId.end() ? device : *named);
        }
    }
    return adapters;
}

QStringList serialPorts(const Port1Places &places)
{
    if (places.deviceFolder.isEmpty() || places.ttyClassFolder.isEmpty())
        return {};
    QStringList names;
    for (const QString &name : QDir(places.ttyClassFolder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        const std::optional<QByteArray> type = uartType(places.ttyClassFolder, name);
        if (type && *type != "0" && QFileInfo::exists(QDir(places.deviceFolder).filePath(name)))
            names.append(name);
    }
    std::ranges::sort(names, {}, nameAndNumber);
    QStringList ports;
    for (const QString &name : names)
        ports.append(QDir(places.deviceFolder).filePath(name));
    return ports;
}

QString uartParent(const QString &ttyClassFolder, const QString &name)
{
    QString device = QFileInfo(QDir(ttyClassFolder).filePath(name + QStringLiteral("/device"))).canonicalFilePath();
    while (!device.isEmpty() && subsystemOf(device) == u"serial-base")
        device = QFileInfo(device).path();
    return device;
}

bool isMachinesOwnUart(const QString &realDevice, const QString &ttyClassFolder)
{
    if (ttyClassFolder.isEmpty())
        return true;
    const QString parent = uartParent(ttyClassFolder, QFileInfo(realDevice).fileName());
    const QString subsystem = subsystemOf(parent);
    return subsystem == u"pnp" || (subsystem == u"platform" && QFileInfo(parent).fileName() == u"serial8250");
}

bool isGhostUart(const QString &realDevice, const QString &ttyClassFolder)
{
    return uartType(ttyClassFolder, QFileInfo(realDevice).fileName()) == "0";
}

}  // namespace korvantel
