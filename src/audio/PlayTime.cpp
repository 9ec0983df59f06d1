#include "audio/PlayTime.h"

#include <cstdio>

namespace varnel {

std::string FormatPlayTime(int64_t frames, int halfRate)
{
    if (frames < 0 || halfRate <= 0)
        frames = 0;
    const int64_t seconds = halfRate > 0 ? frames / (2 * static_cast<int64_t>(halfRate)) : 0;
    const int64_t hours = seconds / 3600;
    const int64_t minutes = (seconds % 3600) / 60;
    const int64_t secs = (seconds % 3600) % 60;
    char text[48];
    if (hours > 0)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(hours),
                      static_cast<long long>(minutes), static_cast<long long>(secs));
    else
        std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(minutes),
                      static_cast<long long>(secs));
    return text;
}

} // namespace varnel
