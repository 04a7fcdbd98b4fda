// SPDX-License-Identifier: MIT
#include "port1_administration.h"

#include "alias_rule.h"
#include "visible_text.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>

#include <optional>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvantel {

namespace {

using namespace std::chrono_literals;

constexpr auto kUdevadmLimit = 30s;
constexpr auto kAliasLimit = 10s;
const QString kDevFolder = QStringLiteral("/dev/");
// Debian gives serial devices to this group.
const QString kSerialGroup = QStringLiteral("dialout");

bool run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(output ? QProcess::SeparateChannels : QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(static_cast<int>(std::chrono::milliseconds(kUdevadmLimit).count()))) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QByteArray udevInfo(const QString &query, const QString &device)
{
    QByteArray output;
    if (!run(QStringLiteral("udevadm"), {QStringLiteral("info"), query, QStringLiteral("--name=") + device}, &output))
        return {};
    return output;
}

// What udev knows of a device; for a port that is not on USB, also where it
// is, which udev's stock rules do not give a built-in or card port.
UdevProperties udevProperties(const QString &device)
{
    UdevProperties properties = parseUdevProperties(udevInfo(QStringLiteral("--query=property"), device));
    if (!properties.isEmpty() && properties.value(QStringLiteral("ID_BUS")) != u"usb")
        properties.insert(parseAttributeWalk(udevInfo(QStringLiteral("--attribute-walk"), device)));
    return properties;
}

// Has udev read its rules again and look at these devices anew. Events
// already queued, as of a card's ports that just appeared, are let through
// first: one handled by the old rules after the trigger would undo it.
void reload(const QStringList &devicesToTrigger)
{
    const QString udevadm = QStringLiteral("udevadm");
    run(udevadm, {QStringLiteral("control"), QStringLiteral("--reload")});
    run(udevadm, {QStringLiteral("settle"), QStringLiteral("--timeout=20")});
    for (const QString &device : devicesToTrigger)
        run(udevadm, {QStringLiteral("trigger"), QStringLiteral("--settle"), device});
}

QString realPath(const QString &device)
{
    return QFileInfo(device).canonicalFilePath();
}

QString byIdName(const UdevProperties &device)
{
    for (const QString &link : device.value(QStringLiteral("DEVLINKS")).split(u' ')) {
        if (link.startsWith(QStringLiteral("/dev/serial/by-id/")))
            return link;
    }
    return {};
}

QString orDash(const QString &value)
{
    return value.isEmpty() ? QStringLiteral("-") : visibleText(value);
}

// A file's contents, or nothing when there is no such file.
std::optional<QByteArray> contentsOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

// Whole or not at all: a temporary file beside it, renamed over it.
bool writeWhole(const QString &path, const QByteArray &contents)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size() && file.commit();
}

// The group that owns the device, or Debian's group for serial devices.
QString deviceGroup(const QString &device)
{
    struct stat status{};
    if (device.isEmpty() || ::stat(QFile::encodeName(device).constData(), &status) != 0)
        return kSerialGroup;
    const group *owner = ::getgrgid(status.st_gid);
    return owner ? QString::fromLocal8Bit(owner->gr_name) : kSerialGroup;
}

}  // namespace

Port1Administration::Port1Administration(Port1Places places, QString rulesFile, QTextStream &out)
    : m_places(std::move(places))
    , m_rulesFile(std::move(rulesFile))
    , m_out(out)
{
}

QString Port1Administration::aliasTarget() const
{
    return realPath(m_places.alias);
}

// A device's name and kind on its first line; an adapter's longer details
// each on an indented line, so that a line stays within 100 columns.
void Port1Administration::listDevice(const QString &device)
{
    const QString real = realPath(device);
    const UdevProperties properties = udevProperties(real);
    m_out << "  " << visibleText(real);
    if (properties.value(QStringLiteral("ID_BUS")) != u"usb") {
        m_out << QStringLiteral("  ไดรเวอร์ ") << orDash(properties.value(QStringLiteral("DRIVERS")))
              << QStringLiteral("  ตำแหน่ง ") << orDash(portPlace(properties)) << '\n';
        return;
    }
    m_out << QStringLiteral("  ตัวแปลง USB  ไดรเวอร์ ") << orDash(properties.value(QStringLiteral("ID_USB_DRIVER")))
          << QStringLiteral("  รหัสผู้ผลิต:รุ่น ")
          << visibleText(properties.value(QStringLiteral("ID_VENDOR_ID")) + u':' + properties.value(QStringLiteral("ID_MODEL_ID")))
          << QStringLiteral("\n      หมายเลขซีเรียล ") << orDash(properties.value(QStringLiteral("ID_SERIAL_SHORT")))
          << QStringLiteral("  อินเทอร์เฟซ ") << orDash(properties.value(QStringLiteral("ID_USB_INTERFACE_NUM")))
          << QStringLiteral("\n      ช่องเสียบ USB ") << orDash(usbPortPath(properties))
          << QStringLiteral("\n      ชื่อถาวร ") << orDash(byIdName(properties)) << '\n';
}

