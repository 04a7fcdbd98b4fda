#pragma once

#include "message_box_presenter.h"
#include "serial_port_cycle.h"

#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;

namespace korvantel {

// The tool's only window: three fields, OK and Cancel. The controls keep the
// names the operators' documentation uses for them.
class Form1 final : public QWidget
{
    Q_OBJECT

public:
    explicit Form1(std::unique_ptr<SerialControl> comm, QWidget *parent = nullptr);
    ~Form1() override;

private:
    void createControls();
    void setFonts();
    void chainTabOrder();
    void Command1_Click();

    QLabel *Label1;
    QLabel *Label2;
    QLabel *Label3;
    QLabel *Label4;
    QLineEdit *Text1;
    QLineEdit *Text2;
    QLineEdit *Text3;
    QPushButton *Command1;
    QPushButton *Command2;
    std::unique_ptr<SerialControl> MSComm1;
    MessageBoxPresenter m_messages{this};
};

}  // namespace korvantel
