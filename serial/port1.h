// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

namespace korvantel {

// Where the rule for serial port 1 looks. The program looks in the system's
// own places, fixed when it is built; tests in folders of their own. An empty
// place is not looked at (QDir would take it for the current folder).
struct Port1Places
{
    QString alias;                // an administrator's udev alias, e.g. /dev/korvantel-port1
    QString builtInDevice;        // e.g. /dev/ttyS0
    QStringList adapterPatterns;  // e.g. /dev/ttyUSB*, /dev/ttyACM*
    QString byIdFolder;           // /dev/serial/by-id
    QString ttyClassFolder;       // /sys/class/tty
    QString deviceFolder;         // /dev, where the ports in ttyClassFolder have their nodes
};

// The built-in device if it exists, is no ghost and is the machine's own UART, else nothing.
QString builtInPort(const Port1Places &places);

// Serial port 1, chosen afresh at every send:
//   1. the alias, if it exists (even dangling: then that is the failure);
//   2. else the built-in device, if it exists, is not a ghost and is the
//      machine's own UART;
//   3. else none. A lone adapter is never taken by itself: it may be a modem.
QString choosePort1(const Port1Places &places);

// The serial adapters present, each by its /dev/serial/by-id name where udev
// made one, else by its /dev name.
QStringList serialAdapters(const Port1Places &places);

// The kernel's serial ports with a UART behind them, built in, on a card or
// on the board (/dev/ttyS1, /dev/ttyAMA0...), in the order of their names.
// Read from ttyClassFolder alone: no port is opened, since an open raises
// DTR and RTS, which can drive an RS-485 transceiver onto the bus.
QStringList serialPorts(const Port1Places &places);

// A port of the kernel's own UART driver with no UART behind it: the driver
// registers legacy ports that are not there with type 0 (unknown). Only those
// drivers have the attribute; a USB adapter or a pseudo-terminal is no ghost.
bool isGhostUart(const QString &realDevice, const QString &ttyClassFolder);

// The device of /sys that a tty's UART is on (`name`: ttyS0), past the serial
// core's own layers, which kernels since 6.5 put between; empty for none.
QString uartParent(const QString &ttyClassFolder, const QString &name);

// A PC's own COM port: a UART on PnP (ACPI's or the BIOS's) or on the 8250
// driver's legacy platform device. Not one on PCI, USB or a board's bus: on a
// board ttyS0 is whatever UART the 8250 driver names first (a Raspberry Pi's
// console), and on a PC a card's port takes a ghost's name, ttyS0 among them.
// The I/O address is not asked for: the kernel gives a PnP port the legacy
// line of its address, and a COM1 that firmware moved is still the PC's own.
// With no ttyClassFolder the device is taken as it is, as for the ghost test.
bool isMachinesOwnUart(const QString &realDevice, const QString &ttyClassFolder);

}  // namespace korvantel
