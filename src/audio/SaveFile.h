#pragma once

#include "audio/ExportJob.h"
#include "audio/OutputFile.h"
#include "audio/SoundSink.h"
#include "audio/SoundSource.h"
#include "audio/Twave.h"
#include "audio/WaveCheck.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>

namespace varnel {

// How a save ended, for its caller to report.
struct SaveResult
{
    // The message to show: kMsgNone when done; kMsgCannotOpen .. kMsgNotStereo16 the input
    // is refused (as loading refuses it); kMsgOutputIsInput the output names the input;
    // kMsgFileExists a file of the output's name is there and may not be replaced (also when
    // it appeared while the save ran); kMsgCreateFailed the output cannot be created (also
    // when it is a folder); kMsgOutOfMemory the filter cannot be set up; kMsgSaveFailed
    // reading or writing failed.
    MessageId Message = kMsgNone;
    // The system's reason for a failure, when it gave one (no space, read-only, name too
    // long, is a folder); empty otherwise.
    std::error_code Reason;
    // The abort flag stopped the export. Message stays kMsgNone.
    bool Aborted = false;
    // A warning, not a failure: the area keeps nothing of the file (an empty stretch, or no
    // bin the filter can keep), so the saved sound is silent or empty.
    bool NothingKept = false;
    // Frames that stand under the output's name after the save (whole or partial; 0 when
    // nothing was kept there), and the frames of the whole stretch.
    int64_t SavedFrames = 0;
    int64_t TotalFrames = 0;
    // An input refused because it is not stereo: its channel count (Message kMsgNotStereo16).
    int RefusedChannels = 0;
    // The output's format cannot hold this input or these options (with Message kMsgNone at
    // Check: nothing was opened for the output); a usage error rather than a failure.
    OutputRefusal FormatRefusal = OutputRefusal::None;
    // Where the written file is when it could not take the output's name and could not be
    // removed either, so the caller tells the person: a visible name beside the output after
    // a complete save whose final rename failed ("NAME (1).wav"), or the temporary's own name
    // where the folder took no change at all. Empty otherwise.
    std::string KeptAs;
    // The message concerns the rest stem's file, not the output's.
    bool ForRest = false;
};

// What the command line asks of an output beyond the window's rules.
struct OutputRequest
{
    BitsRequest Bits = BitsRequest::Default;
    bool Dither = true;
    int LossyQuality = kDefaultLossyQuality;
    // A plain conversion (no filter) writes 16-bit by default where the container has a
    // choice: the window's format.
    bool PlainCopy = false;
};

// An input of any format as the command line takes it: a 16-bit stereo PCM WAV file (its
// extensible form too) is opened as the window opens it, into Wave(); any other sound file
// through the sound file library. Source() reads either (over Wave() for the first).
// Owner's thread; non-copyable.
class InputFile
{
public:
    InputFile();
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Owner's thread. kMsgNone with the file open; or the message of the refusal (a file
    // the library reads either way gets the library's verdict; one it does not read keeps the
    // WAV check's message), with the system's reason for kMsgCannotOpen and the channel count
    // of a file that is not stereo in the result.
    SourceOpenResult Open(const std::string& path);
    // Owner's thread. The window's way only: a 16-bit stereo PCM WAV file checked as loading
    // checks it.
    MessageId OpenWave16(const std::string& path, ExtensiblePcm extensible,
                         std::error_code* reason);
    // Owner's thread. Closes whichever is open.
    void Close();

    // Owner's thread, while open.
    bool IsWave16() const noexcept { return mWave.IsOpen; }
    TWaveData& Wave() noexcept { return mWave; }
    const TWaveData& Wave() const noexcept { return mWave; }
    const SoundSource& Source() const noexcept { return *mSource; }
    const SoundInfo& Info() const noexcept { return mSource->Info(); }

private:
    TWaveData mWave;
    std::unique_ptr<SoundSource> mSource;
};

// One output of a save: its name, the temporary it is written to, its writer (a 16-bit WAV
// writer, or a sink of any format) and the rules that settle it when the export ends. A save
// holds one per output file of its pass; each is settled by the same rules. Owner's thread,
// one step at a time (as SaveFile's).
class SaveOutput
{
public:
    SaveOutput();
    ~SaveOutput();
    SaveOutput(const SaveOutput&) = delete;
    SaveOutput& operator=(const SaveOutput&) = delete;

    // Caller's thread. The name this output is saved under (its extension as the caller
    // decided), and the rules for it before anything is written (CheckOutputName).
    MessageId SetName(const std::string& inputPath, const std::string& outputPath,
                      std::error_code* reason);
    const std::string& Path() const noexcept { return mPath; }
    bool Exists() const;

    // Caller's thread. Creates the temporary and opens the writer on it: a 16-bit WAV writer
    // of this format, or a sink of this format. kMsgNone, kMsgFileExists (there and not to be
    // replaced) or kMsgCreateFailed with the system's reason.
    SaveResult BeginWave(bool replaceExisting, const WaveFormat& format);
    SaveResult BeginSink(bool replaceExisting, const SinkFormat& format);

