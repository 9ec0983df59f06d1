#pragma once

#include "audio/MessageId.h"
#include "dsp/FilterParams.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace varnel {

class TWaveData;
class TVocalFunc;

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
    // Threads that filter at once; 0 (the default) or less for ExportJob::UsableCores(). Any
    // count writes the same file, bit for bit.
    int Threads = 0;
};

// Filters the whole input, or the A-B stretch, into an output file that is already created
// with the input's format. The output is aligned with the input: it holds exactly the
// stretch's frames, frame k being the filtered input frame first + k. Sound before the stretch
// (where the file has it; silence before the file's start) and after it (up to the filter's
// latency; silence beyond the file's end) runs through the filter as context. The filter's
// frames fall on the same hop grid as in a whole-file save (the stream starts at a multiple of
// the hop, counted from frame 0, at least one frame length before the stretch), so an A-B save
// equals the matching frames of a whole-file save bit for bit.
//
// The output is written in half-second blocks. A stretch reaching past the end of the file's
// whole frames, or past the most frames a written file holds, is cut there; an input that ends early (the file shrank) is a read failure.
//
// With more than one thread the stretch is cut into pieces whose lengths are whole blocks,
// shrinking toward its end so the workers finish together. By the property above each piece,
// filtered with its own context, equals its frames of the one-thread save, so worker threads
// filter pieces and write them straight to their place in the output. The calling thread follows the pieces in order and accepts their blocks as one
// thread would write them: progress, the abort check and failures fall on the same blocks,
// and at the end the output is cut after the last accepted block, so it holds a prefix of the
// full result. Memory does not grow with the file's length.
//
// Runs on the calling (export) thread, which alone reports progress; it neither opens nor
// closes the files, and reads the input by position, so the input's own place does not move. With one thread, after Prepare, Run allocates nothing. One Run per job;
// with threads, the first worker sets up the job's own processor (Prepare) while the others
// set up theirs.
class ExportJob
{
public:
    // Called on the export thread with the sample bytes written so far and the stretch's
    // total: after every 12th half-second block and once at the end.
    using ProgressFn = std::function<void(int64_t written, int64_t total)>;

    // Export thread (or the thread that later runs it); copies the settings.
    ExportJob(TWaveData& in, TWaveData& out, const ExportSettings& settings);
    ~ExportJob();
    ExportJob(const ExportJob&) = delete;
    ExportJob& operator=(const ExportJob&) = delete;

    // Export thread; allocates. Sets up the stream processor for the input's rate with the
    // settings: kMsgNone, or kMsgOutOfMemory when it cannot be set up. Run calls it when it
    // has not been called.
    MessageId Prepare();

    // Export thread. Blocks until done, failed or aborted (abort is checked after each
    // block's bytes are written, and by every worker after each block it filters). Returns the message to show: kMsgNone (done, empty
    // stretch, or aborted), kMsgOutOfMemory (the stream processor cannot be set up) or
    // kMsgSaveFailed (reading or writing failed, the input ended early, or the input is not
    // open with 4-byte frames). Whatever was written
    // stays in the output; its owner's Close makes it a valid file.
    MessageId Run(const ProgressFn& progress, const std::atomic<bool>& abort);

    // Any thread, after Run. Sample bytes written.
    int64_t Written() const noexcept { return mWritten; }
    // Any thread. The stretch's length in bytes.
    int64_t TotalBytes() const noexcept;
    bool Aborted() const noexcept { return mAborted; }

    // Any thread. The cores this process may run on (at least 1): the default thread count.
    static int UsableCores() noexcept;

private:
    class Pipeline;

    // The stretch in frames, ordered and cut to the input's whole frames.
    void Stretch(int64_t& first, int64_t& end) const noexcept;
    // The input's sample rate as the stream processor takes it.
    int InputRate() const noexcept;
    // A stream processor set up for the input's rate with the settings: kMsgNone, or
    // kMsgOutOfMemory.
    MessageId MakeProcessor(std::unique_ptr<TVocalFunc>& vocal) const;
    // Export thread. Counts bytes more as written, reports progress after every 12th block
    // and checks abort: false, with Aborted set, when the export is to stop.
    bool CountWritten(int64_t bytes, int& counter, int64_t total, const ProgressFn& progress,
                      const std::atomic<bool>& abort);
    MessageId RunOneThread(int64_t first, int64_t end, const ProgressFn& progress,
                           const std::atomic<bool>& abort);

    TWaveData& mIn;
    TWaveData& mOut;
    ExportSettings mSettings;
    std::unique_ptr<TVocalFunc> mVocal;
    MessageId mPrepared = kMsgNone; // Prepare's result, once it ran
    bool mPrepareRan = false;
    int64_t mWritten = 0;
    bool mAborted = false;
};

} // namespace varnel
