// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <chrono>

namespace korvantel::testing {

// A pseudo-terminal standing in for the serial line: the code under test opens
// the slave through a path this object owns; the test reads the master.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();

    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    // A symlink to the slave, as a udev rule would give a serial adapter.
    QString devicePath() const { return m_linkPath; }
    // A lock folder of this terminal's own, for the device claim.
    QString lockFolder() const { return m_directory.filePath("locks"); }
    // Where QSerialPort itself locks the slave: the system's lock folder.
    QString systemLockFile() const;
    QString slavePath() const { return m_slavePath; }
    int master() const { return m_master; }
    // Hangs up the line under the slave.
    void closeMaster();

    // Reads until `count` bytes have come or `timeout` has passed.
    QByteArray read(qsizetype count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Everything that arrives within `quiet` of the last byte.
    QByteArray readAll(std::chrono::milliseconds quiet = std::chrono::milliseconds(100));

private:
    QTemporaryDir m_directory;
    int m_master = -1;
    QString m_slavePath;
    QString m_linkPath;
};

}  // namespace korvantel::testing
