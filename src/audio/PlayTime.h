#pragma once

#include <cstdint>
#include <string>

namespace varnel {

// Any thread; allocates the text. The time of a frame position at a sample rate of
// 2 * halfRate: "mm:ss", with "h:" in front from one hour on ("01:15", "1:02:05"). Negative
// positions count as 0; a rate that is not positive gives "00:00".
std::string FormatPlayTime(int64_t frames, int halfRate);

// Any thread; pure. The volume of a volume-slider position 0..20 (20 loudest), in hundredths
// of a decibel: -2.5 x (20 - position)^2.5, truncated toward zero (20 -> 0, 19 -> -2,
// 10 -> -790, 0 -> -4472). Positions outside 0..20 are clamped.
int VolumeFromSlider(int position);

} // namespace varnel
