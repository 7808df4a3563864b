// The benchmark's idle second thread (see IdleThread.h).
#include "IdleThread.h"

IdleThread::IdleThread()
    : mThread([this] {
          std::unique_lock<std::mutex> lock(mMutex);
          mWake.wait(lock, [this] { return mStop; });
      })
{
}

IdleThread::~IdleThread()
{
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mStop = true;
    }
    mWake.notify_one();
    mThread.join();
}
