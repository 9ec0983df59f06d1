#pragma once

#include "audio/MessageId.h"

#include <string>
#include <system_error>

namespace varnel {

// Any thread; touches the file system only to compare existing files. True when the two
// paths name the same file: equal when compared without regard to (ASCII) case, as the
// desktop program compares names, or naming one existing file by another spelling ("./",
// "..", symbolic or hard links). Used to refuse saving over the input file.
bool SameFile(const std::string& a, const std::string& b);

// Any thread; touches the file system only to look. The rules for an output's name before
// anything is written: kMsgNone, kMsgOutputIsInput when it names the input (SameFile), or
// kMsgCreateFailed with the system's reason when it is a folder or a link to one ("is a folder") or its name is longer than the
// folder takes ("name too long").
MessageId CheckOutputName(const std::string& inputPath, const std::string& outputPath,
                          std::error_code* reason = nullptr);

// Saving without ever losing a file. The output is written to a temporary sibling of the
// target (same folder, so the final move is a rename within one file system) and moved onto
// the target's name only when the writer has been closed. Until then an existing file of that
// name is untouched; if the process dies mid-save, only the temporary ".NAME.partXXXXXX" is
// left behind (a later save beside it picks another name). When the final rename fails, the
// caller keeps the file under a visible name (KeepVisible) and says where it is.
//
//     SafeOutput out;
//     const std::string temp = out.Begin(target);      // "" : message 6
//     if (writer.OpenWrite(temp) != 0) { out.Discard(); /* message 6 */ }
//     ... export into writer ...
//     writer.Close();
//     out.Commit();   // also after an abort or a failed export: the target then holds the
//                     // valid partial WAV of what was written. false : message 8, and
//                     // out.KeepVisible() says where the file is instead
//
// A target that is a symbolic link is resolved first, so the save replaces the file the link
// points to and the link stays a link. A replaced file's permissions are carried over to the
// new one. Names are bytes, passed to the system as they are. When the target's name is too
// long for a sibling with a suffix, the temporary gets a short name of its own.
//
// One thread uses an object. Non-copyable; the destructor discards a temporary that was
// neither committed nor discarded, but keeps one whose Commit failed.
class SafeOutput
{
public:
    SafeOutput() = default;
    ~SafeOutput();
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;

    // Owner's thread. Creates an empty temporary file beside target, with a name no other
    // file has, and returns its path; "" when the folder cannot take a new file, the system's
    // reason then going to *reason when given. Discards a temporary of an earlier Begin.
    std::string Begin(const std::string& target, std::error_code* reason = nullptr);

    // How Commit treats a file that has the target's name by then.
    enum class Existing
    {
        Replace,     // replaced in one step, its permissions carried over
        KeepAndFail, // kept; the commit fails with std::errc::file_exists
    };
    // Owner's thread, after the writer is closed. Renames the temporary onto the target. False
    // when the rename failed (the temporary is then left in place, so the written sound is not
    // lost; with KeepAndFail and a file in the way the caller decides, usually Discard) or
    // when Begin was not called; the system's reason then goes to *reason when given.
    bool Commit(Existing existing = Existing::Replace, std::error_code* reason = nullptr);
    // Owner's thread. Removes the temporary; the target is untouched. False when a temporary
    // is left that could not be removed (its folder takes no change any more).
    bool Discard();
    // Owner's thread, after a Commit that failed with something else than a file in the way
    // (the temporary holds the whole written file). Moves the temporary to the first free
    // visible name beside the target, "NAME (1).EXT" up to "NAME (99).EXT", never replacing a
    // file, and returns that path; where the folder takes none (it became read-only, the name
    // grows too long), the temporary stays and its own path is returned. Either way nothing is
    // lost and the caller can say where the file is. "" when no commit failed, or when the
    // temporary is no longer at its path (its folder was moved away or removed meanwhile).
    std::string KeepVisible();

    // Owner's thread. The paths of the pending save ("" when none).
    const std::string& TempPath() const noexcept { return mTemp; }
    const std::string& Target() const noexcept { return mTarget; }

private:
    std::string mTarget;
    std::string mTemp;
    bool mCommitFailed = false;
};

// Caller's thread. Writes the bytes as the file target the way a save is written: into a
// temporary sibling that is renamed onto target only when all of it reached the disk, so a
// file of that name is never half-written. kMsgNone; kMsgFileExists when a file of that name
// is there (or appeared meanwhile) and replaceExisting is false, which is left as it was;
// kMsgCreateFailed when the temporary cannot be created; kMsgSaveFailed when writing failed.
// The system's reason for the last two goes to *reason when given.
MessageId WriteWholeFile(const std::string& target, const void* data, size_t size,
                         bool replaceExisting, std::error_code* reason = nullptr);

} // namespace varnel
