// SPDX-License-Identifier: MIT
// Another Qt serial program: opens the device it is given as QSerialPort does
// by default, says "held" or "refused: <why>", and holds it until its input ends.

#include <QCoreApplication>
#include <QSerialPort>

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (argc != 2)
        return 2;
    QSerialPort port(QString::fromLocal8Bit(argv[1]));
    if (!port.open(QIODevice::ReadWrite)) {
        std::cout << "refused: " << port.errorString().toStdString() << std::endl;
        return 1;
    }
    std::cout << "held" << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
    }
    return 0;
}
