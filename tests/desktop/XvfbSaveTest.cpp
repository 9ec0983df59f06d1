// The real program saving on a real X server (Xvfb), driven by X input: two programs saving
// to one name at once, and a program ended by a real signal while it saves. Skipped, with the
// reason, where Xvfb or xdotool is missing.

#include "support/TestSupport.h"

#include <gtest/gtest.h>

// After the test framework: see the header.
#include "support/VirtualDisplay.h"

#include <X11/Xatom.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace varnel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using test::FindProgram;
using test::HiddenTemporaries;
using test::ReadFileBytes;
using test::TempDir;

constexpr int kRate = 44100;
// Long enough for an export to run for seconds; the thread checker's build exports about ten
// times slower.
#if defined(__SANITIZE_THREAD__)
constexpr int64_t kLongFrames = int64_t{kRate} * 60;
#else
constexpr int64_t kLongFrames = int64_t{kRate} * 600;
#endif

// The save button's centre.
constexpr int kSaveX = 625 + 112 / 2, kSaveY = 8 + 25 / 2;

// A tone and noise, cheap to make in bulk: long files take the export seconds.
std::vector<int16_t> ToneAndNoise(int64_t frames)
{
    std::vector<int16_t> period(200);
    for (size_t i = 0; i < period.size(); ++i)
        period[i] = static_cast<int16_t>(9000 * std::sin(2 * M_PI * static_cast<double>(i) / 100));
    std::vector<int16_t> s(static_cast<size_t>(frames) * 2);
    uint32_t seed = 7;
    for (size_t i = 0; i < s.size(); i += 2) {
        seed = seed * 1664525u + 1013904223u;
        const int noise = static_cast<int>(seed >> 21) - 1024;
        s[i] = static_cast<int16_t>(period[(i / 2) % 200] + noise);
        s[i + 1] = static_cast<int16_t>(period[(i / 2) % 200] / 2 - noise);
    }
    return s;
}

// A window may go between listing it and asking for its properties: that error is no fault
// (Xlib's own handler would end the test program, leaving its programs running).
int IgnoreXError(Display*, XErrorEvent*)
{
    return 0;
}

