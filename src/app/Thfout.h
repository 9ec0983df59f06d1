#pragma once

#include "audio/ExportJob.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class QObject;

namespace varnel {

class TWaveData;

// The export thread of one save: it runs the export of the window's export reader into its
// writer and tells the GUI thread how it goes.
//
// Every call to the GUI thread is a queued call into the receiver's thread that carries its
// values with it and touches nothing of this object, so a call still waiting when the object
// is gone is harmless; a call whose receiver is gone is dropped by Qt. The one call the thread
// waits for (the final progress step) stops being waited for as soon as Terminate is called,
// so the GUI thread may wait for the thread at any moment without serving its calls and still
// cannot deadlock.
class ThFileOut
{
public:
    // The calls the thread makes, each run on the receiver's thread (the GUI thread).
    struct Calls
    {
        // Before the first block, when the stretch is not empty: the file-name part of the
        // output and the stretch's length in bytes.
        std::function<void(const std::string& name, int64_t total)> Setup;
        // Sample bytes written: queued every 12 blocks, and run synchronously (the thread
        // waits for it) when the stretch is complete.
        std::function<void(int64_t written)> Progress;
        // After the thread's body has returned: the message id to show (0 none, 7 the stream
        // processor cannot be set up, 8 reading or writing failed).
        std::function<void(int message)> Done;
    };

    // GUI thread. Starts the thread at once (normal priority). in and out must stay open and
    // untouched by anyone else until the object is destroyed; displayName is what the file
    // name label shows.
    ThFileOut(QObject* receiver, Calls calls, TWaveData& in, TWaveData& out,
              const ExportSettings& settings, std::string displayName);
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
    // GUI thread, after Wait. The message id of the export (0, 7 or 8).
    int Result() const noexcept { return mResult; }
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
        bool Done = false; // the synchronous call has run (or was dropped)
    };

    void Execute();
    // Export thread. Runs fn on the receiver's thread later.
    void Queue(std::function<void()> fn);
    // Export thread. Runs fn on the receiver's thread and waits until it has run, the
    // receiver is gone, or the thread is terminated.
    void Synchronize(std::function<void()> fn);

    QObject* mReceiver; // outlives the object: its owner destroys the thread first
    Calls mCalls;
    TWaveData& mIn;
    TWaveData& mOut;
    ExportSettings mSettings;
    std::string mDisplayName;
    std::shared_ptr<Shared> mShared;
    std::atomic<int64_t> mWritten{0};
    int mResult = 0;
    bool mAborted = false;
    std::thread mThread;
};

} // namespace varnel
