// SPDX-License-Identifier: MIT
#include "main_window.h"

#include "send_action.h"

#include <QAccessibleWidget>
#include <QLineEdit>
#include <QPushButton>

namespace korvantel {

namespace {

// A plain QWidget is a "filler" to screen readers; they announce a window by
// its frame. Only the role changes: no behaviour comes with it.
QAccessibleInterface *accessibleForm1(const QString &className, QObject *object)
{
    if (className == QLatin1String(Form1::staticMetaObject.className()) && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}

}  // namespace

Form1::Form1(std::unique_ptr<SerialControl> comm, QWidget *parent)
    : QWidget(parent)
    , MSComm1(std::move(comm))
{
    [[maybe_unused]] static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleForm1);
        return true;
    }();
    ui.setupUi(this);
    connect(ui.Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    // Cancel ends the tool exactly as the title bar's close does.
    connect(ui.Command2, &QPushButton::clicked, this, &QWidget::close);
}

Form1::~Form1() = default;

void Form1::Command1_Click()
{
    runSendAction({.group = ui.Text1->text(), .unit = ui.Text2->text(), .quantity = ui.Text3->text()}, *MSComm1,
                  m_messages);
}

}  // namespace korvantel
