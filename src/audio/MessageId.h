#pragma once

namespace varnel {

// The numbered messages of the program's message table (TLangSet::GetMsgText gives their
// texts). The numbers are the table's row numbers and never change; kMsgNone is no message.
// Functions of the engine that report a failure return one of these.
enum MessageId : int
{
    kMsgNone = 0,                 // done; nothing to show
    kMsgCannotOpen = 1,           // a file cannot be opened
    kMsgUnsupportedFile = 2,      // not a usable RIFF WAVE file, or a damaged one
    kMsgNotPcm = 3,               // the format tag is not PCM
    kMsgNotStereo16 = 4,          // PCM, but not 16-bit stereo
    kMsgFileExists = 5,           // the output exists: overwrite it? (the one Yes/No question)
    kMsgCreateFailed = 6,         // the output file cannot be created
    kMsgOutOfMemory = 7,          // the export's stream processor cannot be set up
    kMsgSaveFailed = 8,           // reading or writing failed during an export
    kMsgDropWaveFile = 9,         // a dropped file is not a ".wav"
    kMsgOpenDialogFilter = 10,    // the open dialog's filter text
    kMsgSaveDialogFilter = 11,    // the save dialog's filter text
    kMsgHelpNotFound = 12,        // the help file is missing
    kMsgHelpNoViewer = 13,        // no program opens the help file
    kMsgHelpFailed = 14,          // any other failure to open the help file
    kMsgSettingWhilePlaying = 15, // options cannot change while playing
    kMsgOutputIsInput = 16,       // the output would overwrite the input
};

// The first and last numbered message.
constexpr int kFirstMessageId = kMsgCannotOpen;
constexpr int kLastMessageId = kMsgOutputIsInput;

} // namespace varnel
