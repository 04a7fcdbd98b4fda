// SPDX-License-Identifier: MIT
#pragma once

#include "alias_rule.h"
#include "serial_port_cycle.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

#include <sys/types.h>

namespace korvantel {

// One serial device as korvantel-port1 lists it. Every text is as the system
// gave it: a rendering makes it fit for where it goes.
struct SerialDeviceInfo
{
    QString device{};  // an adapter by its persistent name where udev made one, else its /dev name
    QString driver{};
    bool usb = false;
    // An adapter's:
    QString vendorId{}, productId{}, serial{}, usbPort{}, interface{}, byId{};
    // Any other port's: the device it is on, as udev's path names it, and its address there.
    QString place{}, address{};
};

// The station as the list shows it: its serial devices, port 1 and the rule.
struct StationList
{
    QList<SerialDeviceInfo> devices{};
    QString port1{};        // empty: none
    QString port1Device{};  // the device the port 1 name leads to; empty: none
    QString rulesFile{};
    std::optional<QString> rule{};  // the installed rule's line
    bool port1ByAlias = false;
};

struct ProcessInfo
{
    qint64 pid = 0;
    QString name{};
    QDateTime started{};
};

struct AccountFacts
{
    QString name{};
    bool exists = false;
    bool inGroup = false;               // by the group database, as a new session gets it
    QList<ProcessInfo> lackingGroup{};  // its running processes without the group
};

// What a readiness check needs to know, read from the system.
struct StationFacts
{
    StationList list{};
    // Port 1's node, where there is one.
    UdevProperties port1Udev{};  // what udev knows of it, read once for every finding
    QString group{};
    QString grantGroup{};  // the group that korvantel-port1 grant gives
    QList<AccountFacts> accounts{};
    PortHolder holder{};
    QString holderLockFile{};
    QStringList consoles{};         // the kernel's active consoles
    QList<ProcessInfo> gettys{};    // getty processes on port 1
    QStringList gettyUnits{};       // serial-getty@ units enabled for port 1
    QStringList generatedGettyUnits{};  // those systemd's generator made for a kernel console on it
    std::optional<QStringList> rs485{};  // port 1's device-tree RS-485 properties; none: no device-tree node
    QString ruleVerifyOutput{};
    mode_t mode = 0;
    bool port1Ghost = false;
    bool seesEveryProcess = false;  // root: another account's descriptors too
    bool modemManagerRuns = false;
    QString modemManagerPolicy{};  // its --filter-policy; empty: its default, strict
    enum class RuleVerified : std::uint8_t { Parsed, Invalid, NotChecked } ruleVerified = RuleVerified::NotChecked;
    bool ruleMatchesPort1 = false;  // what assign would write for port 1's device is the installed rule
};

struct Finding
{
    QString name;  // port1, access, account, holder, console, modemmanager, rs485, rule
    bool ok = true;
    QString text;  // what was found, and what to do when it fails
};

// What makes a station ready, and what is not; the RS-485 finding informs only.
QList<Finding> findings(const StationFacts &station);
bool ready(const QList<Finding> &findings);

}  // namespace korvantel
