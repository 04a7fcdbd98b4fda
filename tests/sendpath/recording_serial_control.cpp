// SPDX-License-Identifier: MIT
#include "recording_serial_control.h"

namespace korvantel::testing {

PropertyWrite RecordingSerialControl::record(const QString &entry)
{
    m_log.append(entry);
    for (const auto &[failing, fault] : m_failures) {
        if (failing == entry)
            return PropertyWrite::failed(fault, QStringLiteral("injected failure of ") + entry);
    }
    return PropertyWrite::done();
}

PropertyWrite RecordingSerialControl::setCommPort(std::int16_t port)
{
    return record(QStringLiteral("CommPort=%1").arg(port));
}

PropertyWrite RecordingSerialControl::setSettings(const QString &settings)
{
    return record(QStringLiteral("Settings=") + settings);
}

PropertyWrite RecordingSerialControl::setInputLen(std::int16_t length)
{
    return record(QStringLiteral("InputLen=%1").arg(length));
}

PropertyWrite RecordingSerialControl::setPortOpen(bool open)
{
    return record(open ? QStringLiteral("PortOpen=True") : QStringLiteral("PortOpen=False"));
}

PropertyWrite RecordingSerialControl::setOutput(const QString &character)
{
    QString entry = QStringLiteral("Output=");
    for (const QChar c : character)
        entry += QStringLiteral("%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
    return record(entry);
}

PropertyWrite RecordingSerialControl::drainOutput()
{
    return record(QStringLiteral("Drain"));
}

void RecordingPresenter::showMessage(Kind kind, const QString &title, const QString &text)
{
    const QString label = kind == Kind::Confirmation ? QStringLiteral("Confirmation") : QStringLiteral("Error");
    m_log.append(label + QStringLiteral(" [") + title + QStringLiteral("]: ") + text);
}

}  // namespace korvantel::testing
