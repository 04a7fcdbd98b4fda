// SPDX-License-Identifier: MIT
#pragma once

#include "device_claim.h"
#include "port1.h"
#include "serial_port_cycle.h"

#include <QByteArray>
#include <QSerialPort>

#include <chrono>

namespace korvantel {

// The serial control over QSerialPort. QSerialPort opens the device, takes its
// lock file, sets TIOCEXCL and raw termios; this class adds what the tool relies
// on beyond that: the rule for which device is port 1, one claim for every path
// to a device that respects other programs' locks even as root, writes that
// reach the kernel at once, and a bounded drain.
class QtSerialControl final : public SerialControl
{
public:
    QtSerialControl(Port1Places port1, QString lockFolder);
    ~QtSerialControl() override;

    QtSerialControl(const QtSerialControl &) = delete;
    QtSerialControl &operator=(const QtSerialControl &) = delete;

    PropertyWrite setCommPort(std::int16_t port) override;
    PropertyWrite setSettings(const QString &settings) override;
    PropertyWrite setInputLen(std::int16_t length) override;
    PropertyWrite setPortOpen(bool open) override;
    PropertyWrite setOutput(const QString &character) override;
    PropertyWrite drainOutput() override;

    // Port 1 by its rule (empty: none); port N > 1 is /dev/ttyS(N-1).
    QString deviceForPort(std::int16_t port) const;

private:
    using Clock = std::chrono::steady_clock;

    PropertyWrite open();
    PropertyWrite openDevice();
    PropertyWrite noSuchPort(PropertyWrite failure) const;
    PropertyWrite refusalAfterClaim(const QString &realPath);
    PropertyWrite named(PropertyWrite result) const;
    PropertyWrite close();
    bool applySettings();
    PropertyWrite writePending();
    PropertyWrite drain(Clock::time_point deadline);
    PropertyWrite drainTimedOut() const;
    Clock::time_point drainDeadline() const;

    Port1Places m_port1;
    std::int16_t m_commPort = 1;
    QString m_device;  // the device chosen at the open, named in every failure
    LineSettings m_settings;
    DeviceClaim m_claim;
    QSerialPort m_port;
    QByteArray m_pending;  // bytes the kernel could not take yet
    qint64 m_bytesWritten = 0;
};

}  // namespace korvantel
