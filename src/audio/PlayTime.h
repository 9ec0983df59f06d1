#pragma once

#include <cstdint>
#include <string>

namespace varnel {

// Any thread; allocates the text. The time of a frame position at a sample rate of
// 2 * halfRate: "mm:ss", with "h:" in front from one hour on ("01:15", "1:02:05"). Negative
// positions count as 0; a rate that is not positive gives "00:00".
std::string FormatPlayTime(int64_t frames, int halfRate);

} // namespace varnel