int Port1Administration::list()
{
    const QStringList devices = serialPorts(m_places) + serialAdapters(m_places);
    m_out << QStringLiteral("อุปกรณ์พอร์ตอนุกรมในเครื่องนี้:\n");
    if (devices.isEmpty())
        m_out << QStringLiteral("  (ไม่มี)\n");
    for (const QString &device : devices)
        listDevice(device);

    const QString port1 = choosePort1(m_places);
    m_out << QStringLiteral("พอร์ตอนุกรม 1 ของ korvantel-demo ตอนนี้: ");
    if (port1.isEmpty())
        m_out << QStringLiteral("ไม่มี\n");
    else
        m_out << visibleText(port1)
              << (realPath(port1) == port1 ? QString() : QStringLiteral(" -> ") + orDash(realPath(port1))) << '\n';
    m_out << QStringLiteral("กฎ udev ของชื่อแทน (%1): %2\n")
                 .arg(m_rulesFile, QFile::exists(m_rulesFile) ? QStringLiteral("ติดตั้งแล้ว")
                                                              : QStringLiteral("ยังไม่ได้ติดตั้ง"));
    return 0;
}

bool Port1Administration::refused(Needs needs, const QStringList &command)
{
    if (::geteuid() != 0) {
        m_out << QStringLiteral("คำสั่งนี้ต้องใช้สิทธิ์ผู้ดูแลระบบ (root) ไม่มีอะไรถูกเปลี่ยน ให้สั่งใหม่ด้วย sudo:\n  sudo korvantel-port1 ")
              << visibleText(command.join(u' ')) << '\n';
        return true;
    }
    if (needs == Needs::Udev && QStandardPaths::findExecutable(QStringLiteral("udevadm")).isEmpty()) {
        m_out << QStringLiteral("คำสั่งนี้ต้องใช้ udevadm จากแพ็กเกจ udev ซึ่งไม่มีในเครื่องนี้ ไม่มีอะไรถูกเปลี่ยน\n");
        return true;
    }
    return false;
}

// Waits until the alias points at `target` (is gone, for none).
bool Port1Administration::aliasBecomes(const QString &target) const
{
    const QDeadlineTimer deadline(kAliasLimit);
    while (aliasTarget() != target) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(100);
    }
    return true;
}

void Port1Administration::restore(const std::optional<QByteArray> &previous, const QStringList &devicesToTrigger)
{
    if (previous)
        writeWhole(m_rulesFile, *previous);
    else
        QFile::remove(m_rulesFile);
    reload(devicesToTrigger);
}

int Port1Administration::assign(const QString &device)
{
    if (refused(Needs::Udev, {QStringLiteral("assign"), device}))
        return 1;
    if (!m_places.alias.startsWith(kDevFolder)) {
        m_out << QStringLiteral("ชื่อแทน %1 ไม่ได้อยู่ใน /dev จึงให้ udev สร้างไม่ได้\n").arg(visibleText(m_places.alias));
        return 1;
    }
    const QString real = realPath(device);
    const UdevProperties properties = real.isEmpty() ? UdevProperties{} : udevProperties(real);
    // A virtual console or a pseudo-terminal is a tty too, but no serial device.
    if (properties.value(QStringLiteral("SUBSYSTEM")) != u"tty"
        || properties.value(QStringLiteral("DEVPATH")).startsWith(QStringLiteral("/devices/virtual/"))) {
        m_out << QStringLiteral("%1 ไม่ใช่อุปกรณ์พอร์ตอนุกรมในเครื่องนี้ ไม่มีอะไรถูกเปลี่ยน\n").arg(visibleText(device));
        return 1;
    }
    if (real == realPath(m_places.builtInDevice)) {
        m_out << QStringLiteral("%1 เป็นพอร์ตในตัวเครื่องที่ korvantel-demo ใช้เป็นพอร์ตอนุกรม 1 อยู่แล้วเมื่อไม่มีชื่อแทน "
                                "ถ้าต้องการใช้พอร์ตนี้ ให้ลบกฎด้วย sudo korvantel-port1 clear ไม่มีอะไรถูกเปลี่ยน\n")
                     .arg(visibleText(real));
        return 1;
    }
    QList<UdevProperties> attached;
    for (const QString &adapter : serialAdapters(m_places))
        attached.append(udevProperties(realPath(adapter)));
    const AliasRule rule = aliasRule(properties, attached, m_places.alias.mid(kDevFolder.size()));
    if (!rule.error.isEmpty()) {
        m_out << rule.error << QStringLiteral(" ไม่มีอะไรถูกเปลี่ยน\n");
        return 1;
    }

    const std::optional<QByteArray> previous = contentsOf(m_rulesFile);
    QStringList toTrigger{real};
    if (const QString before = aliasTarget(); !before.isEmpty() && before != real)
        toTrigger.append(before);
    if (!writeWhole(m_rulesFile, rule.text.toUtf8())) {
        m_out << QStringLiteral("เขียน %1 ไม่ได้ ไม่มีอะไรถูกเปลี่ยน\n").arg(m_rulesFile);
        return 1;
    }
    reload(toTrigger);
    if (!aliasBecomes(real)) {
        const QString seen = aliasTarget();
        restore(previous, toTrigger);
        m_out << QStringLiteral("udev ไม่ได้ทำให้ชื่อแทน %1 ชี้ไปที่ %2 (ตอนนี้%3) เช่น เมื่ออุปกรณ์ถูกถอดออกระหว่างนั้น "
                                "จึงคืนกฎ udev เดิมให้แล้ว\n")
                     .arg(m_places.alias, visibleText(real),
                          seen.isEmpty() ? QStringLiteral("ไม่มีชื่อแทน") : QStringLiteral("ชี้ไปที่ ") + visibleText(seen));
        return 1;
    }
    m_out << QStringLiteral("ตอนนี้ชื่อแทน %1 ชี้ไปที่ %2 แล้ว: korvantel-demo ใช้อุปกรณ์นี้เป็นพอร์ตอนุกรม 1\n")
                 .arg(m_places.alias, visibleText(real))
          << QStringLiteral("กฎ udev อยู่ใน %1:\n").arg(m_rulesFile) << rule.text;
    if (rule.bySocket)
        m_out << QStringLiteral("ตัวแปลง USB นี้ไม่มีหมายเลขซีเรียลของตัวเอง หรือมีตัวแปลงรุ่นเดียวกันที่ใช้หมายเลขเดียวกัน "
                                "กฎ udev จึงผูกกับช่องเสียบ USB นี้ ไม่ใช่กับตัวแปลง: ตัวแปลงรุ่นนี้ตัวใดที่เสียบช่องนี้จะเป็น"
                                "พอร์ตอนุกรม 1 และถ้าย้ายไปเสียบช่องอื่นจะไม่เป็น\n");
    return 0;
}

