#include "audio/PlayTime.h"

#include <gtest/gtest.h>

namespace varnel {
namespace {

TEST(PlayTime, MinutesAndSecondsWithHoursFromOneHourOn)
{
    struct Case
    {
        int64_t Frames;
        int HalfRate;
        const char* Text;
    };
    const Case cases[] = {
        {0, 22050, "00:00"},
        {44099, 22050, "00:00"}, // whole seconds only, truncated
        {75 * 44100, 22050, "01:15"},
        {3599LL * 44100 + 44099, 22050, "59:59"},
        {3600LL * 44100, 22050, "1:00:00"},
        {3725LL * 44100, 22050, "1:02:05"},
        {100LL * 3600 * 48000, 24000, "100:00:00"},
        {75 * 22050, 11025, "01:15"},
        {-1, 22050, "00:00"}, // a heard position before the start of the file
        {-3725LL * 44100, 22050, "00:00"},
        {44100, 0, "00:00"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatPlayTime(c.Frames, c.HalfRate), c.Text) << c.Frames << " @ " << c.HalfRate;
}

} // namespace
} // namespace varnel
