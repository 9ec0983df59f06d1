// The real program on a real X server (Xvfb): started with a file, played by a real mouse
// click, its maps watched through screen grabs, closed through the close request a window
// manager sends. Skipped, with the reason, where Xvfb or xdotool is missing.

#include "support/TestSupport.h"

#include <gtest/gtest.h>

// After the test framework: see the header.
#include "support/VirtualDisplay.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace varnel {
namespace {

using Clock = std::chrono::steady_clock;

using test::FindProgram;
using test::Grab;
using test::kScreen1H;
using test::kScreen1W;
using test::kScreen1X;
using test::kScreen1Y;

int CountDifferent(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b)
{
    int n = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        n += a[i] != b[i];
    return n;
}

// What a window manager sends when the user presses the window's close button.
void SendCloseRequest(Display* display, Window window)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

// The play button's centre.
constexpr int kPlayX = 200 + 89 / 2, kPlayY = 523 + 33 / 2;

TEST(RealWindow, PlaysOnAClickShowsTheMapsAndClosesOnTheCloseRequest)
{
    const std::string xvfb = FindProgram("Xvfb");
    const std::string xdotool = FindProgram("xdotool");
    if (xvfb.empty() || xdotool.empty())
        GTEST_SKIP() << "needs Xvfb and xdotool (scripts/setup installs them)";

    test::VirtualDisplay server(xvfb);
    Display* display = server.Display();
    ASSERT_NE(display, nullptr) << "Xvfb did not start";
    const std::string displayName = server.Name();

    test::TempDir dir;
    const std::string wav = dir.File("mix.wav");
    const int rate = 22050;
    // Tones, and a noise panned to the left that lights a column of cells from the lowest
    // row to the highest, so the lit maps differ from the dark ones wherever a cycle of the
    // playback thread falls (however slow a checked build makes it).
    std::vector<int16_t> samples(static_cast<size_t>(rate) * 20 * 2);
    uint32_t seed = 12345;
    for (size_t i = 0; i < samples.size() / 2; ++i) {
        const double t = static_cast<double>(i) / rate;
        seed = seed * 1664525u + 1013904223u;
        const double noise = static_cast<double>(seed >> 16) / 32768.0 - 1.0;
        samples[2 * i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * t) +
                                              4000 * std::sin(2 * M_PI * 2500 * t) + 6000 * noise);
        samples[2 * i + 1] =
            static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * t) +
                                 2000 * std::sin(2 * M_PI * 900 * t) + 2000 * noise);
    }
    test::WriteWav16(wav, samples, rate);

    const std::vector<std::string> env = {"DISPLAY=" + displayName, "QT_QPA_PLATFORM=xcb",
                                          "VARNEL_AUDIO=null", "XDG_CONFIG_HOME=" + dir.Path()};
    test::Child program({VARNEL_PROGRAM_PATH, wav}, env);

    Window window = 0;
    const auto started = Clock::now();
    while (window == 0 && Clock::now() - started < std::chrono::seconds(10)) {
        window = test::FindVarnelWindow(display);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_NE(window, 0u) << "the window did not show";
    // The first paint of the maps: the screen is no longer one colour.
    std::vector<uint32_t> before;
    for (int i = 0; i < 200; ++i) {
        before = Grab(display, window, kScreen1X, kScreen1Y, kScreen1W, kScreen1H);
        if (!before.empty() &&
            CountDifferent(before, std::vector<uint32_t>(before.size(), before[0])) > 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(before.empty());

    const std::string click = "DISPLAY=" + displayName + " " + xdotool + " mousemove --window " +
                              std::to_string(window) + " " + std::to_string(kPlayX) + " " +
                              std::to_string(kPlayY) + " click 1";
    ASSERT_EQ(std::system(click.c_str()), 0);

    // Playing lights the maps: a good part of the screen changes within a few seconds.
    int changed = 0;
    const auto clicked = Clock::now();
    while (changed < 500 && Clock::now() - clicked < std::chrono::seconds(5)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        changed = CountDifferent(before,
                                 Grab(display, window, kScreen1X, kScreen1Y, kScreen1W, kScreen1H));
    }
    EXPECT_GE(changed, 500) << "the maps did not change while playing";

    SendCloseRequest(display, window);
    // Within 2 s, with status 0: the playback thread was ended and joined on the way out.
    EXPECT_EQ(program.WaitExit(std::chrono::seconds(2)), 0);
}

} // namespace
} // namespace varnel
