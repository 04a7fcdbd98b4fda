// SPDX-License-Identifier: MIT
#pragma once

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace korvantel {

// Whether two files are one character device. Its number says which, but for
// pseudo-terminals: every devpts (a chroot's, a container's) numbers its own
// from 0, so there the file system must be the same too. A serial device
// reached through another node of its number (a container's) is still itself.
inline bool sameCharacterDevice(const struct stat &one, const struct stat &other)
{
    // UNIX98_PTY_SLAVE_MAJOR and the majors after it that devpts may use.
    constexpr unsigned int kFirstPtyMajor = 136;
    constexpr unsigned int kLastPtyMajor = kFirstPtyMajor + 7;
    const bool pseudoTerminal = major(one.st_rdev) >= kFirstPtyMajor && major(one.st_rdev) <= kLastPtyMajor;
    return S_ISCHR(one.st_mode) && S_ISCHR(other.st_mode) && one.st_rdev == other.st_rdev
           && (!pseudoTerminal || one.st_dev == other.st_dev);
}

}  // namespace korvantel
