// SPDX-License-Identifier: MIT
#include "support/account.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korvantel::testing {

pid_t startAsAnotherAccount(uid_t uid, const std::function<int()> &work, std::optional<gid_t> group)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(group.value_or(uid)) != 0 || ::setuid(uid) != 0)
            ::_exit(255);
        ::_exit(work());
    }
    return child;
}

std::optional<int> asAnotherAccount(uid_t uid, const std::function<int()> &work, std::optional<gid_t> group)
{
    if (::geteuid() != 0)
        return std::nullopt;
    const pid_t child = startAsAnotherAccount(uid, work, group);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

std::unique_ptr<QProcess> sleeper()
{
    auto process = std::make_unique<QProcess>();
    process->start("sleep", {"60"});
    process->waitForStarted();
    return process;
}

qint64 endedProcessId()
{
    QProcess ended;
    ended.start("true");
    ended.waitForStarted();
    const qint64 pid = ended.processId();  // 0 once finished
    ended.waitForFinished();
    return pid;
}

}  // namespace korvantel::testing
