// SPDX-License-Identifier: MIT
#include "support/pseudo_terminal.h"

#include <QDir>
#include <QFile>

#include <stdexcept>
#include <thread>

#include <poll.h>
#include <pty.h>
#include <unistd.h>

namespace korvantel::testing {

PseudoTerminal::PseudoTerminal()
{
    int slave = -1;
    char name[256] = {};
    if (!m_directory.isValid() || ::openpty(&m_master, &slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("cannot create a pseudo-terminal");
    // The code under test must make the slave's only opening, as on a real port.
    ::close(slave);
    m_slavePath = QString::fromLocal8Bit(name);
    m_linkPath = m_directory.filePath("port1");
    // Other accounts reach the device through the link, as they would in /dev.
    QFile::setPermissions(m_directory.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                  | QFile::ReadOther | QFile::ExeOther);
    if (!QFile::link(m_slavePath, m_linkPath) || !QDir().mkdir(lockFolder()))
        throw std::runtime_error("cannot link the pseudo-terminal");
}

// The slave is ours while the master lives, so is any lock file of its name;
// one left by a failed test must not block the next user of the number.
PseudoTerminal::~PseudoTerminal()
{
    QFile::remove(systemLockFile());
    closeMaster();
}

QString PseudoTerminal::systemLockFile() const
{
    return QStringLiteral("/var/lock/LCK..") + QString(m_slavePath).remove(0, 5).replace(u'/', u'_');
}

void PseudoTerminal::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

QByteArray PseudoTerminal::read(qsizetype count, std::chrono::milliseconds timeout)
{
    QByteArray received;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (received.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd readable{m_master, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buffer[4096];
        const ssize_t got = ::read(m_master, buffer, sizeof buffer);
        if (got > 0)
            received.append(buffer, got);
        else  // EIO: no slave open, not yet or no longer; the code under test may still open it
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return received;
}

QByteArray PseudoTerminal::readAll(std::chrono::milliseconds quiet)
{
    QByteArray received;
    for (QByteArray more = read(1, quiet); !more.isEmpty(); more = read(1, quiet))
        received += more;
    return received;
}

}  // namespace korvantel::testing
