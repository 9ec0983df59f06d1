#pragma once

// A private X server (Xvfb) and the real program on it, for the test and the benchmark that
// run `varnel` as a person would. Header-only: the benchmark links none of the test support.
// Include it after the test or benchmark framework: Xlib's macros (None, Bool, Status) would
// rename their names, and are undefined again at the end.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#undef None
#undef Bool
#undef Status

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace varnel::test {

// The program's full path from PATH, or empty.
inline std::string FindProgram(const char* name)
{
    const char* path = std::getenv("PATH");
    const std::string dirs = path ? path : "/usr/bin:/bin";
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

// A child process from an argument list and extra environment, its output thrown away; killed
// and reaped when it is still running at the end.
class Child
{
public:
    Child(const std::vector<std::string>& args, const std::vector<std::string>& env)
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
        execv(argv[0], argv.data());
        _exit(127);
    }
    ~Child() { Kill(SIGKILL); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Sends the signal (when still running) and reaps the process.
    void Kill(int signal)
    {
        if (mPid > 0 && !mReaped) {
            kill(mPid, signal);
            waitpid(mPid, nullptr, 0);
            mReaped = true;
        }
    }

    pid_t Pid() const { return mPid; }

    // Sends the signal, leaving the process to end (or not) by itself.
    void Signal(int signal) const
    {
        if (mPid > 0 && !mReaped)
            kill(mPid, signal);
    }

    // The exit status once the process has ended within the time (128 + the signal that ended
    // it), else -1.
    int WaitExit(std::chrono::milliseconds limit)
    {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
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

// An Xvfb server on a display number of its own (Xvfb picks a free one and writes it to a
// pipe) and one client connection to it. Display() is null when either failed.
class VirtualDisplay
{
public:
    explicit VirtualDisplay(const std::string& xvfb)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        mServer = std::make_unique<Child>(
            std::vector<std::string>{xvfb, "-displayfd", std::to_string(fds[1]), "-screen", "0",
                                     "1280x1024x24", "-nolisten", "tcp"},
            std::vector<std::string>{});
        close(fds[1]);
        std::string number;
        char c = 0;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (number.empty())
            return;
        mName = ":" + number;
        for (int i = 0; i < 200 && !mDisplay; ++i) {
            mDisplay = XOpenDisplay(mName.c_str());
            if (!mDisplay)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~VirtualDisplay()
    {
        if (mDisplay)
            XCloseDisplay(mDisplay);
        if (mServer)
            mServer->Kill(SIGTERM);
    }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    ::Display* Display() const { return mDisplay; }
    // ":N", for DISPLAY.
    const std::string& Name() const { return mName; }

private:
    std::unique_ptr<Child> mServer;
    std::string mName;
    ::Display* mDisplay = nullptr;
};

// The top-level window whose title is "Varnel" and that is shown, or 0.
inline Window FindVarnelWindow(::Display* display)
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

// The pixels of a rectangle of the window, 0xRRGGBB each; empty when it cannot be read.
inline std::vector<uint32_t> Grab(::Display* display, Window window, int x, int y, int w, int h)
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

// Screen1's place in the window's client area: inside its panel's 1-pixel bevel.
constexpr int kScreen1X = 17, kScreen1Y = 72, kScreen1W = 560, kScreen1H = 340;

} // namespace varnel::test
