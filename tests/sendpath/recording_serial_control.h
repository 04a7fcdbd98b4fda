// SPDX-License-Identifier: MIT
#pragma once

#include "send_action.h"
#include "serial_port_cycle.h"

#include <QStringList>

#include <functional>

namespace korvantel::testing {

// Stands in for the serial control: logs every property write as
// "Property=value" (bytes in hex) and fails the writes it is told to.
class RecordingSerialControl final : public SerialControl
{
public:
    explicit RecordingSerialControl(QStringList &log) : m_log(log) {}

    // Every later write logged as `entry` fails with `fault`.
    void failOn(const QString &entry, SerialFault fault) { m_failures.append({entry, fault}); }

    PropertyWrite setCommPort(std::int16_t port) override;
    PropertyWrite setSettings(const QString &settings) override;
    PropertyWrite setInputLen(std::int16_t length) override;
    PropertyWrite setPortOpen(bool open) override;
    PropertyWrite setOutput(const QString &character) override;
    PropertyWrite drainOutput() override;

private:
    PropertyWrite record(const QString &entry);

    QStringList &m_log;
    QList<std::pair<QString, SerialFault>> m_failures;
};

// Logs "Confirmation: text" or "Error: text" and returns at once, as an
// operator who dismisses every message would.
class RecordingPresenter final : public MessagePresenter
{
public:
    explicit RecordingPresenter(QStringList &log) : m_log(log) {}

    void showMessage(Kind kind, const QString &title, const QString &text) override;

private:
    QStringList &m_log;
};

}  // namespace korvantel::testing
