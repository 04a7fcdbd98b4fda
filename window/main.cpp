// SPDX-License-Identifier: MIT
#include "main_window.h"
#include "qt_serial_control.h"

#include <QApplication>

int main(int, char *argv[])
{
    // The tool takes no command line, so Qt is not shown one either.
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    // Ties the window to its menu entry and icon: the desktop file name is the
    // Wayland app_id, the application name the X11 WM_CLASS (StartupWMClass).
    QGuiApplication::setDesktopFileName(QStringLiteral("com.korvantel.demo"));
    QCoreApplication::setApplicationName(QStringLiteral("korvantel-demo"));
    korvantel::Port1Places port1{
        .alias = QStringLiteral(KORVANTEL_PORT1_ALIAS),
        .builtInDevice = QStringLiteral(KORVANTEL_PORT1_DEVICE),
        .adapterPatterns = QStringLiteral(KORVANTEL_ADAPTER_PATTERNS).split(u':', Qt::SkipEmptyParts),
        .byIdFolder = QStringLiteral("/dev/serial/by-id"),
        .ttyClassFolder = QStringLiteral("/sys/class/tty"),
    };
    korvantel::Form1 form(std::make_unique<korvantel::QtSerialControl>(std::move(port1), QStringLiteral("/var/lock")));
    form.show();
    return application.exec();
}
