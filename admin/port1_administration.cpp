// SPDX-License-Identifier: MIT
#include "port1_administration.h"

#include "account_groups.h"
#include "alias_rule.h"
#include "station_reads.h"
#include "visible_text.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
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

constexpr auto kAliasLimit = 10s;
const QString kDevFolder = QStringLiteral("/dev/");

// Has udev read its rules again and look at these devices anew. Events
// already queued, as of a card's ports that just appeared, are let through
// first: one handled by the old rules after the trigger would undo it.
void reload(const QStringList &devicesToTrigger)
{
    const QString udevadm = QStringLiteral("udevadm");
    runTool(udevadm, {QStringLiteral("control"), QStringLiteral("--reload")});
    runTool(udevadm, {QStringLiteral("settle"), QStringLiteral("--timeout=20")});
    for (const QString &device : devicesToTrigger)
        runTool(udevadm, {QStringLiteral("trigger"), QStringLiteral("--settle"), device});
}

// Whole or not at all: a temporary file beside it, renamed over it.
bool writeWhole(const QString &path, const QByteArray &contents)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size() && file.commit();
}

}  // namespace

Port1Administration::Port1Administration(Port1Places places, QString rulesFile, QTextStream &out, bool forJson)
    : m_places(std::move(places))
    , m_rulesFile(std::move(rulesFile))
    , m_out(out)
    , m_forJson(forJson)
{
}

QString Port1Administration::shown(const QString &outside) const
{
    return m_forJson ? outside : visibleText(outside);
}

QString Port1Administration::aliasTarget() const
{
    return realPath(m_places.alias);
}

StationList Port1Administration::list() const
{
    UdevReads udev;
    return readStationList(m_places, m_rulesFile, udev);
}

QList<Finding> Port1Administration::check(const QStringList &accounts) const
{
    return findings(readStationFacts(m_places, m_rulesFile, accounts));
}

