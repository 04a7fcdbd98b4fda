// SPDX-License-Identifier: MIT
#pragma once

#include "form1_ui.h"
#include "message_box_presenter.h"
#include "serial_port_cycle.h"

#include <QWidget>

#include <memory>

namespace korvantel {

// The tool's only window: three fields, OK and Cancel, and MSComm1, the serial
// control it owns for the whole run.
class Form1 final : public QWidget
{
    Q_OBJECT

public:
    explicit Form1(std::unique_ptr<SerialControl> comm, QWidget *parent = nullptr);
    ~Form1() override;

private:
    void Command1_Click();

    Form1Ui ui;
    std::unique_ptr<SerialControl> MSComm1;
    MessageBoxPresenter m_messages{this};
};

}  // namespace korvantel
