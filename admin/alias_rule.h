// SPDX-License-Identifier: MIT
#pragma once

#include "udev_device.h"

#include <QList>
#include <QString>

namespace korvantel {

// The USB port a serial device hangs on, as udev names it for the whole USB
// device ("pci-0000:00:14.0-usb-0:2"); empty for a device not on USB.
QString usbPortPath(const UdevProperties &device);

// Where a port of the serial core is in the machine: the device it is on, as
// udev's path names it ("pci-0000:00:03.0", "amba-fe201000.serial"), and its
// address there ("0xC008", "0xFE201000"); empty for any other device.
QString portDevice(const UdevProperties &port);
QString portAddress(const UdevProperties &port);
// Both: "pci-0000:00:03.0 0xC008".
QString portPlace(const UdevProperties &port);

struct AliasRule
{
    QString text{};          // the rules file's whole contents
    bool bySocket = false;   // matched by its USB port, not by its serial number
    QString error{};         // why no rule can be written for it
};

// The udev rule that makes `device` serial port 1 under the alias's name
// (a name under /dev, "korvantel-port1"), and tells ModemManager to leave it
// alone. An adapter is matched by vendor, product and serial number, and by
// its interface, which tells apart the ports of one multi-port adapter. With
// no serial number, or one that another attached adapter of the same kind
// shares, the match is by the USB port instead: the alias then belongs to the
// socket. `attached` holds every serial device attached now, `device` among them.
// Any other port (built in, on a card, on the board) is matched by where it
// is, never by its kernel name, which a card added later can change: the
// device it is on and its address there, which tells apart a card's ports.
// A port with no UART behind it gets no rule.
AliasRule aliasRule(const UdevProperties &device, const QList<UdevProperties> &attached, const QString &aliasName);

}  // namespace korvantel
