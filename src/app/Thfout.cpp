#include "app/Thfout.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <utility>

namespace varnel {

namespace {

const QEvent::Type kDrainEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

} // namespace

// Runs the pending calls on its thread when woken. A child of the receiver, so it goes with
// it; the thread object lets it go later, never from inside one of its calls.
class ThFileOut::Drain : public QObject
{
public:
    Drain(std::shared_ptr<Shared> shared, QObject* receiver)
        : QObject(receiver), mShared(std::move(shared))
    {}

    bool event(QEvent* e) override
    {
        // The lock is taken before the event is read: the export thread made the event before
        // it let the lock go, and the event loop's own hand-over is one the thread checker
        // cannot see.
        {
            std::lock_guard<std::mutex> hold(mShared->Lock);
        }
        if (e->type() != kDrainEvent)
            return QObject::event(e);
        std::deque<std::function<void()>> calls;
        {
            std::lock_guard<std::mutex> hold(mShared->Lock);
            calls.swap(mShared->Pending);
        }
        for (std::function<void()>& call : calls)
            call();
        return true;
    }

private:
    std::shared_ptr<Shared> mShared;
};

ThFileOut::ThFileOut(QObject* receiver, Calls calls, ExportWork work)
    : mCalls(std::move(calls)), mWork(std::move(work)), mShared(std::make_shared<Shared>())
{
    mDrain = new Drain(mShared, receiver);
    mThread = std::thread([this] { Execute(); });
}

ThFileOut::~ThFileOut()
{
    Terminate();
    Wait();
    // Calls still pending stay safe to run; the drain may be inside one of them now.
    mDrain->deleteLater();
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
    auto* wake = new QEvent(kDrainEvent);
    {
        std::lock_guard<std::mutex> hold(mShared->Lock);
        mShared->Pending.push_back(std::move(fn));
    }
    QCoreApplication::postEvent(mDrain, wake);
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
    int message = 0;
    bool aborted = false;
    // An empty stretch shows nothing, but its work still runs: a save settles its empty file.
    const bool shows = mWork.TotalBytes > 0;
    if (mWork.Run) {
        if (shows) {
            Queue([setup = mCalls.Setup, name = mWork.DisplayName, total = mWork.TotalBytes] {
                if (setup)
                    setup(name, total);
            });
        }
        // The export reports after every 12th block and once when complete; the complete one
        // is the synchronous step below.
        int64_t last = 0;
        int64_t all = mWork.TotalBytes;
        auto progress = [&](int64_t written, int64_t total) {
            mWritten.store(written);
            last = written;
            all = total;
            if (written < total) {
                Queue([step = mCalls.Progress, written, total] {
                    if (step)
                        step(written, total);
                });
            }
        };
        mOutcome = mWork.Run(progress, mShared->Terminated);
        message = mOutcome.Message;
        aborted = mOutcome.Aborted;
        mWritten.store(mOutcome.Written);
        if (shows && message == 0 && !aborted) {
            Synchronize([step = mCalls.Progress, last, all] {
                if (step)
                    step(last, all);
            });
        }
    }
    mResult = message;
    mAborted = aborted;
    Queue([done = mCalls.Done, message] {
        if (done)
            done(message);
    });
}

} // namespace varnel
