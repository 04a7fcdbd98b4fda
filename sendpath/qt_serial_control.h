#pragma once

#include "device_claim.h"
#include "serial_port_cycle.h"

#include <QByteArray>
#include <QSerialPort>

#include <chrono>

namespace korvantel {

// The serial control over QSerialPort. QSerialPort opens the device, takes its
// lock file, sets TIOCEXCL and raw termios; this class adds what the tool relies
// on beyond that: one claim for every path to a device that respects other
// programs' locks even as root, writes that reach the kernel at once, and a
// bounded drain before the port is released.
class QtSerialControl final : public SerialControl
{
public:
    explicit QtSerialControl(QString port1Device);
    ~QtSerialControl() override;

    QtSerialControl(const QtSerialControl &) = delete;
    QtSerialControl &operator=(const QtSerialControl &) = delete;

    PropertyWrite setCommPort(std::int16_t port) override;
    PropertyWrite setSettings(const QString &settings) override;
    PropertyWrite setInputLen(std::int16_t length) override;
    PropertyWrite setPortOpen(bool open) override;
    PropertyWrite setOutput(const QString &character) override;

    // Port 1 is the device the program was built for; port N > 1 is /dev/ttyS(N-1).
    QString deviceForPort(std::int16_t port) const;

private:
    using Clock = std::chrono::steady_clock;

    PropertyWrite open();
    PropertyWrite close();
    bool applySettings();
    PropertyWrite writePending();
    PropertyWrite drain(Clock::time_point deadline);
    PropertyWrite drainTimedOut() const;
    Clock::time_point drainDeadline() const;

    QString m_port1Device;
    std::int16_t m_commPort = 1;
    LineSettings m_settings;
    DeviceClaim m_claim;
    QSerialPort m_port;
    QByteArray m_pending;  // bytes the kernel could not take yet
    qint64 m_bytesWritten = 0;
};

}  // namespace korvantel
