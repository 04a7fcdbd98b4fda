// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace korvantel {

// Why a property write failed, coarse enough for the window to tell the
// operator what to do about it.
enum class SerialFault : std::uint8_t {
    None,
    InvalidValue,     // the value written is not one the property takes
    NoSuchPort,       // no device, or one with no UART behind it
    NoPermission,     // the account may not open the device
    GroupNotInSession,  // the account is in the device's group, this session began before
    PortInUse,        // another program (or another copy of this one) holds it
    StaleLock,        // an ended program's lock file that this account cannot remove
    UnreadableLock,   // a lock file whose process cannot be read; left for an administrator
    NoLockFolder,     // the lock file cannot be created
    SettingsRefused,  // the device would not take the line settings
    LineLost,         // the device went away or the line hung up
    DrainTimedOut,    // written bytes did not leave the port in time
    Other,
};

// The process that holds a port another program has, where it can be seen.
struct PortHolder
{
    qint64 process = 0;        // 0: none could be seen
    QString name{};            // the process's own name, as the system keeps it
    bool thisProgram = false;  // another copy of this tool

    friend bool operator==(const PortHolder &, const PortHolder &) = default;
};

struct PropertyWrite
{
    SerialFault fault = SerialFault::None;
    QString description;    // the system's own words, or the control's
    QString device;         // the device the failure concerns, where one was chosen
    QString lockFile;       // for the lock faults, and PortInUse by a lock file
    PortHolder holder;      // for PortInUse
    QStringList serialDevices;  // for NoSuchPort on port 1: the serial ports and adapters present

    bool ok() const { return fault == SerialFault::None; }

    static PropertyWrite done() { return {}; }
    static PropertyWrite failed(SerialFault fault, QString description)
    {
        PropertyWrite failure;
        failure.fault = fault;
        failure.description = std::move(description);
        return failure;
    }
};

enum class Parity : std::uint8_t { None, Even, Odd, Mark, Space };
enum class StopBits : std::uint8_t { One, OneAndHalf, Two };

struct LineSettings
{
    int baudRate = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    friend bool operator==(const LineSettings &, const LineSettings &) = default;
};

// Reads a settings text such as "9600,n,8,1": baud, parity n/e/o/m/s,
// data bits 5..8, stop bits 1, 1.5 or 2; no blanks.
std::optional<LineSettings> parseLineSettings(const QString &text);

// Time on the wire for one character: start bit, data bits, parity bit, stop bits.
double characterMicroseconds(const LineSettings &settings);

// The serial control the send action drives: five properties and a wait for
// the output to leave; each either takes effect or fails with a description.
class SerialControl
{
public:
    virtual ~SerialControl() = default;

    virtual PropertyWrite setCommPort(std::int16_t port) = 0;
    virtual PropertyWrite setSettings(const QString &settings) = 0;
    virtual PropertyWrite setInputLen(std::int16_t length) = 0;
    // Closing drains what was written, within a bound, before the port is released.
    virtual PropertyWrite setPortOpen(bool open) = 0;
    // One character whose code (0..255) is the byte; handed on without waiting for the line.
    virtual PropertyWrite setOutput(const QString &character) = 0;
    // Waits, within the same bound as the close, until every byte written has left the port.
    virtual PropertyWrite drainOutput() = 0;
};

}  // namespace korvantel
