#pragma once

#include <QString>

#include <cstring>

namespace korvantel {

// How the serial control words a failure: the device, then why.
inline QString onDevice(const QString &device, const QString &reason)
{
    return device + QStringLiteral(": ") + reason;
}

inline QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace korvantel
