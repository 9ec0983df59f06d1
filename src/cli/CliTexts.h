#pragma once

#include "audio/SoundFormat.h"

#include <cstdint>
#include <string>

namespace varnel {
struct SoundInfo;
}

namespace varnel::cli {

// The command line's own texts beside the numbered messages, in the same two languages and
// chosen by the same test of the locale (Japanese, or the alternate English set).

// Any thread. An export that a stop signal ended. savedFrames is what stands under the
// output's name now (0: nothing, and then keptExisting says that a file that was there is
// left as it was); totalFrames is the whole stretch.
std::string InterruptedText(int64_t savedFrames, int64_t totalFrames, uint32_t sampleRate,
                            bool keptExisting);

// Any thread. The warning after an export whose area or stretch keeps nothing of the file.
std::string NothingKeptText();

// Any thread. The refusal of an export whose output would hold no frames, into a container
// that cannot be written empty.
std::string EmptyOutputText(Container kind);

// Any thread. The refusal of an input that is not stereo, naming its channel count.
std::string NotStereoText(int channels);

// Any thread. The rate, sample format and channels of a file: "44.100 kHz, 24-bit, stereo";
// under a Japanese locale the window's format label ("44.100kHz 24位   立体声").
std::string FormatText(const SoundInfo& info);

// Any thread. The version line: "varnel-cli 1.0".
std::string VersionText();

} // namespace varnel::cli
