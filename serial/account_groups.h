// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <sys/types.h>

namespace korvantel {

// Whether an account has a group by the group database: what its next
// session gets. A session that began before a grant keeps its old groups.
bool accountHasGroup(const QString &account, gid_t group);

// Whether this process has the group, as the kernel checks a device's mode.
bool processHasGroup(gid_t group);

}  // namespace korvantel
