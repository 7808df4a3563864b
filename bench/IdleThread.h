// IdleThread: a second thread that only waits, from construction to destruction.
//
// A host process always runs more than one thread, and once a second thread exists glibc's
// mutexes and every atomic instruction pay their full price (a single-threaded process skips the
// lock prefix of the mutex). The benchmark keeps one alive while it measures what it judges.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

class IdleThread {
public:
    IdleThread();
    ~IdleThread();
    IdleThread(const IdleThread&) = delete;
    IdleThread& operator=(const IdleThread&) = delete;

private:
    std::mutex mMutex; // guards mStop
    std::condition_variable mWake;
    bool mStop = false;
    std::thread mThread;
};
