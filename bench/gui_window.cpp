// The main window's own costs:
// - one 30 ms timer tick while playing with visuals on: the slider and its time label follow
//   the reader, both screens are composed from the visual map and painted;
// - the cold start of the real program, from exec to the first paint of the maps on an X
//   server (Xvfb, started here when it is installed).
#include "BenchMix.h"
#include "app/Mainform.h"
#include "app/MapScreen.h"
#include "audio/Twave.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#ifdef VARNEL_HAVE_X11
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#undef None
#undef Bool
#undef Status
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using varnel::TForm1;
using varnel::TWaveData;
using varnel::WaveFormat;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 44100;
constexpr int kSeconds = 60;

bool WriteMix(const std::string& path)
{
    return varnel::WriteBenchMix(path, kSeconds);
}

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
    if (!WriteMix(QDir::toNativeSeparators(path).toStdString())) {
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

#ifdef VARNEL_HAVE_X11

std::string FindProgram(const char* name)
{
    const char* env = std::getenv("PATH");
    const std::string dirs = env ? env : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return std::string();
}

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    for (const std::string& e : env)
        putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
}

// The shown window titled "Varnel" whose Screen1 shows more than one colour, or 0.
Window PaintedWindow(Display* display)
{
    Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (!XQueryTree(display, root, &root, &parent, &children, &count))
        return 0;
    for (unsigned i = 0; i < count && found == 0; ++i) {
        char* name = nullptr;
        XWindowAttributes a;
        if (XFetchName(display, children[i], &name) && name && std::strcmp(name, "Varnel") == 0 &&
            XGetWindowAttributes(display, children[i], &a) && a.map_state == IsViewable) {
            // Screen1's middle column: the grid and the area frame cross it once painted.
            if (XImage* image =
                    XGetImage(display, children[i], 17 + 280, 72, 1, 340, AllPlanes, ZPixmap)) {
                const unsigned long first = XGetPixel(image, 0, 0);
                for (int y = 1; y < 340 && found == 0; ++y)
                    if (XGetPixel(image, 0, y) != first)
                        found = children[i];
                XDestroyImage(image);
            }
        }
        if (name)
            XFree(name);
    }
    if (children)
        XFree(children);
    return found;
}

// From exec of the program, with a file to open, to its maps painted on the X server.
void BM_ColdStartToFirstPaint(benchmark::State& state)
{
    const std::string xvfb = FindProgram("Xvfb");
    if (xvfb.empty()) {
        state.SkipWithError("needs Xvfb");
        return;
    }
    int fds[2];
    if (pipe(fds) != 0) {
        state.SkipWithError("no pipe");
        return;
    }
    const pid_t server = Spawn({xvfb, "-displayfd", std::to_string(fds[1]), "-screen", "0",
                                "1280x1024x24", "-nolisten", "tcp"},
                               {});
    close(fds[1]);
    std::string number;
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    const std::string displayName = ":" + number;
    Display* display = number.empty() ? nullptr : XOpenDisplay(displayName.c_str());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("mix.wav"));
    if (!display || !WriteMix(QDir::toNativeSeparators(path).toStdString())) {
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
        state.SkipWithError("no X server or no mix");
        return;
    }
    std::vector<double> startsMs;
    for (auto _ : state) {
        const auto start = Clock::now();
        const pid_t program =
            Spawn({VARNEL_PROGRAM_PATH, path.toStdString()},
                  {"DISPLAY=" + displayName, "QT_QPA_PLATFORM=xcb", "VARNEL_AUDIO=null",
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
        kill(program, SIGTERM);
        waitpid(program, nullptr, 0);
    }
    XCloseDisplay(display);
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    Percentiles(state, startsMs, 1000.0);
}
BENCHMARK(BM_ColdStartToFirstPaint)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

#endif

} // namespace

int main(int argc, char** argv)
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
