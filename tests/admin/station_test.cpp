// SPDX-License-Identifier: MIT
// Whether a station is ready, from what was read of it, and how the station
// is shown to a person and to a program.

#include "station.h"
#include "station_rendering.h"
#include "visible_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <functional>

namespace korvantel {
namespace {

// Port 1 an adapter by the alias, for the operator's account, and nothing in its way.
StationFacts readyStation()
{
    StationFacts station;
    station.list = {.port1 = "/dev/korvantel-port1", .port1Device = "/dev/ttyUSB0",
                    .rulesFile = "/etc/udev/rules.d/99-korvantel-port1.rules", .rule = "SUBSYSTEM==\"tty\"",
                    .port1ByAlias = true};
    station.group = station.grantGroup = "dialout";
    station.port1Udev = {{"ID_BUS", "usb"}, {"ID_USB_DRIVER", "ftdi_sio"}, {"ID_MM_CANDIDATE", "1"}};
    station.mode = 020660;
    station.accounts = {{.name = "somchai", .exists = true, .inGroup = true}};
    station.seesEveryProcess = true;
    station.ruleVerified = StationFacts::RuleVerified::Parsed;
    station.ruleMatchesPort1 = true;
    return station;
}

QStringList failing(const QList<Finding> &all)
{
    QStringList names;
    for (const Finding &finding : all)
        if (!finding.ok)
            names.append(finding.name);
    return names;
}

TEST(Readiness, EachFaultOfAStationFailsItsOwnFinding)
{
    const ProcessInfo shell{.pid = 812, .name = "bash", .started = QDateTime::fromSecsSinceEpoch(1'796'800'000)};
    struct Case
    {
        const char *name;
        std::function<void(StationFacts &)> fault;
        QStringList failing;
        const char *says = "";
    };
    const Case cases[] = {
        {"ready", [](StationFacts &) {}, {}},
        {"no port 1", [](StationFacts &s) { s.list.port1.clear(), s.list.port1Device.clear(); }, {"port1"}, "assign"},
        {"an alias to a gone device", [](StationFacts &s) { s.list.port1Device.clear(); }, {"port1"}},
        {"a ghost", [](StationFacts &s) { s.port1Ghost = true; }, {"port1"}},
        {"the group may not write", [](StationFacts &s) { s.mode = 020600; }, {"access"},
         "sudo udevadm trigger --settle --action=add /sys/class/tty/ttyUSB0"},
        {"an account not in the group", [](StationFacts &s) { s.accounts[0].inGroup = false; }, {"account"},
         "korvantel-port1 grant somchai"},
        {"a node of a group that grant does not give",
         [](StationFacts &s) { s.group = "root", s.mode = 020600, s.accounts[0].inGroup = false; },
         {"access", "account"}, "ตามบรรทัด access"},
        {"no such account", [](StationFacts &s) { s.accounts[0] = {.name = "nobody1"}; }, {"account"}},
        {"a session from before the grant", [&](StationFacts &s) { s.accounts[0].lackingGroup = {shell}; },
         {"account"}, "bash (โปรเซสหมายเลข 812"},
        {"another program holds port 1", [](StationFacts &s) { s.holder = {.process = 4801, .name = "minicom"}; },
         {"holder"}, "minicom (โปรเซสหมายเลข 4801)"},
        {"the kernel's console", [](StationFacts &s) { s.consoles = {"tty0", "ttyUSB0"}; }, {"console"}},
        {"a getty", [&](StationFacts &s) { s.gettys = {shell}; }, {"console"}},
        {"an enabled serial getty", [](StationFacts &s) { s.gettyUnits = {"serial-getty@ttyUSB0.service"}; },
         {"console"}, "systemctl disable --now serial-getty@ttyUSB0.service แล้วอีกครู่หนึ่ง sudo udevadm trigger --settle --action=add /sys/class/tty/ttyUSB0"},
        {"a serial getty for the kernel's console",
         [](StationFacts &s) { s.generatedGettyUnits = {"serial-getty@ttyUSB0.service"}; }, {"console"}, "console="},
        {"ModemManager's strict filter leaves an FTDI adapter", [](StationFacts &s) { s.modemManagerRuns = true; }, {},
         "ไดรเวอร์ ftdi_sio ไม่ใช่ไดรเวอร์ของโมเด็ม"},
        {"ModemManager leaves a port on PnP",
         [](StationFacts &s) { s.modemManagerRuns = true, s.port1Udev = {{"SUBSYSTEMS", "pnp"}}; }, {}, "อยู่บน pnp"},
        {"ModemManager leaves an ignored port",
         [](StationFacts &s) { s.modemManagerRuns = true, s.port1Udev["ID_MM_DEVICE_IGNORE"] = "1"; }, {},
         "ID_MM_DEVICE_IGNORE"},
        {"ModemManager probes a modem's driver",
         [](StationFacts &s) { s.modemManagerRuns = true, s.port1Udev["ID_USB_DRIVER"] = "cdc_acm"; }, {"modemmanager"}},
        {"ModemManager probes an allowlisted port",
         [](StationFacts &s) { s.modemManagerRuns = true, s.port1Udev = {{"SUBSYSTEMS", "pnp"}, {"ID_MM_DEVICE_PROCESS", "1"}}; },
         {"modemmanager"}, "ID_MM_DEVICE_PROCESS"},
        {"ModemManager probes what a plugin tagged",
         [](StationFacts &s) { s.modemManagerRuns = true, s.port1Udev["ID_MM_TELIT_PORT_TYPE_MODEM"] = "1"; },
         {"modemmanager"}, "ID_MM_TELIT_PORT_TYPE_MODEM"},
        {"ModemManager under another policy",
         [](StationFacts &s) { s.modemManagerRuns = true, s.modemManagerPolicy = "default"; }, {"modemmanager"}},
        {"RS-485 informs only", [](StationFacts &s) { s.rs485 = QStringList{}; }, {}, "rs485-enabled-at-boot-time"},
        {"the rule does not parse", [](StationFacts &s) { s.ruleVerified = StationFacts::RuleVerified::Invalid; },
         {"rule"}},
        {"the alias is not where the rule says", [](StationFacts &s) { s.ruleMatchesPort1 = false; }, {"rule"}},
        {"udev cannot verify", [](StationFacts &s) { s.ruleVerified = StationFacts::RuleVerified::NotChecked; }, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        StationFacts station = readyStation();
        c.fault(station);
        const QList<Finding> all = findings(station);
        EXPECT_EQ(failing(all), c.failing);
        EXPECT_EQ(ready(all), c.failing.isEmpty());
        EXPECT_TRUE(checkText(all).contains(QString::fromUtf8(c.says))) << checkText(all).toStdString();
    }
}

// Any account names its processes, and udev's properties come from the device.
TEST(Rendering, ValuesFromOutsideAreVisibleToAPersonAndThemselvesInJson)
{
    const QString hostile[] = {"a\"b\\c", "x\ny", "tab\there", QStringLiteral("x\u202Eyz"), "<b>x</b>", "\x1b[2J", "\x7f"};
    for (const QString &value : hostile) {
        SCOPED_TRACE(visibleText(value).toStdString());
        const StationList list{.devices = {{.device = "/dev/ttyUSB0", .driver = value, .usb = true, .serial = value},
                                           {.device = value, .driver = "serial", .place = value, .address = "0xC008"}},
                               .port1 = value,
                               .rule = value};
        const QJsonObject json = QJsonDocument::fromJson(listJson(list)).object();
        EXPECT_EQ(json["port1"].toString(), value);
        EXPECT_EQ(json["rule"].toString(), value);
        EXPECT_EQ(json["devices"][0]["serial"].toString(), value);
        EXPECT_EQ(json["devices"][1]["place"].toString(), value);
        EXPECT_TRUE(json["devices"][0]["address"].isUndefined()) << "an adapter has no address";
        EXPECT_EQ(listText(list).contains(value), visibleText(value) == value) << "shown as it is only if harmless";
        EXPECT_TRUE(listText(list).contains(visibleText(value)));

        StationFacts station = readyStation();
        station.holder = {.process = 4801, .name = value};
        const QList<Finding> all = findings(station);
        const QJsonObject check = QJsonDocument::fromJson(checkJson(all)).object();
        EXPECT_FALSE(check["ready"].toBool());
        EXPECT_TRUE(check["findings"][3]["text"].toString().contains(value));
        EXPECT_EQ(checkText(all).count(u'\n'), all.size() + 1) << "a value broke a line";
    }
    const QJsonObject none = QJsonDocument::fromJson(listJson({})).object();
    EXPECT_TRUE(none["port1"].isNull() && none["rule"].isNull() && none["devices"].toArray().isEmpty());
}

}  // namespace
}  // namespace korvantel
