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
#include <fstream>
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

// A shown top-level window: its title as the window system has it (UTF-8) and its place.
struct TopWindow
{
    Window Id = 0;
    std::string Title;
    int X = 0, Y = 0, Width = 0, Height = 0;
};

// The shown top-level windows, lowest first (with no window manager, the last is on top).
std::vector<TopWindow> ShownWindows(Display* display)
{
    std::vector<TopWindow> shown;
    Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, root, &root, &parent, &children, &count))
        return shown;
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(display, children[i], &a) || a.map_state != IsViewable)
            continue;
        TopWindow w{children[i], "", a.x, a.y, a.width, a.height};
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, children[i], netName, 0, 1024, False, utf8, &type, &format,
                               &items, &after, &data) == Success &&
            data) {
            w.Title.assign(reinterpret_cast<char*>(data), items);
            XFree(data);
        }
        shown.push_back(w);
    }
    if (children)
        XFree(children);
    return shown;
}

// The first shown window whose title is `title` within 10 s, or none (Id 0).
TopWindow WaitForWindow(Display* display, const std::string& title)
{
    const auto start = Clock::now();
    while (Clock::now() - start < std::chrono::seconds(10)) {
        for (const TopWindow& w : ShownWindows(display))
            if (w.Title == title)
                return w;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return TopWindow{};
}

// The program under Japanese texts on the server, with its own settings folder.
std::vector<std::string> ProgramEnvironment(const test::VirtualDisplay& server,
                                            const test::TempDir& dir)
{
    return {"DISPLAY=" + server.Name(),      "QT_QPA_PLATFORM=xcb", "VARNEL_AUDIO=null",
            "XDG_CONFIG_HOME=" + dir.Path(), "LANG=ja_JP.UTF-8",    "LC_ALL=ja_JP.UTF-8"};
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

// The options dialog is titled by its caption alone and sits in the middle of the screen, as
// the other forms do.
TEST(RealWindow, OptionsDialogIsTitledByItsCaptionAndCentred)
{
    const std::string xvfb = FindProgram("Xvfb");
    const std::string xdotool = FindProgram("xdotool");
    if (xvfb.empty() || xdotool.empty())
        GTEST_SKIP() << "needs Xvfb and xdotool (scripts/setup installs them)";
    test::VirtualDisplay server(xvfb);
    ASSERT_NE(server.Display(), nullptr) << "Xvfb did not start";
    test::TempDir dir;
    test::Child program({VARNEL_PROGRAM_PATH}, ProgramEnvironment(server, dir));
    const TopWindow window = WaitForWindow(server.Display(), "Varnel");
    ASSERT_NE(window.Id, 0u) << "the window did not show";

    // The settings button's centre.
    const std::string click = "DISPLAY=" + server.Name() + " " + xdotool + " mousemove --window " +
                              std::to_string(window.Id) + " 764 20 click 1";
    ASSERT_EQ(std::system(click.c_str()), 0);
    const TopWindow options = WaitForWindow(server.Display(), "設定");
    ASSERT_NE(options.Id, 0u) << "no window titled exactly 設定";
    // The screen is 1280 x 1024; an odd size leaves half a pixel either way.
    EXPECT_NEAR(options.X + options.Width / 2.0, 640, 1);
    EXPECT_NEAR(options.Y + options.Height / 2.0, 512, 1);
}

// A refused file named on the command line: the window shows first, and the warning over it.
TEST(RealWindow, RefusedCommandLineFileWarnsOverTheShownWindow)
{
    const std::string xvfb = FindProgram("Xvfb");
    if (xvfb.empty())
        GTEST_SKIP() << "needs Xvfb (scripts/setup installs it)";
    test::VirtualDisplay server(xvfb);
    ASSERT_NE(server.Display(), nullptr) << "Xvfb did not start";
    test::TempDir dir;
    const std::string notes = dir.File("notes.wav");
    std::ofstream(notes) << "not a sound file at all\n";
    test::Child program({VARNEL_PROGRAM_PATH, notes}, ProgramEnvironment(server, dir));

    // Watched from the first moment anything shows: the warning is a second window.
    std::vector<TopWindow> shown;
    const auto start = Clock::now();
    while (shown.size() < 2 && Clock::now() - start < std::chrono::seconds(10)) {
        shown = ShownWindows(server.Display());
        if (shown.size() == 1 && (shown[0].Width != 822 || shown[0].Height != 584))
            break; // the warning alone
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(shown.size(), 2u) << "the warning showed without the window";
    EXPECT_EQ(shown[0].Title, "Varnel");
    EXPECT_EQ(shown[0].Width, 822) << "the main window is below";
    EXPECT_EQ(shown[1].Title, "Varnel") << "the warning on top, titled by the program's name";
}

} // namespace
} // namespace varnel
