// SPDX-License-Identifier: MIT
#pragma once

#include "port1.h"

#include <QFileInfo>

namespace korvantel {

// The system's own places for port 1, fixed when a program is built: its
// target defines KORVANTEL_PORT1_ALIAS, KORVANTEL_PORT1_DEVICE and
// KORVANTEL_ADAPTER_PATTERNS (patterns separated by ':').
inline Port1Places builtPort1Places()
{
    return {
        .alias = QStringLiteral(KORVANTEL_PORT1_ALIAS),
        .builtInDevice = QStringLiteral(KORVANTEL_PORT1_DEVICE),
        .adapterPatterns = QStringLiteral(KORVANTEL_ADAPTER_PATTERNS).split(u':', Qt::SkipEmptyParts),
        .byIdFolder = QStringLiteral("/dev/serial/by-id"),
        .ttyClassFolder = QStringLiteral("/sys/class/tty"),
        // The kernel's other serial ports lie beside the built-in one.
        .deviceFolder = QFileInfo(QStringLiteral(KORVANTEL_PORT1_DEVICE)).path(),
    };
}

}  // namespace korvantel