int Port1Administration::clear()
{
    if (refused(Needs::Udev, {QStringLiteral("clear")}))
        return 1;
    if (!QFile::exists(m_rulesFile)) {
        m_out << QStringLiteral("ไม่มีกฎ udev ของชื่อแทน (%1) ไม่มีอะไรต้องลบ\n").arg(m_rulesFile);
        return 0;
    }
    const std::optional<QByteArray> previous = contentsOf(m_rulesFile);
    const QString before = aliasTarget();
    const QStringList toTrigger = before.isEmpty() ? QStringList() : QStringList{before};
    if (!QFile::remove(m_rulesFile)) {
        m_out << QStringLiteral("ลบ %1 ไม่ได้ ไม่มีอะไรถูกเปลี่ยน\n").arg(m_rulesFile);
        return 1;
    }
    reload(toTrigger);
    if (!aliasBecomes(QString())) {
        restore(previous, toTrigger);
        m_out << QStringLiteral("udev ไม่ได้ลบชื่อแทน %1 จึงคืนกฎ udev เดิมให้แล้ว\n").arg(m_places.alias);
        return 1;
    }
    m_out << QStringLiteral("ลบกฎ udev %1 แล้ว และไม่มีชื่อแทน %2 แล้ว: korvantel-demo จะใช้พอร์ตในตัวเครื่อง %3 "
                            "เป็นพอร์ตอนุกรม 1 ถ้ามีพอร์ตนี้อยู่จริง\n")
                 .arg(m_rulesFile, m_places.alias, m_places.builtInDevice);
    return 0;
}

int Port1Administration::grant(const QString &account)
{
    if (refused(Needs::Root, {QStringLiteral("grant"), account}))
        return 1;
    if (!::getpwnam(QFile::encodeName(account).constData())) {
        m_out << QStringLiteral("ไม่มีบัญชีผู้ใช้ %1 ในเครื่องนี้ ไม่มีอะไรถูกเปลี่ยน\n").arg(visibleText(account));
        return 1;
    }
    const QString group = deviceGroup(choosePort1(m_places));
    if (!run(QStringLiteral("gpasswd"), {QStringLiteral("-a"), account, group})) {
        m_out << QStringLiteral("เพิ่มบัญชีผู้ใช้ %1 เข้ากลุ่ม %2 ไม่ได้\n").arg(visibleText(account), visibleText(group));
        return 1;
    }
    m_out << QStringLiteral("เพิ่มบัญชีผู้ใช้ %1 เข้ากลุ่ม %2 แล้ว: ผู้ใช้ต้องออกจากระบบแล้วเข้าใหม่ก่อน จึงจะใช้พอร์ตอนุกรมได้\n")
                 .arg(visibleText(account), visibleText(group));
    return 0;
}

}  // namespace korvantel
