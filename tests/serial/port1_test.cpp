// SPDX-License-Identifier: MIT
// Which device is serial port 1, in folders standing for /dev and /sys.

#include "port1.h"
#include "qt_serial_control.h"

#include "support/pseudo_terminal.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace korvantel {
namespace {

using testing::PseudoTerminal;

// A machine: a built-in port, two adapters, a by-id name for one, and a
// /sys/class/tty that says whether the built-in port has a UART behind it;
// beside them a second COM port, a card's port, a ghost and a console.
class Port1Rule : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir(m_root.path()).mkpath("dev/serial/by-id"));
        ASSERT_TRUE(QFile::link(m_builtIn.slavePath(), dev("ttyS0")));
        ASSERT_TRUE(QFile::link(m_adapters[0].slavePath(), dev("ttyUSB0")));
        ASSERT_TRUE(QFile::link(m_adapters[1].slavePath(), dev("ttyACM0")));
        ASSERT_TRUE(QFile::link("../../ttyUSB0", dev("serial/by-id/usb-FTDI_FT232R_A5-if00-port0")));
        setUartType("4");
        setUartParent("pnp", "00:04");
        for (const auto &[name, type] : {std::pair{"ttyS1", "4"}, {"ttyS10", "4"}, {"ttyS2", "0"}, {"tty1", ""}}) {
            QDir(m_root.path()).mkpath(QStringLiteral("sys/") + name);
            QFile node(dev(name));
            ASSERT_TRUE(node.open(QIODevice::WriteOnly));
            if (*type) {
                QFile file(m_root.filePath(QStringLiteral("sys/%1/type").arg(name)));
                ASSERT_TRUE(file.open(QIODevice::WriteOnly));
                file.write(type);
            }
        }
    }

    QString dev(const QString &name) const { return m_root.filePath("dev/" + name); }

    // What the kernel's UART driver reports for the built-in port: 0 when none is there.
    void setUartType(const QByteArray &type)
    {
        const QString folder = m_root.filePath("sys/" + QFileInfo(m_builtIn.slavePath()).fileName());
        QDir().mkpath(folder);
        QFile file(folder + "/type");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(type + '\n');
    }

    // The device the built-in port's UART is on, as sysfs links it, through the
    // serial core's own layer as kernels since 6.5 have it.
    void setUartParent(const QString &subsystem, const QString &device)
    {
        const QString uart = m_root.filePath("sys/" + QFileInfo(m_builtIn.slavePath()).fileName());
        const QString parent = m_root.filePath("devices/" + device);
        const QString base = parent + "/port:0.0";
        for (const auto &[folder, bus] : {std::pair{parent, subsystem}, {base, QStringLiteral("serial-base")}}) {
            QDir().mkpath(folder);
            QDir().mkpath(m_root.filePath("bus/" + bus));
            QFile::remove(folder + "/subsystem");
            ASSERT_TRUE(QFile::link(m_root.filePath("bus/" + bus), folder + "/subsystem"));
        }
        QFile::remove(uart + "/device");
        ASSERT_TRUE(QFile::link(base, uart + "/device"));
    }

    Port1Places places() const
    {
        return {dev("korvantel-port1"), dev("ttyS0"), {dev("ttyUSB*"), dev("ttyACM*")}, dev("serial/by-id"),
                m_root.filePath("sys"), m_root.filePath("dev")};
    }

    QTemporaryDir m_root;
    PseudoTerminal m_builtIn;
    PseudoTerminal m_adapters[2];
};

TEST_F(Port1Rule, TheAliasFirstThenTheBuiltInPortIfRealThenNone)
{
    struct Case
    {
        const char *name;
        const char *aliasTarget;  // nullptr: no alias
        QByteArray uartType;
        const char *port1;        // relative to dev; "" for none
        std::pair<QString, QString> uartOn{"pnp", "00:04"};  // subsystem and device
    };
    const Case cases[] = {
        {"a real built-in port", nullptr, "4", "ttyS0"},
        {"a legacy port of the 8250 driver", nullptr, "4", "ttyS0", {"platform", "serial8250"}},
        {"a card's port by the name of a ghost", nullptr, "4", "", {"pci", "0000:01:00.0"}},
        {"a board's UART by that name", nullptr, "4", "", {"platform", "fe215040.serial"}},
        {"a USB adapter's UART by that name", nullptr, "4", "", {"usb-serial", "ttyUSB0"}},
        {"a ghost built-in port", nullptr, "0", ""},
        {"an alias to an adapter", "ttyACM0", "4", "korvantel-port1"},
        {"an alias to a gone device: no falling through", "ttyUSB9", "4", "korvantel-port1"},
        {"an alias to a card's port", "ttyACM0", "4", "korvantel-port1", {"pci", "0000:01:00.0"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(dev("korvantel-port1"));
        if (c.aliasTarget) {
            ASSERT_TRUE(QFile::link(dev(c.aliasTarget), dev("korvantel-port1")));
        }
        setUartType(c.uartType);
        setUartParent(c.uartOn.first, c.uartOn.second);
        EXPECT_EQ(choosePort1(places()), *c.port1 ? dev(c.port1) : QString());
    }
}

TEST_F(Port1Rule, WithNoPort1ThePortsAndAdaptersAreNamedAndNothingIsWritten)
{
    setUartType("0");
    EXPECT_EQ(serialAdapters(places()), (QStringList{dev("serial/by-id/usb-FTDI_FT232R_A5-if00-port0"), dev("ttyACM0")}));
    EXPECT_EQ(serialPorts(places()), (QStringList{dev("ttyS1"), dev("ttyS10")}));

    QtSerialControl comm(places(), m_root.path());
    comm.setSettings("9600,n,8,1");
    const PropertyWrite opened = comm.setPortOpen(true);
    EXPECT_EQ(opened.fault, SerialFault::NoSuchPort);
    EXPECT_EQ(opened.serialDevices, serialPorts(places()) + serialAdapters(places()));
    EXPECT_EQ(comm.setOutput("A").fault, SerialFault::InvalidValue);
    for (PseudoTerminal *pty : {&m_builtIn, &m_adapters[0], &m_adapters[1]})
        EXPECT_TRUE(pty->readAll().isEmpty());
}

}  // namespace
}  // namespace korvantel
