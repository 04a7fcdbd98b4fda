// SPDX-License-Identifier: MIT
#pragma once

#include "port1.h"

#include <QString>
#include <QTextStream>

#include <cstdint>
#include <optional>

namespace korvantel {

// What korvantel-port1 does: shows the serial devices and which is port 1 by
// the tool's own rule, and, for root, makes an adapter port 1 with a udev
// rule, removes that rule, or lets an account use serial devices. Each
// command says in Thai what it did or why it did nothing, and returns the
// program's exit status: 0 done, 1 refused or failed.
class Port1Administration
{
public:
    // The alias must lie in /dev, where udev makes it; `rulesFile` is the
    // one file of udev's rules this class writes.
    Port1Administration(Port1Places places, QString rulesFile, QTextStream &out);

    int list();
    int assign(const QString &device);
    int clear();
    int grant(const QString &account);

private:
    enum class Needs : std::uint8_t { Root, Udev };  // Udev: root and udevadm

    // Says why `command` may not run here, if it may not.
    bool refused(Needs needs, const QStringList &command);
    bool aliasBecomes(const QString &target) const;
    // Puts the rules file back as it was (none: no file) for udev.
    void restore(const std::optional<QByteArray> &previous, const QStringList &devicesToTrigger);
    QString aliasTarget() const;
    void listDevice(const QString &device);

    Port1Places m_places;
    QString m_rulesFile;
    QTextStream &m_out;
};

}  // namespace korvantel
