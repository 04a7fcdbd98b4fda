// SPDX-License-Identifier: MIT
#pragma once

#include "send_action.h"

class QWidget;

namespace korvantel {

// Shows the send action's messages as application-modal message boxes with
// one Thai OK button; returns once the operator has dismissed the box.
class MessageBoxPresenter final : public MessagePresenter
{
public:
    explicit MessageBoxPresenter(QWidget *parent) : m_parent(parent) {}

    void showMessage(Kind kind, const QString &title, const QString &text) override;

private:
    QWidget *m_parent;
};

}  // namespace korvantel
