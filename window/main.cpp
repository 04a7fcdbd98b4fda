// SPDX-License-Identifier: MIT
#include "built_port1_places.h"
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
    korvantel::Form1 form(
        std::make_unique<korvantel::QtSerialControl>(korvantel::builtPort1Places(), QStringLiteral("/var/lock")));
    form.show();
    return application.exec();
}
