#pragma once

#include <string>

namespace varnel {

// Any thread; touches the file system only to compare existing files. True when the two
// paths name the same file: equal when compared without regard to (ASCII) case, as the
// desktop program compares names, or naming one existing file by another spelling ("./",
// "..", symbolic or hard links). Used to refuse saving over the input file.
bool SameFile(const std::string& a, const std::string& b);

// Saving without ever losing a file. The output is written to a temporary sibling of the
// target (same folder, so the final move is a rename within one file system) and moved onto
// the target's name only when the writer has been closed. Until then an existing file of that
// name is untouched; if the process dies mid-save, only the temporary ".NAME.partXXXXXX" is
// left behind.
//
//     SafeOutput out;
//     const std::string temp = out.Begin(target);      // "" : message 6
//     if (writer.OpenWrite(temp) != 0) { out.Discard(); /* message 6 */ }
//     ... export into writer ...
//     writer.Close();
//     out.Commit();   // also after an abort or a failed export: the target then holds the
//                     // valid partial WAV of what was written. false : message 8
//
// A target that is a symbolic link is resolved first, so the save replaces the file the link
// points to and the link stays a link. The replaced file's permissions are not carried over.
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
    // file has, and returns its path; "" when the folder cannot take a new file. Discards a
    // temporary of an earlier Begin.
    std::string Begin(const std::string& target);
    // Owner's thread, after the writer is closed. Renames the temporary onto the target,
    // replacing an existing file in one step. False when the rename failed (the temporary is
    // then left in place, so the written sound is not lost) or when Begin was not called.
    bool Commit();
    // Owner's thread. Removes the temporary; the target is untouched.
    void Discard();

    // Owner's thread. The paths of the pending save ("" when none).
    const std::string& TempPath() const noexcept { return mTemp; }
    const std::string& Target() const noexcept { return mTarget; }

private:
    std::string mTarget;
    std::string mTemp;
    bool mCommitFailed = false;
};

} // namespace varnel
