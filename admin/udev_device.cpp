// SPDX-License-Identifier: MIT
#include "udev_device.h"

#include "key_value_lines.h"
#include "station_reads.h"

#include <QList>
#include <QRegularExpression>
#include <QStringList>

namespace korvantel {

namespace {

QByteArray udevInfo(const QString &query, const QString &device)
{
    QByteArray output;
    if (!runTool(QStringLiteral("udevadm"), {QStringLiteral("info"), query, QStringLiteral("--name=") + device}, &output))
        return {};
    return output;
}

}  // namespace

UdevProperties parseUdevProperties(const QByteArray &text)
{
    return parseKeyValueLines(text);
}

UdevProperties parseAttributeWalk(const QByteArray &text)
{
    static const QRegularExpression section(QStringLiteral("^\\s*looking at (parent )?device"));
    static const QRegularExpression entry(QStringLiteral("^\\s*([A-Z]+(\\{[^}]*\\})?)==\"(.*)\"$"));
    QList<UdevProperties> sections;
    for (const QByteArray &line : text.split('\n')) {
        const QString decoded = QString::fromUtf8(line);
        if (section.match(decoded).hasMatch()) {
            sections.append(UdevProperties());
        } else if (const QRegularExpressionMatch found = entry.match(decoded); found.hasMatch() && !sections.isEmpty()) {
            sections.last().insert(found.captured(1), found.captured(3));
        }
    }
    UdevProperties port = sections.value(0);
    for (qsizetype parent = 1; parent < sections.size(); ++parent) {
        const QString subsystem = sections[parent].value(kSubsystems);
        if (subsystem.isEmpty() || subsystem == u"serial-base")
            continue;
        for (const QString &key : {kKernels, kSubsystems, kDrivers})
            port.insert(key, sections[parent].value(key));
        break;
    }
    return port;
}

UdevProperties udevProperties(const QString &realDevice)
{
    UdevProperties properties = parseUdevProperties(udevInfo(QStringLiteral("--query=property"), realDevice));
    if (!properties.isEmpty() && properties.value(QStringLiteral("ID_BUS")) != u"usb")
        properties.insert(parseAttributeWalk(udevInfo(QStringLiteral("--attribute-walk"), realDevice)));
    return properties;
}

const UdevProperties &UdevReads::of(const QString &realDevice)
{
    if (!m_read.contains(realDevice))
        m_read.insert(realDevice, udevProperties(realDevice));
    return m_read[realDevice];
}

}  // namespace korvantel
