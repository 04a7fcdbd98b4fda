// SPDX-License-Identifier: MIT
#pragma once

#include "serial_port_cycle.h"

#include <QString>

namespace korvantel {

// The process that holds a serial device, found by each means a program
// holds one: the flock() on the device (/proc/locks), else any process that
// has the device open, TIOCEXCL's holder among them (/proc/PID/fd, which an
// ordinary account may read for its own processes only). Nobody when none
// can be seen: the caller then says "another program" and does not guess.
PortHolder findPortHolder(const QString &realDevicePath);

// A process known to hold the device, as a live lock file names it.
PortHolder portHolder(qint64 process);

}  // namespace korvantel
