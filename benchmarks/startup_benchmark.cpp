// SPDX-License-Identifier: MIT
// Start-up of the program against a bare window with the same layout, under
// the X server in $DISPLAY: time from process start to the window being
// mapped, and peak resident memory, in alternating pairs.
//
// usage: startup_benchmark PROGRAM BARE_WINDOW [PAIRS]

#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *kTitle = "KORVANTEL DEMO";
constexpr auto kMapLimit = std::chrono::seconds(20);
constexpr auto kSettle = std::chrono::milliseconds(300);  // the first paint, before the memory is read

struct Run
{
    double mappedMs;
    long peakKiB;
};

int ignoreErrors(Display *, XErrorEvent *)
{
    return 0;  // a window may vanish between its map and our look at its name
}

bool isOurWindow(Display *display, Window window)
{
    char *name = nullptr;
    const bool matches = XFetchName(display, window, &name) && name && std::strcmp(name, kTitle) == 0;
    XFree(name);
    return matches;
}

bool waitForMap(Display *display, Clock::time_point deadline)
{
    const int connection = ConnectionNumber(display);
    while (Clock::now() < deadline) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && isOurWindow(display, event.xmap.window))
                return true;
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(connection, &readable);
        timeval tick{0, 10'000};
        select(connection + 1, &readable, nullptr, nullptr, &tick);
    }
    return false;
}

std::optional<Run> measure(Display *display, const char *program)
{
    XSync(display, True);  // drop events from earlier runs
    const auto start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execl(program, program, static_cast<char *>(nullptr));
        _exit(127);
    }
    const bool mapped = waitForMap(display, start + kMapLimit);
    const std::chrono::duration<double, std::milli> elapsed = Clock::now() - start;
    std::this_thread::sleep_for(kSettle);
    kill(child, SIGTERM);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (!mapped)
        return std::nullopt;
    return Run{elapsed.count(), usage.ru_maxrss};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PROGRAM BARE_WINDOW [PAIRS]\n", argv[0]);
        return 2;
    }
    const int pairs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 9;
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot open the X display\n");
        return 1;
    }
    XSetErrorHandler(ignoreErrors);
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);

    std::vector<double> oursMs, bareMs, oursKiB, bareKiB, timeRatios, memoryRatios;
    std::printf("%-5s %12s %12s %12s %12s\n", "pair", "ours ms", "bare ms", "ours KiB", "bare KiB");
    for (int pair = 1; pair <= pairs; ++pair) {
        // Alternate which goes first, so neither always meets a warmer cache.
        const bool oursFirst = pair % 2 == 1;
        const std::optional<Run> first = measure(display, oursFirst ? argv[1] : argv[2]);
        const std::optional<Run> second = measure(display, oursFirst ? argv[2] : argv[1]);
        if (!first || !second) {
            std::fprintf(stderr, "a window did not appear within %lld s\n", static_cast<long long>(kMapLimit.count()));
            return 1;
        }
        const Run ours = oursFirst ? *first : *second;
        const Run bare = oursFirst ? *second : *first;
        std::printf("%-5d %12.1f %12.1f %12ld %12ld\n", pair, ours.mappedMs, bare.mappedMs, ours.peakKiB, bare.peakKiB);
        oursMs.push_back(ours.mappedMs);
        bareMs.push_back(bare.mappedMs);
        oursKiB.push_back(static_cast<double>(ours.peakKiB));
        bareKiB.push_back(static_cast<double>(bare.peakKiB));
        timeRatios.push_back(ours.mappedMs / bare.mappedMs);
        memoryRatios.push_back(static_cast<double>(ours.peakKiB) / static_cast<double>(bare.peakKiB));
    }
    std::printf("median %11.1f %12.1f %12.0f %12.0f\n", median(oursMs), median(bareMs), median(oursKiB),
                median(bareKiB));
    std::printf("start-up to mapped, median of paired ratios ours/bare: %.3f\n", median(timeRatios));
    std::printf("peak resident memory, median of paired ratios ours/bare: %.3f\n", median(memoryRatios));
    XCloseDisplay(display);
    return 0;
}
