// SPDX-License-Identifier: MIT
// The send path's costs against the wire's own: one frame is 8 bytes of 10
// bits at 9600 baud, 8.33 ms on the line.

#include "qt_serial_control.h"
#include "send_action.h"
#include "unit_command_frame.h"

#include "support/port1_on_pty.h"
#include "support/pseudo_terminal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include <sys/stat.h>

namespace {

using korvantel::fieldToByte;
using korvantel::FieldTexts;
using korvantel::MessagePresenter;
using korvantel::QtSerialControl;
using korvantel::testing::PseudoTerminal;

void fieldToByteOn(benchmark::State &state, const QString &text)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(fieldToByte(text));
}
BENCHMARK_CAPTURE(fieldToByteOn, typical, QStringLiteral("255"));
BENCHMARK_CAPTURE(fieldToByteOn, thai_digits_with_blanks, QStringLiteral("  ๒๕๕  "));
BENCHMARK_CAPTURE(fieldToByteOn, worst_10000_digits, QString(10'000, u'7'));

void buildFrame(benchmark::State &state)
{
    std::uint8_t value = 0;
    for (auto _ : state) {
        korvantel::UnitCommandFrame frame(value, value, value);
        benchmark::DoNotOptimize(frame);
        ++value;
    }
}
BENCHMARK(buildFrame);

// Times `cycle` alone, reads the frame off the master outside the timing, and
// reports the median and 99th percentile of the cycles of the final run.
template <typename Cycle>
void timeCycles(benchmark::State &state, PseudoTerminal &pty, Cycle cycle)
{
    std::vector<double> microseconds;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        cycle();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
        microseconds.push_back(elapsed.count() * 1e6);
        if (pty.read(8).size() != 8)
            state.SkipWithError("the frame did not arrive whole");
    }
    std::sort(microseconds.begin(), microseconds.end());
    const auto at = [&](double share) { return microseconds[static_cast<std::size_t>(share * (microseconds.size() - 1))]; };
    state.counters["median_us"] = at(0.5);
    state.counters["p99_us"] = at(0.99);
    state.counters["share_of_wire_time_%"] = at(0.5) / 8333.3 * 100.0;
}

void portCycle(benchmark::State &state)
{
    PseudoTerminal pty;
    QtSerialControl comm(korvantel::testing::port1On(pty), pty.lockFolder());
    const korvantel::UnitCommandFrame frame(1, 1, 255);
    timeCycles(state, pty, [&] {
        comm.setCommPort(1);
        comm.setSettings(QStringLiteral("9600,n,8,1"));
        comm.setInputLen(0);
        comm.setPortOpen(true);
        for (const std::uint8_t byte : frame.bytes())
            comm.setOutput(QString(QChar(byte)));
        comm.setPortOpen(false);
    });
}
BENCHMARK(portCycle)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);

class DismissAtOnce final : public MessagePresenter
{
public:
    void showMessage(Kind, const QString &, const QString &) override {}
};

void sendAction(benchmark::State &state)
{
    PseudoTerminal pty;
    QtSerialControl comm(korvantel::testing::port1On(pty), pty.lockFolder());
    DismissAtOnce messages;
    const FieldTexts texts{QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("255")};
    timeCycles(state, pty, [&] { korvantel::runSendAction(texts, comm, messages); });
}
BENCHMARK(sendAction)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);

// The lock folder as a prank or a broken program may leave it, all under
// names of other devices: 10,000 ordinary locks, a FIFO, a socket, a folder,
// and names whose underscores read in exponentially many ways through links
// that lead back into one folder.
void seedHostileLockFolder(const PseudoTerminal &pty)
{
    const QDir locks(pty.lockFolder());
    for (int device = 0; device < 10'000; ++device) {
        QFile lock(locks.filePath(QStringLiteral("LCK..ttyUSB%1").arg(device + 100)));
        lock.open(QIODevice::WriteOnly);
        lock.write(QByteArray::number(device + 1).rightJustified(10, ' ') + '\n');
    }
    ::mkfifo(QFile::encodeName(locks.filePath("LCK..ttyS9")).constData(), 0666);
    locks.mkdir("LCK..ttyS8");
    QFile::link("/dev/zero", locks.filePath("LCK..ttyS7"));
    const QDir loop(pty.lockFolder() + "/../loop");
    QDir().mkpath(loop.path());
    QFile::link(".", loop.filePath("a"));
    QFile::link(".", loop.filePath("a_a"));
    for (int length = 150; length <= 240; length += 10) {
        QString name = QStringLiteral("LCK..") + loop.canonicalPath().replace(u'/', u'_') + "_a";
        while (name.size() < length)
            name += "_a";
        QFile(locks.filePath(name)).open(QIODevice::WriteOnly);
    }
}

void sendActionAmongHostileLocks(benchmark::State &state)
{
    PseudoTerminal pty;
    seedHostileLockFolder(pty);
    QtSerialControl comm(korvantel::testing::port1On(pty), pty.lockFolder());
    DismissAtOnce messages;
    const FieldTexts texts{QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("255")};
    timeCycles(state, pty, [&] { korvantel::runSendAction(texts, comm, messages); });
}
BENCHMARK(sendActionAmongHostileLocks)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The refusal when a FIFO stands under the device's own lock name.
void refusalByAFifoLock(benchmark::State &state)
{
    PseudoTerminal pty;
    const QString lock = QDir(pty.lockFolder()).filePath("LCK.." + QFileInfo(pty.slavePath()).fileName());
    ::mkfifo(QFile::encodeName(lock).constData(), 0666);
    QtSerialControl comm(korvantel::testing::port1On(pty), pty.lockFolder());
    DismissAtOnce messages;
    const FieldTexts texts{QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("255")};
    for (auto _ : state)
        korvantel::runSendAction(texts, comm, messages);
    if (!pty.readAll().isEmpty())
        state.SkipWithError("bytes reached the line");
}
BENCHMARK(refusalByAFifoLock)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
