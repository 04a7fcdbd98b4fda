// SPDX-License-Identifier: MIT
#include "station_reads.h"

#include "account_groups.h"
#include "key_value_lines.h"
#include "lock_files.h"
#include "port_holder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>

#include <chrono>
#include <initializer_list>
#include <optional>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace korvantel {

namespace {

using namespace std::chrono_literals;

constexpr auto kToolLimit = 30s;
constexpr uid_t kFirstPersonUid = 1000;
constexpr uid_t kNobody = 65534;
const QString kLockFolder = QStringLiteral("/var/lock");
const QString kTtyClass = QStringLiteral("/sys/class/tty");

QString byIdName(const UdevProperties &device)
{
    for (const QString &link : device.value(QStringLiteral("DEVLINKS")).split(u' ')) {
        if (link.startsWith(QStringLiteral("/dev/serial/by-id/")))
            return link;
    }
    return {};
}

SerialDeviceInfo deviceInfo(const QString &device, UdevReads &udev)
{
    const UdevProperties &properties = udev.of(realPath(device));
    if (properties.value(QStringLiteral("ID_BUS")) != u"usb")
        return {.device = device,
                .driver = properties.value(QStringLiteral("DRIVERS")),
                .place = portDevice(properties),
                .address = portAddress(properties)};
    return {.device = device,
            .driver = properties.value(QStringLiteral("ID_USB_DRIVER")),
            .usb = true,
            .vendorId = properties.value(QStringLiteral("ID_VENDOR_ID")),
            .productId = properties.value(QStringLiteral("ID_MODEL_ID")),
            .serial = properties.value(QStringLiteral("ID_SERIAL_SHORT")),
            .usbPort = usbPortPath(properties),
            .interface = properties.value(QStringLiteral("ID_USB_INTERFACE_NUM")),
            .byId = byIdName(properties)};
}

// A running process as /proc shows it to this account.
struct ProcessStatus
{
    ProcessInfo info{};
    uid_t uid = 0;
    QList<gid_t> groups{};  // its effective group and its supplementary groups
    QStringList arguments{};
    dev_t terminal = 0;  // its controlling terminal
};

QDateTime bootTime()
{
    const QByteArray stat = contentsOf(QStringLiteral("/proc/stat")).value_or(QByteArray());
    for (const QByteArray &line : stat.split('\n')) {
        if (line.startsWith("btime "))
            return QDateTime::fromSecsSinceEpoch(line.mid(6).trimmed().toLongLong());
    }
    return {};
}

// From /proc/PID/stat, after a name that may hold blanks and parentheses: the
// controlling terminal (7th field) and the start (22nd).
void readStat(ProcessStatus &process, const QString &pid, const QDateTime &boot)
{
    const QByteArray stat = contentsOf(QStringLiteral("/proc/%1/stat").arg(pid)).value_or(QByteArray());
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    constexpr qsizetype kTerminal = 7 - 3;
    constexpr qsizetype kStartTime = 22 - 3;
    if (fields.size() <= kStartTime)
        return;
    const quint64 terminal = fields[kTerminal].toULongLong();
    process.terminal = ::makedev((terminal >> 8) & 0xfff, (terminal & 0xff) | ((terminal >> 12) & 0xfff00));
    if (boot.isValid())
        process.info.started = boot.addMSecs(fields[kStartTime].toLongLong() * 1000 / ::sysconf(_SC_CLK_TCK));
}

QList<ProcessStatus> runningProcesses()
{
    const QDateTime boot = bootTime();
    QList<ProcessStatus> processes;
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isNumber = false;
        const qint64 number = pid.toLongLong(&isNumber);
        const std::optional<QByteArray> status = contentsOf(QStringLiteral("/proc/%1/status").arg(pid));
        if (!isNumber || !status)
            continue;
        ProcessStatus process{.info = {.pid = number}};
        readStat(process, pid, boot);
        for (const QByteArray &line : status->split('\n')) {
            const QByteArray value = line.mid(line.indexOf(':') + 1).trimmed();
            if (line.startsWith("Name:"))
                process.info.name = QString::fromUtf8(value);
            else if (line.startsWith("Uid:"))
                process.uid = value.split('\t').value(0).toUInt();
            else if (line.startsWith("Gid:"))
                process.groups.append(value.split('\t').value(1).toUInt());
            else if (line.startsWith("Groups:"))
                for (const QByteArray &group : value.split(' '))
                    if (!group.isEmpty())
                        process.groups.append(group.toUInt());
        }
        for (const QByteArray &argument : contentsOf(QStringLiteral("/proc/%1/cmdline").arg(pid)).value_or(QByteArray()).split('\0'))
            process.arguments.append(QString::fromUtf8(argument));
        processes.append(process);
    }
    return processes;
}

std::optional<gid_t> groupId(const QString &group)
{
    const ::group *entry = ::getgrnam(QFile::encodeName(group).constData());
    return entry ? std::optional<gid_t>(entry->gr_gid) : std::nullopt;
}

