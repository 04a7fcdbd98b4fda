// SPDX-License-Identifier: MIT
#include "built_port1_places.h"
#include "port1_administration.h"

#include <QCoreApplication>

namespace {

const char kUsage[] = "ใช้: korvantel-port1                 แสดงอุปกรณ์พอร์ตอนุกรมและพอร์ตอนุกรม 1\n"
                      "     korvantel-port1 assign DEVICE   ให้พอร์ตหรืออุปกรณ์แปลงนี้เป็นพอร์ตอนุกรม 1 (root)\n"
                      "     korvantel-port1 clear           ลบกฎนั้นออก (root)\n"
                      "     korvantel-port1 grant USER      ให้บัญชีนี้ใช้พอร์ตอนุกรมได้ (root)\n";

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
    out << QString::fromUtf8(kUsage);
    return command == u"--help" ? 0 : 2;
}
