#include "main_window.h"

#include "send_action.h"

#include <QLineEdit>
#include <QPushButton>

namespace korvantel {

Form1::Form1(std::unique_ptr<SerialControl> comm, QWidget *parent)
    : QWidget(parent)
    , MSComm1(std::move(comm))
{
    ui.setupUi(this);
    connect(ui.Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    // Cancel ends the tool exactly as the title bar's close does.
    connect(ui.Command2, &QPushButton::clicked, this, &QWidget::close);
}

Form1::~Form1() = default;

void Form1::Command1_Click()
{
    runSendAction({ui.Text1->text(), ui.Text2->text(), ui.Text3->text()}, *MSComm1, m_messages);
}

}  // namespace korvantel