    // The writer, after a Begin.
    TWaveData& Wave() noexcept { return mWave; }
    SoundSink& Sink() noexcept { return mSink; }

    // Export thread, after the export. Closes the writer: false when that (or a write on the
    // way) failed, the reason then in *reason.
    bool CloseWriter(std::error_code* reason);
    // Export thread, after CloseWriter. Renames the temporary into place or removes it:
    // complete, it takes the name (replacing a file only when Begin was told so; a file that
    // appeared meanwhile is kept: kMsgFileExists); unfinished, it takes the name only where no
    // file is and it is a valid file, else it goes. True when the written sound now stands
    // under the name. A failed rename sets kMsgSaveFailed and its reason, and keeps the
    // whole file under a visible name beside the output (KeptAs says where).
    bool Settle(bool complete, SaveResult& result);
    // Export thread, or the caller's when the pass is given up before its export. Closes the
    // writer and removes the temporary: nothing of this output stays.
    void Discard();

private:
    // The rules both writers start by: an existing file not to be replaced refuses the save,
    // then the temporary is created. Its path, or empty with the result's message set.
    std::string BeginTemporary(bool replaceExisting, bool toSink, SaveResult& result);
    // The temporary holds a valid file of what was written.
    bool TemporaryIsValid() const;

    TWaveData mWave;
    SoundSink mSink;
    SafeOutput mOutput;
    std::string mPath;
    bool mToSink = false;
    bool mReplaceExisting = false;
};

// One save of the filtered input into a file, with the rules every front end follows: the
// input is opened and checked once, the output may never name the input nor be a folder, the
// sound is written to a temporary sibling and renamed onto the output's name at the end, and
// an existing file is replaced only when the caller said so and only by a complete save.
//
// The window's save (Check) takes a 16-bit stereo WAV file and writes one, the output getting
// the ".wav" extension. The command line's (CheckAnyFormat) takes any sound file the program
// reads and writes the container the output's extension names, in the sample format the
// request and the input choose; a 16-bit WAV input saved as 16-bit WAV takes the window's
// path, byte for byte.
//
// At the end of Run:
// - complete: the output is renamed into place (replacing an existing file only when Begin
//   was told so; a file that appeared meanwhile is never replaced: kMsgFileExists, and the
//   temporary is removed). When the rename fails for another reason (the folder became
//   read-only, a file of that name belongs to someone else in a sticky folder, a folder took
//   the name), kMsgSaveFailed with the system's reason, and the whole file is kept under a
//   visible name beside the output (KeptAs);
// - aborted or failed: where a file of that name is there, it is kept as it was and the
//   temporary removed; where none is, the part written stays as a valid, shorter file (a
//   temporary that is not a valid file, such as after a disk that was full from the start, is
//   removed instead).
// No hidden temporary is left without the caller learning its name (KeptAs).
//
// The three steps and their threads, as the window uses them:
//     SaveFile save;                                        // GUI thread
//     SaveResult r = save.Check(inputPath, chosenPath);    // GUI thread; r.Message: warn, stop
//     if (save.OutputExists()) ask kMsgFileExists;          // GUI thread; "No": stop
//     r = save.Begin(/*replaceExisting=*/true);             // GUI thread; r.Message: warn, stop
//     // export thread, while the GUI thread shows the progress dialog:
//     r = save.Run(settings, progress, abortFlag);          // kMsgOutOfMemory/kMsgSaveFailed
// The object is used by one thread at a time (a step hands it over: Begin's thread must
// have finished before Run's starts, e.g. by starting that thread after Begin); Fraction may
// be read from any thread while Run runs. The destructor (owner's thread, after Run has
// returned or without Run) closes the files and removes a temporary that Run did not settle.
class SaveFile
{
public:
    SaveFile();
    ~SaveFile();
    SaveFile(const SaveFile&) = delete;
    SaveFile& operator=(const SaveFile&) = delete;

    // Step 1; the caller's thread. Opens and checks the input (kMsgCannotOpen ..
    // kMsgNotStereo16), sets the output's extension to ".wav" and refuses an output that
    // names the input in any spelling (kMsgOutputIsInput) or that is a folder, or a link to
    // one, or whose name is too long (kMsgCreateFailed with the system's reason).
    // Nothing is written. extensible: whether the extensible form of 16-bit stereo PCM is
    // read like plain PCM.
    SaveResult Check(const std::string& inputPath, const std::string& outputPath,
                     ExtensiblePcm extensible = ExtensiblePcm::Refuse);
    // Step 1 of the command line's save; the caller's thread. Opens any input (InputFile;
    // kMsgCannotOpen .. kMsgNotStereo16, with RefusedChannels), takes the container from the
    // output's extension (a name without one gets ".wav"; one that names no container Varnel
    // writes is refused as kMsgCreateFailed with std::errc::invalid_argument: callers check
    // ContainerForName first) and chooses the sample format (a FormatRefusal when the
    // container cannot take it), then the output's name rules as Check.
    SaveResult CheckAnyFormat(const std::string& inputPath, const std::string& outputPath,
                              const OutputRequest& request);

