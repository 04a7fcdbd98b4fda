// SPDX-License-Identifier: MIT
// The udev rule for serial port 1, from the properties udev gives common adapters.

#include "alias_rule.h"

#include <gtest/gtest.h>

namespace korvantel {
namespace {

// As "udevadm info --query=property" prints them.
UdevProperties adapter(const char *vendor, const char *product, const char *serial, const char *port,
                       const char *interface = "00")
{
    QByteArray text = QByteArray("SUBSYSTEM=tty\nID_BUS=usb\nID_VENDOR=Maker\nID_MODEL=Adapter\n") + "ID_VENDOR_ID="
                      + vendor + "\nID_MODEL_ID=" + product + "\nID_USB_INTERFACE_NUM=" + interface
                      + "\nID_PATH=pci-0000:00:14.0-usb-0:" + port + ":1." + QByteArray::number(QByteArray(interface).toInt())
                      + "\n";
    if (*serial)
        text += QByteArray("ID_SERIAL_SHORT=") + serial + "\n";
    return parseUdevProperties(text);
}

// As "udevadm info --attribute-walk" prints a port of the serial core on
// `device`; from 6.12 the serial core's own port and ctrl devices stand between.
UdevProperties serialPort(const QString &kernel, const QString &type, const QString &port, const QString &memory,
                          const QString &subsystem, const QString &device, const QString &driver, bool serialBase = false)
{
    QString walk = QStringLiteral("  looking at device '/devices/x/tty/%1':\n    KERNEL==\"%1\"\n    SUBSYSTEM==\"tty\"\n"
                                  "    ATTR{iomem_base}==\"%2\"\n    ATTR{port}==\"%3\"\n    ATTR{type}==\"%4\"\n")
                       .arg(kernel, memory, port, type);
    for (const char *part : serialBase ? QList{"port", "ctrl"} : QList<const char *>{})
        walk += QStringLiteral("  looking at parent device '/devices/x':\n    KERNELS==\"%1:0\"\n"
                               "    SUBSYSTEMS==\"serial-base\"\n    DRIVERS==\"%2\"\n").arg(device, part);
    walk += QStringLiteral("  looking at parent device '/devices/x':\n    KERNELS==\"%1\"\n    SUBSYSTEMS==\"%2\"\n"
                           "    DRIVERS==\"%3\"\n    ATTRS{remove}==\"(not readable)\"\n\n"
                           "  looking at parent device '/devices/root':\n    KERNELS==\"root\"\n    SUBSYSTEMS==\"\"\n")
                .arg(device, subsystem, driver);
    return parseAttributeWalk(walk.toUtf8());
}

TEST(AliasRule, MatchesTheAdapterByItsSerialNumberOrElseByItsSocket)
{
    const UdevProperties ft232r = adapter("0403", "6001", "A50285BI", "2");
    const UdevProperties ft4232hPortC = adapter("0403", "6011", "FT4Z1X2C", "1", "02");
    const UdevProperties cp2102 = adapter("10c4", "ea60", "0001", "3");
    const UdevProperties ch340 = adapter("1a86", "7523", "", "4");
    struct Case
    {
        const char *name;
        UdevProperties device;
        QList<UdevProperties> others;
        const char *match;
        bool bySocket;
    };
    const Case cases[] = {
        {"FT232R", ft232r, {ch340},
         R"(ENV{ID_VENDOR_ID}=="0403", ENV{ID_MODEL_ID}=="6001", ENV{ID_SERIAL_SHORT}=="A50285BI", ENV{ID_USB_INTERFACE_NUM}=="00")",
         false},
        {"FT4232H, its third of four ports", ft4232hPortC,
         {adapter("0403", "6011", "FT4Z1X2C", "1", "00"), adapter("0403", "6011", "FT4Z1X2C", "1", "01"),
          adapter("0403", "6011", "FT4Z1X2C", "1", "03")},
         R"(ENV{ID_VENDOR_ID}=="0403", ENV{ID_MODEL_ID}=="6011", ENV{ID_SERIAL_SHORT}=="FT4Z1X2C", ENV{ID_USB_INTERFACE_NUM}=="02")",
         false},
        {"CH340, no serial number", ch340, {ft232r},
         R"(ENV{ID_VENDOR_ID}=="1a86", ENV{ID_MODEL_ID}=="7523", ENV{ID_PATH}=="pci-0000:00:14.0-usb-0:4:1.0")", true},
        {"CP2102 alone", cp2102, {ft232r},
         R"(ENV{ID_VENDOR_ID}=="10c4", ENV{ID_MODEL_ID}=="ea60", ENV{ID_SERIAL_SHORT}=="0001", ENV{ID_USB_INTERFACE_NUM}=="00")",
         false},
        {"CP2102 beside another with its serial number", cp2102, {adapter("10c4", "ea60", "0001", "1.2")},
         R"(ENV{ID_VENDOR_ID}=="10c4", ENV{ID_MODEL_ID}=="ea60", ENV{ID_PATH}=="pci-0000:00:14.0-usb-0:3:1.0")", true},
        {"PL2303, no serial number", adapter("067b", "2303", "", "1.4"), {},
         R"(ENV{ID_VENDOR_ID}=="067b", ENV{ID_MODEL_ID}=="2303", ENV{ID_PATH}=="pci-0000:00:14.0-usb-0:1.4:1.0")", true},
        {"CDC-ACM", adapter("2341", "0043", "85736323838351F0E1A1", "5"), {},
         R"(ENV{ID_VENDOR_ID}=="2341", ENV{ID_MODEL_ID}=="0043", ENV{ID_SERIAL_SHORT}=="85736323838351F0E1A1", ENV{ID_USB_INTERFACE_NUM}=="00")",
         false},
        {"a serial number that would end the quotes", adapter("0403", "6001", R"(A5"X)", "2"), {},
         R"(ENV{ID_VENDOR_ID}=="0403", ENV{ID_MODEL_ID}=="6001", ENV{ID_PATH}=="pci-0000:00:14.0-usb-0:2:1.0")", true},
        // Any other serial port by where it is, never by its kernel name.
        {"a PC's COM2 on pnp", serialPort("ttyS1", "4", "0x2F8", "0x0", "pnp", "00:03", "serial"), {},
         R"(SUBSYSTEMS=="pnp", KERNELS=="00:03", ATTR{port}=="0x2F8", ATTR{iomem_base}=="0x0")", false},
        {"a PC's COM2 on pnp, with 6.12's serial core between", serialPort("ttyS1", "4", "0x2F8", "0x0", "pnp", "00:03", "serial", true), {},
         R"(SUBSYSTEMS=="pnp", KERNELS=="00:03", ATTR{port}=="0x2F8", ATTR{iomem_base}=="0x0")", false},
        {"a PCIe card's first port", serialPort("ttyS4", "4", "0xC000", "0x0", "pci", "0000:03:00.0", "serial"), {},
         R"(SUBSYSTEMS=="pci", KERNELS=="0000:03:00.0", ATTR{port}=="0xC000", ATTR{iomem_base}=="0x0")", false},
        {"the same card's second port", serialPort("ttyS5", "4", "0xC008", "0x0", "pci", "0000:03:00.0", "serial"), {},
         R"(SUBSYSTEMS=="pci", KERNELS=="0000:03:00.0", ATTR{port}=="0xC008", ATTR{iomem_base}=="0x0")", false},
        {"a Raspberry Pi's PL011", serialPort("ttyAMA0", "32", "0x0", "0xFE201000", "amba", "fe201000.serial", "uart-pl011"), {},
         R"(SUBSYSTEMS=="amba", KERNELS=="fe201000.serial", ATTR{port}=="0x0", ATTR{iomem_base}=="0xFE201000")", false},
        {"an i.MX UART", serialPort("ttymxc1", "62", "0x0", "0x30890000", "platform", "30890000.serial", "imx-uart"), {},
         R"(SUBSYSTEMS=="platform", KERNELS=="30890000.serial", ATTR{port}=="0x0", ATTR{iomem_base}=="0x30890000")", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const AliasRule rule = aliasRule(c.device, c.others + QList{c.device}, "korvantel-port1");
        EXPECT_EQ(rule.error, QString());
        EXPECT_EQ(rule.text.split(u'\n').at(2), QStringLiteral(R"(SUBSYSTEM=="tty", %1, SYMLINK+="korvantel-port1", )"
                                                               R"(ENV{ID_MM_DEVICE_IGNORE}="1")")
                                                    .arg(QLatin1String(c.match)));
        EXPECT_EQ(rule.bySocket, c.bySocket);
    }
}

TEST(AliasRule, NoRuleForAGhostPortOrATtyOfNoSerialDriver)
{
    const UdevProperties devices[] = {
        serialPort("ttyS2", "0", "0x3E8", "0x0", "platform", "serial8250", "serial8250"),
        parseUdevProperties("SUBSYSTEM=tty\nID_PATH=platform-serial8250\nDEVNAME=/dev/ttyS0\n"),
    };
    for (const UdevProperties &device : devices) {
        SCOPED_TRACE(device.value("KERNEL").toStdString());
        EXPECT_FALSE(aliasRule(device, {device}, "korvantel-port1").error.isEmpty());
    }
}

}  // namespace
}  // namespace korvantel
