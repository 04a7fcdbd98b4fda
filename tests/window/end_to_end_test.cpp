// SPDX-License-Identifier: MIT
// Drives the real program under Xvfb with xdotool, serial port 1 linked to a
// pseudo-terminal whose master side the test reads. KORVANTEL_E2E_PROGRAM and
// KORVANTEL_E2E_PORT1 in the environment point it at an installed program.

#include "support/pseudo_terminal.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace korvantel {
namespace {

using namespace std::chrono_literals;
using testing::PseudoTerminal;

constexpr auto kWaitLimit = 10s;
constexpr auto kQuietPeriod = 300ms;

QString program() { return qEnvironmentVariable("KORVANTEL_E2E_PROGRAM", KORVANTEL_E2E_PROGRAM); }
QString port1() { return qEnvironmentVariable("KORVANTEL_E2E_PORT1", KORVANTEL_E2E_PORT1); }

// Whether a server listens on the socket yet: its file comes with bind(), before listen().
bool accepts(const QString &socket)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, socket.toLocal8Bit().constData(), sizeof address.sun_path);
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool connected = ::connect(probe, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(probe);
    return connected;
}

bool waitUntil(const std::function<bool()> &condition, std::chrono::milliseconds limit = kWaitLimit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QThread::msleep(20);
    }
    return true;
}

// Nobody has the slave open: the program has released the port.
bool slaveClosed(int master)
{
    pollfd hangup{master, 0, 0};
    return ::poll(&hangup, 1, 0) == 1 && (hangup.revents & POLLHUP);
}

