#pragma once

#include "audio/ExportJob.h"
#include "audio/OutputFile.h"
#include "audio/Twave.h"
#include "audio/WaveCheck.h"

#include <atomic>
#include <cstdint>
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
};

// One save of the filtered input into a WAV file, with the rules every front end follows:
// the input is opened and checked once, the output gets the ".wav" extension and may never
// name the input nor be a folder, the sound is written to a temporary sibling and renamed
// onto the output's name at the end, and an existing file is replaced only when the caller
// said so and only by a complete save.
//
// At the end of Run:
// - complete: the output is renamed into place (replacing an existing file only when Begin
//   was told so; a file that appeared meanwhile is never replaced: kMsgFileExists);
// - aborted or failed: where a file of that name is there, it is kept as it was and the
//   temporary removed; where none is, the part written stays as a valid, shorter WAV file
//   (a temporary that is not a valid WAV file, such as after a disk that was full from the
//   start, is removed instead).
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

    // After a passing Check; the caller's thread. The output's name with its ".wav"
    // extension, the input's format and whole frames, and whether a file of the output's name
    // is there now (the window asks kMsgFileExists before Begin).
    const std::string& OutputPath() const noexcept { return mOutputPath; }
    const WaveFormat& InputFormat() const noexcept { return mReader.Format; }
    int64_t InputFrames() const noexcept { return mReader.FrameCount(); }
    bool OutputExists() const;
    // After a passing Check; the caller's thread. The sample bytes Run writes with these
    // settings when it completes: the stretch's length (0 for an empty stretch).
    int64_t StretchBytes(const ExportSettings& settings);

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
    // Removes the temporary or renames it into place, by the rules above; true when the
    // written sound now stands under the output's name.
    bool Settle(bool complete, SaveResult& result);

    TWaveData mReader;
    TWaveData mWriter;
    SafeOutput mOutput;
    std::string mInputPath;
    std::string mOutputPath;
    bool mChecked = false;
    bool mBegun = false;
    bool mReplaceExisting = false;
    std::atomic<int64_t> mSavedBytes{0}; // as of Run's last progress report
    std::atomic<int64_t> mStretchFrames{0};
};

// Any thread; pure. True when the area keeps none of a file at this sample rate: one of its
// ranges is empty or lies past what the filter measures (a band above half the rate), or,
// inverted, it covers every bin.
bool AreaKeepsNothing(const FilterArea& area, int sampleRate);

// Any thread; pure. The path with its file name's extension replaced by ".wav" (appended
// when the name has none); a path without a file name is returned as it is.
std::string WithWavExtension(const std::string& path);

} // namespace varnel
