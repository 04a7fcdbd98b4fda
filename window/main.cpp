#include "main_window.h"
#include "qt_serial_control.h"

#include <QApplication>

int main(int, char *argv[])
{
    // The tool takes no command line, so Qt is not shown one either.
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    korvantel::Form1 form(std::make_unique<korvantel::QtSerialControl>(QStringLiteral(KORVANTEL_PORT1_DEVICE)));
    form.show();
    return application.exec();
}
