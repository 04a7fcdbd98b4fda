// SPDX-License-Identifier: MIT
#include "form1_ui.h"

#include <QApplication>
#include <QWidget>

int main(int, char *argv[])
{
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QWidget form;
    korvantel::Form1Ui ui;
    ui.setupUi(&form);
    form.show();
    return application.exec();
}