bool Port1Administration::refused(Needs needs, const QStringList &command)
{
    if (needs != Needs::Udevadm && ::geteuid() != 0) {
        m_out << QStringLiteral("คำสั่งนี้ต้องใช้สิทธิ์ผู้ดูแลระบบ (root) ไม่มีอะไรถูกเปลี่ยน ให้สั่งใหม่ด้วย sudo:\n  sudo korvantel-port1 ")
              << shown(command.join(u' ')) << '\n';
        return true;
    }
    if (needs != Needs::Root && QStandardPaths::findExecutable(QStringLiteral("udevadm")).isEmpty()) {
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

Port1Administration::Outcome Port1Administration::assign(const QString &device, bool dryRun)
{
    QStringList command{QStringLiteral("assign"), device};
    if (dryRun)
        command.insert(1, QStringLiteral("--dry-run"));
    if (refused(dryRun ? Needs::Udevadm : Needs::Udev, command))
        return Outcome::Failed;
    if (!m_places.alias.startsWith(kDevFolder)) {
        m_out << QStringLiteral("ชื่อแทน %1 ไม่ได้อยู่ใน /dev จึงให้ udev สร้างไม่ได้\n").arg(shown(m_places.alias));
        return Outcome::Failed;
    }
    const QString real = realPath(device);
    UdevReads udev;
    const UdevProperties properties = real.isEmpty() ? UdevProperties{} : udev.of(real);
    // A virtual console or a pseudo-terminal is a tty too, but no serial device.
    if (properties.value(QStringLiteral("SUBSYSTEM")) != u"tty"
        || properties.value(QStringLiteral("DEVPATH")).startsWith(QStringLiteral("/devices/virtual/"))) {
        m_out << QStringLiteral("%1 ไม่ใช่อุปกรณ์พอร์ตอนุกรมในเครื่องนี้ ไม่มีอะไรถูกเปลี่ยน\n").arg(shown(device));
        return Outcome::Failed;
    }
    if (real == realPath(builtInPort(m_places))) {
        m_out << QStringLiteral("%1 เป็นพอร์ตในตัวเครื่องที่ korvantel-demo ใช้เป็นพอร์ตอนุกรม 1 อยู่แล้วเมื่อไม่มีชื่อแทน "
                                "ถ้าต้องการใช้พอร์ตนี้ ให้ลบกฎด้วย sudo korvantel-port1 clear ไม่มีอะไรถูกเปลี่ยน\n")
                     .arg(shown(real));
        return Outcome::Failed;
    }
    const AliasRule rule = ruleForDevice(m_places, properties, udev);
    if (!rule.error.isEmpty()) {
        m_out << rule.error << QStringLiteral(" ไม่มีอะไรถูกเปลี่ยน\n");
        return Outcome::Failed;
    }

    const std::optional<QByteArray> previous = contentsOf(m_rulesFile);
    const bool installed = previous == rule.text.toUtf8();
    const bool inPlace = installed && aliasTarget() == real;
    if (dryRun) {
        m_out << QStringLiteral("กฎ udev ที่ korvantel-port1 assign จะเขียนลงใน %1:\n").arg(m_rulesFile) << rule.text
              << (installed  ? QStringLiteral("กฎนี้ติดตั้งอยู่แล้วทุกไบต์\n")
                  : previous ? QStringLiteral("กฎนี้ต่างจากกฎที่ติดตั้งอยู่\n")
                             : QStringLiteral("ยังไม่มีกฎที่ติดตั้งอยู่\n"))
              << QStringLiteral("ไม่มีอะไรถูกเปลี่ยน (--dry-run)\n");
        // As a fleet tool's check mode reads it: changed is what assign would change.
        return inPlace ? Outcome::Unchanged : Outcome::Changed;
    }
    // Run again by a fleet's tool: nothing written, reloaded or triggered.
    if (inPlace) {
        m_out << QStringLiteral("ไม่เปลี่ยนแปลง (unchanged): ชื่อแทน %1 ชี้ไปที่ %2 ตามกฎที่ติดตั้งอยู่แล้ว\n")
                     .arg(m_places.alias, shown(real));
        return Outcome::Unchanged;
    }
    QStringList toTrigger{real};
    if (const QString before = aliasTarget(); !before.isEmpty() && before != real)
        toTrigger.append(before);
    if (!writeWhole(m_rulesFile, rule.text.toUtf8())) {
        m_out << QStringLiteral("เขียน %1 ไม่ได้ ไม่มีอะไรถูกเปลี่ยน\n").arg(m_rulesFile);
        return Outcome::Failed;
    }
    reload(toTrigger);
    if (!aliasBecomes(real)) {
        const QString seen = aliasTarget();
        restore(previous, toTrigger);
        m_out << QStringLiteral("udev ไม่ได้ทำให้ชื่อแทน %1 ชี้ไปที่ %2 (ตอนนี้%3) เช่น เมื่ออุปกรณ์ถูกถอดออกระหว่างนั้น "
                                "จึงคืนกฎ udev เดิมให้แล้ว\n")
                     .arg(m_places.alias, shown(real),
                          seen.isEmpty() ? QStringLiteral("ไม่มีชื่อแทน") : QStringLiteral("ชี้ไปที่ ") + shown(seen));
        return Outcome::Failed;
    }
    m_out << QStringLiteral("ตอนนี้ชื่อแทน %1 ชี้ไปที่ %2 แล้ว: korvantel-demo ใช้อุปกรณ์นี้เป็นพอร์ตอนุกรม 1\n")
                 .arg(m_places.alias, shown(real))
          << QStringLiteral("กฎ udev อยู่ใน %1:\n").arg(m_rulesFile) << rule.text;
    if (rule.bySocket)
        m_out << QStringLiteral("ตัวแปลง USB นี้ไม่มีหมายเลขซีเรียลของตัวเอง หรือมีตัวแปลงรุ่นเดียวกันที่ใช้หมายเลขเดียวกัน "
                                "กฎ udev จึงผูกกับช่องเสียบ USB นี้ ไม่ใช่กับตัวแปลง: ตัวแปลงรุ่นนี้ตัวใดที่เสียบช่องนี้จะเป็น"
                                "พอร์ตอนุกรม 1 และถ้าย้ายไปเสียบช่องอื่นจะไม่เป็น\n");
    return Outcome::Changed;
}

Port1Administration::Outcome Port1Administration::clear()
{
    if (refused(Needs::Udev, {QStringLiteral("clear")}))
        return Outcome::Failed;
    if (!QFile::exists(m_rulesFile)) {
        m_out << QStringLiteral("ไม่เปลี่ยนแปลง (unchanged): ไม่มีกฎ udev ของชื่อแทน (%1) ไม่มีอะไรต้องลบ\n").arg(m_rulesFile);
        return Outcome::Unchanged;
    }
    const std::optional<QByteArray> previous = contentsOf(m_rulesFile);
    const QString before = aliasTarget();
    const QStringList toTrigger = before.isEmpty() ? QStringList() : QStringList{before};
    if (!QFile::remove(m_rulesFile)) {
        m_out << QStringLiteral("ลบ %1 ไม่ได้ ไม่มีอะไรถูกเปลี่ยน\n").arg(m_rulesFile);
        return Outcome::Failed;
    }
    reload(toTrigger);
    if (!aliasBecomes(QString())) {
        restore(previous, toTrigger);
        m_out << QStringLiteral("udev ไม่ได้ลบชื่อแทน %1 จึงคืนกฎ udev เดิมให้แล้ว\n").arg(m_places.alias);
        return Outcome::Failed;
    }
    const QString builtIn = builtInPort(m_places);
    m_out << QStringLiteral("ลบกฎ udev %1 แล้ว และไม่มีชื่อแทน %2 แล้ว: ").arg(m_rulesFile, m_places.alias)
          << (builtIn.isEmpty() ? QStringLiteral("ตอนนี้ korvantel-demo ไม่มีพอร์ตอนุกรม 1 เพราะ %1 ไม่มีอยู่ หรือไม่ใช่พอร์ตของตัวเครื่องเอง\n")
                                      .arg(m_places.builtInDevice)
                                : QStringLiteral("korvantel-demo ใช้พอร์ตในตัวเครื่อง %1 เป็นพอร์ตอนุกรม 1\n").arg(builtIn));
    return Outcome::Changed;
}

Port1Administration::Outcome Port1Administration::grant(const QString &account)
{
    if (refused(Needs::Root, {QStringLiteral("grant"), account}))
        return Outcome::Failed;
    if (!::getpwnam(QFile::encodeName(account).constData())) {
        m_out << QStringLiteral("ไม่มีบัญชีผู้ใช้ %1 ในเครื่องนี้ ไม่มีอะไรถูกเปลี่ยน\n").arg(shown(account));
        return Outcome::Failed;
    }
    // Never the group of whatever owns port 1's node now, which may be root.
    const QString &group = kSerialGroup;
    if (const ::group *entry = ::getgrnam(QFile::encodeName(group).constData());
        entry && accountHasGroup(account, entry->gr_gid)) {
        m_out << QStringLiteral("ไม่เปลี่ยนแปลง (unchanged): บัญชีผู้ใช้ %1 อยู่ในกลุ่ม %2 แล้ว\n")
                     .arg(shown(account), shown(group));
        return Outcome::Unchanged;
    }
    if (!runTool(QStringLiteral("gpasswd"), {QStringLiteral("-a"), account, group})) {
        m_out << QStringLiteral("เพิ่มบัญชีผู้ใช้ %1 เข้ากลุ่ม %2 ไม่ได้\n").arg(shown(account), shown(group));
        return Outcome::Failed;
    }
    m_out << QStringLiteral("เพิ่มบัญชีผู้ใช้ %1 เข้ากลุ่ม %2 แล้ว: ผู้ใช้ต้องออกจากระบบแล้วเข้าใหม่ก่อน จึงจะใช้พอร์ตอนุกรมได้\n")
                 .arg(shown(account), shown(group));
    return Outcome::Changed;
}

}  // namespace korvantel
