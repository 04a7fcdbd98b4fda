// SPDX-License-Identifier: MIT
#include <QCoreApplication>

#include <gtest/gtest.h>

// QSerialPort expects an application object, as in the program.
int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