// Each person's account in the group, and each account at a seat now (logind's sessions).
QStringList accountsToCheck(gid_t group)
{
    QStringList accounts;
    ::setpwent();
    while (const passwd *entry = ::getpwent()) {
        const QString name = QFile::decodeName(entry->pw_name);
        if (entry->pw_uid >= kFirstPersonUid && entry->pw_uid != kNobody && accountHasGroup(name, group))
            accounts.append(name);
    }
    ::endpwent();
    QByteArray sessions;
    runTool(QStringLiteral("loginctl"), {QStringLiteral("list-sessions"), QStringLiteral("--no-legend")}, &sessions);
    for (const QByteArray &line : sessions.split('\n')) {
        const QString session = QString::fromUtf8(line.simplified().split(' ').value(0));
        QByteArray shown;
        if (session.isEmpty()
            || !runTool(QStringLiteral("loginctl"),
                        {QStringLiteral("show-session"), session, QStringLiteral("-p"), QStringLiteral("Name"),
                         QStringLiteral("-p"), QStringLiteral("Seat")},
                        &shown))
            continue;
        const QMap<QString, QString> properties = parseKeyValueLines(shown);
        if (!properties.value(QStringLiteral("Seat")).isEmpty() && !accounts.contains(properties.value(QStringLiteral("Name"))))
            accounts.append(properties.value(QStringLiteral("Name")));
    }
    return accounts;
}

AccountFacts accountFacts(const QString &name, std::optional<gid_t> group, const QList<ProcessStatus> &processes)
{
    const passwd *entry = ::getpwnam(QFile::encodeName(name).constData());
    AccountFacts account{.name = name, .exists = entry != nullptr};
    if (!entry || !group)
        return account;
    const uid_t uid = entry->pw_uid;
    account.inGroup = accountHasGroup(name, *group);
    // systemd's (sd-pam), which only closes the PAM session at the end, never
    // gets the account's supplementary groups, however new it is.
    for (const ProcessStatus &process : processes) {
        if (account.inGroup && process.uid == uid && !process.groups.contains(*group) && process.info.name != u"(sd-pam)")
            account.lackingGroup.append(process.info);
    }
    return account;
}

// A getty on the port: it names the port, or, as systemd's serial-getty@ runs
// agetty, takes it as its standard input and controlling terminal.
bool gettyOn(const ProcessStatus &process, const QString &name, dev_t device)
{
    return process.arguments.value(0).section(u'/', -1).contains(QStringLiteral("getty"))
           && ((device != 0 && process.terminal == device) || process.arguments.contains(name)
               || process.arguments.contains(QStringLiteral("/dev/") + name));
}

// The port's serial-getty@ unit, where one of these folders' getty.target wants it.
QStringList gettyUnitWantedIn(std::initializer_list<const char *> folders, const QString &name)
{
    const QString unit = QStringLiteral("serial-getty@%1.service").arg(name);
    for (const char *folder : folders) {
        if (QFileInfo::exists(QStringLiteral("%1/getty.target.wants/%2").arg(QString::fromLatin1(folder), unit)))
            return {unit};
    }
    return {};
}

// ModemManager's --filter-policy, as "--filter-policy=P" or "--filter-policy P".
QString filterPolicy(const QStringList &arguments)
{
    const QString option = QStringLiteral("--filter-policy");
    for (qsizetype at = 0; at < arguments.size(); ++at) {
        if (arguments[at].startsWith(option + u'='))
            return arguments[at].mid(option.size() + 1);
        if (arguments[at] == option)
            return arguments.value(at + 1);
    }
    return {};
}

// The RS-485 properties of the port's device-tree node, which only a board's UART has.
std::optional<QStringList> rs485Properties(const QString &name)
{
    const QString node = uartParent(kTtyClass, name) + QStringLiteral("/of_node");
    if (!QFileInfo(node).isDir())
        return std::nullopt;
    QStringList present;
    for (const char *property : {"linux,rs485-enabled-at-boot-time", "rs485-rts-active-low", "rts-gpios"}) {
        if (QFileInfo::exists(node + u'/' + QString::fromLatin1(property)))
            present.append(QString::fromLatin1(property));
    }
    return present;
}

void readRule(StationFacts &station, const Port1Places &places, UdevReads &udev)
{
    QByteArray help;
    runTool(QStringLiteral("udevadm"), {QStringLiteral("--help")}, &help);
    if (help.contains(" verify ")) {
        QProcess verify;
        verify.setProcessChannelMode(QProcess::MergedChannels);
        verify.start(QStringLiteral("udevadm"), {QStringLiteral("verify"), station.list.rulesFile});
        const bool passed = verify.waitForFinished(static_cast<int>(std::chrono::milliseconds(kToolLimit).count()))
                            && verify.exitStatus() == QProcess::NormalExit && verify.exitCode() == 0;
        station.ruleVerified = passed ? StationFacts::RuleVerified::Parsed : StationFacts::RuleVerified::Invalid;
        // Its first line names the file and what is wrong; a count of files follows.
        station.ruleVerifyOutput = QString::fromUtf8(verify.readAll().trimmed().split('\n').value(0));
    }
    // Port 1 is the alias's device wherever the alias leads to one.
    const std::optional<QByteArray> installed = contentsOf(station.list.rulesFile);
    station.ruleMatchesPort1 = station.list.port1ByAlias && !station.port1Udev.isEmpty() && installed
                               && ruleForDevice(places, station.port1Udev, udev).text.toUtf8() == *installed;
}

