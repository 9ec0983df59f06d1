#include "app/Thfout.h"

#include "audio/Twave.h"

#include <QMetaObject>
#include <QObject>

#include <utility>

namespace varnel {

ThFileOut::ThFileOut(QObject* receiver, Calls calls, TWaveData& in, TWaveData& out,
                     const ExportSettings& settings, std::string displayName)
    : mReceiver(receiver), mCalls(std::move(calls)), mIn(in), mOut(out), mSettings(settings),
      mDisplayName(std::move(displayName)), mShared(std::make_shared<Shared>())
{
    mThread = std::thread([this] { Execute(); });
}

ThFileOut::~ThFileOut()
{
    Terminate();
    Wait();
}

void ThFileOut::Terminate()
{
    mShared->Terminated.store(true);
    // Taking the lock orders the flag before a waiter's test, so the wake-up cannot be lost.
    {
        std::lock_guard<std::mutex> hold(mShared->Lock);
    }
    mShared->Served.notify_all();
}

void ThFileOut::Wait()
{
    if (mThread.joinable())
        mThread.join();
}

void ThFileOut::Queue(std::function<void()> fn)
{
    QMetaObject::invokeMethod(mReceiver, std::move(fn), Qt::QueuedConnection);
}

void ThFileOut::Synchronize(std::function<void()> fn)
{
    std::shared_ptr<Shared> shared = mShared;
    {
        std::lock_guard<std::mutex> hold(shared->Lock);
        shared->Done = false;
    }
    Queue([shared, fn = std::move(fn)] {
        // A call that arrives after a terminate is dropped: its waiter has gone on.
        if (!shared->Terminated.load())
            fn();
        {
            std::lock_guard<std::mutex> hold(shared->Lock);
            shared->Done = true;
        }
        shared->Served.notify_all();
    });
    std::unique_lock<std::mutex> lock(shared->Lock);
    shared->Served.wait(lock, [&] { return shared->Done || shared->Terminated.load(); });
}

void ThFileOut::Execute()
{
    ExportJob job(mIn, mOut, mSettings);
    const int64_t total = job.TotalBytes();
    int message = 0;
    if (total > 0) {
        Queue([setup = mCalls.Setup, name = mDisplayName, total] {
            if (setup)
                setup(name, total);
        });
        // The job reports after every 12th block and once when complete; the complete one is
        // the synchronous step below.
        auto progress = [this](int64_t written, int64_t all) {
            mWritten.store(written);
            if (written < all) {
                Queue([step = mCalls.Progress, written] {
                    if (step)
                        step(written);
                });
            }
        };
        message = job.Run(progress, mShared->Terminated);
        mWritten.store(job.Written());
        if (message == 0 && !job.Aborted()) {
            const int64_t written = job.Written();
            Synchronize([step = mCalls.Progress, written] {
                if (step)
                    step(written);
            });
        }
    }
    mResult = message;
    mAborted = job.Aborted();
    Queue([done = mCalls.Done, message] {
        if (done)
            done(message);
    });
}

} // namespace varnel
