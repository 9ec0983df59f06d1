#pragma once

#include "audio/ExportJob.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

class QObject;

namespace varnel {

// How the export of one save ended.
struct ExportOutcome
{
    // To show: 0; 5 (a file of the output's name appeared meanwhile and is kept); 7 (the
    // filter cannot be set up); 8 (reading or writing failed, or the file could not take its
    // name).
    int Message = 0;
    bool Aborted = false;   // the abort flag stopped it
    int64_t Written = 0;    // sample bytes written that the output keeps
    std::error_code Reason; // the system's reason for the failure, when it gave one
    std::string KeptAs;     // where the written file is when it could not take its name
};

// What one save runs on the export thread.
struct ExportWork
{
    std::string DisplayName; // the output's file name without folders, for the label
    int64_t TotalBytes = 0;  // the stretch's length; 0 shows nothing (Run still runs)
    // Export thread. Runs the export with the progress callback and the abort flag.
    std::function<ExportOutcome(const ExportJob::ProgressFn& progress,
                                const std::atomic<bool>& abort)>
        Run;
};

class ThFileOut
{
public:
    // The calls the thread makes, each run on the receiver's thread (the GUI thread).
    struct Calls
    {
        // Before the first block, when the stretch is not empty: the file name to show and the
        // stretch's length in bytes.
        std::function<void(const std::string& name, int64_t total)> Setup;
        // Sample bytes written of the total: queued every 12 blocks, and run synchronously
        // (the thread waits for it) when the stretch is complete.
        std::function<void(int64_t written, int64_t total)> Progress;
        // After the thread's body has returned: the message id to show (0 none, 7 the stream
        // processor cannot be set up, 8 reading or writing failed).
        std::function<void(int message)> Done;
    };

    // GUI thread. Starts the thread at once (normal priority) on the work, whose files nobody
    // else touches until the object is destroyed.
    ThFileOut(QObject* receiver, Calls calls, ExportWork work);
    // GUI thread. Terminates and waits until the body has returned.
    ~ThFileOut();
    ThFileOut(const ThFileOut&) = delete;
    ThFileOut& operator=(const ThFileOut&) = delete;

    // Any thread. Asks the body to stop after the block it is writing, and releases it from a
    // wait for the GUI thread.
    void Terminate();
    // Any thread.
    bool Terminated() const noexcept { return mShared->Terminated.load(); }

    // GUI thread. Waits until the body has returned; then Result and Written hold.
    void Wait();
    // GUI thread, after Wait. The message id of the export (0, 5, 7 or 8).
    int Result() const noexcept { return mResult; }
    // GUI thread, after Wait. The whole outcome of the export.
    const ExportOutcome& Outcome() const noexcept { return mOutcome; }
    // Any thread. Sample bytes written so far.
    int64_t Written() const noexcept { return mWritten.load(); }
    // GUI thread, after Wait. True when the export stopped because it was terminated.
    bool Aborted() const noexcept { return mAborted; }

private:
    // What the thread and its queued calls share; it lives as long as the last of them.
    struct Shared
    {
        std::atomic<bool> Terminated{false};
        std::mutex Lock;
        std::condition_variable Served;
        bool Done = false;                         // the synchronous call has run (or was dropped)
        std::deque<std::function<void()>> Pending; // calls for the GUI thread, under Lock
    };
    class Drain;

    void Execute();
    // Export thread. Runs fn on the receiver's thread later.
    void Queue(std::function<void()> fn);
    // Export thread. Runs fn on the receiver's thread and waits until it has run, the
    // receiver is gone, or the thread is terminated.
    void Synchronize(std::function<void()> fn);

    QObject* mDrain; // on the receiver's thread; runs the pending calls
    Calls mCalls;
    ExportWork mWork;
    std::shared_ptr<Shared> mShared;
    std::atomic<int64_t> mWritten{0};
    int mResult = 0;
    bool mAborted = false;
    ExportOutcome mOutcome;
    std::thread mThread;
};

} // namespace varnel
