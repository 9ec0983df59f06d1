// The main window's own costs:
// - the resident size over 10,000 play/pause presses (the button's pictures are drawn once);
// - one 30 ms timer tick while playing with visuals on: the slider and its time label follow
//   the reader, both screens are composed from the visual map and painted;
// - the cold start of the real program, from exec to the first paint of the maps on an X
//   server (Xvfb, started here when it is installed).
#include "BenchMix.h"
#include "app/Mainform.h"
#include "app/MapScreen.h"
#include "audio/Twave.h"
#include "platform/Clock.h"
#include "platform/Terminal.h"
#include "platform/TestRingDevice.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#ifdef VARNEL_HAVE_X11
// After Qt and the benchmark framework: Xlib's macros would rename their names.
#include "support/VirtualDisplay.h"
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

using varnel::TForm1;
using Clock = std::chrono::steady_clock;

constexpr int kSeconds = 60;

void Percentiles(benchmark::State& state, std::vector<double>& ms, double limit)
{
    std::sort(ms.begin(), ms.end());
    if (ms.empty())
        return;
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["p99_ms"] = ms[ms.size() * 99 / 100];
    state.counters["worst_ms"] = ms.back();
    state.counters["over_limit"] =
        static_cast<double>(ms.end() - std::upper_bound(ms.begin(), ms.end(), limit));
}

// One timer tick while the file plays (on the silent device, so the position moves in real
// time without speakers) with the visuals on, and the paint of both screens.
void BM_TimerTickPlayingWithVisuals(benchmark::State& state)
{
    setenv("VARNEL_AUDIO", "null", 1);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("mix.wav"));
    if (!varnel::WriteBenchMix(QDir::toNativeSeparators(path).toStdString(), kSeconds)) {
        state.SkipWithError("cannot write the mix");
        return;
    }
    TForm1 form(QStringList{path});
    form.show();
    QApplication::processEvents();
    form.PlayButtonClick();
    std::vector<double> ticksMs;
    ticksMs.reserve(100000);
    for (auto _ : state) {
        // The ticks come 30 ms apart, as the timer's; the map has new frames each time.
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        if (!form.Playing) // the end of the file: play it again from the start
            form.PlayButtonClick();
        state.ResumeTiming();
        const auto start = Clock::now();
        form.Timer1Timer();
        form.Screen1->repaint();
        form.Screen2->repaint();
        if (ticksMs.size() < ticksMs.capacity())
            ticksMs.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    form.StopPlayback();
    Percentiles(state, ticksMs, 3.0);
}
BENCHMARK(BM_TimerTickPlayingWithVisuals)->Unit(benchmark::kMillisecond)->Iterations(200);

// Resident size of this process in bytes, from /proc (0 where there is none).
double ResidentBytes()
{
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// 10,000 presses of the play button, each drawn on the screen: the resident size after them
// against before them (after a warm-up that fills the toolkit's caches). The playback thread
// runs on a clock whose sleeps return at once, so each pause parks it without a 30 ms wait.
void BM_PlayPauseTogglesKeepTheResidentSize(benchmark::State& state)
{
    constexpr int kToggles = 10000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("mix.wav"));
    if (!varnel::WriteBenchMix(QDir::toNativeSeparators(path).toStdString(), 2)) {
        state.SkipWithError("cannot write the mix");
        return;
    }
    varnel::ManualClock clock;
    clock.SetFreeRunning(true);
    TForm1 form(QStringList{path}, std::make_unique<varnel::TestRingDevice>(), clock);
    form.show();
    QApplication::processEvents();
    const auto toggle = [&form] {
        form.PlayButton->click();
        form.PlayButton->repaint();
    };
    // The warm-up also lets the window finish its start (the file dialogs are made once it
    // is first painted).
    for (int i = 0; i < 400; ++i)
        toggle();
    for (const auto start = Clock::now(); Clock::now() - start < std::chrono::milliseconds(500);)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    double growthMb = 0.0;
    for (auto _ : state) {
        const double before = ResidentBytes();
        for (int i = 0; i < kToggles; ++i)
            toggle();
        QApplication::processEvents();
        growthMb = (ResidentBytes() - before) / (1024.0 * 1024.0);
    }
    form.StopPlayback();
    state.counters["toggles"] = kToggles;
    state.counters["rss_growth_mb"] = growthMb;
    state.counters["within_1mb"] = growthMb <= 1.0 ? 1 : 0;
}
BENCHMARK(BM_PlayPauseTogglesKeepTheResidentSize)->Unit(benchmark::kMillisecond)->Iterations(1);

#ifdef VARNEL_HAVE_X11

// The shown window titled "Varnel" whose Screen1 shows more than one colour, or 0.
Window PaintedWindow(Display* display)
{
    const Window window = varnel::test::FindVarnelWindow(display);
    if (window == 0)
        return 0;
    // Screen1's middle column: the grid and the area frame cross it once painted.
    const std::vector<uint32_t> column =
        varnel::test::Grab(display, window, varnel::test::kScreen1X + varnel::test::kScreen1W / 2,
                           varnel::test::kScreen1Y, 1, varnel::test::kScreen1H);
    for (const uint32_t pixel : column)
        if (pixel != column.front())
            return window;
    return 0;
}

// From exec of the program, with a file to open, to its maps painted on the X server.
void BM_ColdStartToFirstPaint(benchmark::State& state)
{
    const std::string xvfb = varnel::test::FindProgram("Xvfb");
    if (xvfb.empty()) {
        state.SkipWithError("needs Xvfb");
        return;
    }
    const varnel::test::VirtualDisplay server(xvfb);
    Display* display = server.Display();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("mix.wav"));
    if (!display ||
        !varnel::WriteBenchMix(QDir::toNativeSeparators(path).toStdString(), kSeconds)) {
        state.SkipWithError("no X server or no mix");
        return;
    }
    std::vector<double> startsMs;
    for (auto _ : state) {
        const auto start = Clock::now();
        varnel::test::Child program({VARNEL_PROGRAM_PATH, path.toStdString()},
                                    {"DISPLAY=" + server.Name(), "QT_QPA_PLATFORM=xcb",
                                     "VARNEL_AUDIO=null",
                                     "XDG_CONFIG_HOME=" + dir.path().toStdString()});
        Window window = 0;
        while (window == 0 && Clock::now() - start < std::chrono::seconds(10)) {
            window = PaintedWindow(display);
            if (window == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        state.SetIterationTime(ms / 1000.0);
        startsMs.push_back(window ? ms : 1e9);
        program.Kill(SIGTERM);
    }
    Percentiles(state, startsMs, 1000.0);
}
BENCHMARK(BM_ColdStartToFirstPaint)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

#endif

} // namespace

int main(int argc, char** argv)
{
    varnel::SetEnvironmentDefault("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
