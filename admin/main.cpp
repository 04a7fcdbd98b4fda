// SPDX-License-Identifier: MIT
#include "built_port1_places.h"
#include "port1_administration.h"
#include "station_rendering.h"
#include "visible_text.h"

#include <QCoreApplication>

#include <algorithm>
#include <optional>
#include <utility>

namespace {

// Laid out by the columns a terminal shows, not by characters: a Thai mark takes none.
QString usage()
{
    const std::pair<QString, QString> uses[] = {  // the command, what it does
        {QStringLiteral("korvantel-port1"), QStringLiteral("แสดงอุปกรณ์พอร์ตอนุกรมในเครื่องนี้ และพอร์ตอนุกรม 1")},
        {QStringLiteral("korvantel-port1 assign อุปกรณ์"), QStringLiteral("ให้อุปกรณ์นี้เป็นพอร์ตอนุกรม 1 ด้วยกฎ udev (ใช้ sudo)")},
        {QStringLiteral("korvantel-port1 assign --dry-run อุปกรณ์"), QStringLiteral("แสดงกฎที่จะเขียน โดยไม่เปลี่ยนอะไร")},
        {QStringLiteral("korvantel-port1 check [บัญชีผู้ใช้...]"), QStringLiteral("ตรวจว่าเครื่องนี้พร้อมส่งข้อมูลทางพอร์ตอนุกรม 1 หรือยัง")},
        {QStringLiteral("korvantel-port1 clear"), QStringLiteral("ลบกฎ udev นั้น ให้พอร์ตในตัวเครื่องเป็นพอร์ตอนุกรม 1 (ใช้ sudo)")},
        {QStringLiteral("korvantel-port1 grant บัญชีผู้ใช้"), QStringLiteral("ให้บัญชีผู้ใช้นี้ใช้พอร์ตอนุกรมได้ (ใช้ sudo)")},
        {QStringLiteral("korvantel-port1 --version"), QStringLiteral("แสดงรุ่นของโปรแกรม")},
    };
    qsizetype width = 0;
    for (const auto &[command, what] : uses)
        width = std::max(width, korvantel::displayWidth(command));
    QString text = QStringLiteral("การใช้งาน (ใส่ --json หน้าคำสั่งใดก็ได้ เพื่อให้ผลเป็น JSON):\n");
    for (const auto &[command, what] : uses)
        text += QStringLiteral("  ") + command + QString(width - korvantel::displayWidth(command) + 3, u' ') + what + u'\n';
    return text;
}

// One command's outcome as its exit status, and in JSON its object.
int finish(QTextStream &out, bool json, korvantel::Port1Administration::Outcome outcome, const QString &said)
{
    using Outcome = korvantel::Port1Administration::Outcome;
    if (json)
        out << korvantel::commandJson(outcome == Outcome::Failed, outcome == Outcome::Changed, said);
    return outcome == Outcome::Failed ? 1 : 0;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    const bool json = arguments.value(0) == u"--json";
    if (json)
        arguments.removeFirst();
    QTextStream out(stdout);
    // In JSON, what a command says goes into its object, not onto the terminal.
    QString said;
    QTextStream saying(&said);
    korvantel::Port1Administration administration(korvantel::builtPort1Places(),
                                                  QStringLiteral("/etc/udev/rules.d/99-korvantel-port1.rules"),
                                                  json ? saying : out, json);
    const QString command = arguments.value(0);
    if (arguments.isEmpty()) {
        const korvantel::StationList list = administration.list();
        json ? out << korvantel::listJson(list) : out << korvantel::listText(list);
        return 0;
    }
    if (arguments == QStringList{QStringLiteral("--version")}) {
        const auto version = QStringLiteral(KORVANTEL_VERSION);
        json ? out << korvantel::versionJson(version) : out << "korvantel-port1 " << version << '\n';
        return 0;
    }
    if (command == u"check") {
        const QList<korvantel::Finding> findings = administration.check(arguments.mid(1));
        json ? out << korvantel::checkJson(findings) : out << korvantel::checkText(findings);
        return korvantel::ready(findings) ? 0 : 1;
    }
    std::optional<korvantel::Port1Administration::Outcome> outcome;
    if (arguments.size() == 2 && command == u"assign")
        outcome = administration.assign(arguments[1]);
    else if (arguments.size() == 3 && command == u"assign" && arguments[1] == u"--dry-run")
        outcome = administration.assign(arguments[2], true);
    else if (arguments.size() == 1 && command == u"clear")
        outcome = administration.clear();
    else if (arguments.size() == 2 && command == u"grant")
        outcome = administration.grant(arguments[1]);
    if (outcome) {
        saying.flush();
        return finish(out, json, *outcome, said);
    }
    json ? out << korvantel::commandJson(true, false, usage()) : out << usage();
    return command == u"--help" ? 0 : 2;
}