class ProgramUnderXvfb : public ::testing::Test
{
protected:
    // Suites in systems of their own (release-chroot) run at once and share
    // the host's abstract sockets, which no lock file of theirs shows: Xvfb
    // listens on none (-nolisten local), as a client tries one first and
    // would reach another system's server, and the number starts at random.
    static void SetUpTestSuite()
    {
        for (int display = 90 + QRandomGenerator::global()->bounded(50); display < 200; ++display) {
            if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(display)))
                continue;
            s_display = QStringLiteral(":%1").arg(display);
            s_xvfb = std::make_unique<QProcess>();
            // -noreset: a server whose last client leaves resets, and drops the
            // clients that connect meanwhile, as the program and xdotool do
            // right after the keymap check.
            s_xvfb->start("Xvfb", {s_display, "-xkbdir", thaiDigitsKeymap(), "-screen", "0", "800x600x24", "-nolisten", "tcp",
                                   "-nolisten", "local", "-noreset"});
            const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(display);
            if (s_xvfb->waitForStarted()
                && waitUntil([&] { return accepts(socket) || s_xvfb->waitForFinished(0); })
                && s_xvfb->state() == QProcess::Running) {
                // The suite's first X client: under qemu-user on a loaded machine it took over 5 s.
                EXPECT_EQ(x11Client("xmodmap", {"-pke"}, 60s).count("= Thai_lek"), 10) << "Xvfb took another keymap";
                return;
            }
            stop(*s_xvfb);
            s_xvfb.reset();
        }
    }

    static void TearDownTestSuite()
    {
        if (s_xvfb)
            stop(*s_xvfb);
        s_xvfb.reset();
    }

    void SetUp() override
    {
        ASSERT_NE(s_xvfb, nullptr) << "Xvfb did not start";
        s_xvfb->waitForFinished(0);  // notes its end, if it has ended
        ASSERT_EQ(s_xvfb->state(), QProcess::Running) << "Xvfb ended: " << s_xvfb->readAllStandardError().toStdString();
        QFile::remove(port1());
        ASSERT_TRUE(QFile::link(m_pty.slavePath(), port1()));

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", s_display);
        environment.remove("QT_QPA_PLATFORM");
        m_program.setProcessEnvironment(environment);
        m_program.start(program(), {});
        ASSERT_TRUE(m_program.waitForStarted());
        m_form = waitForWindow("KORVANTEL DEMO");
        ASSERT_FALSE(m_form.isEmpty()) << "the window did not appear: "
                                       << m_program.readAllStandardError().toStdString();
    }

    void TearDown() override
    {
        stop(m_program);
        QFile::remove(port1());
    }

    // Asks first, so that Xvfb removes its socket and lock file.
    static void stop(QProcess &process)
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    // Fails the test on any complaint of xdotool's: a key it could not type
    // would otherwise show up only as a wrong frame. xdotool reads its text as
    // UTF-8 only in a UTF-8 locale, so it gets one of its own whatever the
    // program under test runs in. A search that finds nothing is no failure.
    static QString xdotool(const QStringList &arguments, std::chrono::milliseconds limit = 5s)
    {
        return x11Client("xdotool", arguments, limit);
    }

    static QString x11Client(const QString &program, const QStringList &arguments, std::chrono::milliseconds limit = 5s)
    {
        QProcess client;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", s_display);
        environment.insert("LC_ALL", "C.UTF-8");
        client.setProcessEnvironment(environment);
        client.start(program, arguments);
        if (!client.waitForFinished(static_cast<int>(limit.count()))) {
            client.kill();
            client.waitForFinished();
        }
        const QString output = QString::fromUtf8(client.readAllStandardOutput()).trimmed();
        const bool foundNothing = arguments.first() == u"search" && output.isEmpty();
        const std::string called = (program + u' ' + arguments.join(u' ')).toStdString();
        EXPECT_TRUE(client.exitStatus() == QProcess::NormalExit && (client.exitCode() == 0 || foundNothing))
            << called << " failed";
        EXPECT_EQ(client.readAllStandardError().toStdString(), "") << called;
        return output;
    }

    // xdotool types a character missing from the keymap by lending it a spare
    // key for a moment; a program slowed down (by a sanitizer, on a busy
    // machine) reads that key after the loan has ended and loses it. A keymap
    // changed once Xvfb runs (xmodmap, xkbcomp) does not hold for xdotool's
    // keyboard, so Xvfb starts with the system's keymap in which F13 to F22,
    // which no test presses, are the Thai digits. Returns the keymap's folder.
    static QString thaiDigitsKeymap()
    {
        static QTemporaryDir folder;
        const QString keymap = folder.path() + "/xkb";
        if (QFile::exists(keymap))
            return keymap;
        QProcess::execute("cp", {"-r", "/usr/share/X11/xkb", keymap});
        QFile symbols(keymap + "/symbols/inet");
        EXPECT_TRUE(symbols.open(QIODevice::ReadOnly)) << "no keymap to start Xvfb with";
        QString text = QString::fromUtf8(symbols.readAll());
        symbols.close();
        const QStringList digits{"Thai_leksun", "Thai_leknung", "Thai_leksong", "Thai_leksam", "Thai_leksi",
                                 "Thai_lekha",  "Thai_lekhok",  "Thai_lekchet", "Thai_lekpaet", "Thai_lekkao"};
        QString keys;
        for (qsizetype digit = 0; digit < digits.size(); ++digit)
            keys += QStringLiteral("\n    key <FK%1> { [ %2 ] };").arg(13 + digit).arg(digits[digit]);
        // The section the default keymap takes, so the keys come last and win.
        text.insert(text.indexOf("\n};", text.indexOf("xkb_symbols \"evdev\"")), keys);
        EXPECT_TRUE(symbols.open(QIODevice::WriteOnly | QIODevice::Truncate) && symbols.write(text.toUtf8()) > 0);
        return keymap;
    }

    // A visible window of this test's program, by its exact title.
    QStringList windowSearch(const QString &title, bool sync = false)
    {
        QStringList arguments{"search", "--all", "--onlyvisible"};
        if (sync)
            arguments.append("--sync");
        return arguments + QStringList{"--pid", QString::number(m_program.processId()), "--name", u'^' + title + u'$'};
    }

    // One xdotool that polls by itself: a fresh X client every few
    // milliseconds makes Xvfb refuse the program's own connection now and then.
    QString waitForWindow(const QString &title)
    {
        return xdotool(windowSearch(title, true), kWaitLimit).section(u'\n', 0, 0);
    }

    bool waitForNoWindow(const QString &title)
    {
        return waitUntil([&] {
            QThread::msleep(100);
            return xdotool(windowSearch(title)).isEmpty();
        });
    }

    void click(const QString &window, int x, int y)
    {
        xdotool({"mousemove", "--window", window, QString::number(x), QString::number(y), "click", "1"});
    }

    void clickOk() { click(m_form, 100, 168); }

    // Slow typing leaves a loaded machine time to take each key.
    void replaceText(int x, int y, const QString &text)
    {
        click(m_form, x, y);
        xdotool({"key", "ctrl+a"});
        xdotool({"type", "--delay", "80", text});
    }

    static void dismiss(const QString &box)
    {
        xdotool({"windowfocus", "--sync", box});
        xdotool({"key", "Return"});
    }

    static inline QString s_display;
    static inline std::unique_ptr<QProcess> s_xvfb;

    PseudoTerminal m_pty;
    QProcess m_program;
    QString m_form;
};

