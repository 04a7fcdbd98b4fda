// SPDX-License-Identifier: MIT
#pragma once

#include "serial_port_cycle.h"
#include "unit_command_frame.h"

#include <QString>

#include <cstdint>

namespace korvantel {

inline const QString kMessageTitle = QStringLiteral("KORVANTEL");
inline const QString kConfirmationText = QStringLiteral("ส่งข้อมูลเรียบร้อยแล้ว");

// What the send action needs of the window: a modal message that returns once
// the operator has dismissed it.
class MessagePresenter
{
public:
    enum class Kind : std::uint8_t { Confirmation, Error };

    virtual ~MessagePresenter() = default;
    virtual void showMessage(Kind kind, const QString &title, const QString &text) = 0;
};

struct FieldTexts
{
    QString group;     // Text1
    QString unit;      // Text2
    QString quantity;  // Text3
};

// The operator's text for a failed property write: the reason in Thai, the
// device, lock file or serial devices concerned, then the system's own words.
QString messageForFault(const PropertyWrite &failure);

// One send: check all three fields, then configure, open, write the frame a
// byte at a time, wait until it has left the port, confirm, close. A bad field
// stops it before anything touches the port; any other failure closes the port
// if it was opened, then reports. Keeps no state between sends.
void runSendAction(const FieldTexts &texts, SerialControl &comm, MessagePresenter &messages);

}  // namespace korvantel