bool Until(std::chrono::milliseconds limit, const std::function<bool()>& holds)
{
    const auto end = Clock::now() + limit;
    while (!holds()) {
        if (Clock::now() > end)
            return holds();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The shown top-level windows of the process whose title starts with prefix.
std::vector<Window> WindowsOf(Display* display, pid_t pid, const std::string& prefix)
{
    std::vector<Window> found;
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", True);
    Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
    unsigned count = 0;
    if (pidAtom == 0 || !XQueryTree(display, root, &root, &parent, &children, &count))
        return found;
    for (unsigned i = 0; i < count; ++i) {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        XWindowAttributes attributes;
        if (XGetWindowProperty(display, children[i], pidAtom, 0, 1, False, XA_CARDINAL, &type,
                               &format, &items, &after, &data) != Success ||
            items != 1 || !data) {
            if (data)
                XFree(data);
            continue;
        }
        const long owner = *reinterpret_cast<long*>(data);
        XFree(data);
        char* name = nullptr;
        if (owner == pid && XFetchName(display, children[i], &name) && name &&
            std::string(name).rfind(prefix, 0) == 0 &&
            XGetWindowAttributes(display, children[i], &attributes) &&
            attributes.map_state == IsViewable)
            found.push_back(children[i]);
        if (name)
            XFree(name);
    }
    if (children)
        XFree(children);
    return found;
}

// One program on the display, with a file loaded.
class Program
{
public:
    Program(test::VirtualDisplay& server, const std::string& wav, const std::string& config)
        : mDisplay(server.Display()), mName(server.Name()),
          mChild({VARNEL_PROGRAM_PATH, wav},
                 {"DISPLAY=" + server.Name(), "QT_QPA_PLATFORM=xcb", "VARNEL_AUDIO=null",
                  "XDG_CONFIG_HOME=" + config, "LC_ALL=C", "LANG=C"})
    {
        Until(std::chrono::seconds(10), [&] {
            const std::vector<Window> w = WindowsOf(mDisplay, mChild.Pid(), "Varnel");
            mWindow = w.empty() ? 0 : w[0];
            return mWindow != 0;
        });
    }

    Window MainWindow() const { return mWindow; }
    test::Child& Process() { return mChild; }

    // Presses the save button and types the path into the file dialog, and Return when asked.
    // False when the dialog did not come up.
    bool TypeSaveName(const std::string& path, bool pressReturn)
    {
        // Both programs' windows open at the screen's centre: this one goes on top first.
        Run("windowraise " + std::to_string(mWindow));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        Run("mousemove --window " + std::to_string(mWindow) + " " + std::to_string(kSaveX) + " " +
            std::to_string(kSaveY) + " click 1");
        Window dialog = 0;
        if (!Until(std::chrono::seconds(10), [&] {
                const std::vector<Window> w = WindowsOf(mDisplay, mChild.Pid(), "Save As");
                dialog = w.empty() ? 0 : w.back();
                return dialog != 0;
            }))
            return false;
        mDialog = dialog;
        // The dialog settles (loads its folder, puts the suggested name) before it takes keys.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        Run("windowfocus --sync " + std::to_string(dialog));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        Run("key ctrl+a type --delay 5 '" + path + "'");
        if (pressReturn)
            PressReturn();
        return true;
    }

    // Return in the file dialog that TypeSaveName left open.
    void PressReturn()
    {
        Run("windowfocus --sync " + std::to_string(mDialog));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        Run("key Return");
    }

    // Answers the message box that asks a question with Yes.
    void AnswerYes()
    {
        const std::vector<Window> boxes = WindowsOf(mDisplay, mChild.Pid(), "Varnel");
        ASSERT_EQ(boxes.size(), 2u);
        const Window box = boxes[0] == mWindow ? boxes[1] : boxes[0];
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        Run("windowfocus --sync " + std::to_string(box));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        Run("key alt+y");
    }

    // The number of the program's shown windows titled "Varnel" besides the main window: its
    // message boxes.
    size_t MessageBoxes() const { return WindowsOf(mDisplay, mChild.Pid(), "Varnel").size() - 1; }

private:
    void Run(const std::string& args) const
    {
        const std::string command =
            "DISPLAY=" + mName + " " + FindProgram("xdotool") + " " + args + " > /dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
    }

    Display* mDisplay;
    std::string mName;
    test::Child mChild;
    Window mWindow = 0;
    Window mDialog = 0;
};

uintmax_t TemporaryBytes(const std::string& folder)
{
    uintmax_t bytes = 0;
    for (const std::string& name : HiddenTemporaries(folder)) {
        std::error_code ec;
        bytes = std::max(bytes, fs::file_size(folder + "/" + name, ec));
    }
    return bytes;
}

// The samples of a file the program wrote, when its data size matches its length; else empty.
std::vector<int16_t> ValidSamples(const std::string& path)
{
    std::vector<int16_t> s = test::ReadWavSamples(path);
    if (ReadFileBytes(path).size() != 46 + s.size() * 2)
        s.clear();
    return s;
}

// What the window saves right after opening: the command line's export of the start-up area.
std::vector<uint8_t> CliExport(const std::string& in, const std::string& out)
{
    const std::string command = std::string("'") + VARNEL_CLI_PATH + "' export '" + in + "' '" +
                                out + "' --quiet > /dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return ReadFileBytes(out);
}

class XvfbSave : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (FindProgram("Xvfb").empty() || FindProgram("xdotool").empty())
            GTEST_SKIP() << "needs Xvfb and xdotool (scripts/setup installs them)";
        XSetErrorHandler(IgnoreXError);
        mServer = std::make_unique<test::VirtualDisplay>(FindProgram("Xvfb"));
        ASSERT_NE(mServer->Display(), nullptr) << "Xvfb did not start";
        fs::create_directory(mDir.File("config"));
        fs::create_directory(mDir.File("work"));
    }

    std::string Work(const std::string& name) const { return mDir.File("work/" + name); }

    TempDir mDir;
    std::unique_ptr<test::VirtualDisplay> mServer;
};

