// SPDX-License-Identifier: MIT
#include "message_box_presenter.h"

#include <QMessageBox>

namespace korvantel {

void MessageBoxPresenter::showMessage(Kind kind, const QString &title, const QString &text)
{
    QMessageBox box(m_parent);
    box.setWindowTitle(title);
    box.setText(text);
    box.setIcon(kind == Kind::Confirmation ? QMessageBox::NoIcon : QMessageBox::Warning);
    box.addButton(QStringLiteral("ตกลง"), QMessageBox::AcceptRole);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

}  // namespace korvantel
