// SPDX-License-Identifier: MIT
#pragma once

#include "port1.h"
#include "station.h"

#include <QString>
#include <QTextStream>

#include <cstdint>
#include <optional>

namespace korvantel {

// What korvantel-port1 does: shows the serial devices and which is port 1 by
// the tool's own rule, says whether the station is ready, and, for root,
// makes an adapter port 1 with a udev rule, removes that rule, or lets an
// account use serial devices. Each of those three says in Thai what it did
// or why it did nothing, and is safe to run again: what is already so is
// left untouched, and said to be unchanged.
class Port1Administration
{
public:
    // The alias must lie in /dev, where udev makes it; `rulesFile` is the
    // one file of udev's rules this class writes. What the commands say goes
    // to `out`: for a terminal, or, `forJson`, into a JSON string, which
    // needs no names made visible.
    Port1Administration(Port1Places places, QString rulesFile, QTextStream &out, bool forJson = false);

    enum class Outcome : std::uint8_t { Changed, Unchanged, Failed };

    StationList list() const;
    // For the accounts named, or else those that would use port 1.
    QList<Finding> check(const QStringList &accounts) const;
    // With `dryRun`, only says what rule it would write, and as its outcome
    // whether assign would change anything; any account may.
    Outcome assign(const QString &device, bool dryRun = false);
    Outcome clear();
    Outcome grant(const QString &account);

private:
    enum class Needs : std::uint8_t { Root, Udev, Udevadm };  // Udev: root and udevadm

    // Says why `command` may not run here, if it may not.
    bool refused(Needs needs, const QStringList &command);
    bool aliasBecomes(const QString &target) const;
    // Puts the rules file back as it was (none: no file) for udev.
    void restore(const std::optional<QByteArray> &previous, const QStringList &devicesToTrigger);
    QString aliasTarget() const;
    QString shown(const QString &outside) const;

    Port1Places m_places;
    QString m_rulesFile;
    QTextStream &m_out;
    bool m_forJson;
};

}  // namespace korvantel
