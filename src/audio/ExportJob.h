#pragma once

#include "audio/MessageId.h"
#include "dsp/FilterParams.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace varnel {

class SoundSink;
class SoundSource;
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
    // The input's sound as it is, without the filter (a plain conversion of its format): the
    // area, the FFT size and the threads are not used. Source-and-sink jobs only.
    bool PlainCopy = false;
};

// Filters the whole input, or the A-B stretch, into an output file that is already created.
// The output is aligned with the input: it holds exactly the stretch's frames, frame k being
// the filtered input frame first + k. Sound before the stretch (where the file has it; silence
// before the file's start) and after it (up to the filter's latency; silence beyond the file's
// end) runs through the filter as context. The filter's frames fall on the same hop grid as in
// a whole-file save (the stream starts at a multiple of the hop, counted from frame 0, at least
// one frame length before the stretch), so an A-B save equals the matching frames of a
// whole-file save bit for bit. (Not with a smoothed soft cut, whose gains remember the stream
// from its start: the stretch's first frames then differ a little from the whole file's, and
// one thread filters, so the thread count still changes nothing.)
//
// Two kinds of job, one set of rules:
// - a 16-bit WAV file into a 16-bit WAV file (the window's save): raw 16-bit samples through
//   the stream processor's 16-bit entry, truncated and clipped as they leave the filter;
// - a SoundSource of any format into a SoundSink of any format: floats in 16-bit units through
//   the float entry; the sink rounds, dithers or keeps floats as its format says. A lossy
//   source whose decoder gives out before the length its file states ends the output there.
//
// The output is written in half-second blocks. A stretch reaching past the end of the input's
// frames, or past the most frames the output holds, is cut there; an input that ends early (a
// file that shrank) is a read failure.
//
// With more than one thread the stretch is cut into pieces whose lengths are whole blocks,
// shrinking toward its end so the workers finish together. By the property above each piece,
// filtered with its own context, equals its frames of the one-thread save, so worker threads
// filter pieces at once. A 16-bit WAV output takes them straight at their place in the file;
// a sink is written in order, so a piece's output waits in memory for its turn (a few pieces
// at a time). Where a source cannot seek exactly (Vorbis, Opus, MP3), one thread decodes it
// in order and hands each piece its input before a worker takes it. The calling thread
// follows the pieces in order and accepts their blocks as one thread would write them:
// progress, the abort check and failures fall on the same blocks, and the output ends after
// the last accepted block, so it holds a prefix of the full result. Memory does not grow with
// the file's length.
//
// Runs on the calling (export) thread, which alone reports progress; it neither opens nor
// closes the files, and reads the input by position (a 16-bit WAV reader's own place does not
// move). With one thread, after Prepare, Run allocates nothing for a 16-bit WAV job (a source
// job makes its reader). One Run per job; with threads, the first worker sets up the job's own
// processor (Prepare) while the others set up theirs.
class ExportJob
{
public:
    // Called on the export thread with the sample bytes written so far and the stretch's
    // total: after every 12th half-second block and once at the end.
    using ProgressFn = std::function<void(int64_t written, int64_t total)>;

    // Export thread (or the thread that later runs it); copies the settings. A 16-bit stereo
    // WAV reader into a writer created with its format.
    ExportJob(TWaveData& in, TWaveData& out, const ExportSettings& settings);
    // The same for a source of any format into an open sink at the source's rate.
    ExportJob(const SoundSource& in, SoundSink& out, const ExportSettings& settings);
    ~ExportJob();
    ExportJob(const ExportJob&) = delete;
    ExportJob& operator=(const ExportJob&) = delete;

    // Export thread, before Prepare and Run. The rest stem goes into this second output of
    // the kind of the job's own (a 16-bit WAV writer created with the input's format, or an
    // open sink of the output's format), block for block beside the output: every bin the
    // filter leaves out, so both add up to what the widest area gives. Threads write it as
    // they write the output, piece by piece, and both end after the same frames.
    void SetRest(TWaveData& out) noexcept { mRestOut = &out; }
    void SetRest(SoundSink& out) noexcept { mRestSink = &out; }

    // Export thread; allocates. Sets up the stream processor for the input's rate with the
    // settings: kMsgNone, or kMsgOutOfMemory when it cannot be set up. Run calls it when it
    // has not been called.
    MessageId Prepare();

    // Export thread. Blocks until done, failed or aborted (abort is checked after each
    // block's bytes are written, and by every worker after each block it filters). Returns the message to show: kMsgNone (done, empty
    // stretch, or aborted), kMsgOutOfMemory (the stream processor cannot be set up) or
    // kMsgSaveFailed (reading or writing failed, the input ended early, or a 16-bit WAV input
    // is not open with 4-byte frames). Whatever was written
    // stays in the output; its owner's Close makes it a valid file.
    MessageId Run(const ProgressFn& progress, const std::atomic<bool>& abort);

    // Any thread, after Run. Frames written times 4 (the bytes of 16-bit stereo, whatever the
    // output's format): the unit of progress.
    int64_t Written() const noexcept { return mWritten; }
    // Any thread. The stretch's length in the same unit.
    int64_t TotalBytes() const noexcept;
    bool Aborted() const noexcept { return mAborted; }

    // Any thread. The cores this process may run on (at least 1): the default thread count.
    static int UsableCores() noexcept;

private:
    class Pipeline;
    class FloatPipeline;

    // The input's frames, and the most frames the output holds.
    int64_t InputFrames() const noexcept;
    int64_t OutputLimit() const noexcept;
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
    MessageId RunFloatOneThread(int64_t first, int64_t end, const ProgressFn& progress,
                                const std::atomic<bool>& abort);
    // Export thread. The threaded run over these pieces (each piece's first frame, then the
    // end), by the pipeline of the job's kind.
    MessageId RunThreaded(int threads, std::vector<int64_t> starts, int blockFrames,
                          const ProgressFn& progress, const std::atomic<bool>& abort);

    // One of the two pairs is set.
    TWaveData* mIn = nullptr;
    TWaveData* mOut = nullptr;
    const SoundSource* mSource = nullptr;
    SoundSink* mSink = nullptr;
    // The rest stem's writer, of the same kind, or none.
    TWaveData* mRestOut = nullptr;
    SoundSink* mRestSink = nullptr;
    ExportSettings mSettings;
    std::unique_ptr<TVocalFunc> mVocal;
    MessageId mPrepared = kMsgNone; // Prepare's result, once it ran
    bool mPrepareRan = false;
    int64_t mWritten = 0;
    bool mAborted = false;
};

} // namespace varnel
