// The real program on a real X server (Xvfb): started with a file, played by a real mouse
// click, its maps watched through screen grabs, closed through the close request a window
// manager sends. Skipped, with the reason, where Xvfb or xdotool is missing.

#include "support/TestSupport.h"

#include <gtest/gtest.h>

// After the test framework: Xlib's macros (None, Bool, Status) would rename its names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#undef None
#undef Bool
#undef Status

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace varnel {
namespace {

using Clock = std::chrono::steady_clock;

std::string FindProgram(const char* name)
{
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
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

// A child process from an argument list and extra environment, ended by its pid if the test
// leaves it running.
class Child
{
public:
    Child(const std::vector<std::string>& args, const std::vector<std::string>& env,
          int keepFd = -1)
    {
        mPid = fork();
        if (mPid != 0)
            return;
        for (const std::string& e : env)
            putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        (void)keepFd;
        execv(argv[0], argv.data());
        _exit(127);
    }
    ~Child()
    {
        if (mPid > 0 && !mReaped) {
            kill(mPid, SIGKILL);
            waitpid(mPid, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The exit status once the process has ended within the time, else -1.
    int WaitExit(std::chrono::milliseconds limit)
    {
        const auto until = Clock::now() + limit;
        while (Clock::now() < until) {
            int status = 0;
            if (waitpid(mPid, &status, WNOHANG) == mPid) {
                mReaped = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return -1;
    }

private:
    pid_t mPid = -1;
    bool mReaped = false;
};

// The top-level window whose title is "Varnel" and that is shown, or 0.
Window FindVarnelWindow(Display* display)
{
    Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (!XQueryTree(display, root, &root, &parent, &children, &count))
        return 0;
    for (unsigned i = 0; i < count && found == 0; ++i) {
        char* name = nullptr;
        XWindowAttributes attributes;
        if (XFetchName(display, children[i], &name) && name && std::strcmp(name, "Varnel") == 0 &&
            XGetWindowAttributes(display, children[i], &attributes) &&
            attributes.map_state == IsViewable)
            found = children[i];
        if (name)
            XFree(name);
    }
    if (children)
        XFree(children);
    return found;
}

// The pixels of a rectangle of the window, 0xRRGGBB each.
std::vector<uint32_t> Grab(Display* display, Window window, int x, int y, int w, int h)
{
    std::vector<uint32_t> pixels;
    XImage* image = XGetImage(display, window, x, y, static_cast<unsigned>(w),
                              static_cast<unsigned>(h), AllPlanes, ZPixmap);
    if (!image)
        return pixels;
    for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col)
            pixels.push_back(static_cast<uint32_t>(XGetPixel(image, col, row) & 0xFFFFFF));
    XDestroyImage(image);
    return pixels;
}

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

// Screen1's place in the window's client area: inside its panel's 1-pixel bevel.
constexpr int kScreen1X = 17, kScreen1Y = 72, kScreen1W = 560, kScreen1H = 340;
// The play button's centre.
constexpr int kPlayX = 200 + 89 / 2, kPlayY = 523 + 33 / 2;

TEST(RealWindow, PlaysOnAClickShowsTheMapsAndClosesOnTheCloseRequest)
{
    const std::string xvfb = FindProgram("Xvfb");
    const std::string xdotool = FindProgram("xdotool");
    if (xvfb.empty() || xdotool.empty())
        GTEST_SKIP() << "needs Xvfb and xdotool (scripts/setup installs them)";

    // A display number of our own: Xvfb picks a free one and writes it to the pipe.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    Child server({xvfb, "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24",
                  "-nolisten", "tcp"},
                 {}, fds[1]);
    close(fds[1]);
    std::string number;
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    ASSERT_FALSE(number.empty()) << "Xvfb did not start";
    const std::string displayName = ":" + number;

    test::TempDir dir;
    const std::string wav = dir.File("mix.wav");
    const int rate = 22050;
    std::vector<int16_t> samples(static_cast<size_t>(rate) * 20 * 2);
    for (size_t i = 0; i < samples.size() / 2; ++i) {
        const double t = static_cast<double>(i) / rate;
        samples[2 * i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * t) +
                                              4000 * std::sin(2 * M_PI * 2500 * t));
        samples[2 * i + 1] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * t) +
                                                  2000 * std::sin(2 * M_PI * 900 * t));
    }
    test::WriteWav16(wav, samples, rate);

    Display* display = nullptr;
    for (int i = 0; i < 200 && !display; ++i) {
        display = XOpenDisplay(displayName.c_str());
        if (!display)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_NE(display, nullptr);

    const std::vector<std::string> env = {"DISPLAY=" + displayName, "QT_QPA_PLATFORM=xcb",
                                          "VARNEL_AUDIO=null", "XDG_CONFIG_HOME=" + dir.Path()};
    Child program({VARNEL_PROGRAM_PATH, wav}, env);

    Window window = 0;
    const auto started = Clock::now();
    while (window == 0 && Clock::now() - started < std::chrono::seconds(10)) {
        window = FindVarnelWindow(display);
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
    XCloseDisplay(display);
}

} // namespace
} // namespace varnel