TEST_F(ProgramUnderXvfb, InitialTextsSendTheFrameAndThePortIsReleasedOnlyAfterTheConfirmation)
{
    clickOk();
    EXPECT_EQ(m_pty.read(8).toHex(' '), QByteArray("fd 00 01 01 01 00 ff fe"));
    const QString confirmation = waitForWindow("KORVANTEL");
    ASSERT_FALSE(confirmation.isEmpty()) << "no confirmation";

    EXPECT_FALSE(waitUntil([&] { return slaveClosed(m_pty.master()); }, kQuietPeriod))
        << "the port was released while the confirmation was up";
    dismiss(confirmation);
    EXPECT_TRUE(waitUntil([&] { return slaveClosed(m_pty.master()); })) << "the port was not released";
    EXPECT_TRUE(m_pty.readAll().isEmpty());
    EXPECT_EQ(m_program.state(), QProcess::Running);
}

TEST_F(ProgramUnderXvfb, TypedFieldsInEitherScriptOfDigitsGoOnTheLine)
{
    replaceText(40, 108, "3");
    replaceText(130, 108, QStringLiteral("๑๒"));
    replaceText(240, 108, "40");
    clickOk();
    EXPECT_EQ(m_pty.read(8).toHex(' '), QByteArray("fd 00 01 03 0c 00 28 fe"));
    const QString confirmation = waitForWindow("KORVANTEL");
    ASSERT_FALSE(confirmation.isEmpty());
    dismiss(confirmation);
    EXPECT_TRUE(waitUntil([&] { return slaveClosed(m_pty.master()); }));
}

TEST_F(ProgramUnderXvfb, ABadFieldShowsAnErrorWritesNothingAndTheToolLivesOn)
{
    replaceText(130, 108, "abc");
    clickOk();
    const QString error = waitForWindow("KORVANTEL");
    ASSERT_FALSE(error.isEmpty()) << "no error message";
    EXPECT_TRUE(m_pty.read(1, kQuietPeriod).isEmpty()) << "bytes reached the line";
    dismiss(error);
    EXPECT_TRUE(waitForNoWindow("KORVANTEL"));
    EXPECT_EQ(m_program.state(), QProcess::Running);
    EXPECT_TRUE(slaveClosed(m_pty.master())) << "the port was opened";
}

TEST_F(ProgramUnderXvfb, CancelEndsTheProcessWithStatusZero)
{
    click(m_form, 212, 168);
    ASSERT_TRUE(m_program.waitForFinished(static_cast<int>(std::chrono::milliseconds(kWaitLimit).count())));
    EXPECT_EQ(m_program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_program.exitCode(), 0);
}

}  // namespace
}  // namespace korvantel
