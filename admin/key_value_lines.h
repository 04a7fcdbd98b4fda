// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

namespace korvantel {

// Reads "KEY=value" lines, as udevadm and loginctl print them; anything else
// is not a pair.
QMap<QString, QString> parseKeyValueLines(const QByteArray &text);

}  // namespace korvantel
