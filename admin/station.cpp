// SPDX-License-Identifier: MIT
#include "station.h"

#include <algorithm>

#include <sys/stat.h>

namespace korvantel {

namespace {

Finding finding(const char *name, bool ok, QString text)
{
    return {.name = QString::fromLatin1(name), .ok = ok, .text = std::move(text)};
}

QString processes(const QList<ProcessInfo> &list)
{
    QStringList named;
    for (const ProcessInfo &process : list)
        named.append(QStringLiteral("%1 (โปรเซสหมายเลข %2 เริ่มเมื่อ %3)")
                         .arg(process.name)
                         .arg(process.pid)
                         .arg(process.started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    return named.join(QStringLiteral(", "));
}

Finding port1Finding(const StationFacts &station)
{
    const StationList &list = station.list;
    if (list.port1.isEmpty()) {
        QStringList devices;
        for (const SerialDeviceInfo &device : list.devices)
            devices.append(device.device);
        return finding("port1", false,
                QStringLiteral("ไม่มีพอร์ตอนุกรม 1: ไม่มีชื่อแทน และพอร์ตในตัวเครื่องไม่ใช่พอร์ตของตัวเครื่องเองหรือไม่มีอยู่จริง "
                               "อุปกรณ์พอร์ตอนุกรมในเครื่องนี้: %1 ให้ผู้ดูแลระบบเลือกด้วย sudo korvantel-port1 assign อุปกรณ์")
                    .arg(devices.isEmpty() ? QStringLiteral("(ไม่มี)") : devices.join(QStringLiteral(", "))));
    }
    const QString how = list.port1ByAlias ? QStringLiteral("ชื่อแทน %1").arg(list.port1)
                                          : QStringLiteral("พอร์ตในตัวเครื่อง %1").arg(list.port1);
    if (list.port1Device.isEmpty())
        return finding("port1", false,
                QStringLiteral("%1 ไม่ชี้ไปที่อุปกรณ์ใด เช่น เมื่อถอดตัวแปลง USB ออก ให้ต่ออุปกรณ์ของกฎ udev "
                               "หรือเลือกใหม่ด้วย sudo korvantel-port1 assign อุปกรณ์").arg(how));
    if (station.port1Ghost)
        return finding("port1", false,
                QStringLiteral("%1 คือ %2 ซึ่งเป็นชื่อที่เคอร์เนลจองไว้ ไม่มีพอร์ตอยู่จริง ให้เลือกอุปกรณ์อื่นด้วย "
                               "sudo korvantel-port1 assign อุปกรณ์").arg(how, list.port1Device));
    return finding("port1", true,
            QStringLiteral("พอร์ตอนุกรม 1 คือ %1 ได้จาก%2 และมีพอร์ตอยู่จริง").arg(list.port1Device, how));
}

// The command that has udev set a node's owner and mode by its rules again.
QString resetNode(const QString &device)
{
    return QStringLiteral("sudo udevadm trigger --settle --action=add /sys/class/tty/%1").arg(device.section(u'/', -1));
}

Finding accessFinding(const StationFacts &station)
{
    const QString mode = QString::number(station.mode & 0777, 8).rightJustified(4, u'0');
    const bool groupMayUse = (station.mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    return finding("access", groupMayUse,
            groupMayUse ? QStringLiteral("%1 เป็นของกลุ่ม %2 สิทธิ์ %3: บัญชีผู้ใช้ในกลุ่มนี้อ่านและเขียนได้")
                              .arg(station.list.port1Device, station.group, mode)
                        : QStringLiteral("%1 เป็นของกลุ่ม %2 สิทธิ์ %3: กลุ่มนี้อ่านหรือเขียนไม่ได้ "
                                         "ให้ udev ตั้งเจ้าของและสิทธิ์ตามกฎอีกครั้งด้วย %4 (เช่น หลัง getty ที่หยุดไปแล้ว) "
                                         "ถ้ายังไม่ผ่าน ผู้ดูแลระบบต้องตรวจดูกฎ udev ที่ตั้งสิทธิ์ของอุปกรณ์นี้")
                              .arg(station.list.port1Device, station.group, mode, resetNode(station.list.port1Device)));
}

Finding accountFinding(const AccountFacts &account, const QString &group, const QString &grantGroup)
{
    if (!account.exists)
        return finding("account", false, QStringLiteral("ไม่มีบัญชีผู้ใช้ %1 ในเครื่องนี้").arg(account.name));
    if (!account.inGroup && group != grantGroup)
        return finding("account", false,
                QStringLiteral("บัญชีผู้ใช้ %1 ไม่อยู่ในกลุ่ม %2 ซึ่งเป็นเจ้าของพอร์ตอนุกรม 1 และการเพิ่มบัญชีให้ใช้พอร์ตได้เพียงกลุ่ม %3: "
                               "ให้แก้เจ้าของและสิทธิ์ของพอร์ตตามบรรทัด access ก่อน").arg(account.name, group, grantGroup));
    if (!account.inGroup)
        return finding("account", false,
                QStringLiteral("บัญชีผู้ใช้ %1 ไม่อยู่ในกลุ่ม %2 ผู้ดูแลระบบต้องเพิ่มด้วย sudo korvantel-port1 grant %1 "
                               "แล้วผู้ใช้ต้องออกจากระบบแล้วเข้าใหม่").arg(account.name, group));
    if (!account.lackingGroup.isEmpty())
        return finding("account", false,
                QStringLiteral("บัญชีผู้ใช้ %1 อยู่ในกลุ่ม %2 แล้ว แต่โปรเซสเหล่านี้เริ่มก่อนได้รับสิทธิ์: %3 "
                               "ผู้ใช้ต้องออกจากระบบให้ครบทุกเซสชัน แล้วรอ 10 วินาทีให้ systemd --user ของบัญชีนี้หยุดเอง "
                               "(หรือผู้ดูแลระบบสั่ง sudo loginctl terminate-user %1 ซึ่งปิดทุกเซสชันทันที) แล้วจึงเข้าใหม่ "
                               "หรือเริ่มเครื่องใหม่")
                    .arg(account.name, group, processes(account.lackingGroup)));
    return finding("account", true,
            QStringLiteral("บัญชีผู้ใช้ %1 อยู่ในกลุ่ม %2 และทุกโปรเซสของบัญชีนี้มีสิทธิ์ของกลุ่มนี้").arg(account.name, group));
}

Finding holderFinding(const StationFacts &station)
{
    if (station.holder.process != 0)
        return finding("holder", false,
                QStringLiteral("พอร์ตอนุกรม 1 ถูกใช้อยู่โดย %1 (โปรเซสหมายเลข %2) ให้ปิดโปรแกรมนั้นก่อนส่งข้อมูล")
                    .arg(station.holder.name.isEmpty() ? QStringLiteral("โปรแกรมอื่น") : station.holder.name)
                    .arg(station.holder.process));
    if (!station.holderLockFile.isEmpty())
        return finding("holder", false,
                QStringLiteral("ไฟล์ล็อก %1 บอกว่าพอร์ตอนุกรม 1 ถูกใช้อยู่ แต่มองไม่เห็นโปรเซสนั้น").arg(station.holderLockFile));
    if (!station.seesEveryProcess)
        return finding("holder", true,
                QStringLiteral("ไม่พบโปรแกรมที่ใช้พอร์ตอนุกรม 1 อยู่ในโปรเซสที่บัญชีนี้มองเห็น แต่มองไม่เห็นอุปกรณ์ที่โปรเซสของบัญชีอื่นเปิดอยู่ "
                               "ให้สั่ง sudo korvantel-port1 check เพื่อดูให้ครบ"));
    return finding("holder", true, QStringLiteral("ไม่มีโปรแกรมใดใช้พอร์ตอนุกรม 1 อยู่"));
}

Finding consoleFinding(const StationFacts &station)
{
    const QString name = station.list.port1Device.section(u'/', -1);
    QStringList found;
    if (station.consoles.contains(name))
        found.append(QStringLiteral("เคอร์เนลใช้ %1 เป็นคอนโซล (ให้ลบ console=%1 ออกจากบรรทัดคำสั่งของเคอร์เนล)").arg(name));
    if (!station.gettys.isEmpty())
        found.append(QStringLiteral("getty ทำงานอยู่บนพอร์ต: %1").arg(processes(station.gettys)));
    // A stopped getty leaves the node root:tty, 0620 or 0600; udev's rules give it back on an
    // add event (on Debian 13 a change event does not). Debian 13's systemd takes the node
    // back a moment after the stop has returned, so the event must come after that.
    for (const QString &unit : station.gettyUnits)
        found.append(QStringLiteral("%1 เปิดใช้อยู่ (ให้สั่ง sudo systemctl disable --now %1 แล้วอีกครู่หนึ่ง %2)")
                         .arg(unit, resetNode(station.list.port1Device)));
    for (const QString &unit : station.generatedGettyUnits)
        found.append(QStringLiteral("systemd เริ่ม %1 เองเพราะพอร์ตนี้เป็นคอนโซลของเคอร์เนล "
                                    "(จะหายไปเมื่อลบ console= ของพอร์ตนี้ออกแล้วเริ่มเครื่องใหม่)").arg(unit));
    if (found.isEmpty())
        return finding("console", true, QStringLiteral("ไม่มีคอนโซลหรือ getty บนพอร์ตอนุกรม 1"));
    return finding("console", false,
            found.join(QStringLiteral("; ")) + QStringLiteral(": ข้อความของระบบจะออกไปทางพอร์ตอนุกรม 1"));
}

// What ModemManager's port filter (Debian 12's 1.20, 13's 1.24) makes of
// port 1 under its default policy, strict: whether it probes it, and why.
// Under another policy it may probe any port.
struct ModemManagerVerdict
{
    bool probes = false;
    QString why;
};

ModemManagerVerdict modemManagerVerdict(const StationFacts &station)
{
    const UdevProperties &port = station.port1Udev;
    if (port.value(QStringLiteral("ID_MM_DEVICE_PROCESS")) == u"1")
        return {.probes = true, .why = QStringLiteral("กฎ udev ตั้ง ID_MM_DEVICE_PROCESS ให้ตรวจอุปกรณ์นี้")};
    if (port.value(QStringLiteral("ID_MM_DEVICE_IGNORE")) == u"1")
        return {.probes = false, .why = QStringLiteral("กฎ udev ตั้ง ID_MM_DEVICE_IGNORE ให้เว้นอุปกรณ์นี้")};
    // ModemManager's own rules tag the devices its plugins know.
    for (const QString &key : port.keys()) {
        if (key.startsWith(QStringLiteral("ID_MM_")) && key != u"ID_MM_CANDIDATE")
            return {.probes = true, .why = QStringLiteral("กฎ udev ของ ModemManager ติด %1 ให้อุปกรณ์นี้").arg(key)};
    }
    if (!station.modemManagerPolicy.isEmpty() && station.modemManagerPolicy != u"strict")
        return {.probes = true, .why = QStringLiteral("ModemManager ใช้นโยบาย %1 ซึ่งตรวจพอร์ตได้ทุกพอร์ต").arg(station.modemManagerPolicy)};
    if (port.value(QStringLiteral("ID_BUS")) != u"usb") {
        const QString bus = port.value(QStringLiteral("SUBSYSTEMS"));
        return {.probes = false, .why = QStringLiteral("พอร์ตนี้อยู่บน %1 ไม่ใช่ตัวแปลง USB ซึ่งนโยบาย strict ของ ModemManager ไม่ตรวจ")
                           .arg(bus.isEmpty() ? QStringLiteral("ตัวเครื่อง") : bus)};
    }
    const QString driver = port.value(QStringLiteral("ID_USB_DRIVER"));
    static const QStringList modemDrivers{"option", "qcserial", "sierra", "cdc_acm"};
    if (modemDrivers.contains(driver))
        return {.probes = true, .why = QStringLiteral("ไดรเวอร์ %1 เป็นไดรเวอร์ของโมเด็ม").arg(driver)};
    return {.probes = false, .why = QStringLiteral("ไดรเวอร์ %1 ไม่ใช่ไดรเวอร์ของโมเด็ม และไม่มีกฎ udev ของ ModemManager ที่เลือกอุปกรณ์นี้ "
                                  "ซึ่งนโยบาย strict ของ ModemManager ไม่ตรวจ").arg(driver)};
}

Finding modemManagerFinding(const StationFacts &station)
{
    if (!station.modemManagerRuns)
        return finding("modemmanager", true, QStringLiteral("ModemManager ไม่ได้ทำงานอยู่"));
    const ModemManagerVerdict verdict = modemManagerVerdict(station);
    if (!verdict.probes)
        return finding("modemmanager", true,
                QStringLiteral("ModemManager ทำงานอยู่ แต่ไม่ตรวจพอร์ตอนุกรม 1: %1").arg(verdict.why));
    return finding("modemmanager", false,
            QStringLiteral("ModemManager ทำงานอยู่และจะส่งคำสั่ง AT ออกทางพอร์ตอนุกรม 1 เพราะ%1: ให้เลือกพอร์ตด้วย "
                           "sudo korvantel-port1 assign อุปกรณ์ ซึ่งบอก ModemManager ให้เว้นพอร์ตนี้ หรือหยุด ModemManager")
                .arg(verdict.why));
}

Finding rs485Finding(const QStringList &properties)
{
    return finding("rs485", true,
            properties.isEmpty()
                ? QStringLiteral("device tree ของพอร์ตนี้ไม่ได้เปิดการควบคุมทิศทาง RS-485 "
                                 "(ไม่มี linux,rs485-enabled-at-boot-time): ตัวแปลงต้องควบคุมทิศทางเอง")
                : QStringLiteral("device tree ของพอร์ตนี้: %1").arg(properties.join(QStringLiteral(", "))));
}

Finding ruleFinding(const StationFacts &station)
{
    const StationList &list = station.list;
    if (!list.rule)
        return finding("rule", true,
                QStringLiteral("ไม่มีกฎ udev ของชื่อแทน (%1): พอร์ตอนุกรม 1 คือพอร์ตในตัวเครื่องถ้ามี").arg(list.rulesFile));
    if (station.ruleVerified == StationFacts::RuleVerified::Invalid)
        return finding("rule", false,
                QStringLiteral("udevadm verify ไม่ผ่านกฎ udev %1: %2").arg(list.rulesFile, station.ruleVerifyOutput));
    if (!station.ruleMatchesPort1)
        return finding("rule", false,
                QStringLiteral("ชื่อแทนไม่ได้ชี้ไปที่อุปกรณ์ตามกฎ udev %1 เช่น เมื่ออุปกรณ์ของกฎไม่ได้ต่ออยู่ "
                               "ให้ต่ออุปกรณ์นั้น หรือเลือกใหม่ด้วย sudo korvantel-port1 assign อุปกรณ์").arg(list.rulesFile));
    return finding("rule", true,
            QStringLiteral("กฎ udev %1 %2 และชื่อแทนชี้ไปที่อุปกรณ์ตามกฎ")
                .arg(list.rulesFile, station.ruleVerified == StationFacts::RuleVerified::Parsed
                                         ? QStringLiteral("ผ่าน udevadm verify")
                                         : QStringLiteral("อ่านได้ (udev รุ่นนี้ไม่มี udevadm verify)")));
}

}  // namespace

QList<Finding> findings(const StationFacts &station)
{
    QList<Finding> all{port1Finding(station)};
    const bool port1Usable = all.first().ok;
    if (port1Usable)
        all.append(accessFinding(station));
    for (const AccountFacts &account : station.accounts)
        all.append(accountFinding(account, station.group, station.grantGroup));
    if (port1Usable) {
        all.append({holderFinding(station), consoleFinding(station), modemManagerFinding(station)});
        if (station.rs485)
            all.append(rs485Finding(*station.rs485));
    }
    all.append(ruleFinding(station));
    return all;
}

bool ready(const QList<Finding> &findings)
{
    return std::ranges::all_of(findings, &Finding::ok);
}

}  // namespace korvantel