    // After a passing Check; the caller's thread (the input's facts also after Run). The
    // output's name (with its ".wav" extension from Check), the input's format and whole
    // frames, and whether a file of the output's name is there now (the window asks
    // kMsgFileExists before Begin).
    const std::string& OutputPath() const noexcept { return mOutput.Path(); }
    const WaveFormat& InputFormat() const noexcept { return mInput.Wave().Format; }
    const SoundInfo& InputInfo() const noexcept { return mInputInfo; }
    int InputRate() const noexcept { return mInputInfo.SampleRate; }
    int64_t InputFrames() const noexcept { return mInputInfo.Frames; }
    // After a passing CheckAnyFormat: the output's format as it will be written.
    const SinkFormat& OutputFormat() const noexcept { return mSinkFormat; }
    bool OutputIsWave16() const noexcept { return !mToSink; }
    bool OutputExists() const;
    // After a passing Check; the caller's thread. The sample bytes Run writes with these
    // settings when it completes: the stretch's length (0 for an empty stretch).
    int64_t StretchBytes(const ExportSettings& settings);

    // After a passing Check or CheckAnyFormat, before Begin; the caller's thread. A second
    // output of the same pass for the rest stem (what the filter leaves out), written in the
    // output's format under the output's rules: its name gets the output's extension when it
    // has none, it may not name the input (kMsgOutputIsInput) nor be a folder (kMsgCreateFailed
    // with the reason), and naming the output itself is kMsgCreateFailed with
    // std::errc::invalid_argument (callers check that first). From then on Begin and Run
    // handle both files: both are begun or neither, and at the end both complete or neither
    // does (an unfinished pass leaves each as a single output's rules leave it). Results about
    // the rest's file carry ForRest. Nothing is written here.
    SaveResult SetRest(const std::string& restPath);
    bool HasRest() const noexcept { return mHasRest; }
    const std::string& RestPath() const noexcept { return mRest.Path(); }
    bool RestExists() const;

    // Step 2, after a passing Check; the caller's thread. Creates the temporary output and
    // writes its header: kMsgNone, kMsgFileExists (a file of that name is there and
    // replaceExisting is false) or kMsgCreateFailed with the system's reason (the folder
    // takes no new file, is read-only, ...).
    SaveResult Begin(bool replaceExisting);

    // Step 3, after a passing Begin; the export thread (any one thread). Runs the export job
    // with these settings (passed to it as they are) and settles the output as the class
    // comment says. progress is called on this thread as ExportJob calls it; abort is read
    // after each block. Returns kMsgNone, kMsgFileExists, kMsgOutOfMemory or kMsgSaveFailed
    // (with the system's reason when it gave one), Aborted, NothingKept and the frame counts.
    SaveResult Run(const ExportSettings& settings, const ExportJob::ProgressFn& progress,
                   const std::atomic<bool>& abort);

    // Any thread; allocates nothing. 0..1: how much of the stretch Run has saved, as of the
    // export's last progress report (after every 6 seconds of sound, and at the end).
    double Fraction() const noexcept;

private:
    SaveResult CheckOutput(const std::string& inputPath, const std::string& outputPath);

    InputFile mInput;
    std::string mInputPath;
    SoundInfo mInputInfo; // kept after Run closes the input
    SaveOutput mOutput;
    SaveOutput mRest;
    bool mHasRest = false;
    SinkFormat mSinkFormat;
    bool mToSink = false; // the output is written through a sink, not the 16-bit WAV writer
    bool mChecked = false;
    bool mBegun = false;
    std::atomic<int64_t> mSavedBytes{0}; // as of Run's last progress report
    std::atomic<int64_t> mStretchFrames{0};
};

// Any thread; pure. True when the area keeps none of a file at this sample rate: one of its
// ranges is empty or lies past what the filter measures (a band above half the rate), or,
// inverted, it covers every bin; never with an attenuation, which only lowers what it removes.
// An edge's width counts: the transitions of a range empty by less than a width overlap.
bool AreaKeepsNothing(const FilterArea& area, int sampleRate);

// Any thread; pure. The path with its file name's extension replaced by ".wav" (appended
// when the name has none); a path without a file name is returned as it is.
std::string WithWavExtension(const std::string& path);

// Any thread; pure. The rest stem's file for the name given beside this output: a file name
// without an extension gets the output's; a path that names no file ("dir/", ".", "..") stays
// as it is, to be refused as a folder like such an output.
std::string RestPathFor(const std::string& rest, const std::string& output);

} // namespace varnel
