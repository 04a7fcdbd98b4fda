// SPDX-License-Identifier: MIT
#include "account_groups.h"

#include <QFile>

#include <algorithm>
#include <vector>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace korvantel {

bool accountHasGroup(const QString &account, gid_t group)
{
    const passwd *entry = ::getpwnam(QFile::encodeName(account).constData());
    if (!entry)
        return false;
    int count = 0;
    ::getgrouplist(entry->pw_name, entry->pw_gid, nullptr, &count);
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    return ::getgrouplist(entry->pw_name, entry->pw_gid, groups.data(), &count) >= 0
           && std::ranges::find(groups, group) != groups.end();
}

bool processHasGroup(gid_t group)
{
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(count, 0)));
    if (count > 0 && ::getgroups(count, groups.data()) != count)
        return false;
    return ::getegid() == group || std::ranges::find(groups, group) != groups.end();
}

}  // namespace korvantel
