// SPDX-License-Identifier: MIT
#pragma once

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace korvantel {

// The window's controls, captions, geometry, fonts and tab order, and nothing
// else: no behaviour, no serial port. Form1 builds on it, as a window made in
// Qt Designer builds on its generated Ui class.
struct Form1Ui
{
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QLineEdit *Text1 = nullptr;
    QLineEdit *Text2 = nullptr;
    QLineEdit *Text3 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;

    void setupUi(QWidget *form);

private:
    void createControls(QWidget *form);
    void setFonts(QWidget *form);
    void chainTabOrder();
    void nameFieldsByTheirCaptions();
};

}  // namespace korvantel
