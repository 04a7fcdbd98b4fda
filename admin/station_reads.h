// SPDX-License-Identifier: MIT
#pragma once

#include "alias_rule.h"
#include "port1.h"
#include "station.h"
#include "udev_device.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace korvantel {

// What korvantel-port1 reads of the system: udev, sysfs, /proc, the account
// and group databases, logind and systemd's units. Nothing here opens a
// serial device: an open raises DTR and RTS.

// The group Debian gives serial devices to, which korvantel-port1 grant gives.
inline const QString kSerialGroup = QStringLiteral("dialout");

// Runs a system tool within a bound; its output, if asked for, else its
// errors go to ours.
bool runTool(const QString &program, const QStringList &arguments, QByteArray *output = nullptr);

// A file's contents, or nothing when there is no such file.
std::optional<QByteArray> contentsOf(const QString &path);

QString realPath(const QString &device);

// The rule that korvantel-port1 assign writes for a device (its properties),
// against the adapters attached now.
AliasRule ruleForDevice(const Port1Places &places, const UdevProperties &device, UdevReads &udev);

// The group that owns the device, or Debian's group for serial devices.
QString deviceGroup(const QString &device);

StationList readStationList(const Port1Places &places, const QString &rulesFile, UdevReads &udev);

// The accounts named, or else each account of UID 1000 or more in port 1's
// group and each account at a seat now.
StationFacts readStationFacts(const Port1Places &places, const QString &rulesFile, const QStringList &accounts);

}  // namespace korvantel