void readHolder(StationFacts &station)
{
    const QString device = station.list.port1Device;
    station.holder = findPortHolder(device);
    for (const QString &lockFile : lockFilesForDevice(kLockFolder, device)) {
        const LockOwner owner = readLockOwner(lockFile);
        if (owner.state == LockOwner::State::Live && station.holder.process == 0) {
            station.holder = portHolder(owner.pid);
            station.holderLockFile = lockFile;
        }
    }
    station.seesEveryProcess = ::geteuid() == 0;
}

// What stands in the way on port 1's node: a holder, a console or getty, ModemManager.
void readPort1Node(StationFacts &station, const QList<ProcessStatus> &processes, UdevReads &udev)
{
    const QString device = station.list.port1Device;
    const QString name = device.section(u'/', -1);
    struct stat status{};
    if (::stat(QFile::encodeName(device).constData(), &status) == 0)
        station.mode = status.st_mode;
    station.port1Ghost = isGhostUart(device, kTtyClass);
    readHolder(station);
    station.consoles = QString::fromUtf8(contentsOf(kTtyClass + QStringLiteral("/console/active")).value_or(QByteArray()))
                           .simplified()
                           .split(u' ', Qt::SkipEmptyParts);
    for (const ProcessStatus &process : processes) {
        if (gettyOn(process, name, status.st_rdev))
            station.gettys.append(process.info);
        if (process.info.name == u"ModemManager") {
            station.modemManagerRuns = true;
            station.modemManagerPolicy = filterPolicy(process.arguments);
        }
    }
    station.gettyUnits = gettyUnitWantedIn({"/etc/systemd/system", "/run/systemd/system"}, name);
    // systemd-getty-generator's, for a kernel console.
    station.generatedGettyUnits = gettyUnitWantedIn({"/run/systemd/generator"}, name);
    station.port1Udev = udev.of(device);
    station.rs485 = rs485Properties(name);
}

}  // namespace

bool runTool(const QString &program, const QStringList &arguments, QByteArray *output)
{
    QProcess process;
    process.setProcessChannelMode(output ? QProcess::SeparateChannels : QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(static_cast<int>(std::chrono::milliseconds(kToolLimit).count()))) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

std::optional<QByteArray> contentsOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

QString realPath(const QString &device)
{
    return QFileInfo(device).canonicalFilePath();
}

AliasRule ruleForDevice(const Port1Places &places, const UdevProperties &device, UdevReads &udev)
{
    QList<UdevProperties> attached;
    for (const QString &adapter : serialAdapters(places))
        attached.append(udev.of(realPath(adapter)));
    return aliasRule(device, attached, places.alias.mid(QStringLiteral("/dev/").size()));
}

QString deviceGroup(const QString &device)
{
    struct stat status{};
    if (device.isEmpty() || ::stat(QFile::encodeName(device).constData(), &status) != 0)
        return kSerialGroup;
    const group *owner = ::getgrgid(status.st_gid);
    return owner ? QString::fromLocal8Bit(owner->gr_name) : kSerialGroup;
}

StationList readStationList(const Port1Places &places, const QString &rulesFile, UdevReads &udev)
{
    StationList list{.port1 = choosePort1(places), .rulesFile = rulesFile};
    for (const QString &device : serialPorts(places) + serialAdapters(places))
        list.devices.append(deviceInfo(device, udev));
    list.port1Device = realPath(list.port1);
    list.port1ByAlias = !list.port1.isEmpty() && list.port1 == places.alias;
    if (const std::optional<QByteArray> rules = contentsOf(rulesFile)) {
        for (const QByteArray &line : rules->split('\n')) {
            if (!line.trimmed().isEmpty() && !line.startsWith('#')) {
                list.rule = QString::fromUtf8(line);
                break;
            }
        }
        if (!list.rule)
            list.rule = QString();
    }
    return list;
}

StationFacts readStationFacts(const Port1Places &places, const QString &rulesFile, const QStringList &accounts)
{
    UdevReads udev;
    StationFacts station{.list = readStationList(places, rulesFile, udev)};
    station.group = deviceGroup(station.list.port1Device);
    station.grantGroup = kSerialGroup;
    const std::optional<gid_t> group = groupId(station.group);
    const QList<ProcessStatus> processes = runningProcesses();
    for (const QString &account : accounts.isEmpty() && group ? accountsToCheck(*group) : accounts)
        station.accounts.append(accountFacts(account, group, processes));
    if (!station.list.port1Device.isEmpty())
        readPort1Node(station, processes, udev);
    if (station.list.rule)
        readRule(station, places, udev);
    return station;
}

}  // namespace korvantel
