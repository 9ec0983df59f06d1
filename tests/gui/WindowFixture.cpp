#include "gui/WindowFixture.h"

#include <cmath>
#include <cstdlib>

namespace varnel::test {

ScopedLocale::ScopedLocale(const char* name)
{
    setenv("LC_ALL", name, 1);
    setenv("LANG", name, 1);
}

ScopedLocale::~ScopedLocale()
{
    setenv("LC_ALL", "C", 1);
    setenv("LANG", "C", 1);
}

MessageCapture::MessageCapture(bool answer)
{
    SetMessageBoxHandler([this, answer](MessageKind kind, const QString& text) {
        Messages.push_back({kind, text});
        return kind == MessageKind::Question ? answer : true;
    });
}

MessageCapture::~MessageCapture()
{
    SetMessageBoxHandler(nullptr);
}

WindowFixture::WindowFixture(QStringList arguments)
{
    auto device = std::make_unique<TestRingDevice>();
    Device = device.get();
    Form = std::make_unique<TForm1>(std::move(arguments), std::move(device), Clock);
}

WindowFixture::~WindowFixture()
{
    // A thread still running would wait in the clock's sleep: let every sleep return.
    Clock.SetFreeRunning(true);
    Form.reset();
}

std::vector<int16_t> StereoTone(int frames, int rate, double hz, double leftAmp, double rightAmp)
{
    std::vector<int16_t> samples(static_cast<size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        const double s = std::sin(2.0 * M_PI * hz * i / rate);
        samples[2 * static_cast<size_t>(i)] = static_cast<int16_t>(leftAmp * s);
        samples[2 * static_cast<size_t>(i) + 1] = static_cast<int16_t>(rightAmp * s);
    }
    return samples;
}

std::string WindowFixture::WriteTone(const std::string& name, int frames, int rate)
{
    const std::string path = Dir.File(name);
    WriteWav16(path, StereoTone(frames, rate, 1000.0, 12000.0, 6000.0), rate);
    return path;
}

} // namespace varnel::test
