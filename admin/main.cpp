// SPDX-License-Identifier: MIT
#include "built_port1_places.h"
#include "port1_administration.h"
#include "visible_text.h"

#include <QCoreApplication>

#include <algorithm>
#include <utility>

namespace {

// Laid out by the columns a terminal shows, not by characters: a Thai mark takes none.
QString usage()
{
    const std::pair<QString, QString> uses[] = {  // the command, what it does
        {QStringLiteral("korvantel-port1"), QStringLiteral("แสดงอุปกรณ์พอร์ตอนุกรมในเครื่องนี้ และพอร์ตอนุกรม 1")},
        {QStringLiteral("korvantel-port1 assign อุปกรณ์"), QStringLiteral("ให้อุปกรณ์นี้เป็นพอร์ตอนุกรม 1 ด้วยกฎ udev (ใช้ sudo)")},
        {QStringLiteral("korvantel-port1 clear"), QStringLiteral("ลบกฎ udev นั้น ให้พอร์ตในตัวเครื่องเป็นพอร์ตอนุกรม 1 (ใช้ sudo)")},
        {QStringLiteral("korvantel-port1 grant บัญชีผู้ใช้"), QStringLiteral("ให้บัญชีผู้ใช้นี้ใช้พอร์ตอนุกรมได้ (ใช้ sudo)")},
    };
    qsizetype width = 0;
    for (const auto &[command, what] : uses)
        width = std::max(width, korvantel::displayWidth(command));
    QString text = QStringLiteral("การใช้งาน:\n");
    for (const auto &[command, what] : uses)
        text += QStringLiteral("  ") + command + QString(width - korvantel::displayWidth(command) + 3, u' ') + what + u'\n';
    return text;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    korvantel::Port1Administration administration(korvantel::builtPort1Places(),
                                                  QStringLiteral("/etc/udev/rules.d/99-korvantel-port1.rules"), out);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString command = arguments.value(0);
    if (arguments.isEmpty())
        return administration.list();
    if (arguments.size() == 2 && command == u"assign")
        return administration.assign(arguments[1]);
    if (arguments.size() == 1 && command == u"clear")
        return administration.clear();
    if (arguments.size() == 2 && command == u"grant")
        return administration.grant(arguments[1]);
    out << usage();
    return command == u"--help" ? 0 : 2;
}
