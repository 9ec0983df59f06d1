#pragma once

#include "app/Mainform.h"
#include "platform/Clock.h"
#include "platform/TestRingDevice.h"
#include "settings/MessageBox.h"

#include "gui/WidgetApp.h"
#include "support/TestSupport.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace varnel::test {

// Sets the locale variables for as long as it lives (the texts' language is read from them
// when a form is made), and puts the test environment's back.
class ScopedLocale
{
public:
    explicit ScopedLocale(const char* name);
    ~ScopedLocale();
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;
};

// A message box that was shown (captured instead of shown).
struct ShownMessage
{
    MessageKind Kind;
    QString Text;
};

// Captures every message box while it lives; question boxes get the given answer.
class MessageCapture
{
public:
    explicit MessageCapture(bool answer = true);
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    std::vector<ShownMessage> Messages;
};

// The main window on the test ring device and a manual clock, with the message boxes
// captured. The playback thread is parked until a test presses play; each of its cycles then
// waits for the test (Clock.StepAndWait).
struct WindowFixture
{
    AppFirst App;
    ManualClock Clock;
    TestRingDevice* Device = nullptr;
    MessageCapture Boxes;
    std::unique_ptr<TForm1> Form;
    TempDir Dir;

    explicit WindowFixture(QStringList arguments = QStringList());
    ~WindowFixture();

    // A 16-bit stereo file of frames frames at the rate: a 1 kHz tone, left louder than right.
    std::string WriteTone(const std::string& name, int frames, int rate = 44100);
};

// Interleaved 16-bit stereo: a sine of frequency hz, left at leftAmp and right at rightAmp.
std::vector<int16_t> StereoTone(int frames, int rate, double hz, double leftAmp, double rightAmp);

} // namespace varnel::test
