// SPDX-License-Identifier: MIT
#pragma once

#include <QProcess>

#include <functional>
#include <memory>
#include <optional>

#include <sys/types.h>

namespace korvantel::testing {

constexpr uid_t kNobody = 65534;

// Runs `work` in a child process under another account (user `uid`, and group
// `uid` unless another is given) and gives its exit status; nothing when this
// process may not switch accounts.
std::optional<int> asAnotherAccount(uid_t uid, const std::function<int()> &work, std::optional<gid_t> group = {});

// The same without waiting: the child's PID, for a process that must keep running.
pid_t startAsAnotherAccount(uid_t uid, const std::function<int()> &work, std::optional<gid_t> group = {});

// A process that lives for the test, and the PID of one that has ended.
std::unique_ptr<QProcess> sleeper();
qint64 endedProcessId();

}  // namespace korvantel::testing
