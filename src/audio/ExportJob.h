#pragma once

#include "dsp/FilterParams.h"

#include <atomic>
#include <cstdint>
#include <functional>

namespace varnel {

class TWaveData;

// What a save needs from the window, copied when the save starts so later changes of the
// area do not reach a save in progress.
struct ExportSettings
{
    int FftSize = 8192;
    int Overlap = 16;
    FilterArea Area;
    bool SaveAB = false;
    int64_t PointA = 0; // first frame of the stretch
    int64_t PointB = 0; // one past the last frame; a stretch given backwards is taken in order
};

// Filters the whole input, or the A-B stretch, into an output file that is already created
// with the input's format. The output is aligned with the input: it holds exactly the
// stretch's frames, frame k being the filtered input frame first + k. Sound before the stretch
// (where the file has it) and after it (silence beyond the file's end) runs through the filter
// as context, on the same hop grid as a whole-file save, so an A-B save equals the matching
// frames of a whole-file save bit for bit.
//
// Runs on the calling (export) thread; it neither opens nor closes the files.
class ExportJob
{
public:
    // Called on the export thread with the sample bytes written so far and the stretch's
    // total: after every 12th half-second block and once at the end.
    using ProgressFn = std::function<void(int64_t written, int64_t total)>;

    ExportJob(TWaveData& in, TWaveData& out, const ExportSettings& settings);

    // Export thread. Blocks until done, failed or aborted (abort is checked after each
    // block's bytes are written). Returns the message id to show: 0 (done, empty stretch, or
    // aborted), 7 (the stream processor cannot be set up) or 8 (reading or writing failed, or
    // the input ended early).
    int Run(const ProgressFn& progress, const std::atomic<bool>& abort);

    // Any thread, after Run. Sample bytes written.
    int64_t Written() const noexcept { return mWritten; }
    // Any thread. The stretch's length in bytes.
    int64_t TotalBytes() const noexcept;
    bool Aborted() const noexcept { return mAborted; }

private:
    TWaveData& mIn;
    TWaveData& mOut;
    ExportSettings mSettings;
    int64_t mWritten = 0;
    bool mAborted = false;
};

} // namespace varnel
