// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QString>

namespace korvantel {

// A device's properties as udev keeps them ("udevadm info --query=property"):
// ID_VENDOR_ID, ID_MODEL_ID, ID_SERIAL_SHORT, ID_USB_INTERFACE_NUM, ID_PATH...;
// for a port of the kernel's serial core, also what udev's rules can match of
// it and of the device it is on, by their keys: ATTR{type}, ATTR{port},
// ATTR{iomem_base}, SUBSYSTEMS, KERNELS, DRIVERS.
using UdevProperties = QMap<QString, QString>;

inline const QString kSubsystems = QStringLiteral("SUBSYSTEMS");
inline const QString kKernels = QStringLiteral("KERNELS");
inline const QString kDrivers = QStringLiteral("DRIVERS");

// Reads "udevadm info --query=property".
UdevProperties parseUdevProperties(const QByteArray &text);

// Reads "udevadm info --attribute-walk": the tty's own KEY=="value" lines, and
// KERNELS, SUBSYSTEMS and DRIVERS of the device the port is on, the first
// parent that is no part of the serial core ("serial-base").
UdevProperties parseAttributeWalk(const QByteArray &text);

// What udev knows of a device (its real path), asked of udevadm; for a port
// that is not on USB, also where it is, which udev's stock rules do not give
// a built-in or card port. udevadm rather than libudev: its attribute walk is
// udev's own view of what a rule can match, which is what a rule is written from.
UdevProperties udevProperties(const QString &realDevice);

// Each device asked of udev once, for a command in which nothing changes them.
class UdevReads
{
public:
    const UdevProperties &of(const QString &realDevice);

private:
    QHash<QString, UdevProperties> m_read;
};

}  // namespace korvantel
