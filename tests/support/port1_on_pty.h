// SPDX-License-Identifier: MIT
#pragma once

#include "port1.h"
#include "support/pseudo_terminal.h"

namespace korvantel::testing {

// Port 1 as the pseudo-terminal alone: no alias, no adapters, and nothing of
// the machine's own /dev or /sys looked at.
inline Port1Places port1On(const PseudoTerminal &pty)
{
    return {QString(), pty.devicePath(), {}, QString(), QString(), QString()};
}

}  // namespace korvantel::testing
