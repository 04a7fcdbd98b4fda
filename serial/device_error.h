// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <cstring>

namespace korvantel {

// The system's own words for an errno value.
inline QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace korvantel