// Two programs save to one new name at once: B's short save ends first; A's long one then
// finds B's file, keeps it, says so in a message box and leaves no temporary.
TEST_F(XvfbSave, TwoProgramsSavingToOneNameKeepTheFirstFile)
{
    const std::string a = Work("a.wav");
    const std::string b = Work("b.wav");
    test::WriteWav16(a, ToneAndNoise(kLongFrames), kRate);
    test::WriteWav16(b, ToneAndNoise(int64_t{kRate} * 5), kRate);
    const std::vector<uint8_t> bSaved = CliExport(b, mDir.File("b-reference.wav"));

    Program programA(*mServer, a, mDir.File("config"));
    Program programB(*mServer, b, mDir.File("config"));
    ASSERT_NE(programA.MainWindow(), 0u);
    ASSERT_NE(programB.MainWindow(), 0u);
    // B's name is typed first, so that its save starts at once when A's is under way.
    ASSERT_TRUE(programB.TypeSaveName(Work("same.wav"), false));
    ASSERT_TRUE(programA.TypeSaveName(Work("same.wav"), true));
    ASSERT_TRUE(Until(std::chrono::seconds(20), [&] { return TemporaryBytes(Work("")) > 2000000; }))
        << "A's save did not start";
    programB.PressReturn();

    // A's save ends (its temporary goes) with its message box over B's file.
    EXPECT_TRUE(
        Until(std::chrono::seconds(120), [&] { return HiddenTemporaries(Work("")).empty(); }));
    EXPECT_TRUE(Until(std::chrono::seconds(10), [&] { return programA.MessageBoxes() == 1; }))
        << "A said nothing";
    EXPECT_EQ(ReadFileBytes(Work("same.wav")), bSaved);
    EXPECT_EQ(programB.MessageBoxes(), 0u);
}

// A real stop signal during a save: the program ends with 128 + the signal's number, leaving
// the valid start of the save where no file was, or the file that was there as it was, and no
// temporary. So does a display whose connection breaks (the X server gone with the session, or
// the window killed there), where the toolkit ends the program with 1.
TEST_F(XvfbSave, StopSignalEndsTheSaveInOrder)
{
    const std::string input = Work("ten.wav");
    test::WriteWav16(input, ToneAndNoise(kLongFrames), kRate);
    const std::vector<int16_t> whole = ValidSamples([&] {
        CliExport(input, mDir.File("reference.wav"));
        return mDir.File("reference.wav");
    }());
    ASSERT_FALSE(whole.empty());

    const struct
    {
        int Signal; // 0: the program's display connection is closed instead
        bool Existing;
    } cases[] = {{SIGTERM, false}, {SIGHUP, true}, {0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Signal);
        const std::string out = Work("out.wav");
        fs::remove(out);
        if (c.Existing)
            std::ofstream(out, std::ios::binary) << "old";
        Program program(*mServer, input, mDir.File("config"));
        ASSERT_NE(program.MainWindow(), 0u);
        ASSERT_TRUE(program.TypeSaveName(out, true));
        if (c.Existing) {
            // Asked about the file that is there: replace it.
            ASSERT_TRUE(
                Until(std::chrono::seconds(10), [&] { return program.MessageBoxes() == 1; }));
            program.AnswerYes();
        }
        ASSERT_TRUE(Until(std::chrono::seconds(20), [&] {
            return TemporaryBytes(Work("")) > 5000000;
        })) << "the save did not start";
        if (c.Signal != 0) {
            program.Process().Signal(c.Signal);
        } else {
            XKillClient(mServer->Display(), program.MainWindow());
            XSync(mServer->Display(), False);
        }
        EXPECT_EQ(program.Process().WaitExit(std::chrono::seconds(30)),
                  c.Signal != 0 ? 128 + c.Signal : 1);
        EXPECT_TRUE(HiddenTemporaries(Work("")).empty());
        if (c.Existing) {
            EXPECT_EQ(ReadFileBytes(out), (std::vector<uint8_t>{'o', 'l', 'd'}));
        } else {
            const std::vector<int16_t> part = ValidSamples(out);
            ASSERT_FALSE(part.empty()) << "a valid file holding what was written";
            ASSERT_LT(part.size(), whole.size());
            EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin()));
        }
    }
}

} // namespace
} // namespace varnel
